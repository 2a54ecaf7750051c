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

struct TradingDayCase {
  const char* what;
  ClockReading reading;
  const char* expected;
};

// The week of 2024-03-03 (Sunday) to 2024-03-09 (Saturday), each day just before and at 18:00,
// then month and year ends.
const TradingDayCase kCases[] = {
    {"Sunday noon", FakeClock::At(2024, 3, 3, kSun, 12, 0, 0), "20240303"},
    {"Sunday 21:00", FakeClock::At(2024, 3, 3, kSun, 21, 0, 0), "20240304"},
    {"Monday 17:59:59", FakeClock::At(2024, 3, 4, kMon, 17, 59, 59), "20240304"},
    {"Monday 18:00:00", FakeClock::At(2024, 3, 4, kMon, 18, 0, 0), "20240305"},
    {"Tuesday 17:59:59", FakeClock::At(2024, 3, 5, kTue, 17, 59, 59), "20240305"},
    {"Tuesday 18:00:00", FakeClock::At(2024, 3, 5, kTue, 18, 0, 0), "20240306"},
    {"Wednesday 17:59:59", FakeClock::At(2024, 3, 6, kWed, 17, 59, 59), "20240306"},
    {"Wednesday 18:00:00", FakeClock::At(2024, 3, 6, kWed, 18, 0, 0), "20240307"},
    {"Thursday 17:59:59", FakeClock::At(2024, 3, 7, kThu, 17, 59, 59), "20240307"},
    {"Thursday 18:00:00", FakeClock::At(2024, 3, 7, kThu, 18, 0, 0), "20240308"},
    {"Friday 17:59:59", FakeClock::At(2024, 3, 8, kFri, 17, 59, 59), "20240308"},
    {"Friday 18:00:00", FakeClock::At(2024, 3, 8, kFri, 18, 0, 0), "20240311"},
    {"Saturday 01:30", FakeClock::At(2024, 3, 9, kSat, 1, 30, 0), "20240311"},
    {"Saturday 17:59:59", FakeClock::At(2024, 3, 9, kSat, 17, 59, 59), "20240311"},
    {"Saturday 18:00:00", FakeClock::At(2024, 3, 9, kSat, 18, 0, 0), "20240310"},
    {"Sunday 00:00 right after", FakeClock::At(2024, 3, 10, kSun, 0, 0, 0), "20240310"},
    {"leap February 28 evening", FakeClock::At(2024, 2, 28, kWed, 21, 0, 0), "20240229"},
    {"leap February 29 evening", FakeClock::At(2024, 2, 29, kThu, 21, 0, 0), "20240301"},
    {"plain February 28 evening", FakeClock::At(2023, 2, 28, kTue, 21, 0, 0), "20230301"},
    {"Friday at the year end", FakeClock::At(2021, 12, 31, kFri, 21, 0, 0), "20220103"},
    {"Thursday at the year end", FakeClock::At(2026, 12, 31, kThu, 18, 0, 0), "20270101"},
    {"Friday at a 30-day month end", FakeClock::At(2024, 4, 26, kFri, 19, 0, 0), "20240429"},
    {"Friday across a 30-day month end", FakeClock::At(2024, 11, 29, kFri, 19, 0, 0), "20241202"},
    {"Saturday across a 31-day month end", FakeClock::At(2024, 8, 31, kSat, 9, 0, 0), "20240902"},
    {"Saturday evening at a month end", FakeClock::At(2024, 8, 31, kSat, 20, 0, 0), "20240901"},
    {"year 2100 counts as leap (divisible by 4)", FakeClock::At(2100, 2, 28, kSun, 20, 0, 0), "21000229"},
};

TEST(TradingDayTest, FollowsTheEighteenHundredRuleAcrossWeekdaysAndMonthEnds) {
  for (const auto& c : kCases) {
    char day[kTradingDaySize];
    ComputeTradingDay(c.reading, day);
    EXPECT_STREQ(day, c.expected) << c.what;
  }
}

TEST(TradingDayTest, AddDaysRollsOverOnceAndIntoTheNextYear) {
  EXPECT_EQ(AddDaysToDate(2024, 1, 30, 3), 20240202);
  EXPECT_EQ(AddDaysToDate(2024, 12, 30, 2), 20250101);
  EXPECT_EQ(AddDaysToDate(2024, 6, 29, 1), 20240630);
  EXPECT_EQ(AddDaysToDate(2023, 2, 27, 2), 20230301);
}

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
