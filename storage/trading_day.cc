#include "storage/trading_day.h"

#include <cstdio>
#include <cstring>
#include <ctime>

void FormatWriteStamp(const ClockReading& r, char (&out)[kWriteStampSize]) {
  std::snprintf(out, sizeof(out), "%04d%02d%02d%02d%02d%02d", r.year, r.month, r.day, r.hour, r.minute,
                r.second);
}

void FormatWriteStampOfTime(std::int64_t unixNs, char (&out)[kWriteStampSize]) {
  // Floor division: a write time before 1970 still names the second it lies in.
  std::int64_t seconds = unixNs / 1000000000;
  if (unixNs % 1000000000 < 0) --seconds;
  thread_local std::int64_t lastSeconds = 0;
  thread_local char last[kWriteStampSize] = "";
  if (last[0] == '\0' || seconds != lastSeconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    FormatWriteStamp(ClockReadingOf(local), last);
    lastSeconds = seconds;
  }
  std::memcpy(out, last, sizeof(last));
}
