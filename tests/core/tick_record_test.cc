#include "core/tick_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ThostFtdcUserApiStruct.h"

namespace {

CThostFtdcDepthMarketDataField Incoming(const char* instrument) {
  CThostFtdcDepthMarketDataField in;
  std::memset(&in, 0x5A, sizeof(in));  // garbage everywhere, as a careless producer might leave it
  std::snprintf(in.TradingDay, sizeof(in.TradingDay), "20240301");
  std::snprintf(in.InstrumentID, sizeof(in.InstrumentID), "%s", instrument);
  std::snprintf(in.ExchangeID, sizeof(in.ExchangeID), "SHFE");
  std::snprintf(in.ExchangeInstID, sizeof(in.ExchangeInstID), "other");
  std::snprintf(in.UpdateTime, sizeof(in.UpdateTime), "09:05:07");
  std::snprintf(in.ActionDay, sizeof(in.ActionDay), "20240301");
  in.LastPrice = 3725;
  in.Volume = 123456;
  in.OpenPrice = 3710;
  in.HighestPrice = 3750;
  in.LowestPrice = 3700;
  in.ClosePrice = 3720;
  in.SettlementPrice = 3722;
  in.UpdateMillisec = 500;
  in.BidVolume5 = 77;
  in.AveragePrice = 37251.2345;
  return in;
}

TEST(TickRecordTest, BuildsFromIncomingRecordWithZeroedGaps) {
  auto in = Incoming("rb2405");
  TickRecord out;
  std::memset(&out, 0xFF, sizeof(out));
  BuildTickRecord(&in, &out);

  EXPECT_STREQ(out.TradingDay, "20240301");
  EXPECT_STREQ(out.InstrumentID, "rb2405");
  EXPECT_STREQ(out.ExchangeID, "rb2405");
  EXPECT_STREQ(out.ExchangeInstID, "rb2405");
  EXPECT_STREQ(out.UpdateTime, "09:05:07");
  EXPECT_EQ(out.LastPrice, 3725);
  EXPECT_EQ(out.Volume, 123456);
  EXPECT_EQ(out.UpdateMillisec, 500);
  EXPECT_EQ(out.BidVolume5, 77);
  EXPECT_EQ(out.AveragePrice, 37251.2345);
  EXPECT_EQ(out.Filled, 1);

  // Every byte no value covers is zero: the tail of a text field and the alignment gaps.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&out);
  for (std::size_t i = offsetof(TickRecord, InstrumentID) + 6; i < offsetof(TickRecord, ExchangeID); ++i)
    EXPECT_EQ(bytes[i], 0) << "byte " << i;
  for (std::size_t i = offsetof(TickRecord, Volume) + 4; i < offsetof(TickRecord, Turnover); ++i)
    EXPECT_EQ(bytes[i], 0) << "byte " << i;
  for (std::size_t i = offsetof(TickRecord, Filled) + 4; i < sizeof(TickRecord); ++i)
    EXPECT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(TickRecordTest, ExchangeIdKeepsFirstEightCharactersOfLongCode) {
  auto in = Incoming("SR2405C6000");
  TickRecord out;
  BuildTickRecord(&in, &out);
  EXPECT_STREQ(out.InstrumentID, "SR2405C6000");
  EXPECT_STREQ(out.ExchangeID, "SR2405C6");
  EXPECT_STREQ(out.ExchangeInstID, "SR2405C6000");
}

TEST(TickRecordTest, UnterminatedIncomingTextIsCutToWidth) {
  auto in = Incoming("x");
  std::memset(in.InstrumentID, 'A', sizeof(in.InstrumentID));  // 31 bytes, no terminator
  std::memset(in.UpdateTime, '9', sizeof(in.UpdateTime));
  TickRecord out;
  BuildTickRecord(&in, &out);
  EXPECT_EQ(std::strlen(out.InstrumentID), 30u);
  EXPECT_EQ(std::strlen(out.ExchangeID), 8u);
  EXPECT_EQ(std::strlen(out.UpdateTime), 8u);
}

struct SanitiseCase {
  const char* name;
  double CThostFtdcDepthMarketDataField::*field;
  double TickRecord::*recordField;
  double value;
  double expected;  // NaN means "stays NaN"
};

class SanitiseTest : public ::testing::TestWithParam<SanitiseCase> {};

TEST_P(SanitiseTest, OnlyTheFourPricesAboveTheBoundBecomeMinusOne) {
  const SanitiseCase& c = GetParam();
  auto in = Incoming("rb2405");
  in.*c.field = c.value;
  TickRecord out;
  BuildTickRecord(&in, &out);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(out.*c.recordField));
  } else {
    EXPECT_EQ(out.*c.recordField, c.expected);
  }
}

constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Fields, SanitiseTest,
    ::testing::Values(
        SanitiseCase{"ClosePriceMax", &CThostFtdcDepthMarketDataField::ClosePrice, &TickRecord::ClosePrice, kMax, -1.0},
        SanitiseCase{"OpenPriceMax", &CThostFtdcDepthMarketDataField::OpenPrice, &TickRecord::OpenPrice, kMax, -1.0},
        SanitiseCase{"HighestMax", &CThostFtdcDepthMarketDataField::HighestPrice, &TickRecord::HighestPrice, kMax, -1.0},
        SanitiseCase{"LowestMax", &CThostFtdcDepthMarketDataField::LowestPrice, &TickRecord::LowestPrice, kMax, -1.0},
        SanitiseCase{"ClosePriceAtBound", &CThostFtdcDepthMarketDataField::ClosePrice, &TickRecord::ClosePrice, 1.79e300, 1.79e300},
        SanitiseCase{"ClosePriceNaN", &CThostFtdcDepthMarketDataField::ClosePrice, &TickRecord::ClosePrice, kNaN, kNaN},
        SanitiseCase{"LastPriceMaxCarried", &CThostFtdcDepthMarketDataField::LastPrice, &TickRecord::LastPrice, kMax, kMax},
        SanitiseCase{"SettlementMaxCarried", &CThostFtdcDepthMarketDataField::SettlementPrice, &TickRecord::SettlementPrice, kMax, kMax},
        SanitiseCase{"AskPriceMaxCarried", &CThostFtdcDepthMarketDataField::AskPrice1, &TickRecord::AskPrice1, kMax, kMax}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TickRecordTest, SanitisingAlsoChangesTheIncomingRecord) {
  auto in = Incoming("rb2405");
  in.HighestPrice = kMax;
  TickRecord out;
  BuildTickRecord(&in, &out);
  EXPECT_EQ(in.HighestPrice, -1.0);
}

// The arrival fits the record's last four bytes as the low bits of Unix milliseconds; a later reading
// within 24 days, either way round, gives it back whole.
TEST(TickRecordTest, TheArrivalStampedOnARecordIsReadBackFromALaterReading) {
  constexpr long long kMs = 1000000;
  constexpr long long kArrival = 1709254800123LL * kMs;  // 2024-03-01 09:00:00.123 China time
  struct Case {
    long long arrival;
    long long later;
    long long expected;
  };
  const Case cases[] = {
      {kArrival, kArrival, kArrival},
      {kArrival + 456789, kArrival + 360000 * kMs, kArrival},                 // six minutes behind, ms resolution
      {kArrival, kArrival + 20LL * 86400000 * kMs, kArrival},                  // twenty days behind
      {kArrival, kArrival - 5000 * kMs, kArrival},                             // the clock stepped back 5 s
      {(1LL << 32) * 400 * kMs, (1LL << 32) * 400 * kMs + 10 * kMs, (1LL << 32) * 400 * kMs + kMs},  // low bits 0
      {0, kArrival, 0},                                                        // not known
      {kArrival, 0, 0},
  };
  for (const Case& c : cases) {
    TickRecord r;
    ClearTickRecord(&r);
    SetTickArrival(&r, c.arrival);
    EXPECT_EQ(TickArrivalNs(r, c.later), c.expected) << c.arrival << " " << c.later;
    EXPECT_EQ(r.Filled, 0) << "Filled untouched";
  }
}

}  // namespace
