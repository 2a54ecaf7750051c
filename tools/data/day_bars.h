#ifndef QUOTELOOM_TOOLS_DATA_DAY_BARS_H
#define QUOTELOOM_TOOLS_DATA_DAY_BARS_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/tick_classifier.h"
#include "tools/data/bar_builder.h"
#include "tools/data/tick_source.h"

// The bars of every contract of one trading day as CSV, from the day's ticks in stored order. One
// thread.

// "contract,trading_day,start,end,open,high,low,close,volume,turnover,open_interest,ticks"
extern const char kBarCsvHeader[];

// One CSV line of a bar (with its line end); start and end as ISO 8601 times in +08:00.
void AppendBarLine(std::string_view contract, int day, const Bar& bar, std::string* out);

// "2024-03-07T21:00:00+08:00" of a session second of trading day `day`.
std::string IsoTime(int day, int sessionSecond);

struct DayBars {
  std::string csv;  // the lines, without the header
  std::uint64_t contracts = 0;
  std::uint64_t bars = 0;
  std::uint64_t lines = 0;
  std::uint64_t stale = 0;            // left out: old snapshots and test data (sessions/tick_classifier.h)
  std::uint64_t test = 0;
  std::vector<std::string> warnings;  // unknown products, unreadable files
  std::string error;                  // the day folder could not be read
};

// Only session ticks make bars; `toleranceSeconds` is that of the session-tick rule. `classify`
// false takes every line (to measure the rule's cost).
DayBars BuildDayBars(TickSource& source, int day, int periodSeconds, int toleranceSeconds = kDefaultToleranceSeconds,
                     bool classify = true);
// The same of the day's store under a working folder (tools/data/day_source.h).
DayBars BuildDayBars(const std::filesystem::path& workdir, int day, int periodSeconds,
                     int toleranceSeconds = kDefaultToleranceSeconds, bool classify = true);

#endif
