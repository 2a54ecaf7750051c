#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusTipEvent>
#include <QWindow>
#include <gtest/gtest.h>
#include <signal.h>

#include "shell/about_dlg.h"
#include "shell/caption_bar.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"
#include "shell/output_wnd.h"
#include "shell/tray_icon.h"
#include "shell/settings_user_store.h"
#include "shell/termination_signals.h"
#include "tests/shell/shell_test_support.h"

namespace {

QString Stored(const QString& path, const QString& key) {
  QSettings settings(path, QSettings::IniFormat);
  return settings.value(QStringLiteral("Settings/") + key).toString();
}

void Store(const QString& path, const QString& key, const QString& value) {
  QSettings settings(path, QSettings::IniFormat);
  settings.setValue(QStringLiteral("Settings/") + key, value);
}

QStringList MenuTitles(CMainFrame* frame) {
  QStringList titles;
  for (QAction* action : frame->menuBar()->actions()) titles << action->text();
  return titles;
}

TEST(ShellStartup, EmptyStoreSwitchesAutorunOnAndStartsReplayService) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();

  EXPECT_EQ(shell.app->switches().autorunState, "1");
  EXPECT_EQ(Stored(shell.settingsPath, "AutoRunState"), "1");
  EXPECT_TRUE(QFile::exists(shell.autostartDir + "/StartAutoRun.desktop"));
  EXPECT_EQ(shell.app->switches().replayServiceState, "1");
  EXPECT_TRUE(Stored(shell.settingsPath, "MDServicestate").isEmpty()) << "the default is not written back";
  EXPECT_EQ(shell.system->starts, 1);
  EXPECT_TRUE(shell.system->replayStartedAtStart);
  EXPECT_NE(shell.system->receiver, nullptr);

  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->action(cmd::kTimeStreamMode)->isChecked());
  EXPECT_FALSE(frame->action(cmd::kPerContractMode)->isChecked());
  EXPECT_TRUE(frame->action(cmd::kAutorunOn)->isChecked());
  EXPECT_FALSE(frame->action(cmd::kAutorunOff)->isChecked());
  EXPECT_FALSE(frame->action(cmd::kStartReplayService)->isEnabled());
  EXPECT_TRUE(frame->action(cmd::kStopReplayService)->isEnabled());
  EXPECT_TRUE(shell.dialogs->shown.empty());
}

TEST(ShellStartup, DocumentTimerSwitchesToMenu130AndTitleStays) {
  ShellHarness shell;
  auto options = shell.MakeOptions();
  shell.app = std::make_unique<CFerrowickApp>(options);
  ASSERT_TRUE(shell.app->InitInstance());
  CMainFrame* frame = shell.app->mainFrame();
  EXPECT_EQ(frame->size(), QSize(1100, 700));
  if (shell.app->view() == nullptr) {
    EXPECT_EQ(frame->currentMenu(), 128);
    EXPECT_EQ(MenuTitles(frame),
              QStringList({"文件(&F)", "视图(&V)", "行情重播服务", "期货交易所", "帮助(&H)", "关于 Tessarine"}));
  }
  ASSERT_TRUE(WaitUntil([&] { return shell.ListSetUp(); }));

  EXPECT_EQ(frame->currentMenu(), 130);
  EXPECT_EQ(frame->menuBar()->objectName(), "130");
  EXPECT_EQ(MenuTitles(frame), QStringList({"文件(&F)", "视图(&V)", "窗口(&W)", "网络连接", "采集模式",
                                            "行情重播服务", "期货交易所", "关于 Tessarine"}));
  EXPECT_EQ(frame->windowTitle(), "Quoteloom");
  ASSERT_EQ(frame->mdiArea()->subWindowList().size(), 1);
  EXPECT_EQ(frame->mdiArea()->subWindowList().first()->windowTitle(), "数据文件列表");
  EXPECT_EQ(frame->statusPane(1)->text(), "数据文件列表");

  // Neither New, the timer again, nor closing the tab makes or removes a document window.
  frame->action(cmd::kFileNew)->trigger();
  frame->OnDocumentTimer();
  frame->mdiArea()->subWindowList().first()->close();
  QTest::qWait(20);
  EXPECT_EQ(frame->mdiArea()->subWindowList().size(), 1);
  EXPECT_EQ(shell.system->starts, 1);
  for (int disabled : {cmd::kFileOpen, cmd::kWindowNew, cmd::kLogout, cmd::kLogin, cmd::kEditCut}) {
    EXPECT_FALSE(frame->action(disabled)->isEnabled()) << disabled;
  }
  // The log tab labels leave status pane 1 alone.
  frame->OnActiveTabChanged("CTP日志");
  EXPECT_EQ(frame->statusPane(1)->text(), "数据文件列表");
}

