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

}  // namespace
