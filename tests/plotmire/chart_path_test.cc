#include "plotmire/chart_path.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ChartPathTest, AReceivedPathLeadsIntoTheDataFolderBesideTheProgram) {
  struct Case {
    const char* received;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"20240301\\rb2405.csv", "/opt/q/Data/20240301/rb2405.csv"},
      {"20240301/rb2405.csv", "/opt/q/Data/20240301/rb2405.csv"},
      {"20240301\\IF2403.csv", "/opt/q/Data/20240301/IF2403.csv"},
  };
  for (const Case& c : cases) {
    ChartPath p = FormChartPath("/opt/q", QString::fromUtf8(c.received));
    ASSERT_TRUE(p.ok) << c.received << ": " << p.error.toStdString();
    EXPECT_EQ(p.file_path.toStdString(), c.expected);
    EXPECT_EQ(p.trading_day.toStdString(), "20240301");
  }
}

TEST(ChartPathTest, PathsWithoutADayAndAFileAreRefusedWithAMessage) {
  struct Case {
    const char* received;
    const char* message_part;
  };
  const std::vector<Case> cases = {
      {"\\", "lone backslash"},
      {"", "empty"},
      {"rb2405.csv", "no trading day"},
      {"20240301\\", "not of the form"},
      {"\\rb2405.csv", "not of the form"},
      {"..\\passwd", "not of the form"},
      {"20240301\\..", "not of the form"},
      {"2024\\03\\rb2405.csv", "not of the form"},
  };
  for (const Case& c : cases) {
    ChartPath p = FormChartPath("/opt/q", QString::fromUtf8(c.received));
    EXPECT_FALSE(p.ok) << c.received;
    EXPECT_TRUE(p.error.contains(QString::fromUtf8(c.message_part))) << c.received << ": " << p.error.toStdString();
  }
}

}  // namespace