TEST(ShellStartup, StoredValuesDecideSwitchesWithNamesInAnyCase) {
  ShellHarness shell;
  Store(shell.settingsPath, "mdservicestate", "0");
  Store(shell.settingsPath, "AutoRunstate", "0");
  Store(shell.settingsPath, "collecttimestremstr", "0");
  Store(shell.settingsPath, "COLLECTINSTRUMENTSTATESTR", "1");
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();

  EXPECT_FALSE(shell.system->replayStartedAtStart);
  EXPECT_FALSE(QFile::exists(shell.autostartDir + "/StartAutoRun.desktop"));
  frame->UpdateCommandUi();
  EXPECT_TRUE(frame->action(cmd::kStartReplayService)->isEnabled());
  EXPECT_FALSE(frame->action(cmd::kStopReplayService)->isEnabled());
  EXPECT_FALSE(frame->action(cmd::kTimeStreamMode)->isChecked());
  EXPECT_TRUE(frame->action(cmd::kPerContractMode)->isChecked());
  EXPECT_FALSE(frame->action(cmd::kAutorunOn)->isChecked());
  EXPECT_TRUE(frame->action(cmd::kAutorunOff)->isChecked());

  // Writing keeps the stored name: one value, not two differing in case.
  frame->action(cmd::kStartReplayService)->trigger();
  QSettings settings(shell.settingsPath, QSettings::IniFormat);
  settings.beginGroup("Settings");
  EXPECT_EQ(settings.value("mdservicestate").toString(), "1");
  EXPECT_FALSE(settings.childKeys().contains("MDServicestate"));
}

TEST(ShellCommands, ReplayServiceAndStorageModesChangeStateMarksAndStore) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();
  QAction* start = frame->action(cmd::kStartReplayService);
  QAction* stop = frame->action(cmd::kStopReplayService);

  stop->trigger();
  EXPECT_FALSE(shell.system->replayRunning);
  EXPECT_EQ(Stored(shell.settingsPath, "MDServicestate"), "0");
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(stop->isEnabled());
  start->trigger();
  EXPECT_TRUE(shell.system->replayRunning);
  EXPECT_EQ(Stored(shell.settingsPath, "MDServicestate"), "1");
  EXPECT_FALSE(start->isEnabled());
  EXPECT_TRUE(stop->isEnabled());

  const struct {
    int command;
    const char* name;
    bool initiallyChecked;
  } modes[] = {{cmd::kTimeStreamMode, "collecttimestremstr", true}, {cmd::kPerContractMode, "collectinstrumentstatestr", false}};
  for (const auto& mode : modes) {
    QAction* action = frame->action(mode.command);
    action->trigger();
    EXPECT_EQ(action->isChecked(), !mode.initiallyChecked) << mode.name;
    EXPECT_EQ(Stored(shell.settingsPath, mode.name), mode.initiallyChecked ? "0" : "1");
    action->trigger();
    EXPECT_EQ(action->isChecked(), mode.initiallyChecked) << mode.name;
    EXPECT_EQ(Stored(shell.settingsPath, mode.name), mode.initiallyChecked ? "1" : "0");
  }

  frame->action(cmd::kAutorunOff)->trigger();
  EXPECT_EQ(Stored(shell.settingsPath, "AutoRunState"), "0");
  EXPECT_FALSE(QFile::exists(shell.autostartDir + "/StartAutoRun.desktop"));
  EXPECT_TRUE(frame->action(cmd::kAutorunOff)->isChecked());
  EXPECT_FALSE(frame->action(cmd::kAutorunOn)->isChecked());
}

