#include "core/log_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// A presentation that mirrors the store from its events.
class MirrorPresentation : public LogObserver {
 public:
  void OnLineAppended(LogTab tab, const std::string& line) override { tabs[int(tab)].push_back(line); }
  void OnLinesRemoved(LogTab tab, std::size_t first, std::size_t count) override {
    auto& lines = tabs[int(tab)];
    lines.erase(lines.begin() + long(first), lines.begin() + long(first + count));
  }

  std::vector<std::string> tabs[kLogTabCount];
};

void Fill(LogSink& sink, LogTab tab, int n) {
  for (int i = 0; i < n; ++i) sink.AppendLine(tab, "line " + std::to_string(i));
}

TEST(LogSinkTest, LabelsInDisplayOrder) {
  const char* expected[] = {"行情数据", "客户端连接", "订阅合约", "断网日志", "CTP日志"};
  for (int i = 0; i < kLogTabCount; ++i) EXPECT_STREQ(LogTabLabel(LogTab(i)), expected[i]);
}

TEST(LogSinkTest, AppendsUnchangedIncludingEmptyLines) {
  LogSink sink;
  sink.AppendLine(LogTab::CtpLog, "行情连接成功");
  sink.AppendLine(LogTab::CtpLog, "");
  EXPECT_EQ(sink.Lines(LogTab::CtpLog), (std::vector<std::string>{"行情连接成功", ""}));
  EXPECT_EQ(sink.LineCount(LogTab::NetworkLog), 0u);
}

TEST(LogSinkTest, TruncateKeepsTheFirstLinesAndTellsThePresentation) {
  struct Case {
    int lines;
    std::size_t keep;
    std::size_t left;
  } cases[] = {{20, 0, 0}, {20, 5, 5}, {20, 20, 20}, {20, 25, 20}, {0, 0, 0}};
  for (const Case& c : cases) {
    LogSink sink;
    MirrorPresentation view;
    sink.Attach(&view);
    Fill(sink, LogTab::MarketData, c.lines);
    Fill(sink, LogTab::CtpLog, 3);
    sink.Truncate(LogTab::MarketData, c.keep);
    auto lines = sink.Lines(LogTab::MarketData);
    ASSERT_EQ(lines.size(), c.left) << c.lines << " keep " << c.keep;
    if (c.left > 0) {
      EXPECT_EQ(lines.back(), "line " + std::to_string(c.left - 1));
    }
    EXPECT_EQ(view.tabs[int(LogTab::MarketData)], lines);
    EXPECT_EQ(sink.LineCount(LogTab::CtpLog), 3u);  // other tabs keep their lines
    sink.Detach(&view);
  }
}

TEST(LogSinkTest, CapKeepsTheNewestLinesOfEveryTab) {
  LogSink sink(3);
  MirrorPresentation view;
  sink.Attach(&view);
  Fill(sink, LogTab::ClientConnections, 5);
  Fill(sink, LogTab::MarketData, 5);
  EXPECT_EQ(sink.Lines(LogTab::ClientConnections), (std::vector<std::string>{"line 2", "line 3", "line 4"}));
  EXPECT_EQ(view.tabs[int(LogTab::ClientConnections)], sink.Lines(LogTab::ClientConnections));
  EXPECT_EQ(sink.Lines(LogTab::MarketData), (std::vector<std::string>{"line 2", "line 3", "line 4"}));
  // A lower bound drops the oldest stored lines at once and holds for later ones.
  sink.SetCap(1);
  EXPECT_EQ(sink.Lines(LogTab::ClientConnections), (std::vector<std::string>{"line 4"}));
  EXPECT_EQ(view.tabs[int(LogTab::ClientConnections)], sink.Lines(LogTab::ClientConnections));
  Fill(sink, LogTab::ClientConnections, 2);
  EXPECT_EQ(sink.Lines(LogTab::ClientConnections), (std::vector<std::string>{"line 1"}));
  EXPECT_EQ(sink.Lines(LogTab::MarketData), (std::vector<std::string>{"line 4"}));
  EXPECT_EQ(view.tabs[int(LogTab::MarketData)], sink.Lines(LogTab::MarketData));
  sink.Detach(&view);
}

TEST(LogSinkTest, AttachReturnsLinesStoredBefore) {
  LogSink sink;
  sink.AppendLine(LogTab::Subscriptions, "[0]合约名：[sc2106]");
  MirrorPresentation view;
  auto snapshot = sink.Attach(&view);
  EXPECT_EQ(snapshot[int(LogTab::Subscriptions)], (std::vector<std::string>{"[0]合约名：[sc2106]"}));
  sink.Detach(&view);
}

TEST(LogSinkTest, LinesOfOneThreadKeepTheirOrderAmongOthers) {
  LogSink sink;
  constexpr int kThreads = 4, kLines = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&sink, t] {
      for (int i = 0; i < kLines; ++i) sink.AppendLine(LogTab::CtpLog, std::to_string(t) + ":" + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();
  auto lines = sink.Lines(LogTab::CtpLog);
  ASSERT_EQ(lines.size(), std::size_t(kThreads * kLines));
  int next[kThreads] = {};
  for (const auto& line : lines) {
    const int t = std::stoi(line.substr(0, line.find(':')));
    EXPECT_EQ(std::stoi(line.substr(line.find(':') + 1)), next[t]++);
  }
}

TEST(LogSinkTest, FormattedAppendGoesToTheProcessSink) {
  const std::size_t before = TheLogSink().LineCount(LogTab::NetworkLog);
  AppendLineF(LogTab::NetworkLog, "行情连接断开[%d]", 8);
  auto lines = TheLogSink().Lines(LogTab::NetworkLog);
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines.back(), "行情连接断开[8]");
}

}  // namespace
