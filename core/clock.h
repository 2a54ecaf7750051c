#ifndef QUOTELOOM_CORE_CLOCK_H
#define QUOTELOOM_CORE_CLOCK_H

// One reading of the local calendar clock.
struct ClockReading {
  int year = 1970;   // four digits
  int month = 1;     // 1-12
  int day = 1;       // 1-31
  int hour = 0;      // 0-23
  int minute = 0;
  int second = 0;
  int weekday = 5;   // 1 = Sunday, 2 = Monday ... 7 = Saturday
  int millisecond = 0;
  // Unix time of the same reading in nanoseconds; 0 when the clock does not know it (a test clock).
  long long unixNanoseconds = 0;
};

struct tm;

// The calendar fields of a broken-down time (milliseconds 0).
ClockReading ClockReadingOf(const struct tm& t);

// Every reading of the local clock goes through this, so tests can set any date, time and weekday.
// Implementations are safe to call from any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual ClockReading Now() const = 0;
};

// The computer's local time (localtime_r, so TZ and faketime are honoured).
class SystemClock : public Clock {
 public:
  ClockReading Now() const override;
};

// The process-wide system clock.
const Clock& TheSystemClock();

#endif