TEST(ShellCommands, CaptionBarLinksLooksAndAbout) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();
  CaptionBar* caption = frame->captionBar();
  EXPECT_EQ(caption->text(), "保存共0个交易日数据，今日保存0个文件");
  // Left to right: the button, the text, the bitmap.
  QLabel* text = caption->findChild<QLabel*>(QStringLiteral("233"));
  QLabel* bitmap = caption->findChild<QLabel*>(QStringLiteral("230"));
  ASSERT_NE(text, nullptr);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_LT(caption->button()->geometry().right(), text->geometry().left());
  EXPECT_LT(text->geometry().right(), bitmap->geometry().left());
  EXPECT_EQ(caption->button()->text(), "打开行情数据存储目录");
  EXPECT_EQ(caption->button()->toolTip(), "单击此处查看其他选项");

  caption->button()->click();
  ASSERT_EQ(shell.opened.size(), 1u);
  EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(QDir::current().absoluteFilePath("Data")));
  frame->action(cmd::kFirstWebLink)->trigger();
  ASSERT_EQ(shell.opened.size(), 2u);
  EXPECT_EQ(shell.opened[1].host(), "www.shfe.com.cn");

  QAction* captionSwitch = frame->action(cmd::kCaptionBar);
  EXPECT_TRUE(captionSwitch->isChecked());
  captionSwitch->trigger();
  EXPECT_TRUE(caption->isHidden());
  EXPECT_FALSE(captionSwitch->isChecked());
  captionSwitch->trigger();
  EXPECT_FALSE(caption->isHidden());

  EXPECT_TRUE(frame->action(cmd::kDefaultLook)->isChecked());
  frame->action(216)->trigger();
  EXPECT_TRUE(frame->action(216)->isChecked());
  EXPECT_FALSE(frame->action(cmd::kDefaultLook)->isChecked());
  QSettings settings(shell.settingsPath, QSettings::IniFormat);
  EXPECT_EQ(settings.value("Workspace/ApplicationLook").toString(), "216");
  frame->OnApplicationLook(cmd::kDefaultLook);

  frame->action(cmd::kAppAbout)->trigger();
  EXPECT_EQ(shell.dialogs->abouts, 1);
}

