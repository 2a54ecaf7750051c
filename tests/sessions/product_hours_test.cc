#include "sessions/product_hours.h"

#include <gtest/gtest.h>

#include <string>

#include "sessions/session_clock.h"

namespace {

int At(int h, int m, int s = 0) { return SessionSecond(h * 3600 + m * 60 + s); }

const ProductHours& Hours(const char* product) {
  const ProductHours* hours = FindProductHours(product);
  EXPECT_NE(hours, nullptr) << product;
  static const ProductHours kNone;
  return hours != nullptr ? *hours : kNone;
}

TEST(ProductHoursTest, EveryRowOfTheTableParsesAndEveryProductItNamesIsFound) {
  for (const SessionTableRow& row : SessionTable()) {
    std::string error;
    EXPECT_TRUE(ProductHours::Parse(row.hours, &error)) << row.hours << ": " << error;
    std::string products = row.products;
    for (std::size_t start = 0; start < products.size();) {
      const std::size_t end = std::min(products.find(' ', start), products.size());
      EXPECT_NE(FindProductHours(products.substr(start, end - start)), nullptr) << products.substr(start, end - start);
      start = end + 1;
    }
  }
  EXPECT_EQ(FindProductHours("zz"), nullptr);
}

TEST(ProductHoursTest, PlacesTicksInSessionsPeriodsAuctionsAndBreaks) {
  struct Case {
    const char* product;
    int second;
    int session, period;
    bool auction;
    const char* what;
  };
  const Case cases[] = {
      {"rb", At(20, 59), 0, -1, true, "night auction"},
      {"rb", At(20, 54, 59), -1, -1, false, "before the night auction"},
      {"rb", At(21, 0), 0, 0, false, "night open"},
      {"rb", At(23, 0), 0, 0, false, "the closing tick at 23:00:00 still counts"},
      {"rb", At(23, 0, 1), -1, -1, false, "after the night close"},
      {"rb", At(1, 30), -1, -1, false, "rb has no trading past midnight"},
      {"au", At(1, 30), 0, 0, false, "gold trades past midnight"},
      {"au", At(2, 30), 0, 0, false, "gold's night close"},
      {"cu", At(0, 59, 59), 0, 0, false, "copper to 01:00"},
      {"cu", At(1, 0, 1), -1, -1, false, "copper after 01:00"},
      {"rb", At(8, 59), 1, -1, true, "day auction"},
      {"rb", At(10, 15), 1, 0, false, "10:15:00 closes the first period"},
      {"rb", At(10, 20), 1, -1, false, "inside the 10:15 break"},
      {"rb", At(10, 30), 1, 1, false, "after the break"},
      {"rb", At(12, 0), 1, -1, false, "noon"},
      {"rb", At(14, 59, 59), 1, 2, false, "afternoon"},
      {"AP", At(21, 30), -1, -1, false, "apples have no night session"},
      {"AP", At(9, 0), 0, 0, false, "the day is AP's first session"},
      {"IF", At(9, 27), 0, -1, true, "CFFEX auction"},
      {"IF", At(10, 20), 0, 0, false, "no 10:15 break for index futures"},
      {"IF", At(15, 10), -1, -1, false, "index futures close at 15:00"},
      {"T", At(15, 10), 0, 1, false, "bond futures to 15:15"},
  };
  for (const Case& c : cases) {
    const ProductHours::Place place = Hours(c.product).Locate(c.second);
    EXPECT_EQ(place.session, c.session) << c.what;
    EXPECT_EQ(place.period, c.period) << c.what;
    EXPECT_EQ(place.auction, c.auction) << c.what;
  }
  // Trades, every tick's question, answers as Locate does at every second of every product's clock.
  for (const char* product : {"rb", "AP", "IF", "T", "au", "sc", "SA", "lc", "ec"}) {
    const ProductHours* hours = FindProductHours(product);
    if (hours == nullptr) continue;
    for (int second = -10; second < 30 * 3600; ++second) {
      const ProductHours::Place place = hours->Locate(second);
      ASSERT_EQ(hours->Trades(second), place.period >= 0 || place.auction) << product << " " << second;
    }
  }
  EXPECT_TRUE(Hours("rb").sessions()[0].night());
  EXPECT_FALSE(Hours("rb").sessions()[1].night());
}

TEST(ProductHoursTest, TradingSecondsSkipBreaksAndRunThroughMidnight) {
  const ProductHours& rb = Hours("rb");
  EXPECT_EQ(rb.TradingSecondsBetween(At(10, 14, 40), At(10, 30, 10)), 30) << "the break does not count";
  EXPECT_EQ(rb.TradingSecondsBetween(At(11, 29), At(13, 31)), 120) << "nor does noon";
  EXPECT_EQ(rb.TradingSecondsBetween(At(22, 59), At(9, 1)), 120) << "nor the night";
  EXPECT_EQ(Hours("au").TradingSecondsBetween(At(23, 59, 50), At(0, 0, 10)), 20);
  EXPECT_EQ(rb.TradingSecondsBetween(At(21, 0), At(15, 0)), 2 * 3600 + 3600 * 15 / 4);
}

TEST(ProductHoursTest, BadHoursTextsAreRefusedWithAReason) {
  const char* bad[] = {
      "",
      "21:00-20:00",
      "25:00-26:00",
      "09:00-10:15 10:00-11:00",
      "09:00-10:15 08:55",
      "09:00 09:30",
      "09:00-10:15x",
      "13:00-15:00 | 09:00-11:30",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(ProductHours::Parse(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(ProductHoursTest, TheProductIsTheLeadingLettersOfTheContract) {
  EXPECT_EQ(ProductOfContract("rb2405"), "rb");
  EXPECT_EQ(ProductOfContract("AP405"), "AP");
  EXPECT_EQ(ProductOfContract("IF2403"), "IF");
  EXPECT_EQ(ProductOfContract("m2405-C-3000"), "m");
  EXPECT_EQ(ProductOfContract("2405"), "");
}

}  // namespace
