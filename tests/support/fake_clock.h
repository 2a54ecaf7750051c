#ifndef QUOTELOOM_TESTS_SUPPORT_FAKE_CLOCK_H
#define QUOTELOOM_TESTS_SUPPORT_FAKE_CLOCK_H

#include <mutex>

#include "core/clock.h"

// A clock that reads whatever the test set last. Any thread.
class FakeClock : public Clock {
 public:
  ClockReading Now() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return reading_;
  }
  void Set(const ClockReading& reading) {
    std::lock_guard<std::mutex> lock(mutex_);
    reading_ = reading;
  }
  void SetTime(int hour, int minute, int second = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    reading_.hour = hour;
    reading_.minute = minute;
    reading_.second = second;
  }

  static ClockReading At(int year, int month, int day, int weekday, int hour, int minute, int second) {
    ClockReading r;
    r.year = year;
    r.month = month;
    r.day = day;
    r.weekday = weekday;
    r.hour = hour;
    r.minute = minute;
    r.second = second;
    return r;
  }

 private:
  mutable std::mutex mutex_;
  ClockReading reading_;
};

#endif
