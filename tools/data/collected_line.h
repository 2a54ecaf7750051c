#ifndef QUOTELOOM_TOOLS_DATA_COLLECTED_LINE_H
#define QUOTELOOM_TOOLS_DATA_COLLECTED_LINE_H

#include <string_view>

#include "storage/tick_line.h"

// One line of the collector's per-contract file (docs/tick-files.md) split into its 24 fields,
// and the number readers the data tools use on them: the stored line's own reader under the
// names the data tools use. Pure functions, any thread.

using CollectedField = tick_field::Index;
using enum tick_field::Index;
inline constexpr int kCollectedFieldCount = kTickLineFieldCount;
using CollectedLine = TickLineFields;

// Splits a line (without its line end); false unless it has exactly 24 fields.
inline bool SplitCollectedLine(std::string_view line, CollectedLine* out) { return SplitTickLine(line, out); }

// A whole field as a number; false when it is not one (empty, trailing bytes, out of range).
inline bool ParseWhole(std::string_view text, long long* value) { return ParseTickLineNumber(text, value); }
inline bool ParseWhole(std::string_view text, double* value) { return ParseTickLineNumber(text, value); }

// Prices at or above this are the vendor's "not set" marker, the largest double.
inline constexpr double kUnsetPrice = 1e300;

#endif
