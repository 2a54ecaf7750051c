#include "plotmire/tick_line_parser.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The rb2405 tick of 2024-03-01 09:05:07 as the per-contract file holds it.
std::vector<std::string> ExampleFields() {
  return {"20240301090507", "rb2405", "20240301", "20240301", "09:05:07", "500", "3725.00", "123456",
          "3750.00", "3700.00", "3710.00", "-1.00", "37251.23", "3726.00", "15", "3725.00", "30",
          "3950.00", "3500.00", "1654321.00", "4598765432.00", "3720.00", "1650000.00", "3722.00"};
}

std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + fields[i];
  return line;
}

std::string LargestDoubleFixed() {
  char text[400];
  std::snprintf(text, sizeof(text), "%.2f", DBL_MAX);
  return text;
}

TEST(TickLineParserTest, ReadsEveryFieldOfAFixedStyleLine) {
  ChartTick t;
  std::string error;
  ASSERT_TRUE(ParseTickLine(Join(ExampleFields()) + "\r", &t, &error)) << error;
  EXPECT_EQ(t.contract, "rb2405");
  EXPECT_EQ(t.trading_day, "20240301");
  EXPECT_EQ(t.time_of_day, 9 * 3600 + 5 * 60 + 7);
  EXPECT_EQ(t.millis, 500);
  EXPECT_DOUBLE_EQ(t.last, 3725.0);
  EXPECT_EQ(t.volume, 123456);
  EXPECT_DOUBLE_EQ(t.high, 3750.0);
  EXPECT_DOUBLE_EQ(t.low, 3700.0);
  EXPECT_DOUBLE_EQ(t.open, 3710.0);
  EXPECT_DOUBLE_EQ(t.average, 37251.23);
  EXPECT_DOUBLE_EQ(t.ask, 3726.0);
  EXPECT_EQ(t.ask_volume, 15);
  EXPECT_DOUBLE_EQ(t.bid, 3725.0);
  EXPECT_EQ(t.bid_volume, 30);
  EXPECT_DOUBLE_EQ(t.upper_limit, 3950.0);
  EXPECT_DOUBLE_EQ(t.lower_limit, 3500.0);
  EXPECT_DOUBLE_EQ(t.open_interest, 1654321.0);
  EXPECT_DOUBLE_EQ(t.turnover, 4598765432.0);
  EXPECT_DOUBLE_EQ(t.pre_close, 3720.0);
  EXPECT_DOUBLE_EQ(t.pre_open_interest, 1650000.0);
  EXPECT_DOUBLE_EQ(t.pre_settlement, 3722.0);
  EXPECT_FALSE(HasValue(t.close)) << "-1.00 is no price";
}

TEST(TickLineParserTest, GeneralStyleLinesOfTheFallbackFileAreReadToo) {
  const std::string line =
      "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,37251.2,3726,15,"
      "3725,30,3950,3500,1.65432e+06,4.59877e+09,3720,1.65e+06,3722";
  ChartTick t;
  std::string error;
  ASSERT_TRUE(ParseTickLine(line, &t, &error)) << error;
  EXPECT_DOUBLE_EQ(t.open_interest, 1654320.0);
  EXPECT_DOUBLE_EQ(t.turnover, 4598770000.0);
}

TEST(TickLineParserTest, MissingValueMarksBecomeNoValue) {
  const std::string largest = LargestDoubleFixed();
  ASSERT_EQ(largest.size(), 312u);
  struct Case {
    int field;
    std::string text;
    double ChartTick::*member;
  };
  const std::vector<Case> cases = {
      {6, "-1.00", &ChartTick::last},        {6, largest, &ChartTick::last},
      {6, "0.00", &ChartTick::last},         {13, largest, &ChartTick::ask},
      {15, "1.79769e+308", &ChartTick::bid}, {12, largest, &ChartTick::average},
      {19, largest, &ChartTick::open_interest}, {19, "-1.00", &ChartTick::open_interest},
      {23, largest, &ChartTick::pre_settlement},
  };
  for (const Case& c : cases) {
    auto fields = ExampleFields();
    fields[c.field] = c.text;
    ChartTick t;
    std::string error;
    ASSERT_TRUE(ParseTickLine(Join(fields), &t, &error)) << "field " << c.field << ": " << error;
    EXPECT_FALSE(HasValue(t.*c.member)) << "field " << c.field << " = " << c.text.substr(0, 20);
  }
  auto fields = ExampleFields();
  fields[19] = "0.00";
  ChartTick t;
  std::string error;
  ASSERT_TRUE(ParseTickLine(Join(fields), &t, &error));
  EXPECT_DOUBLE_EQ(t.open_interest, 0.0) << "no open interest yet is a value";
}

TEST(TickLineParserTest, MalformedLinesAreRefusedWithAReason) {
  const auto example = ExampleFields();
  struct Case {
    int field;  // -1: whole line given
    std::string text;
    std::string reason_part;
  };
  const std::vector<Case> cases = {
      {-1, "", "found 1"},
      {-1, Join(ExampleFields()) + ",1", "found 25"},
      {-1, Join(std::vector<std::string>(example.begin(), example.end() - 1)), "found 23"},
      {0, "2024030109050", "write stamp"},
      {1, "", "contract"},
      {1, std::string(31, 'a'), "contract code longer than 30 bytes"},
      {2, "202403010", "trading day longer than 8 bytes"},
      {4, "9:05:07", "update time"},
      {4, "24:00:00", "update time"},
      {5, "", "milliseconds"},
      {6, "abc", "field 7"},
      {6, "3725.00x", "field 7"},
      {7, "12.5", "field 8"},
      {16, "", "field 17"},
      {23, " 3722.00", "field 24"},
  };
  for (const Case& c : cases) {
    std::string line = c.text;
    if (c.field >= 0) {
      auto fields = ExampleFields();
      fields[c.field] = c.text;
      line = Join(fields);
    }
    ChartTick t;
    std::string error;
    EXPECT_FALSE(ParseTickLine(line, &t, &error)) << line;
    EXPECT_NE(error.find(c.reason_part), std::string::npos) << error;
  }
}

}  // namespace
