#include "sessions/clock_time.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

TEST(ClockTimeTest, ReadsExactlyHhMmSsOfAValidTime) {
  struct Case {
    std::string_view text;
    int seconds;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"00:00:00", 0},      {"21:00:01", 75601},  {"23:59:59", 86399}, {"09:05:07", 32707},
      {"99:99:99", -1},     {"24:00:00", -1},     {"21:60:00", -1},    {"21:00", -1},
      {"21-00-00", -1},     {"2100:00", -1},      {"", -1},            {"23:59:60", -1},  // no leap seconds
      {" 9:05:07", -1},     {"+9:05:07", -1},     {"09:-5:07", -1},    {"09:05:07 ", -1},
      {"09:05:7 ", -1},     {"0x:05:07", -1},     {"09:05:0\0"sv, -1}, {"09:05:07.5", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseClockTime(c.text), c.seconds) << c.text;
}

// A stamp keeps second 60 (a local clock may show a leap second) and counts day 31 of a short month
// on; anything else that is not yyyymmddHHMMSS is refused.
TEST(ClockTimeTest, WriteStampsSplitIntoDateAndTimeOfDay) {
  struct Case {
    std::string_view stamp;
    bool ok;
    int date, timeOfDay;
  };
  const Case cases[] = {
      {"20240301090507", true, 20240301, 32707}, {"21000228235960", true, 21000228, 86400},
      {"20240231000000", true, 20240231, 0},     {"20241301000000", false, 0, 0},
      {"20240001000000", false, 0, 0},           {"20240100000000", false, 0, 0},
      {"20240311250000", false, 0, 0},           {"20240311096000", false, 0, 0},
      {"20240311090061", false, 0, 0},           {"2024031109000x", false, 0, 0},
      {"2024031109000", false, 0, 0},            {"202403110900000", false, 0, 0},
      {"2024-3-1090000", false, 0, 0},           {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    int date = 0, timeOfDay = 0;
    EXPECT_EQ(ParseWriteStamp(c.stamp, &date, &timeOfDay), c.ok) << c.stamp;
    if (!c.ok) continue;
    EXPECT_EQ(date, c.date) << c.stamp;
    EXPECT_EQ(timeOfDay, c.timeOfDay) << c.stamp;
  }
}

}  // namespace
