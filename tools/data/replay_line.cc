#include "tools/data/replay_line.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "storage/tick_line.h"
#include "tools/data/exact_line.h"

void AppendReplayLine(const CollectedLine& f, std::string* out) {
  static constexpr CollectedField kOrder[] = {
      kTradingDay, kActionDay, kInstrumentID, kUpdateTime, kUpdateMillisec, kLastPrice, kVolume, kHighestPrice,
      kLowestPrice, kOpenPrice, kClosePrice, kAveragePrice, kAskPrice1, kAskVolume1, kBidPrice1, kBidVolume1,
      kUpperLimitPrice, kLowerLimitPrice, kOpenInterest, kTurnover, kPreClosePrice, kPreOpenInterest,
      kPreSettlementPrice, kWriteStamp};
  bool first = true;
  for (CollectedField field : kOrder) {
    if (!first) out->push_back(',');
    first = false;
    out->append(f.field[field]);
  }
  out->append("\r\n");
}

namespace {

// Writes at `p` the text of `value` when it is a whole number of hundredths below 1e13 (prices and
// volumes almost always are): the hundredths n with the point put in, which is the shortest exact
// text with its decimals filled up to two. Below 1e13 every text of at most two decimals has at most
// 15 significant digits, so no other such text reads as the same double. Returns the end, or null
// for any other value (-0, nan and inf included).
char* WriteHundredths(double value, char* p) {
  if (!(std::fabs(value) < 1e13) || (value == 0 && std::signbit(value))) return nullptr;
  const double scaled = value * 100;
  const long long n = static_cast<long long>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
  if (static_cast<double>(n) / 100 != value) return nullptr;
  // Digits two at a time, from the hundredths up.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[24];
  char* d = digits + sizeof digits;
  unsigned long long u = n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  const auto pair = [&](unsigned long long two) {
    d -= 2;
    std::memcpy(d, kPairs + 2 * two, 2);
  };
  pair(u % 100);
  u /= 100;
  *--d = '.';
  while (u >= 100) {
    pair(u % 100);
    u /= 100;
  }
  if (u >= 10) {
    pair(u);
  } else {
    *--d = static_cast<char>('0' + u);
  }
  if (n < 0) *p++ = '-';
  const std::size_t size = static_cast<std::size_t>(digits + sizeof digits - d);
  std::memcpy(p, d, size);
  return p + size;
}

// The numbers of a line as WriteHundredths gives them, each after a comma; `ok` turns false at the
// first number it cannot give.
struct HundredthsLine {
  char* p;
  bool ok = true;
  void Int(long long v) {
    const auto r = std::to_chars(p + 1, p + 24, v);
    *p = ',';
    p = r.ptr;
  }
  void Double(double v) {
    if (!ok) return;
    *p = ',';
    char* end = WriteHundredths(v, p + 1);
    ok = end != nullptr;
    if (ok) p = end;
  }
};

}  // namespace

void AppendReplayNumber(double value, std::string* out) {
  char hundredths[24];
  if (const char* end = WriteHundredths(value, hundredths)) {
    out->append(hundredths, static_cast<std::size_t>(end - hundredths));
    return;
  }
  // The shortest fixed text of the smallest subnormal has 326 characters.
  char shortest[400];
  const auto r = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::fixed);
  const std::string_view text(shortest, r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - shortest) : 0);
  const std::size_t point = text.find('.');
  if (point != std::string_view::npos && text.size() - point - 1 > 2) {
    out->append(text);
    return;
  }
  // Two decimals hold the value exactly (nan and inf included): the per-contract file's own text.
  // Below 1e13 a double's spacing is under 0.002, so that text is the shortest one with its
  // decimals filled up to two; larger values and nan or inf are printed again.
  if (std::fabs(value) < 1e13) {
    out->append(text);
    out->append(point == std::string_view::npos ? ".00" : text.size() - point == 2 ? "0" : "");
    return;
  }
  char fixed[kNumberSize];
  out->append(fixed, FormatNumber(value, NumberStyle::kFixed, fixed));
}

bool AppendExactReplayLine(const TickRecord& t, std::string_view writeStamp, std::string* out) {
  if (!LineTextIsClean(t)) return false;
  AppendFieldText(t.TradingDay, out);
  out->push_back(',');
  AppendFieldText(t.ActionDay, out);
  out->push_back(',');
  AppendFieldText(t.InstrumentID, out);
  out->push_back(',');
  AppendFieldText(t.UpdateTime, out);
  // Numbers on whole hundredths (nearly all) are written in one go; a line with any other number
  // is written number by number.
  char values[24 * 24];
  HundredthsLine line{values};
  VisitTickValues(t, line);
  if (line.ok) {
    out->append(values, static_cast<std::size_t>(line.p - values));
  } else {
    AppendTickValues(t, &AppendReplayNumber, out);
  }
  out->push_back(',');
  out->append(writeStamp);
  out->append("\r\n");
  return true;
}

bool AppendReplayLine(TickSource& source, const SourceTick& tick, std::string* out) {
  if (source.StoresText()) {
    const CollectedLine* fields = source.Fields();
    if (fields == nullptr) return false;
    AppendReplayLine(*fields, out);
    return true;
  }
  return AppendExactReplayLine(*source.Values().record, tick.write_stamp, out);
}
