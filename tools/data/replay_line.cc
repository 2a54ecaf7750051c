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

// Bytes a number's text may take in a line, and that may be written at its place.
constexpr std::size_t kNumberRoom = 24;

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
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  // Digits two at a time, from the hundredths up, into the end of a scratch buffer that a fixed
  // copy then puts in place (the caller's buffer has room for it).
  unsigned long long u = n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  char digits[48];
  char* const end = digits + 24;
  char* d = end - 2;
  std::memcpy(d, kPairs + 2 * (u % 100), 2);
  *--d = '.';
  unsigned long long whole = u / 100;
  while (whole >= 100) {
    d -= 2;
    std::memcpy(d, kPairs + 2 * (whole % 100), 2);
    whole /= 100;
  }
  if (whole >= 10) {
    d -= 2;
    std::memcpy(d, kPairs + 2 * whole, 2);
  } else {
    *--d = static_cast<char>('0' + whole);
  }
  if (n < 0) *--d = '-';
  std::memcpy(p, d, kNumberRoom);
  return p + (end - d);
}

// The numbers of a line as WriteHundredths gives them, each after a comma; `ok` turns false at the
// first number it cannot give.
struct HundredthsLine {
  char* p;
  ReplayLineMemory* memory = nullptr;
  bool ok = true;
  int place = 0;  // of the next double
  void Int(long long v) {
    const auto r = std::to_chars(p + 1, p + 24, v);
    *p = ',';
    p = r.ptr;
  }
  void Double(double v) {
    if (!ok) return;
    *p++ = ',';
    const int at = place++;
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    if (memory != nullptr && memory->size[at] != 0 && memory->bits[at] == bits) {
      std::memcpy(p, memory->text[at], sizeof memory->text[at]);
      p += memory->size[at];
      return;
    }
    char* end = WriteHundredths(v, p);
    ok = end != nullptr;
    if (!ok) return;
    if (memory != nullptr) {
      memory->bits[at] = bits;
      // A whole slot is copied, as on reading it: the line's buffer has room past the number.
      memory->size[at] = static_cast<std::uint8_t>(end - p);
      std::memcpy(memory->text[at], p, sizeof memory->text[at]);
    }
    p = end;
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

namespace {

// Writes at `p` the record's text fields "TradingDay,ActionDay,InstrumentID,UpdateTime" and returns
// the end.
char* WriteTexts(const TickRecord& t, char* p) {
  const auto field = [&p](const char* from, std::size_t size, char after) {
    const std::size_t n = strnlen(from, size);
    std::memcpy(p, from, n);
    p += n;
    if (after != 0) *p++ = after;
  };
  field(t.TradingDay, sizeof t.TradingDay, ',');
  field(t.ActionDay, sizeof t.ActionDay, ',');
  field(t.InstrumentID, sizeof t.InstrumentID, ',');
  field(t.UpdateTime, sizeof t.UpdateTime, 0);
  return p;
}

// True when `t`'s time would not break a line, its other text fields being known not to.
bool TimeIsClean(const TickRecord& t) {
  // A record whose only text is the time: LineTextIsClean judges the time alone.
  thread_local TickRecord timeOnly{};
  std::memcpy(timeOnly.UpdateTime, t.UpdateTime, sizeof t.UpdateTime);
  return LineTextIsClean(timeOnly);
}

// The same from the contract's memory when the record's text fields are those of its last line,
// else checked and kept for the next: mostly only the time has changed. Null when a field would
// break the line.
char* WriteTexts(const TickRecord& t, ReplayLineMemory* m, char* p) {
  const bool sameDays = m->textsSize != 0 && std::memcmp(m->instrumentID, t.InstrumentID, sizeof t.InstrumentID) == 0 &&
                        std::memcmp(m->tradingDay, t.TradingDay, sizeof t.TradingDay) == 0 &&
                        std::memcmp(m->actionDay, t.ActionDay, sizeof t.ActionDay) == 0;
  const bool sameTime = std::memcmp(m->updateTime, t.UpdateTime, sizeof t.UpdateTime) == 0;
  if (sameDays && !sameTime) {
    if (!TimeIsClean(t)) return nullptr;
    std::memcpy(m->updateTime, t.UpdateTime, sizeof t.UpdateTime);
    const std::size_t n = strnlen(t.UpdateTime, sizeof t.UpdateTime);
    std::memcpy(m->texts + m->timeAt, t.UpdateTime, n);
    m->textsSize = static_cast<std::uint8_t>(m->timeAt + n);
  } else if (!sameDays) {
    if (!LineTextIsClean(t)) return nullptr;
    char* const end = WriteTexts(t, p);
    std::memcpy(m->updateTime, t.UpdateTime, sizeof t.UpdateTime);
    std::memcpy(m->instrumentID, t.InstrumentID, sizeof t.InstrumentID);
    std::memcpy(m->tradingDay, t.TradingDay, sizeof t.TradingDay);
    std::memcpy(m->actionDay, t.ActionDay, sizeof t.ActionDay);
    m->textsSize = static_cast<std::uint8_t>(end - p);
    m->timeAt = static_cast<std::uint8_t>(m->textsSize - strnlen(t.UpdateTime, sizeof t.UpdateTime));
    std::memcpy(m->texts, p, m->textsSize);
    return end;
  }
  std::memcpy(p, m->texts, sizeof m->texts);
  return p + m->textsSize;
}

}  // namespace

bool AppendExactReplayLine(const TickRecord& t, std::string_view writeStamp, std::string* out,
                           ReplayLineMemory* memory) {
  // A line whose numbers all lie on whole hundredths (nearly every one) is made in one go; any
  // other is written number by number.
  char text[sizeof t.TradingDay + sizeof t.ActionDay + sizeof t.InstrumentID + sizeof t.UpdateTime + 24 * 24 + 64];
  char* p = text;
  if (memory != nullptr) {
    p = WriteTexts(t, memory, p);
    if (p == nullptr) return false;
  } else {
    if (!LineTextIsClean(t)) return false;
    p = WriteTexts(t, p);
  }
  HundredthsLine line{p, memory};
  VisitTickValues(t, line);
  if (line.ok && writeStamp.size() <= 32) {
    p = line.p;
    *p++ = ',';
    std::memcpy(p, writeStamp.data(), writeStamp.size());
    p += writeStamp.size();
    *p++ = '\r';
    *p++ = '\n';
    out->append(text, static_cast<std::size_t>(p - text));
    return true;
  }
  out->append(text, static_cast<std::size_t>(p - text));
  AppendTickValues(t, &AppendReplayNumber, out);
  out->push_back(',');
  out->append(writeStamp);
  out->append("\r\n");
  return true;
}

bool AppendReplayLine(TickSource& source, const SourceTick& tick, std::string* out, ReplayLineMemory* memory) {
  if (source.StoresText()) {
    const CollectedLine* fields = source.Fields();
    if (fields == nullptr) return false;
    AppendReplayLine(*fields, out);
    return true;
  }
  return AppendExactReplayLine(*source.Values().record, tick.write_stamp, out, memory);
}
