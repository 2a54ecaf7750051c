#include "plotmire/chart_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cfloat>
#include <cstdio>
#include <string>

#include "plotmire/chart_panel.h"

namespace {

std::string Line(const char* time, const std::string& last, int volume, const std::string& ask = "3726.00") {
  return std::string("20240301090507,rb2405,20240301,20240301,") + time + ",0," + last + "," +
         std::to_string(volume) + ",3750.00,3700.00,3710.00,-1.00,37251.23," + ask +
         ",15,3725.00,30,3950.00,3500.00,1654321.00,4598765432.00,3720.00,1650000.00,3722.00\r\n";
}

std::string Largest() {
  char text[400];
  std::snprintf(text, sizeof(text), "%.2f", DBL_MAX);
  return text;
}

// A program folder with Data/20240301 and a window that charts files below it.
class ChartWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("Data/20240301"));
    window_.show();
  }
  void Write(const std::string& bytes, bool append = false) {
    QFile f(dir_.filePath("Data/20240301/rb2405.csv"));
    ASSERT_TRUE(f.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  std::string Headline() const { return window_.panel()->headline().toStdString(); }

  QTemporaryDir dir_;
  ChartWindow window_{dir_.path()};
};

TEST_F(ChartWindowTest, TheWindowIsTitledPlotmireAndWaitsForAContract) {
  EXPECT_EQ(window_.windowTitle(), "Plotmire");
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(window_.panel()->showing_chart());
  EXPECT_EQ(Headline(), "Waiting for a contract");
}

TEST_F(ChartWindowTest, AReceivedPathIsChartedWithContractAndDayInTheTitle) {
  Write(Line("21:00:00", "3725.00", 10) + Line("09:00:00", "3730.00", 30));
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  ASSERT_TRUE(window_.panel()->showing_chart()) << Headline();
  EXPECT_NE(Headline().find("rb2405"), std::string::npos);
  EXPECT_NE(Headline().find("20240301"), std::string::npos);
  EXPECT_EQ(window_.data().size(), 2u);
  EXPECT_EQ(window_.windowTitle(), "Plotmire") << "the title stays, the desktop program looks for it";
}

TEST_F(ChartWindowTest, BadInputGetsAMessageInTheWindow) {
  struct Case {
    const char* received;
    std::string content;  // empty: no file
    bool write;
    const char* headline;
  };
  const std::vector<Case> cases = {
      {"\\", "", false, "No contract chosen"},
      {"20240301", "", false, "Cannot chart this path"},
      {"20240301\\rb2405.csv", "", false, "No tick file"},
      {"20240301\\rb2405.csv", "", true, "No ticks yet"},
      {"20240301\\rb2405.csv", "a,b,c\r\nnot a tick\r\n", true, "No ticks yet"},
  };
  for (const Case& c : cases) {
    QFile::remove(dir_.filePath("Data/20240301/rb2405.csv"));
    if (c.write) Write(c.content);
    window_.OpenReceivedPath(c.received);
    EXPECT_FALSE(window_.panel()->showing_chart()) << c.received;
    EXPECT_EQ(Headline(), c.headline) << c.received;
  }
}

TEST_F(ChartWindowTest, TheChartFollowsLinesAppendedToTheFile) {
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  EXPECT_EQ(Headline(), "No tick file");
  Write(Line("09:00:00", "3725.00", 10) + Line("09:00:01", "3726.00", 12).substr(0, 30));
  window_.Refresh();
  ASSERT_TRUE(window_.panel()->showing_chart());
  EXPECT_EQ(window_.data().size(), 1u);
  Write(Line("09:00:01", "3726.00", 12).substr(30) + "junk\r\n" + Line("09:00:02", "3727.00", 15), true);
  window_.Refresh();
  EXPECT_EQ(window_.data().size(), 3u);
  EXPECT_TRUE(window_.status_text().contains("1 malformed line skipped")) << window_.status_text().toStdString();
  EXPECT_TRUE(window_.panel()->info_text().contains("3727")) << "the latest tick is shown";
}

TEST_F(ChartWindowTest, MissingPricesAreNotDrawnAndShowAsDashes) {
  Write(Line("09:00:00", "3725.00", 10) + Line("09:00:01", "-1.00", 12, Largest()) +
        Line("09:00:02", Largest(), 15) + Line("09:00:03", "3726.00", 18));
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  ASSERT_TRUE(window_.panel()->showing_chart());
  window_.panel()->HoverAt(window_.data().x(1));
  const QString info = window_.panel()->info_text();
  EXPECT_TRUE(info.contains("Last <span style=\"color:#e6edf3\"><b>—</b>")) << info.toStdString();
  EXPECT_TRUE(info.contains("Ask <span style=\"color:#ef5350\">— ×15")) << info.toStdString();
  EXPECT_FALSE(info.contains("179769")) << "the largest double is no value";
  window_.panel()->HoverAt(window_.data().x(3) + 0.001);
  EXPECT_TRUE(window_.panel()->info_text().contains("3726")) << "hover finds the nearest tick";
  QImage image = window_.grab().toImage();
  EXPECT_FALSE(image.isNull());
}

TEST_F(ChartWindowTest, AFileNamedDirectlyTakesItsDayFromItsFolder) {
  Write(Line("09:00:00", "3725.00", 10));
  window_.OpenFile(dir_.filePath("Data/20240301/rb2405.csv"));
  ASSERT_TRUE(window_.panel()->showing_chart());
  EXPECT_NE(Headline().find("rb2405   ·   trading day 20240301"), std::string::npos) << Headline();
}

}  // namespace
