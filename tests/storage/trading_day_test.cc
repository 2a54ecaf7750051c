#include "storage/trading_day.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"

namespace {

enum Weekday { kSun = 1, kMon, kTue, kWed, kThu, kFri, kSat };

TEST(TradingDayTest, WriteStampIsFourteenDigitsOfTheReading) {
  char stamp[kWriteStampSize];
  FormatWriteStamp(FakeClock::At(2024, 3, 1, kFri, 9, 5, 7), stamp);
  EXPECT_STREQ(stamp, "20240301090507");
  FormatWriteStamp(FakeClock::At(2026, 12, 31, kThu, 23, 59, 59), stamp);
  EXPECT_STREQ(stamp, "20261231235959");
}

// The stamp of a journal's write time is the local time of that second, also when several times fall
// in one minute, across a summer-time change, before 1970 and under an old offset with seconds in it.
TEST(TradingDayTest, WriteStampOfATimeIsItsLocalSecond) {
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved != nullptr ? saved : "";
  struct Zone {
    const char* tz;
    std::int64_t from;  // unix seconds
  };
  const Zone zones[] = {
      {"Asia/Shanghai", 1710118800},       // 2024-03-11 09:00 +08
      {"Europe/London", 1711846800 - 90},  // around 2024-03-31 01:00 UTC, clocks go forward
      {"America/St_Johns", 1699160400},    // -03:30, around its 2023-11-05 change
      {"Asia/Shanghai", -2177485000},      // the end of local mean time, +08:05:43, in 1901
      {"UTC", -1},
  };
  for (const Zone& zone : zones) {
    setenv("TZ", zone.tz, 1);
    tzset();
    for (std::int64_t s = zone.from - 200; s < zone.from + 7400; s += 7) {
      for (std::int64_t ns : {s * 1000000000, s * 1000000000 + 999999999}) {
        const std::time_t t = static_cast<std::time_t>(s);
        std::tm local{};
        localtime_r(&t, &local);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        char stamp[kWriteStampSize];
        FormatWriteStampOfTime(ns, stamp);
        ASSERT_STREQ(stamp, expected) << zone.tz << " at " << ns;
      }
    }
  }
  if (saved != nullptr) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace

// The China stamp is Asia/Shanghai's local second, its summer times of 1940 and 1986 and its local
// mean time of 1901 included, whatever zone the reader runs in.
TEST(TradingDayTest, ChinaStampIsShanghaiTimeUnderAnyZone) {
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved != nullptr ? saved : "";
  const std::int64_t starts[] = {1710118800, 515527200 - 3600, 526406400 - 3600, -933494400, -2177485000, 0};
  std::vector<std::string> expected;
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  for (std::int64_t from : starts) {
    for (std::int64_t s = from - 200; s < from + 7400; s += 7) {
      const std::time_t t = static_cast<std::time_t>(s);
      std::tm local{};
      localtime_r(&t, &local);
      char text[32];
      std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
      expected.push_back(text);
    }
  }
  for (const char* zone : {"America/New_York", "UTC", "Asia/Shanghai"}) {
    setenv("TZ", zone, 1);
    tzset();
    std::size_t i = 0;
    for (std::int64_t from : starts) {
      for (std::int64_t s = from - 200; s < from + 7400; s += 7) {
        char stamp[kWriteStampSize];
        FormatChinaStampOfTime(s * 1000000000 + 999999999, stamp);
        ASSERT_EQ(stamp, expected[i++]) << zone << " at " << s;
      }
    }
  }
  if (saved != nullptr) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}
