#include "marketdata/repeat_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A closed weekend: a refused reconnection every minute for two days, then the front opens.
TEST(RepeatSummaryTest, AWeekendOfRefusalsIsAFewLinesAndTheRecoveryGivesTheTotal) {
  RepeatSummary summary(300);
  std::vector<std::string> written;
  for (int minute = 0; minute < 2 * 24 * 60; ++minute) {
    const std::string line = summary.Occur("行情连接断开[4097]", minute * 60LL);
    if (!line.empty()) written.push_back(line);
  }
  ASSERT_EQ(written.size(), 2u * 24 * 60 / 5);
  EXPECT_EQ(written[0], "行情连接断开[4097]");
  EXPECT_EQ(written[1], "行情连接断开[4097]（重复，共6次）");
  EXPECT_EQ(summary.Recover(), "行情连接断开[4097]（共2880次，已恢复）");
  EXPECT_EQ(summary.Recover(), "") << "nothing left to report";
  EXPECT_EQ(summary.Occur("行情连接断开[4097]", 1000000), "行情连接断开[4097]") << "a new outage starts afresh";
}

TEST(RepeatSummaryTest, AnotherReasonIsWrittenAtOnceAndASingleDropNeedsNoTotal) {
  RepeatSummary summary(300);
  struct Step {
    const char* line;  // null: the recovery
    std::int64_t at;
    const char* written;
  };
  const Step steps[] = {
      {"行情连接断开[4097]", 0, "行情连接断开[4097]"},
      {nullptr, 10, ""},  // one drop, already written: the recovery adds nothing
      {"行情连接断开[4097]", 20, "行情连接断开[4097]"},
      {"行情连接断开[4097]", 30, ""},
      {"行情连接断开[8193]", 40, "行情连接断开[8193]"},
      {"行情连接断开[8193]", 50, ""},
      {"行情连接断开[8193]", 340, "行情连接断开[8193]（重复，共3次）"},
      {nullptr, 350, ""},  // every occurrence written
  };
  for (const Step& step : steps) {
    const std::string got = step.line != nullptr ? summary.Occur(step.line, step.at) : summary.Recover();
    EXPECT_EQ(got, step.written) << step.at;
  }
}

}  // namespace
