#include "plotmire/chart_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <string>

#include "plotmire/chart_panel.h"

#include <sys/stat.h>

namespace {

// Written when it was made, as the collector stores a session tick: the night before the trading day
// 20240301 runs on Thursday 20240229 until midnight.
std::string Line(const char* time, const std::string& last, int volume, const std::string& ask = "3726.00") {
  const std::string t(time);
  const bool evening = t.size() == 8 && t.substr(0, 2) >= "18";
  const std::string stamp = (evening ? "20240229" : "20240301") + t.substr(0, 2) + t.substr(3, 2) + t.substr(6, 2);
  return stamp + ",rb2405,20240301,20240301," + time + ",0," + last + "," +
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
  window_.resize(480, 320);
  QApplication::processEvents();
  EXPECT_EQ(window_.size(), QSize(480, 320)) << "the long lines of text do not hold the window wide";
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

TEST_F(ChartWindowTest, AFileSwappedForALongerOneAPipeOrExtremeValuesIsShownAsItIs) {
  const QString path = dir_.filePath("Data/20240301/rb2405.csv");
  Write(Line("09:00:00", "3725.00", 10));
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  ASSERT_EQ(window_.data().size(), 1u);

  const QString other = dir_.filePath("Data/20240301/other.csv");
  QFile f(other);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  const std::string night = Line("21:00:00", "3800.00", 5) + Line("21:00:01", "3801.00", 6) + Line("21:00:02", "3802.00", 7);
  f.write(night.data(), static_cast<qint64>(night.size()));
  f.close();
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::rename(other, path));
  window_.Refresh();
  EXPECT_EQ(window_.data().size(), 3u) << "the new file alone, read from its start";
  EXPECT_TRUE(window_.panel()->showing_chart());

  ASSERT_TRUE(QFile::remove(path));
  ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  window_.Refresh();  // returns at once rather than waiting for a writer
  EXPECT_EQ(Headline(), "Cannot read the tick file");

  // The largest volumes and prices far beyond any contract's, 16 apart: charted, without a hang.
  ASSERT_TRUE(QFile::remove(path));
  std::string extreme = Line("09:00:00", "100000000000000000.00", 1) + Line("09:00:01", "100000000000000016.00", 1);
  for (const char* volume : {",-9223372036854775808,", ",9223372036854775807,"}) {
    extreme.replace(extreme.find(",1,"), 3, volume);
  }
  for (size_t at; (at = extreme.find("37251.23")) != std::string::npos;) extreme.replace(at, 8, "-1.00");  // no average
  Write(extreme);
  window_.Refresh();
  ASSERT_EQ(window_.data().size(), 2u);
  EXPECT_TRUE(window_.panel()->showing_chart()) << Headline();
  EXPECT_EQ(window_.data().tick_volume(1), INT64_MAX);
}

TEST_F(ChartWindowTest, TheWindowChecksTheFileByItself) {
  Write(Line("09:00:00", "3725.00", 10));
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  ASSERT_EQ(window_.data().size(), 1u);
  Write(Line("09:00:01", "3726.00", 12), true);
  QDeadlineTimer deadline(5000);
  while (window_.data().size() < 2 && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(window_.data().size(), 2u) << "the once-a-second check found the new line";
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

TEST_F(ChartWindowTest, ZoomShowsAStretchAndAnotherFileShowsTheWholeDayAgain) {
  std::string lines;
  for (int m = 0; m < 60; ++m) {
    char time[9];
    std::snprintf(time, sizeof(time), "09:%02d:00", m);
    lines += Line(time, std::to_string(3700 + m) + ".00", 10 * (m + 1));
  }
  Write(lines);
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  ChartPanel* panel = window_.panel();
  ASSERT_TRUE(panel->showing_chart()) << Headline();
  EXPECT_EQ(panel->visible_range(), (std::pair<double, double>{0, 60}));
  panel->ZoomTo(10, 20);
  EXPECT_EQ(panel->visible_range(), (std::pair<double, double>{10, 20}));
  panel->ZoomTo(58, 59);
  EXPECT_EQ(panel->visible_range(), (std::pair<double, double>{58, 60})) << "two minutes at least, within the day";
  Write(Line("10:00:00", "3800.00", 700), true);
  window_.Refresh();
  EXPECT_EQ(panel->visible_range(), (std::pair<double, double>{58, 60})) << "a live update keeps the stretch";
  panel->ZoomTo(-5, 500);
  EXPECT_EQ(panel->visible_range(), (std::pair<double, double>{0, 61})) << "the whole day";
  panel->ZoomTo(10, 20);
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  EXPECT_EQ(panel->visible_range(), (std::pair<double, double>{0, 61}));
}

TEST_F(ChartWindowTest, AFileNamedDirectlyTakesItsDayFromItsFolder) {
  Write(Line("09:00:00", "3725.00", 10));
  window_.OpenFile(dir_.filePath("Data/20240301/rb2405.csv"));
  ASSERT_TRUE(window_.panel()->showing_chart());
  EXPECT_NE(Headline().find("rb2405   ·   trading day 20240301"), std::string::npos) << Headline();
}

// Lines of the minutes of 09:00 to 09:59, one tick a second, `count` of them.
std::string Seconds(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) {
    char time[9];
    std::snprintf(time, sizeof(time), "09:%02d:%02d", i / 60 % 60, i % 60);
    lines += Line(time, "3725.00", i + 1);
  }
  return lines;
}

TEST_F(ChartWindowTest, ABigFileIsReadInStepsWhileTheWindowHandlesEvents) {
  window_.SetFollowLimits({.max_ticks = 1000, .bytes_per_poll = 4096});
  Write(Seconds(200));
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  EXPECT_TRUE(window_.loading());
  EXPECT_EQ(Headline(), "Reading the tick file");
  EXPECT_TRUE(window_.data().empty()) << "drawn once, when the file is read";
  EXPECT_TRUE(window_.status_text().contains("reading")) << window_.status_text().toStdString();

  // Replaced half-way: what was read of the file before is dropped.
  const QString other = dir_.filePath("Data/20240301/other.csv");
  QFile f(other);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  const std::string replacement = Seconds(150);
  f.write(replacement.data(), static_cast<qint64>(replacement.size()));
  f.close();
  ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(dir_.filePath("Data/20240301/rb2405.csv")).constData()), 0);