TEST(ShellStatusBar, PaneWidthsAndTheScrollLockPaneFollowingItsState) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();
  for (int i = 0; i < 4; ++i) ASSERT_NE(frame->statusPane(i), nullptr) << i;
  ASSERT_TRUE(WaitUntil([&] { return frame->statusPane(0)->text() == "共1行 共8列"; }))
      << "the view's line count goes to pane 0";
  EXPECT_EQ(frame->statusPane(0)->width(), 500);
  EXPECT_EQ(frame->statusPane(1)->width(), 220);
  EXPECT_EQ(frame->statusPane(2)->width(), 270);
  // Pane 2 follows the intake's refused ticks, read every second.
  EXPECT_TRUE(WaitUntil([&] { return frame->statusPane(2)->text() == "拒收行情0笔"; }));
  shell.system->ticksRefused = 7;
  EXPECT_TRUE(WaitUntil([&] { return frame->statusPane(2)->text() == "拒收行情7笔"; }));
  shell.system->journalFailures = 3;  // the journal's failures join it once there are any
  EXPECT_TRUE(WaitUntil([&] { return frame->statusPane(2)->text() == "拒收行情7笔 日志失败3笔"; }));
  shell.system->metricsNote = "metrics not served";  // while another program holds the metrics port
  EXPECT_TRUE(WaitUntil([&] { return frame->statusPane(2)->text() == "拒收行情7笔 日志失败3笔 metrics not served"; }));
  shell.system->metricsNote = "";
  EXPECT_TRUE(WaitUntil([&] { return frame->statusPane(2)->text() == "拒收行情7笔 日志失败3笔"; }));
  for (int i = 1; i < 4; ++i) EXPECT_GT(frame->statusPane(i)->x(), frame->statusPane(i - 1)->x()) << i;
  EXPECT_LT(frame->minimumSizeHint().width(), 800) << "the panes give way in a narrow window";
  // A menu prompt shows in pane 0 and, once it ends, the message comes back; no pane is hidden.
  QStatusTipEvent prompt(QStringLiteral("打开行情数据存储目录"));
  QApplication::sendEvent(frame, &prompt);
  EXPECT_EQ(frame->statusPane(0)->text(), "打开行情数据存储目录");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(frame->statusPane(i)->isVisible()) << i;
  QStatusTipEvent ended{QString()};
  QApplication::sendEvent(frame, &ended);
  EXPECT_EQ(frame->statusPane(0)->text(), "共1行 共8列");

  // No scroll-lock LED in the test's folder: the Scroll Lock presses the program sees decide.
  QLabel* scrl = frame->statusPane(3);
  EXPECT_EQ(scrl->text(), "SCRL");
  EXPECT_FALSE(scrl->isEnabled()) << "dimmed while off";
  QWindow* window = frame->windowHandle();
  ASSERT_NE(window, nullptr);
  QTest::keyClick(window, Qt::Key_ScrollLock);
  EXPECT_TRUE(WaitUntil([&] { return scrl->isEnabled(); })) << "lit once pressed";
  QTest::keyClick(window, Qt::Key_ScrollLock);
  EXPECT_TRUE(WaitUntil([&] { return !scrl->isEnabled(); })) << "dimmed after the second press";

  // Where the kernel shows a keyboard's scroll-lock LED, the LED decides.
  QDir leds(shell.scrollLockLedsDir);
  ASSERT_TRUE(leds.mkpath(QStringLiteral("input3::capslock")));
  ASSERT_TRUE(leds.mkpath(QStringLiteral("input3::scrolllock")));
  auto setLed = [&](const char* led, const char* value) {
    QFile f(leds.filePath(QStringLiteral("%1/brightness").arg(QString::fromLatin1(led))));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(value);
  };
  setLed("input3::capslock", "1\n");
  setLed("input3::scrolllock", "1\n");
  EXPECT_TRUE(WaitUntil([&] { return scrl->isEnabled(); }));
  setLed("input3::scrolllock", "0\n");
  EXPECT_TRUE(WaitUntil([&] { return !scrl->isEnabled(); }));
}

TEST(ShellClose, CancelKeepsEverythingAndOkShutsDownOnce) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  CMainFrame* frame = shell.app->mainFrame();

  shell.dialogs->answer = QMessageBox::Cancel;
  EXPECT_FALSE(frame->close());
  ASSERT_EQ(shell.dialogs->Count("确实要退出吗？"), 1);
  const auto& asked = shell.dialogs->shown.back();
  EXPECT_EQ(asked.caption, "系统提示");
  EXPECT_EQ(asked.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_TRUE(frame->isVisible());
  EXPECT_EQ(shell.system->shutdowns, 0);
  EXPECT_TRUE(shell.system->replayRunning);

  shell.dialogs->answer = QMessageBox::Ok;
  frame->outputWnd()->hide();
  EXPECT_TRUE(frame->close());
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(shell.system->shutdowns, 1);

  // The layout is kept for the next start: the hidden log dock stays hidden.
  ShellHarness next;
  next.settingsPath = shell.settingsPath;
  ASSERT_TRUE(next.Start());
  EXPECT_TRUE(next.app->mainFrame()->outputWnd()->isHidden());
}

