#include "sessions/civil_date.h"

#include <gtest/gtest.h>

namespace {

TEST(CivilDateTest, ShiftsAcrossMonthsYearsAndTheGregorianLeapRule) {
  struct Case {
    int date, days, expected;
  };
  const Case cases[] = {
      {20240228, 1, 20240229}, {20240228, 2, 20240301}, {20230228, 1, 20230301}, {21000228, 1, 21000301},
      {20000228, 1, 20000229}, {19000228, 1, 19000301}, {24000228, 1, 24000229}, {20250101, -1, 20241231},
      {21000301, -1, 21000228}, {20000301, -1, 20000229}, {20241231, 366, 20260101}, {20240301, -366, 20230301},
      {19700101, 0, 19700101}, {20240131, 30, 20240301},
  };
  for (const Case& c : cases) EXPECT_EQ(ShiftCalendarDate(c.date, c.days), c.expected) << c.date << " " << c.days;
}

TEST(CivilDateTest, RealDatesOnly) {
  for (int date : {20240229, 20000229, 19000101, 99991231, 20241231, 21000228}) EXPECT_TRUE(IsCalendarDate(date)) << date;
  for (int date : {20230229, 21000229, 19000229, 20241301, 20240001, 20240100, 20240431, 18991231, 123, 0, -20240101}) {
    EXPECT_FALSE(IsCalendarDate(date)) << date;
  }
}

// Numbered as a clock reading's day of the week: 1 = Sunday ... 7 = Saturday.
TEST(CivilDateTest, WeekdaysOfDates) {
  const int cases[][2] = {
      {19700101, 5}, {20240303, 1}, {20240304, 2}, {20240308, 6}, {20240309, 7},
      {20000229, 3}, {21000228, 1}, {21000301, 2}, {19691231, 4},
  };
  for (const auto& c : cases) EXPECT_EQ(WeekdayOfDate(c[0]), c[1]) << c[0];
}

// Day counts run on without a gap over every day of four centuries, and back again; a day past a
// month's end counts on into the next month as the stamps of a broken clock would.
TEST(CivilDateTest, DayCountsRoundTripAndCountOn) {
  EXPECT_EQ(DaysSinceEpoch(19700101), 0);
  EXPECT_EQ(DaysSinceEpoch(19691231), -1);
  EXPECT_EQ(DaysSinceEpoch(20000301) - DaysSinceEpoch(20000228), 2);
  EXPECT_EQ(DaysSinceEpoch(21000301) - DaysSinceEpoch(21000228), 1);
  int date = 19000101;
  for (std::int64_t days = DaysSinceEpoch(date); date < 23000101; ++days) {
    ASSERT_TRUE(IsCalendarDate(date)) << date;
    ASSERT_EQ(DaysSinceEpoch(date), days) << date;
    ASSERT_EQ(DateOfDaysSinceEpoch(days), date);
    date = ShiftCalendarDate(date, 1);
  }
  EXPECT_EQ(DaysSinceEpoch(20230229), DaysSinceEpoch(20230301));
  EXPECT_EQ(DaysSinceEpoch(20240231), DaysSinceEpoch(20240302));
  EXPECT_EQ(DaysSinceEpoch(20241301), DaysSinceEpoch(20250101));
}

}  // namespace