  // The next steps come from the event loop, at once rather than a second apart.
  QDeadlineTimer deadline(900);
  while (window_.loading() && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_FALSE(window_.loading());
  EXPECT_EQ(window_.data().size(), 150u);
  EXPECT_TRUE(window_.panel()->showing_chart()) << Headline();
  EXPECT_FALSE(window_.status_text().contains("reading")) << window_.status_text().toStdString();
}

TEST_F(ChartWindowTest, AFileBeyondTheTickLimitIsChartedUpToTheLimitWithAWarning) {
  window_.SetFollowLimits({.max_ticks = 100});
  Write(Seconds(100));
  window_.OpenReceivedPath("20240301\\rb2405.csv");
  ASSERT_EQ(window_.data().size(), 100u);
  EXPECT_FALSE(window_.status_text().contains("limit")) << "exactly the limit is no warning";

  Write(Seconds(150).substr(Seconds(100).size()) + "junk\r\n", true);
  window_.Refresh();
  EXPECT_EQ(window_.data().size(), 100u);
  EXPECT_TRUE(window_.panel()->showing_chart());
  const QString status = window_.status_text();
  EXPECT_TRUE(status.contains("Tick limit reached: the chart holds the first 100 ticks")) << status.toStdString();
  Write(Seconds(300), true);
  window_.Refresh();
  EXPECT_EQ(window_.data().size(), 100u) << "it holds no more";
  EXPECT_TRUE(window_.status_text().contains("Tick limit reached"));
}

}  // namespace
