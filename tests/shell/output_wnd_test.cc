#include <QAbstractItemModelTester>
#include <QMainWindow>
#include <QMenu>
#include <QTabWidget>
#include <gtest/gtest.h>
#include <cstdio>
#include <thread>

#include "shell/command_ids.h"
#include "shell/log_list_model.h"
#include "shell/market_data_tab.h"
#include "shell/output_list.h"
#include "shell/output_wnd.h"
#include "tests/shell/shell_test_support.h"

namespace {

class OutputWndTest : public ::testing::Test {
 protected:
  OutputWndTest() {
    pane = new COutputWnd(sink, dialogs, &tickTab, &window);
    window.addDockWidget(Qt::BottomDockWidgetArea, pane);
    window.resize(600, 400);
    window.show();
  }

  std::vector<QString> Lines(LogTab tab) const { return pane->model(tab)->lines(); }

  QtApplicationGuard guard;
  LogSink sink;
  MarketDataTab tickTab{sink};
  FakeDialogs dialogs;
  QMainWindow window;
  COutputWnd* pane;
};

TEST_F(OutputWndTest, FiveTabsInOrderWithTheirLabelsAndEarlierLines) {
  sink.AppendLine(LogTab::CtpLog, "before the pane");
  COutputWnd late(sink, dialogs, nullptr);
  const QStringList labels = {"行情数据", "客户端连接", "订阅合约", "断网日志", "CTP日志"};
  ASSERT_EQ(late.tabs()->count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(late.tabs()->tabText(i), labels[i]);
  EXPECT_EQ(late.tabs()->tabPosition(), QTabWidget::South);
  EXPECT_EQ(late.windowTitle(), "日志切换");
  EXPECT_EQ(late.model(LogTab::CtpLog)->lines(), std::vector<QString>{"before the pane"});
}

TEST_F(OutputWndTest, LinesFromSeveralThreadsArriveWholeAndInEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      const LogTab tab = t % 2 == 0 ? LogTab::ClientConnections : LogTab::Subscriptions;
      for (int i = 0; i < kLines; ++i) sink.AppendLine(tab, std::to_string(t) + ":" + std::to_string(i));
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(WaitUntil([&] {
    return Lines(LogTab::ClientConnections).size() == 2 * kLines && Lines(LogTab::Subscriptions).size() == 2 * kLines;
  }));
  for (LogTab tab : {LogTab::ClientConnections, LogTab::Subscriptions}) {
    std::vector<int> next(kThreads, 0);
    for (const QString& line : Lines(tab)) {
      const int t = line.section(':', 0, 0).toInt();
      EXPECT_EQ(line.section(':', 1).toInt(), next[t]++) << line.toStdString();
    }
  }
  EXPECT_EQ(sink.Lines(LogTab::ClientConnections).size(), 2u * kLines);
}

// The intake's thread feeds the tab; every 134th tick the lines from the first visible one go.
TEST_F(OutputWndTest, EveryHundredThirtyFourthTickTrimsFromTheFirstVisibleLine) {
  QAbstractItemModelTester tester(pane->model(LogTab::MarketData),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  for (int i = 0; i < 200; ++i) sink.AppendLine(LogTab::MarketData, "line " + std::to_string(i));
  ASSERT_TRUE(WaitUntil([&] { return Lines(LogTab::MarketData).size() == 200; }));
  COutputList* list = pane->list(LogTab::MarketData);
  list->scrollTo(list->model()->index(5, 0), QAbstractItemView::PositionAtTop);
  ASSERT_EQ(list->FirstVisibleRow(), 5);

  TickRecord tick;
  ClearTickRecord(&tick);
  std::snprintf(tick.InstrumentID, sizeof(tick.InstrumentID), "rb2405");
  auto feed = [&](int ticks) {
    std::thread intake([&] {
      for (int i = 0; i < ticks; ++i) tickTab.OnTickAccepted(tick);
    });
    intake.join();
  };
  feed(133);  // eleven sample lines, no trim yet
  ASSERT_TRUE(WaitUntil([&] { return Lines(LogTab::MarketData).size() == 211; }));
  EXPECT_EQ(Lines(LogTab::MarketData).back(), "rb2405[0.00][0.00][0.00]");
  feed(1);
  ASSERT_TRUE(WaitUntil([&] { return Lines(LogTab::MarketData).size() == 5; }));
  EXPECT_EQ(Lines(LogTab::MarketData).back(), "line 4");
  EXPECT_EQ(sink.LineCount(LogTab::MarketData), 5u);

  list->scrollToTop();
  QCoreApplication::processEvents();
  feed(134);  // the 12th samples of this round come before the trim, which empties the tab
  ASSERT_TRUE(WaitUntil([&] { return sink.LineCount(LogTab::MarketData) == 0 && Lines(LogTab::MarketData).empty(); }));
}

TEST_F(OutputWndTest, ContextMenuShowsMessagesAndHidesThePaneWhichStillCollects) {
  QMenu* menu = pane->list(LogTab::NetworkLog)->contextMenu();
  QStringList texts;
  for (QAction* action : menu->actions()) texts << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(texts, QStringList({"复制(&C)", "清除(&C)", "-", "隐藏(&H)"}));

  menu->findChild<QAction*>(QString::number(cmd::kEditCopy))->trigger();
  menu->findChild<QAction*>(QString::number(cmd::kEditClear))->trigger();
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].text, "复制输出");
  EXPECT_EQ(dialogs.shown[1].text, "清除输出");
  EXPECT_EQ(dialogs.shown[0].caption, "Quoteloom");

  menu->findChild<QAction*>(QString::number(cmd::kHideOutputPane))->trigger();
  EXPECT_TRUE(pane->isHidden());
  sink.AppendLine(LogTab::NetworkLog, "while hidden");
  pane->toggleViewAction()->trigger();
  EXPECT_FALSE(pane->isHidden());
  ASSERT_TRUE(WaitUntil([&] { return Lines(LogTab::NetworkLog).size() == 1; }));
  EXPECT_EQ(Lines(LogTab::NetworkLog)[0], "while hidden");
}

}  // namespace
