#include "storage/tick_line.h"

#include <gtest/gtest.h>

#include <charconv>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "tests/support/tick_fixtures.h"

namespace {

const char kDblMaxFixed[] =
    "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368.00";

std::string Line(const TickRecord& record, NumberStyle style) {
  char out[kTickLineSize];
  const std::size_t n = BuildTickLine(record, "20240301090507", style, out);
  EXPECT_EQ(n, std::strlen(out));
  return std::string(out, n);
}

TEST(TickLineTest, ExampleRecordInBothStyles) {
  const TickRecord r = ExampleRb2405Record();
  EXPECT_EQ(Line(r, NumberStyle::kGeneral),
            "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,37251.2,3726,15,"
            "3725,30,3950,3500,1.65432e+06,4.59877e+09,3720,1.65e+06,3722\r\n");
  EXPECT_EQ(Line(r, NumberStyle::kFixed),
            "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725.00,123456,3750.00,3700.00,3710.00,-1.00,"
            "37251.23,3726.00,15,3725.00,30,3950.00,3500.00,1654321.00,4598765432.00,3720.00,1650000.00,"
            "3722.00\r\n");
}

struct NumberCase {
  double value;
  const char* general;
  const char* fixed;
};

TEST(TickLineTest, NumbersMatchPrintfIncludingExtremes) {
  const double inf = std::numeric_limits<double>::infinity();
  const NumberCase cases[] = {
      {3725, "3725", "3725.00"},
      {37251.2345, "37251.2", "37251.23"},
      {1654321, "1.65432e+06", "1654321.00"},
      {123456, "123456", "123456.00"},
      {-1, "-1", "-1.00"},
      {0, "0", "0.00"},
      {-0.0, "-0", "-0.00"},
      {0.0001, "0.0001", "0.00"},
      {0.00001, "1e-05", "0.00"},
      {0.125, "0.125", "0.12"},  // an exact tie rounds to even, as printf does
      {0.375, "0.375", "0.38"},
      {std::numeric_limits<double>::denorm_min(), "4.94066e-324", "0.00"},
      {std::nan(""), "nan", "nan"},
      {-std::nan(""), "-nan", "-nan"},
      {inf, "inf", "inf"},
      {-inf, "-inf", "-inf"},
      {std::numeric_limits<double>::max(), "1.79769e+308", kDblMaxFixed},
  };
  for (const auto& c : cases) {
    char out[kNumberSize];
    EXPECT_EQ(std::string(out, FormatNumber(c.value, NumberStyle::kGeneral, out)), c.general) << c.general;
    EXPECT_EQ(std::string(out, FormatNumber(c.value, NumberStyle::kFixed, out)), c.fixed) << c.general;
  }
  EXPECT_EQ(std::strlen(kDblMaxFixed), 312u);
}

TEST(TickLineTest, NumbersMatchPrintfOverRandomValues) {
  std::mt19937_64 random(20240301);
  auto check = [](double v) {
    char expected[kNumberSize];
    char out[kNumberSize];
    std::snprintf(expected, sizeof(expected), "%g", v);
    ASSERT_EQ(std::string(out, FormatNumber(v, NumberStyle::kGeneral, out)), expected);
    std::snprintf(expected, sizeof(expected), "%.2f", v);
    ASSERT_EQ(std::string(out, FormatNumber(v, NumberStyle::kFixed, out)), expected);
  };
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random();
    double any;
    std::memcpy(&any, &bits, sizeof(any));
    check(any);
    // Prices as the exchanges send them: ticks of 0.001 to 1, half-way cases included.
    const double price = static_cast<double>(random() % 100000000) / static_cast<double>(1 + random() % 1000);
    check(price);
    check(-price);
    check(std::round(price * 1000) / 1000 + 0.005);
  }
}

TEST(TickLineTest, LongestPossibleLineIsNotCut) {
  TickRecord r = ExampleRb2405Record();
  const double m = -std::numeric_limits<double>::max();
  for (double* d : {&r.LastPrice, &r.HighestPrice, &r.LowestPrice, &r.OpenPrice, &r.ClosePrice, &r.AveragePrice,
                    &r.AskPrice1, &r.BidPrice1, &r.UpperLimitPrice, &r.LowerLimitPrice, &r.OpenInterest,
                    &r.Turnover, &r.PreClosePrice, &r.PreOpenInterest, &r.PreSettlementPrice}) {
    *d = m;
  }
  std::snprintf(r.InstrumentID, sizeof(r.InstrumentID), "%s", std::string(30, 'x').c_str());
  r.UpdateMillisec = r.Volume = r.AskVolume1 = r.BidVolume1 = std::numeric_limits<int>::min();

  const std::string line = Line(r, NumberStyle::kFixed);
  EXPECT_EQ(line.size(), 14 + 30 + 8 + 8 + 8 + 4 * 11 + 15 * 313 + 23 + 2);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  EXPECT_NE(line.find(std::string("-") + kDblMaxFixed + "\r\n"), std::string::npos);
}