TEST(ShellClose, TerminationSignalShutsDownWithoutAsking) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  TerminationSignals stopSignals;
  ASSERT_TRUE(stopSignals.installed());
  QObject::connect(&stopSignals, &TerminationSignals::terminationRequested, shell.app->mainFrame(),
                   &CMainFrame::CloseWithoutAsking);
  raise(SIGTERM);
  ASSERT_TRUE(WaitUntil([&] { return shell.system->shutdowns == 1; }));
  EXPECT_FALSE(shell.app->mainFrame()->isVisible());
  EXPECT_EQ(shell.dialogs->Count("确实要退出吗？"), 0);
}

TEST(ShellSingleInstance, SecondStartShowsTheFirstWindowAndTouchesNothing) {
  ShellHarness first;
  first.trayAvailable = true;
  ASSERT_TRUE(first.Start());
  CMainFrame* frame = first.app->mainFrame();
  frame->showMinimized();
  ASSERT_TRUE(WaitUntil([&] { return frame->isHidden(); })) << "minimised to the tray";

  // A second start in the same runtime directory, with a store of its own that must stay untouched.
  ShellHarness second;
  second.runtimeDir = first.runtimeDir;
  auto options = second.MakeOptions();
  bool extracted = false;
  options.extractChartProgram = [&] { extracted = true; };
  CFerrowickApp secondApp(options);
  EXPECT_FALSE(secondApp.InitInstance());
  EXPECT_EQ(secondApp.mainFrame(), nullptr);
  EXPECT_EQ(second.system, nullptr);
  EXPECT_FALSE(extracted);
  EXPECT_FALSE(QFile::exists(second.settingsPath));
  EXPECT_FALSE(QFile::exists(second.autostartDir));

  ASSERT_TRUE(WaitUntil([&] { return frame->isVisible(); }));
  EXPECT_FALSE(frame->isMinimized());
  EXPECT_TRUE(frame->trayIcon()->shown()) << "the icon stays";
}

TEST(ShellSingleInstance, ALockThatCannotBeMadeLeavesTheOnlyInstanceRunningAndSaysWhy) {
  // A file where the runtime folder should be: no one, root included, can make the lock in it.
  ShellHarness shell;
  QFile blocker(shell.dir.filePath(QStringLiteral("notafolder")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  shell.runtimeDir = blocker.fileName() + QStringLiteral("/run");
  ASSERT_TRUE(shell.Start());
  EXPECT_EQ(shell.system->starts, 1);
  EXPECT_TRUE(shell.app->mainFrame()->isVisible());
  const std::vector<std::string> lines = shell.sink.Lines(LogTab::CtpLog);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("单实例锁"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(QFile::encodeName(shell.runtimeDir).toStdString()), std::string::npos) << lines[0];
}

TEST(ShellSingleInstance, LockIsFreeAgainOnceTheFirstInstanceIsGone) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  shell.app.reset();
  ShellHarness again;
  again.runtimeDir = shell.runtimeDir;
  EXPECT_TRUE(again.Start());
}

}  // namespace

namespace {

TEST(AboutDialog, TitleVersionNotesAndOkButton) {
  QtApplicationGuard guard;
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), "关于 Tessarine");
  QStringList texts;
  for (QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains("Tessarine4.8 版"));
  EXPECT_TRUE(texts.join('\n').contains("7777")) << "the notes name the replay port";
  const QList<QPushButton*> buttons = about.findChildren<QPushButton*>();
  ASSERT_EQ(buttons.size(), 1);
  EXPECT_EQ(buttons[0]->text(), "确定");
  EXPECT_TRUE(buttons[0]->isDefault());
  about.show();
  buttons[0]->click();
  EXPECT_EQ(about.result(), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());
}

}  // namespace
