#include "sessions/market_calendar.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sessions/session_clock.h"
#include "sessions/trading_day_rule.h"

namespace {

const MarketCalendar& Shipped() { return MarketCalendar::Shipped(); }

TEST(MarketCalendarTest, TheShippedFileLoadsAndMatchesTheBuiltInCopy) {
  std::string error;
  const std::optional<MarketCalendar> file = MarketCalendar::Load(QUOTELOOM_HOLIDAYS_FILE, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->first_year(), 2024);
  EXPECT_EQ(file->last_year(), 2026);
  EXPECT_EQ(Shipped().first_year(), 2024);
  EXPECT_EQ(Shipped().last_year(), 2026);
  for (int date = 20240101; date <= 20261231; date = ShiftCalendarDate(date, 1)) {
    std::string a, b;
    ASSERT_EQ(*file->IsTradingDay(date, &a), *Shipped().IsTradingDay(date, &b)) << date;
  }
}

TEST(MarketCalendarTest, WeekdaysTradeUnlessListedAndWeekendsNever) {
  struct Case {
    int date;
    bool trading;
  };
  const Case cases[] = {
      {20240401, true},   // Monday before Qingming
      {20240403, true},
      {20240404, false},  // Qingming
      {20240405, false},
      {20240406, false},  // Saturday
      {20240407, false},  // Sunday (a make-up workday for offices, not for the exchanges)
      {20240408, true},
      {20250128, false},  // Spring Festival eve
      {20251008, false},
      {20251009, true},
      {20261231, true},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<bool> trading = Shipped().IsTradingDay(c.date, &error);
    ASSERT_TRUE(trading) << c.date << ": " << error;
    EXPECT_EQ(*trading, c.trading) << c.date;
  }
}

TEST(MarketCalendarTest, NoNightOnTheEveOfAHolidayAndFridayNightBelongsToMonday) {
  struct Case {
    int day;
    bool night;
    int previous;
  };
  const Case cases[] = {
      {20240311, true, 20240308},   // an ordinary Monday: Friday's night
      {20240312, true, 20240311},
      {20240408, false, 20240403},  // after Qingming: no night on Wednesday 3 April
      {20240403, true, 20240402},
      {20240219, false, 20240208},  // after the Spring Festival week
      {20241008, false, 20240930},
      {20240404, false, 20240403},  // a holiday has no sessions at all
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<bool> night = Shipped().HasNightSession(c.day, &error);
    ASSERT_TRUE(night) << c.day << ": " << error;
    EXPECT_EQ(*night, c.night) << c.day;
    const std::optional<int> previous = Shipped().PreviousTradingDay(c.day, &error);
    ASSERT_TRUE(previous) << error;
    EXPECT_EQ(*previous, c.previous) << c.day;
  }
}

TEST(MarketCalendarTest, MomentsArePlacedOnTheirTradingDayAcrossWeekendsAndHolidays) {
  struct Case {
    int date;
    int hour, minute;
    int tradingDay;
    bool open;
  };
  const Case cases[] = {
      {20240308, 20, 35, 20240311, true},   // Friday evening: Monday's night
      {20240309, 1, 30, 20240311, true},    // Saturday early: still Monday's night
      {20240309, 10, 0, 20240311, false},   // Saturday daytime: closed
      {20240309, 21, 0, 20240311, false},   // Saturday evening: no night
      {20240310, 1, 0, 20240311, false},    // Sunday early
      {20240311, 9, 0, 20240311, true},
      {20240311, 15, 20, 20240311, true},   // the day part runs to 18:00
      {20240311, 18, 0, 20240312, true},
      {20240403, 21, 0, 20240408, false},   // eve of Qingming: no night
      {20240404, 1, 0, 20240408, false},
      {20240405, 9, 0, 20240408, false},    // the holiday itself
      {20240408, 9, 0, 20240408, true},
      {20240408, 21, 0, 20240409, true},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<MarketMoment> m = Shipped().Place(c.date, c.hour * 3600 + c.minute * 60, &error);
    ASSERT_TRUE(m) << c.date << ": " << error;
    EXPECT_EQ(m->trading_day, c.tradingDay) << c.date << " " << c.hour << ":" << c.minute;
    EXPECT_EQ(m->open, c.open) << c.date << " " << c.hour << ":" << c.minute;
    EXPECT_EQ(m->session_second, SessionSecond(c.hour * 3600 + c.minute * 60));
  }
}

TEST(MarketCalendarTest, AYearTheCalendarLacksIsAnErrorNamingTheYear) {
  std::string error;
  EXPECT_FALSE(Shipped().IsTradingDay(20270104, &error));
  EXPECT_NE(error.find("2027"), std::string::npos) << error;
  error.clear();
  // The last trading day of 2026 has no known successor.
  EXPECT_FALSE(Shipped().NextTradingDay(20261231, &error));
  EXPECT_NE(error.find("2027"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(Shipped().Place(20231229, 20 * 3600, &error));
  EXPECT_NE(error.find("2023"), std::string::npos) << error;
}

TEST(MarketCalendarTest, BadFilesAreRefusedNamingTheFileAndLine) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"20240101\n2024-04-04\n", "cal.txt:2: '2024-04-04' is not a date"},
      {"# header\n\n20240230\n", "cal.txt:3: '20240230' is not a date"},
      {"20240101 # new year\n20240406\n", "cal.txt:2: 20240406 is a Saturday"},
      {"202401011\n", "cal.txt:1:"},
      {"# nothing\n", "cal.txt: lists no day"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(MarketCalendar::Parse(c.text, "cal.txt", &error)) << c.text;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
  std::string error;
  const std::optional<MarketCalendar> ok = MarketCalendar::Parse("20240101  # New Year\r\n\t20240404\n", "x", &error);
  ASSERT_TRUE(ok) << error;
  EXPECT_FALSE(*ok->IsTradingDay(20240404, &error));
}

TEST(MarketCalendarTest, UnreadableFilesAreNamed) {
  std::string error;
  EXPECT_FALSE(MarketCalendar::Load("/nonexistent/holidays.txt", &error));
  EXPECT_NE(error.find("/nonexistent/holidays.txt"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(MarketCalendar::Load("/tmp", &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  char fifo[] = "/tmp/quoteloom-calendar-fifo-XXXXXX";
  ASSERT_NE(mkdtemp(fifo), nullptr);
  const std::string path = std::string(fifo) + "/holidays";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  error.clear();
  EXPECT_FALSE(MarketCalendar::Load(path, &error));  // must not hang on a FIFO
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  unlink(path.c_str());
  rmdir(fifo);
}

}  // namespace
