#include <QMenu>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include "shell/command_ids.h"
#include "shell/main_frame.h"
#include "shell/tray_icon.h"
#include "tests/shell/shell_test_support.h"

namespace {

TEST(TrayIcon, MenuEntriesWithTheFirstBoldAndTheMouseEventsItAnswers) {
  QtApplicationGuard guard;
  CTrayIcon tray(cmd::kTrayMenu);
  QStringList texts;
  for (QAction* action : tray.menu()->actions()) texts << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(texts, QStringList({"打开(&O)", "关于 Tessarine(&A)", "-", "退出 Tessarine(&S)"}));
  QAction* open = tray.menu()->actions().first();
  EXPECT_TRUE(open->font().bold());
  EXPECT_EQ(tray.menu()->defaultAction(), open);

  std::vector<int> commands;
  QObject::connect(&tray, &CTrayIcon::commandTriggered, [&](int command) { commands.push_back(command); });
  const struct {
    int id;
    QSystemTrayIcon::ActivationReason reason;
    int handled;
  } events[] = {{cmd::kTrayMenu, QSystemTrayIcon::Trigger, 0},
                {cmd::kTrayMenu, QSystemTrayIcon::MiddleClick, 0},
                {cmd::kTrayMenu + 1, QSystemTrayIcon::DoubleClick, 0},
                {cmd::kTrayMenu, QSystemTrayIcon::Context, 1},
                {cmd::kTrayMenu, QSystemTrayIcon::DoubleClick, 1}};
  for (const auto& event : events) EXPECT_EQ(tray.OnTrayNotification(event.id, event.reason), event.handled);
  EXPECT_EQ(commands, std::vector<int>{cmd::kTrayOpen}) << "only the double-click opens";

  EXPECT_TRUE(tray.SetIcon(0)) << "nothing to remove";
  EXPECT_FALSE(tray.shown());
  tray.SetIcon(cmd::kTrayIcon);
  tray.SetIcon(cmd::kTrayIcon);
  EXPECT_TRUE(tray.shown());
  tray.SetIcon(0);
  EXPECT_FALSE(tray.shown());
}

TEST(TrayIcon, MinimiseHidesToTheTrayAndExitAsksFirst) {
  ShellHarness shell;
  shell.trayAvailable = true;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();
  CTrayIcon* tray = frame->trayIcon();
  EXPECT_FALSE(tray->shown()) << "no icon at startup";

  frame->showMinimized();
  ASSERT_TRUE(WaitUntil([&] { return frame->isHidden(); }));
  EXPECT_TRUE(tray->shown());

  shell.dialogs->answer = QMessageBox::Cancel;
  tray->menu()->actions().last()->trigger();  // 退出 Tessarine
  EXPECT_EQ(shell.dialogs->Count("确实要退出吗？"), 1);
  EXPECT_TRUE(frame->isHidden());
  EXPECT_TRUE(tray->shown());
  EXPECT_EQ(shell.system->shutdowns, 0);

  tray->menu()->actions()[1]->trigger();  // 关于 Tessarine
  EXPECT_EQ(shell.dialogs->abouts, 1);

  tray->OnTrayNotification(cmd::kTrayMenu, QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(frame->isVisible());
  EXPECT_FALSE(frame->isMinimized());
  EXPECT_FALSE(tray->shown());

  shell.dialogs->answer = QMessageBox::Ok;
  frame->showMinimized();
  ASSERT_TRUE(WaitUntil([&] { return tray->shown(); }));
  tray->menu()->actions().last()->trigger();
  EXPECT_FALSE(tray->shown()) << "closing removes the icon";
  EXPECT_EQ(shell.system->shutdowns, 1);
}

TEST(TrayIcon, WithoutATrayMinimiseMinimisesNormally) {
  ShellHarness shell;
  shell.trayAvailable = false;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();
  frame->showMinimized();
  QTest::qWait(30);
  EXPECT_FALSE(frame->isHidden());
  EXPECT_TRUE(frame->isMinimized());
  EXPECT_FALSE(frame->trayIcon()->shown());
}

}  // namespace
