#include "tools/plotmire_sample_day/sample_day_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "plotmire/chart_data.h"
#include "plotmire/tick_line_parser.h"

namespace {

// The made-up day feeds the benchmark and the screenshot: every line must be a clean tick line.
TEST(SampleDayWriterTest, EveryLineIsATickLineAcrossTheNightAndDaySessions) {
  SampleDay day;
  day.lines = 3000;
  std::ostringstream out;
  WriteSampleDay(day, out);
  std::istringstream in(out.str());
  std::string line;
  ChartData data;
  std::vector<ChartTick> ticks;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    ChartTick tick;
    std::string error;
    ASSERT_TRUE(ParseTickLine(line, &tick, &error)) << error << ": " << line;
    ticks.push_back(tick);
  }
  ASSERT_EQ(ticks.size(), 3000u);
  EXPECT_EQ(ticks.front().time_of_day, 20 * 3600 + 59 * 60) << "the night auction comes first";
  EXPECT_LT(ticks.back().time_of_day, 15 * 3600);
  data.Append(std::move(ticks));
  EXPECT_EQ(data.axis().Breaks().size(), 3u) << "overnight, the morning break and noon";
  EXPECT_EQ(data.average_divisor(), day.contract_size);
  for (size_t i = 1; i < data.size(); ++i) ASSERT_GE(data.tick(i).volume, data.tick(i - 1).volume);
}

}  // namespace
