#include "sessions/trading_day_rule.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_clock.h"

namespace {

enum Weekday { kSun = 1, kMon, kTue, kWed, kThu, kFri, kSat };

struct TradingDayCase {
  const char* what;
  ClockReading reading;
  int expected;
};

// The week of 2024-03-03 (Sunday) to 2024-03-09 (Saturday), each day just before and at 18:00,
// then month and year ends, leap years and the eves of holidays (the rule knows no holidays).
const TradingDayCase kCases[] = {
    {"Sunday noon", FakeClock::At(2024, 3, 3, kSun, 12, 0, 0), 20240303},
    {"Sunday 21:00", FakeClock::At(2024, 3, 3, kSun, 21, 0, 0), 20240304},
    {"Monday 17:59:59", FakeClock::At(2024, 3, 4, kMon, 17, 59, 59), 20240304},
    {"Monday 18:00:00", FakeClock::At(2024, 3, 4, kMon, 18, 0, 0), 20240305},
    {"Tuesday 17:59:59", FakeClock::At(2024, 3, 5, kTue, 17, 59, 59), 20240305},
    {"Tuesday 18:00:00", FakeClock::At(2024, 3, 5, kTue, 18, 0, 0), 20240306},
    {"Wednesday 17:59:59", FakeClock::At(2024, 3, 6, kWed, 17, 59, 59), 20240306},
    {"Wednesday 18:00:00", FakeClock::At(2024, 3, 6, kWed, 18, 0, 0), 20240307},
    {"Thursday 17:59:59", FakeClock::At(2024, 3, 7, kThu, 17, 59, 59), 20240307},
    {"Thursday 18:00:00", FakeClock::At(2024, 3, 7, kThu, 18, 0, 0), 20240308},
    {"Friday 17:59:59", FakeClock::At(2024, 3, 8, kFri, 17, 59, 59), 20240308},
    {"Friday 18:00:00", FakeClock::At(2024, 3, 8, kFri, 18, 0, 0), 20240311},
    {"Saturday 01:30", FakeClock::At(2024, 3, 9, kSat, 1, 30, 0), 20240311},
    {"Saturday 17:59:59", FakeClock::At(2024, 3, 9, kSat, 17, 59, 59), 20240311},
    {"Saturday 18:00:00", FakeClock::At(2024, 3, 9, kSat, 18, 0, 0), 20240310},
    {"Sunday 00:00 right after", FakeClock::At(2024, 3, 10, kSun, 0, 0, 0), 20240310},
    {"Thursday morning", FakeClock::At(2021, 6, 3, kThu, 9, 0, 0), 20210603},
    {"Thursday night", FakeClock::At(2021, 6, 3, kThu, 21, 0, 0), 20210604},
    {"Friday before 18:00", FakeClock::At(2021, 6, 4, kFri, 17, 0, 0), 20210604},
    {"Friday evening", FakeClock::At(2021, 6, 4, kFri, 18, 0, 0), 20210607},
    {"Saturday small hours", FakeClock::At(2021, 6, 5, kSat, 1, 0, 0), 20210607},
    {"leap February 28 evening", FakeClock::At(2024, 2, 28, kWed, 21, 0, 0), 20240229},
    {"leap February 29 evening", FakeClock::At(2024, 2, 29, kThu, 21, 0, 0), 20240301},
    {"plain February 28 evening", FakeClock::At(2023, 2, 28, kTue, 21, 0, 0), 20230301},
    {"2000 is a leap year (divisible by 400)", FakeClock::At(2000, 2, 28, kMon, 21, 0, 0), 20000229},
    {"2000's leap day evening", FakeClock::At(2000, 2, 29, kTue, 21, 0, 0), 20000301},
    {"2100 is not a leap year (divisible by 100)", FakeClock::At(2100, 2, 28, kSun, 20, 0, 0), 21000301},
    {"Friday at the year end", FakeClock::At(2021, 12, 31, kFri, 21, 0, 0), 20220103},
    {"Thursday at the year end", FakeClock::At(2026, 12, 31, kThu, 18, 0, 0), 20270101},
    {"Friday at a 30-day month end", FakeClock::At(2024, 4, 26, kFri, 19, 0, 0), 20240429},
    {"Friday across a 30-day month end", FakeClock::At(2024, 11, 29, kFri, 19, 0, 0), 20241202},
    {"Saturday across a 31-day month end", FakeClock::At(2024, 8, 31, kSat, 9, 0, 0), 20240902},
    {"Saturday evening at a month end", FakeClock::At(2024, 8, 31, kSat, 20, 0, 0), 20240901},
    {"Friday before the National Day week", FakeClock::At(2024, 9, 27, kFri, 21, 0, 0), 20240930},
    {"the eve of the National Day holiday", FakeClock::At(2024, 9, 30, kMon, 21, 0, 0), 20241001},
    {"Friday before the Spring Festival", FakeClock::At(2024, 2, 9, kFri, 21, 0, 0), 20240212},
};

TEST(TradingDayRuleTest, FollowsTheEighteenHundredRuleAcrossWeekdaysMonthEndsAndLeapYears) {
  for (const auto& c : kCases) {
    EXPECT_EQ(TradingDayOf(c.reading), c.expected) << c.what;
    char day[kTradingDaySize];
    ComputeTradingDay(c.reading, day);
    EXPECT_EQ(day, std::to_string(c.expected)) << c.what;
  }
}

TEST(TradingDayRuleTest, AddDaysRollsOverMonthsYearsAndLeapDays) {
  struct Case {
    int year, month, day, n, expected;
  };
  const Case cases[] = {
      {2024, 1, 30, 3, 20240202}, {2024, 12, 30, 2, 20250101}, {2024, 6, 29, 1, 20240630},
      {2023, 2, 27, 2, 20230301}, {2024, 2, 28, 1, 20240229},  {2100, 2, 28, 1, 21000301},
      {2000, 2, 28, 1, 20000229}, {1900, 2, 28, 1, 19000301},  {2024, 2, 27, 3, 20240301},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddDaysToDate(c.year, c.month, c.day, c.n), c.expected) << c.year << "-" << c.month << "-" << c.day;
  }
}

// The night session opening a trading day is on the weekday before it, whatever the month or year.
TEST(TradingDayRuleTest, TheEveOfATradingDayIsTheWeekdayBefore) {
  const int cases[][2] = {
      {20240311, 20240308}, {20240305, 20240304}, {20240301, 20240229}, {21000301, 21000226},
      {20000301, 20000229}, {20220103, 20211231}, {20241001, 20240930},
  };
  for (const auto& c : cases) EXPECT_EQ(EveOfTradingDay(c[0]), c[1]) << c[0];
}

}  // namespace
