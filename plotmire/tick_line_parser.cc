#include "plotmire/tick_line_parser.h"

#include <array>
#include <charconv>
#include <cmath>

#include "sessions/clock_time.h"

namespace {

constexpr int kFieldCount = 24;
constexpr size_t kMaxContractLength = 30;
constexpr size_t kMaxDayLength = 8;
// The vendor marks a missing value with the largest double; anything this big is such a mark.
constexpr double kMissingMark = 1e300;

bool ParseDouble(std::string_view text, double* out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseInt(std::string_view text, int64_t* out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

// A price of -1 (no price yet), 0 or the missing mark is no price.
double Price(double v) { return (v > 0 && v < kMissingMark) ? v : NAN; }

// Open interest and turnover may be 0 but never negative.
double Amount(double v) { return (v >= 0 && v < kMissingMark) ? v : NAN; }

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool ParseTickLine(std::string_view line, ChartTick* tick, std::string* error) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::array<std::string_view, kFieldCount> f;
  int count = 0;
  size_t start = 0;
  while (true) {
    size_t comma = line.find(',', start);
    std::string_view field = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (count < kFieldCount) f[count] = field;
    ++count;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count != kFieldCount) {
    *error = "expected 24 fields, found " + std::to_string(count);
    return false;
  }
  if (f[0].size() != 14 || !AllDigits(f[0])) {
    *error = "write stamp is not 14 digits";
    return false;
  }
  if (f[1].empty()) {
    *error = "no contract code";
    return false;
  }
  // The writer stores no longer code, and the record's trading day holds 8 bytes; every tick
  // held keeps both, so a longer one is refused rather than kept a million times.
  if (f[1].size() > kMaxContractLength) {
    *error = "contract code longer than 30 bytes";
    return false;
  }
  if (f[2].size() > kMaxDayLength) {
    *error = "trading day longer than 8 bytes";
    return false;
  }
  tick->time_of_day = ParseClockTime(f[4]);
  if (tick->time_of_day < 0) {
    *error = "update time is not HH:MM:SS";
    return false;
  }
  int64_t millis = 0;
  if (!ParseInt(f[5], &millis)) {
    *error = "milliseconds are not a number";
    return false;
  }
  tick->millis = (millis >= 0 && millis < 1000) ? static_cast<int>(millis) : 0;

  // Columns of doubles and ints, by field index.
  static constexpr std::array<int, 3> kIntFields = {7, 14, 16};
  static constexpr std::array<int, 15> kDoubleFields = {6, 8, 9, 10, 11, 12, 13, 15, 17, 18, 19, 20, 21, 22, 23};
  std::array<int64_t, kFieldCount> ints{};
  std::array<double, kFieldCount> doubles{};
  for (int i : kIntFields) {
    if (!ParseInt(f[i], &ints[i])) {
      *error = "field " + std::to_string(i + 1) + " is not a whole number";
      return false;
    }
  }
  for (int i : kDoubleFields) {
    if (!ParseDouble(f[i], &doubles[i])) {
      *error = "field " + std::to_string(i + 1) + " is not a number";
      return false;
    }
  }
  tick->contract.assign(f[1]);
  tick->trading_day.assign(f[2]);
  tick->last = Price(doubles[6]);
  tick->volume = ints[7];
  tick->high = Price(doubles[8]);
  tick->low = Price(doubles[9]);
  tick->open = Price(doubles[10]);
  tick->close = Price(doubles[11]);
  tick->average = Price(doubles[12]);
  tick->ask = Price(doubles[13]);
  tick->ask_volume = ints[14];
  tick->bid = Price(doubles[15]);
  tick->bid_volume = ints[16];
  tick->upper_limit = Price(doubles[17]);
  tick->lower_limit = Price(doubles[18]);
  tick->open_interest = Amount(doubles[19]);
  tick->turnover = Amount(doubles[20]);
  tick->pre_close = Price(doubles[21]);
  tick->pre_open_interest = Amount(doubles[22]);
  tick->pre_settlement = Price(doubles[23]);
  return true;
}
