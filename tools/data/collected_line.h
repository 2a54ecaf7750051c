#ifndef QUOTELOOM_TOOLS_DATA_COLLECTED_LINE_H
#define QUOTELOOM_TOOLS_DATA_COLLECTED_LINE_H

#include <string_view>

// One line of the collector's per-contract file (docs/tick-files.md) split into its 24 fields,
// and the number readers the data tools use on them. Pure functions, any thread.

enum CollectedField {
  kWriteStamp, kInstrumentID, kTradingDay, kActionDay, kUpdateTime, kUpdateMillisec, kLastPrice, kVolume,
  kHighestPrice, kLowestPrice, kOpenPrice, kClosePrice, kAveragePrice, kAskPrice1, kAskVolume1, kBidPrice1,
  kBidVolume1, kUpperLimitPrice, kLowerLimitPrice, kOpenInterest, kTurnover, kPreClosePrice, kPreOpenInterest,
  kPreSettlementPrice, kCollectedFieldCount
};

struct CollectedLine {
  std::string_view field[kCollectedFieldCount];
  // What the exchange sent: everything after the write stamp.
  std::string_view content;
};

// Splits a line (without its line end); false unless it has exactly 24 fields.
bool SplitCollectedLine(std::string_view line, CollectedLine* out);

// A whole field as a number; false when it is not one (empty, trailing bytes, out of range).
bool ParseWhole(std::string_view text, long long* value);
bool ParseWhole(std::string_view text, double* value);

// Prices at or above this are the vendor's "not set" marker, the largest double.
inline constexpr double kUnsetPrice = 1e300;

#endif
