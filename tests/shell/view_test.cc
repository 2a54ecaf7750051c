#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QMdiArea>
#include <QMenu>
#include <QStatusBar>
#include <gtest/gtest.h>
#include <thread>

#include "core/tick_report_receiver.h"
#include "shell/caption_bar.h"
#include "shell/file_row_model.h"
#include "shell/file_row_registry.h"
#include "shell/main_frame.h"
#include "tests/shell/shell_test_support.h"

namespace {

struct Report {
  const char* file;
  const char* price;
  const char* interest;
  const char* time;
  const char* day;
};

void Send(TickReportReceiver* receiver, const Report& r) {
  receiver->OnTickReport(r.file, r.price, r.interest, r.time, r.day);
}

TEST(DataView, RowsAndCountsForTwoContractsFromTheWriterThread) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CFerrowickView* view = shell.app->view();
  FileRowModel* rows = view->rows();
  QAbstractItemModelTester tester(rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ASSERT_EQ(rows->rowCount(), 1) << "the empty set-up row";
  for (int column = 0; column < FileRowModel::kColumns; ++column) {
    EXPECT_EQ(view->columnWidth(column), FileRowModel::Width(column));
  }
  EXPECT_EQ(rows->headerData(1, Qt::Horizontal).toString(), "合约文件");
  EXPECT_EQ(rows->headerData(4, Qt::Horizontal).toString(), "写入次数");

  std::thread writer([receiver = shell.system->receiver] {
    Send(receiver, {"rb2405.csv", "3650.00", "100", "2024/03/01 09:00:01", "20240301"});
    for (int i = 2; i <= 10; ++i) {
      const std::string price = std::to_string(3650 + i) + ".00";
      Send(receiver, {"rb2405.csv", price.c_str(), "101", "2024/03/04 09:00:05", "20240304"});
      if (i <= 3) Send(receiver, {"ag2406.csv", "7100.00", "55", "2024/03/04 09:00:06", "20240304"});
    }
  });
  writer.join();
  ASSERT_TRUE(WaitUntil([&] { return rows->Text(0, FileRowModel::kWriteCount) == "10"; }));

  ASSERT_EQ(rows->rowCount(), 3);
  const QStringList rb = {"1", "rb2405.csv", "3660.00", "101", "10", "2024/03/04 09:00:05", "2024/03/01 09:00:01", "20240301"};
  const QStringList ag = {"2", "ag2406.csv", "7100.00", "55", "2", "2024/03/04 09:00:06", "2024/03/04 09:00:06", "20240304"};
  for (int column = 0; column < FileRowModel::kColumns; ++column) {
    EXPECT_EQ(rows->Text(0, column), rb[column]) << column;
    EXPECT_EQ(rows->Text(1, column), ag[column]) << column;
    EXPECT_EQ(rows->Text(2, column), "") << column;
  }
  EXPECT_EQ(view->statusText(), "共3行 共8列");
  ASSERT_TRUE(WaitUntil([&] { return shell.app->mainFrame()->statusPane(0)->text() == "共3行 共8列"; }));
}

TEST(DataView, ReportsBeforeTheSetUpAreKeptAndAnEmptyNameGetsNoRow) {
  QtApplicationGuard guard;
  FileRowRegistry registry;
  FileRowModel rows;
  QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
  registry.OnTickReport("rb2405.csv", "1.00", "2", "t1", "20240301");
  registry.OnTickReport("", "1.00", "2", "t1", "20240301");
  registry.OnTickReport("rb2405.csv", "1.50", "3", "t2", "20240301");
  for (const RowReport& report : registry.TakePending()) rows.Apply(report);
  EXPECT_EQ(rows.columnCount(), 0);
  EXPECT_EQ(rows.rowCount(), 1);
  rows.SetUp();
  EXPECT_EQ(rows.rowCount(), 2);
  EXPECT_EQ(rows.columnCount(), 8);
  EXPECT_EQ(rows.Text(0, FileRowModel::kWriteCount), "2");
  EXPECT_EQ(rows.Text(0, FileRowModel::kCreated), "t1");
  EXPECT_EQ(rows.Text(0, FileRowModel::kLastUpdate), "t2");
}

TEST(DataView, StopSaveMessageOnlyStrictlyInsideAWindow) {
  const struct {
    int hour, minute;
    bool shown;
  } cases[] = {{8, 35, true}, {8, 40, false}, {16, 0, true}, {10, 0, false}};
  const QString notice = QStringLiteral(
      "期货公司的CTP服务器在收盘后已关闭，请在8：30~15：00或20:30~2:30时间段开启\n开启后可24小时不间断运行");
  for (const auto& c : cases) {
    ShellHarness shell;
    shell.clock.reading.hour = c.hour;
    shell.clock.reading.minute = c.minute;
    ASSERT_TRUE(shell.Start());
    QTest::qWait(20);
    EXPECT_EQ(shell.dialogs->Count(notice), c.shown ? 1 : 0) << c.hour << ":" << c.minute;
    if (c.shown) {
      EXPECT_EQ(shell.dialogs->shown.back().caption, "Quoteloom");
    }
  }
}

TEST(DataView, DoubleClickNeedsASelectionAndSendsDayAndFile) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CFerrowickView* view = shell.app->view();
  CaptionBar* caption = shell.app->mainFrame()->captionBar();

