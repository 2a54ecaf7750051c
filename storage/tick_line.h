#ifndef QUOTELOOM_STORAGE_TICK_LINE_H
#define QUOTELOOM_STORAGE_TICK_LINE_H

#include <cstddef>

#include "core/tick_record.h"

// The 24-field CSV line of every stored tick file, ended by CR LF. Pure functions, any thread.

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

#endif
