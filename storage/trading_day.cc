#include "storage/trading_day.h"

#include "sessions/china_time_zone.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

void FormatWriteStamp(const ClockReading& r, char (&out)[kWriteStampSize]) {
  std::snprintf(out, sizeof(out), "%04d%02d%02d%02d%02d%02d", r.year, r.month, r.day, r.hour, r.minute,
                r.second);
}

namespace {

// Writes the stamp of `unixNs` through `convert` (Unix second to clock reading), once per minute and
// thread for each cache: zone offsets change on whole minutes, so the seconds are patched in. An
// offset with seconds in it (local mean time of old dates) is converted every time.
struct StampCache {
  std::int64_t minute = 0;
  char stamp[kWriteStampSize] = "";
};

template <typename Convert>
void FormatCachedStamp(std::int64_t unixNs, StampCache* cache, Convert convert, char (&out)[kWriteStampSize]) {
  // Floor division: a write time before 1970 still names the second it lies in.
  std::int64_t seconds = unixNs / 1000000000;
  if (unixNs % 1000000000 < 0) --seconds;
  std::int64_t minute = seconds / 60;
  if (seconds % 60 < 0) --minute;
  const int second = static_cast<int>(seconds - minute * 60);
  if (cache->stamp[0] == '\0' || minute != cache->minute) {
    const ClockReading reading = convert(seconds);
    FormatWriteStamp(reading, out);
    if (reading.second != second) {
      cache->stamp[0] = '\0';
      return;
    }
    std::memcpy(cache->stamp, out, sizeof(cache->stamp));
    cache->minute = minute;
  }
  std::memcpy(out, cache->stamp, sizeof(cache->stamp));
  out[12] = static_cast<char>('0' + second / 10);
  out[13] = static_cast<char>('0' + second % 10);
}

ClockReading ChinaReading(std::int64_t unixSeconds) {
  const std::int64_t local = unixSeconds + ChinaTimeZone::Get().OffsetAt(unixSeconds);
  std::int64_t days = local / 86400;
  std::int64_t second = local % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  ClockReading r;
  r.year = static_cast<int>(date.year());
  r.month = static_cast<int>(static_cast<unsigned>(date.month()));
  r.day = static_cast<int>(static_cast<unsigned>(date.day()));
  r.hour = static_cast<int>(second / 3600);
  r.minute = static_cast<int>(second / 60 % 60);
  r.second = static_cast<int>(second % 60);
  return r;
}

}  // namespace

void FormatWriteStampOfTime(std::int64_t unixNs, char (&out)[kWriteStampSize]) {
  thread_local StampCache cache;
  FormatCachedStamp(unixNs, &cache, [](std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    return ClockReadingOf(local);
  }, out);
}

void FormatChinaStampOfTime(std::int64_t unixNs, char (&out)[kWriteStampSize]) {
  thread_local StampCache cache;
  FormatCachedStamp(unixNs, &cache, ChinaReading, out);
}