  view->clearSelection();
  view->OnDoubleClick();
  ASSERT_EQ(shell.dialogs->Count("请至少选择一项"), 1);
  EXPECT_EQ(shell.dialogs->shown.back().icon, QMessageBox::Warning);
  EXPECT_TRUE(shell.launcher->Sent().empty());

  // The empty last row: nothing between the brackets, and the path is a lone backslash.
  const QRect cell = view->visualRect(view->rows()->index(0, 1));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(caption->text(), "打开[]分时图");
  ASSERT_TRUE(WaitUntil([&] { return !shell.launcher->Sent().empty(); }));
  EXPECT_EQ(shell.launcher->Sent()[0], "\\");

  shell.launcher->programExists = false;
  shell.system->receiver->OnTickReport("rb2405.csv", "1.00", "2", "t", "20240301");
  ASSERT_TRUE(WaitUntil([&] { return view->rows()->rowCount() == 2; }));
  view->selectRow(0);
  view->OnDoubleClick();
  EXPECT_EQ(caption->text(), "打开[rb2405.csv]分时图");
  ASSERT_TRUE(WaitUntil([&] { return shell.launcher->Sent().size() >= 2; }));
  EXPECT_EQ(shell.launcher->Sent().back(), "20240301\\rb2405.csv");
  const QString missing = QStringLiteral("当前目录没有找到主程序Plotmire，也不要改变当前目录主程序Plotmire的文件名称！");
  ASSERT_TRUE(WaitUntil([&] { return shell.dialogs->Count(missing) == 1; }));
  EXPECT_EQ(shell.dialogs->shown.back().caption, "系统提示");
}

TEST(DataView, ContextMenuHasTheEditItemsDisabled) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  QMenu* menu = shell.app->view()->contextMenu();
  EXPECT_EQ(menu->title(), "编辑");
  QStringList texts;
  for (QAction* action : menu->actions()) {
    texts << action->text();
    EXPECT_FALSE(action->isEnabled());
  }
  EXPECT_EQ(texts, QStringList({"剪切(&T)", "复制(&C)", "粘贴(&P)"}));
}

}  // namespace

namespace {

TEST(ChartLauncher, StartsTheProgramWrittenOutInTheWorkingDirectory) {
  QtApplicationGuard guard;
  QTemporaryDir dir;
  struct BackToWhereWeWere {
    QString path = QDir::currentPath();
    ~BackToWhereWeWere() { QDir::setCurrent(path); }
  } restore;
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  ProcessChartLauncher launcher;
  const QString program = launcher.ChartProgramPath();
  EXPECT_EQ(program, dir.filePath("Plotmire.exe"));
  EXPECT_FALSE(launcher.StartProgram(program)) << "no program file yet";

  QFile script(program);
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/started\"\n");
  script.close();
  script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
  EXPECT_TRUE(launcher.StartProgram(program));
  EXPECT_TRUE(WaitUntil([&] { return QFile::exists(dir.filePath("started")); }));
}

}  // namespace
