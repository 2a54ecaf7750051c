#include "core/clock.h"

#include <sys/time.h>

#include <ctime>

ClockReading SystemClock::Now() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const time_t seconds = tv.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  ClockReading r;
  r.year = local.tm_year + 1900;
  r.month = local.tm_mon + 1;
  r.day = local.tm_mday;
  r.hour = local.tm_hour;
  r.minute = local.tm_min;
  r.second = local.tm_sec;
  r.weekday = local.tm_wday + 1;
  r.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return r;
}

const Clock& TheSystemClock() {
  static const SystemClock clock;
  return clock;
}
