#include "plotmire/tick_line_parser.h"

#include <array>
#include <cmath>

#include "sessions/clock_time.h"
#include "storage/tick_line.h"

namespace {

constexpr size_t kMaxContractLength = 30;
constexpr size_t kMaxDayLength = 8;
// The vendor marks a missing value with the largest double; anything this big is such a mark.
constexpr double kMissingMark = 1e300;

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
  using namespace tick_field;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  TickLineFields split;
  if (!SplitTickLine(line, &split)) {
    *error = "expected 24 fields, found " + std::to_string(CountTickLineFields(line));
    return false;
  }
  const auto& f = split.field;
  if (f[kWriteStamp].size() != 14 || !AllDigits(f[kWriteStamp])) {
    *error = "write stamp is not 14 digits";
    return false;
  }
  if (f[kInstrumentID].empty()) {
    *error = "no contract code";
    return false;
  }
  // The writer stores no longer code, and the record's trading day holds 8 bytes; every tick
  // held keeps both, so a longer one is refused rather than kept a million times.
  if (f[kInstrumentID].size() > kMaxContractLength) {
    *error = "contract code longer than 30 bytes";
    return false;
  }
  if (f[kTradingDay].size() > kMaxDayLength) {
    *error = "trading day longer than 8 bytes";
    return false;
  }
  tick->time_of_day = ParseClockTime(f[kUpdateTime]);
  if (tick->time_of_day < 0) {
    *error = "update time is not HH:MM:SS";
    return false;
  }
  long long millis = 0;
  if (!ParseTickLineNumber(f[kUpdateMillisec], &millis)) {
    *error = "milliseconds are not a number";
    return false;
  }
  tick->millis = (millis >= 0 && millis < 1000) ? static_cast<int>(millis) : 0;

  std::array<long long, kTickLineFieldCount> ints{};
  std::array<double, kTickLineFieldCount> doubles{};
  for (int i = kLastPrice; i < kTickLineFieldCount; ++i) {
    const bool isInt = KindOfTickLineField(i) == TickLineFieldKind::kInt;
    if (isInt ? !ParseTickLineNumber(f[i], &ints[i]) : !ParseTickLineNumber(f[i], &doubles[i])) {
      *error = "field " + std::to_string(i + 1) + (isInt ? " is not a whole number" : " is not a number");
      return false;
    }
  }
  tick->contract.assign(f[kInstrumentID]);
  tick->trading_day.assign(f[kTradingDay]);
  tick->last = Price(doubles[kLastPrice]);
  tick->volume = ints[kVolume];
  tick->high = Price(doubles[kHighestPrice]);
  tick->low = Price(doubles[kLowestPrice]);
  tick->open = Price(doubles[kOpenPrice]);
  tick->close = Price(doubles[kClosePrice]);
  tick->average = Price(doubles[kAveragePrice]);
  tick->ask = Price(doubles[kAskPrice1]);
  tick->ask_volume = ints[kAskVolume1];
  tick->bid = Price(doubles[kBidPrice1]);
  tick->bid_volume = ints[kBidVolume1];
  tick->upper_limit = Price(doubles[kUpperLimitPrice]);
  tick->lower_limit = Price(doubles[kLowerLimitPrice]);
  tick->open_interest = Amount(doubles[kOpenInterest]);
  tick->turnover = Amount(doubles[kTurnover]);
  tick->pre_close = Price(doubles[kPreClosePrice]);
  tick->pre_open_interest = Amount(doubles[kPreOpenInterest]);
  tick->pre_settlement = Price(doubles[kPreSettlementPrice]);
  return true;
}
