#include "core/clock.h"

#include <sys/time.h>

#include <ctime>

ClockReading ClockReadingOf(const struct tm& t) {
  ClockReading r;
  r.year = t.tm_year + 1900;
  r.month = t.tm_mon + 1;
  r.day = t.tm_mday;
  r.hour = t.tm_hour;
  r.minute = t.tm_min;
  r.second = t.tm_sec;
  r.weekday = t.tm_wday + 1;
  return r;
}

ClockReading SystemClock::Now() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const time_t seconds = tv.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  ClockReading r = ClockReadingOf(local);
  r.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return r;
}

const Clock& TheSystemClock() {
  static const SystemClock clock;
  return clock;
}
