#include "sessions/session_clock.h"

#include <gtest/gtest.h>

#include "sessions/trading_day_rule.h"

namespace {

enum Weekday { kSun = 1, kMon, kTue, kWed, kThu, kFri, kSat };

ClockReading Reading(int date, int weekday, int hour, int minute) {
  ClockReading r;
  r.year = date / 10000;
  r.month = date / 100 % 100;
  r.day = date % 100;
  r.weekday = weekday;
  r.hour = hour;
  r.minute = minute;
  return r;
}

TEST(SessionClockTest, TheNightComesFirstAndRunsPastMidnightWithoutWrapping) {
  EXPECT_EQ(SessionSecond(18 * 3600), 0);
  EXPECT_EQ(SessionSecond(21 * 3600), 10800);
  EXPECT_EQ(SessionSecond(0), 21600);
  EXPECT_EQ(SessionSecond(9 * 3600), 54000);
  EXPECT_EQ(SessionSecond(18 * 3600 - 1), 86399);
  for (int t : {0, 3600, 9 * 3600 + 1, 86399}) EXPECT_EQ(TimeOfDay(SessionSecond(t)), t);
}

// The collector files a moment under a trading day; CalendarDateOf takes it back to the date it
// happened on. Night ticks of Monday's trading day happen on Friday evening and Saturday morning.
TEST(SessionClockTest, TheCalendarDateOfASessionSecondInvertsTheTradingDayRule) {
  struct Case {
    int date, weekday, hour, minute;
    int tradingDay;
  };
  const Case cases[] = {
      {20240308, kFri, 21, 0, 20240311},   // Friday night belongs to Monday
      {20240309, kSat, 1, 30, 20240311},   // and so does its part past midnight
      {20240311, kMon, 9, 0, 20240311},
      {20240311, kMon, 21, 0, 20240312},
      {20240312, kTue, 0, 30, 20240312},
      {20240229, kThu, 21, 0, 20240301},   // a leap-day eve
      {20231229, kFri, 23, 0, 20240101},   // across a year end (no holiday calendar)
      {20231230, kSat, 2, 0, 20240101},
      {20240102, kTue, 14, 59, 20240102},
  };
  for (const Case& c : cases) {
    char day[kTradingDaySize];
    ComputeTradingDay(Reading(c.date, c.weekday, c.hour, c.minute), day);
    EXPECT_EQ(std::atoi(day), c.tradingDay) << c.date << " " << c.hour << ":" << c.minute;
    EXPECT_EQ(CalendarDateOf(c.tradingDay, SessionSecond(c.hour * 3600 + c.minute * 60)), c.date)
        << c.date << " " << c.hour << ":" << c.minute;
  }
}

}  // namespace
