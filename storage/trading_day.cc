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
  std::int64_t minute = seconds / 60;
  if (seconds % 60 < 0) --minute;
  const int second = static_cast<int>(seconds - minute * 60);
  // Zone offsets change on whole minutes, so one localtime_r serves a minute: the seconds are patched
  // in. An offset with seconds in it (local mean time of old dates) is converted every time.
  thread_local std::int64_t cachedMinute = 0;
  thread_local char cached[kWriteStampSize] = "";
  if (cached[0] == '\0' || minute != cachedMinute) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    FormatWriteStamp(ClockReadingOf(local), out);
    if (local.tm_sec != second) {
      cached[0] = '\0';
      return;
    }
    std::memcpy(cached, out, sizeof(cached));
    cachedMinute = minute;
  }
  std::memcpy(out, cached, sizeof(cached));
  out[12] = static_cast<char>('0' + second / 10);
  out[13] = static_cast<char>('0' + second % 10);
}
