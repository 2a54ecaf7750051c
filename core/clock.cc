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
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t seconds = ts.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  ClockReading r = ClockReadingOf(local);
  r.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  r.unixNanoseconds = static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return r;
}

const Clock& TheSystemClock() {
  static const SystemClock clock;
  return clock;
}