// What the writer writes, the reader reads back field for field, in both styles and at the extremes.
TEST(TickLineReaderTest, ReadsBackWhatTheWriterWrote) {
  using namespace tick_field;
  TickRecord extreme = ExampleRb2405Record();
  extreme.AskPrice1 = std::numeric_limits<double>::max();
  extreme.Turnover = -std::numeric_limits<double>::max();
  extreme.Volume = std::numeric_limits<int>::max();
  extreme.BidVolume1 = std::numeric_limits<int>::min();
  extreme.AveragePrice = std::numeric_limits<double>::infinity();
  for (const TickRecord& r : {ExampleRb2405Record(), extreme}) {
    for (NumberStyle style : {NumberStyle::kGeneral, NumberStyle::kFixed}) {
      const std::string line = Line(r, style);
      TickLineFields f;
      ASSERT_TRUE(SplitTickLine(std::string_view(line).substr(0, line.size() - 2), &f)) << line;
      EXPECT_EQ(f.field[kWriteStamp], "20240301090507");
      EXPECT_EQ(f.field[kInstrumentID], r.InstrumentID);
      EXPECT_EQ(f.field[kUpdateTime], r.UpdateTime);
      EXPECT_EQ(f.content, std::string_view(line).substr(15, line.size() - 17));
      int volume = 0, bid = 0;
      ASSERT_TRUE(ParseTickLineNumber(f.field[kVolume], &volume));
      ASSERT_TRUE(ParseTickLineNumber(f.field[kBidVolume1], &bid));
      EXPECT_EQ(volume, r.Volume);
      EXPECT_EQ(bid, r.BidVolume1);
      for (int i = 0; i < kTickLineFieldCount; ++i) {
        double value;
        if (KindOfTickLineField(i) != TickLineFieldKind::kDouble) continue;
        ASSERT_TRUE(ParseTickLineNumber(f.field[i], &value)) << "field " << i + 1 << ": " << f.field[i];
        char again[kNumberSize];
        EXPECT_EQ(std::string(again, FormatNumber(value, style, again)), f.field[i]) << "field " << i + 1;
      }
    }
  }
}

TEST(TickLineReaderTest, DamagedLinesAndFieldsAreRefused) {
  const std::string good =
      "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,37251.2,3726,15,3725,30,"
      "3950,3500,1.65432e+06,4.59877e+09,3720,1.65e+06,3722";
  TickLineFields f;
  ASSERT_TRUE(SplitTickLine(good, &f));
  struct Case {
    std::string line;
    std::size_t fields;
  };
  const Case lines[] = {
      {"", 1},
      {good.substr(0, good.rfind(',')), 23},
      {good + ",1", 25},
      {good + std::string(30, ','), 54},
      {good.substr(0, good.size() / 2), 11},
  };
  for (const Case& c : lines) {
    EXPECT_FALSE(SplitTickLine(c.line, &f)) << c.line;
    EXPECT_EQ(CountTickLineFields(c.line), c.fields) << c.line;
  }
  // Numbers as the writer never writes them.
  for (const char* text : {"", " 5", "5 ", "+5", "0x10", "5x", "1.5", "2147483648", "-2147483649", "--1"}) {
    int value;
    EXPECT_FALSE(ParseTickLineNumber(text, &value)) << text;
  }
  for (const char* text : {"", " 3725", "3725 ", "+3725", "0x1p3", "3725.00x", "1e400", "3,7", "."}) {
    double value;
    EXPECT_FALSE(ParseTickLineNumber(text, &value)) << text;
  }
  for (const char* text : {"-1", "3725.00", "1.79769e+308", "nan", "-nan", "inf", "-inf"}) {
    double value;
    EXPECT_TRUE(ParseTickLineNumber(text, &value)) << text;
  }
}

// A number reads as the same double, bit for bit, as from_chars reads it, whether it takes the
// short way (at most 15 digits with an optional point) or not: edge texts and random ones of
// every length and point position.
TEST(TickLineTest, NumbersReadAsFromCharsReadsThem) {
  std::vector<std::string> texts = {"0", "-0", "-0.00", "0.1", "0.3", "5095.4", "3.", "-.5", ".5", "00012.50",
                                    "999999999999999", "9999999999999999", "123456789012.345", "0.000000000000001",
                                    "1.0000000000000001", "4598765432.00", "1e5", "-", "1..2"};
  std::uint64_t state = 3;
  for (int i = 0; i < 300000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const int length = 1 + static_cast<int>(state >> 59);          // 1 to 16 digits
    const int point = static_cast<int>((state >> 40) % 18) - 1;    // -1: none
    std::string text = (state >> 35 & 1) ? "-" : "";
    std::uint64_t digits = state;
    for (int d = 0; d < length; ++d, digits /= 7) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + digits % 10);
    }
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    double expected = 0, got = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
    const bool whole = r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
    ASSERT_EQ(ParseTickLineNumber(text, &got), whole) << text;
    if (whole) ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text;
  }
}

}  // namespace
