#include "sessions/exchange.h"

#include <gtest/gtest.h>

#include <string>

#include "sessions/product_hours.h"

namespace {

enum Weekday { kSun = 1, kMon, kTue, kWed, kThu, kFri, kSat };

ClockReading At(int weekday, int hour, int minute) {
  ClockReading r;
  r.weekday = weekday;
  r.hour = hour;
  r.minute = minute;
  return r;
}

TEST(ExchangeTest, ContractCodesMapToTheirExchangeByLeadingLetters) {
  const struct {
    const char* code;
    Exchange exchange;
  } cases[] = {
      {"rb2405", Exchange::kShfe}, {"sc2412", Exchange::kIne},   {"a2405", Exchange::kDce},
      {"i2409", Exchange::kDce},   {"AP405", Exchange::kCzce},   {"IF2403", Exchange::kCffex},
      {"T2406", Exchange::kCffex}, {"TA405", Exchange::kCzce},   {"TS2406", Exchange::kCffex},
      {"zz2405", Exchange::kUnknown}, {"abc2405", Exchange::kUnknown}, {"", Exchange::kUnknown},
      {"2405", Exchange::kUnknown},   {"x", Exchange::kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExchangeOfCode(c.code), c.exchange) << c.code;
  }
  EXPECT_EQ(ExchangeOfCode(nullptr), Exchange::kUnknown);
  EXPECT_EQ(ExchangeOfProduct("rb"), Exchange::kShfe);
  EXPECT_EQ(ExchangeOfProduct("r"), Exchange::kUnknown);
  EXPECT_STREQ(ExchangeName(Exchange::kCffex), "CFFEX");
}

TEST(ExchangeTest, EveryProductOfTheSessionTableHasAnExchange) {
  for (const SessionTableRow& row : SessionTable()) {
    std::string_view rest = row.products;
    while (!rest.empty()) {
      const std::size_t space = rest.find(' ');
      const std::string product(rest.substr(0, space));
      EXPECT_NE(ExchangeOfProduct(product), Exchange::kUnknown) << product;
      rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
  }
}

TEST(ExchangeTest, InSessionFollowsTheHoursAndTheWeek) {
  const struct {
    Exchange exchange;
    ClockReading at;
    bool inSession;
  } cases[] = {
      {Exchange::kShfe, At(kWed, 21, 30), true},   // night session
      {Exchange::kShfe, At(kThu, 0, 30), true},    // metals past midnight
      {Exchange::kShfe, At(kThu, 3, 0), false},    // after the latest night
      {Exchange::kShfe, At(kWed, 20, 56), false},  // night auction is not continuous trading
      {Exchange::kShfe, At(kWed, 10, 20), false},  // morning break
      {Exchange::kShfe, At(kWed, 12, 0), false},   // noon
      {Exchange::kShfe, At(kWed, 14, 0), true},
      {Exchange::kCffex, At(kWed, 21, 30), false},  // no night session
      {Exchange::kCffex, At(kWed, 9, 29), false},
      {Exchange::kCffex, At(kWed, 9, 31), true},
      {Exchange::kCffex, At(kWed, 15, 10), true},   // bonds to 15:15
      {Exchange::kCzce, At(kFri, 22, 0), true},     // Friday night counts for Monday
      {Exchange::kIne, At(kSat, 1, 0), true},       // Friday's night past midnight
      {Exchange::kIne, At(kMon, 1, 0), false},      // no Sunday night
      {Exchange::kDce, At(kSat, 10, 0), false},
      {Exchange::kDce, At(kSun, 21, 30), false},
      {Exchange::kUnknown, At(kWed, 10, 0), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExchangeInSession(c.exchange, c.at), c.inSession)
        << ExchangeName(c.exchange) << " weekday " << c.at.weekday << " " << c.at.hour << ":" << c.at.minute;
  }
}

}  // namespace
