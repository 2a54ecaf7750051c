#ifndef QUOTELOOM_STORAGE_TICK_LINE_H
#define QUOTELOOM_STORAGE_TICK_LINE_H

#include <charconv>
#include <cstddef>
#include <string_view>
#include <type_traits>

#include "core/tick_record.h"

// The 24-field CSV line of every stored tick file, ended by CR LF: the one writer and the one reader
// of it (docs/tick-files.md has the grammar). Pure functions, any thread.

namespace tick_field {
// Position of each field in the line, from 0; every reader goes by these.
enum Index : int {
  kWriteStamp, kInstrumentID, kTradingDay, kActionDay, kUpdateTime, kUpdateMillisec, kLastPrice, kVolume,
  kHighestPrice, kLowestPrice, kOpenPrice, kClosePrice, kAveragePrice, kAskPrice1, kAskVolume1, kBidPrice1,
  kBidVolume1, kUpperLimitPrice, kLowerLimitPrice, kOpenInterest, kTurnover, kPreClosePrice, kPreOpenInterest,
  kPreSettlementPrice
};
}  // namespace tick_field

inline constexpr int kTickLineFieldCount = tick_field::kPreSettlementPrice + 1;

enum class TickLineFieldKind {
  kStamp,   // the writer's 14 digits yyyymmddHHMMSS
  kText,    // the contract code, the two days and the update time, as the exchange sent them
  kInt,     // printf "%d"
  kDouble,  // printf "%g" or "%.2f"
};

constexpr TickLineFieldKind KindOfTickLineField(int index) {
  using namespace tick_field;
  switch (index) {
    case kWriteStamp: return TickLineFieldKind::kStamp;
    case kInstrumentID: case kTradingDay: case kActionDay: case kUpdateTime: return TickLineFieldKind::kText;
    case kUpdateMillisec: case kVolume: case kAskVolume1: case kBidVolume1: return TickLineFieldKind::kInt;
    default: return TickLineFieldKind::kDouble;
  }
}

enum class NumberStyle {
  kGeneral,  // doubles as printf "%g": time-stream file and both fallback files
  kFixed,    // doubles as printf "%.2f": per-contract file
};

// Room for the longest double in fixed style (-DBL_MAX: 313 characters) and its terminator.
inline constexpr std::size_t kNumberSize = 320;
// Room for the longest line: 15 doubles, 4 ints, 5 texts, 23 commas and CR LF.
inline constexpr std::size_t kTickLineSize = 15 * kNumberSize + 4 * 12 + 14 + 30 + 3 * 8 + 23 + 2 + 1;

// Writes `value` as printf "%g" or "%.2f" would, byte for byte. Returns the length.
std::size_t FormatNumber(double value, NumberStyle style, char (&out)[kNumberSize]);

// True when the text fields that go into the line (InstrumentID, TradingDay, ActionDay, UpdateTime)
// hold no comma and no control character, so the line keeps its 24 fields on one line.
bool LineTextIsClean(const TickRecord& record);

// Writes the line of `record` with the writer's 14-digit stamp into `out` and returns its length
// (CR LF included, terminator not counted).
std::size_t BuildTickLine(const TickRecord& record, const char* writeStamp, NumberStyle style,
                          char (&out)[kTickLineSize]);

// A line split into its fields: views into the caller's text, which must outlive them.
struct TickLineFields {
  std::string_view field[kTickLineFieldCount];
  // What the exchange sent: everything after the write stamp.
  std::string_view content;
};

// Splits `line` (without its line end) into `out`; false unless it has exactly 24 fields.
bool SplitTickLine(std::string_view line, TickLineFields* out);
// The number of comma-separated fields of `line`, for saying why a split failed.
std::size_t CountTickLineFields(std::string_view line);

// A whole field as a number as the writer writes it (no space, no '+', no hexadecimal); false when
// it is empty, has bytes after the number or is out of the type's range.
// Inline: the data tools call it for every field of millions of lines.
template <typename T>
inline bool ParseTickLineNumber(std::string_view text, T* value) {
  static_assert(std::is_same_v<T, int> || std::is_same_v<T, long long> || std::is_same_v<T, double>);
  if constexpr (std::is_same_v<T, double>) {
    // "[-]digits[.digits]" of at most 15 digits (nearly every field): the digits as a whole number,
    // exact in a double, divided by an exact power of ten gives the correctly rounded value, the
    // same double from_chars reads. Anything else goes to from_chars.
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p != end && *p == '-';
    p += negative;
    long long digits = 0;
    int count = 0, decimals = -1;
    for (; p != end && count <= 15; ++p) {
      if (*p >= '0' && *p <= '9') {
        digits = digits * 10 + (*p - '0');
        ++count;
        decimals += decimals >= 0;
      } else if (*p == '.' && decimals < 0 && count > 0) {
        decimals = 0;
      } else {
        break;
      }
    }
    if (p == end && count > 0 && count <= 15 && decimals != 0) {
      const double magnitude = decimals > 0 ? static_cast<double>(digits) / kPowers[decimals] : static_cast<double>(digits);
      *value = negative ? -magnitude : magnitude;
      return true;
    }
  }
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

#endif
