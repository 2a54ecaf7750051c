// The desktop program collects only in a folder no other collector holds, and only with setting.ini
// values it can use; otherwise it says why and ends before it touches the store or the folder.
#include <QFile>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "core/process_lock.h"
#include "tests/shell/shell_test_support.h"

namespace {

// Starts an application that must refuse; checks that it touched nothing and returns its box text.
QString RefusedStart(ShellHarness& shell, int exitCode) {
  auto options = shell.MakeOptions();
  bool extracted = false;
  options.extractChartProgram = [&] { extracted = true; };
  CFerrowickApp app(options);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.startExitCode(), exitCode);
  EXPECT_EQ(app.mainFrame(), nullptr);
  EXPECT_EQ(shell.system, nullptr);
  EXPECT_FALSE(extracted);
  EXPECT_FALSE(QFile::exists(shell.settingsPath));
  EXPECT_FALSE(QFile::exists(shell.autostartDir));
  if (shell.dialogs->shown.size() != 1) return {};
  EXPECT_EQ(shell.dialogs->shown[0].caption, kSystemPromptCaption);
  EXPECT_EQ(shell.dialogs->shown[0].icon, QMessageBox::Critical);
  return shell.dialogs->shown[0].text;
}

TEST(ShellWorkFolder, AFolderHeldByAnotherCollectorEndsTheStartWithExitOne) {
  ShellHarness shell;
  ProcessLock daemon;
  ASSERT_EQ(daemon.TakeWorkFolder(shell.dir.path().toStdString(), "quoteloomd"), "");
  EXPECT_EQ(RefusedStart(shell, 1).toStdString(), "无法在此文件夹采集：the working folder " +
                                                      shell.dir.path().toStdString() + " is in use by process " +
                                                      std::to_string(::getpid()) + " (quoteloomd)");
}

TEST(ShellWorkFolder, ASettingValueItCannotUseEndsTheStartWithExitTwo) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"[AccountInfo]\r\nstopsavetimebegin1=2561\r\n",
       "setting.ini无法使用：[AccountInfo] stopsavetimebegin1=2561 in setting.ini is not a time of day HHMM from "
       "0000 to 2359"},
      {"[Journal]\r\nsync=sometimes\r\n",
       "setting.ini无法使用：[Journal] sync=sometimes in setting.ini is not none, second or every"},
  };
  for (const auto& c : cases) {
    ShellHarness shell;
    std::ofstream(shell.dir.filePath(QStringLiteral("setting.ini")).toStdString()) << c.text;
    EXPECT_EQ(RefusedStart(shell, 2), QString::fromUtf8(c.says));
  }
}

TEST(ShellWorkFolder, TheRunningProgramHoldsItsFolder) {
  ShellHarness shell;
  ASSERT_TRUE(shell.Start());
  EXPECT_EQ(shell.app->startExitCode(), 0);
  ProcessLock daemon;
  EXPECT_NE(daemon.TakeWorkFolder(shell.dir.path().toStdString(), "quoteloomd").find("(quoteloom)"),
            std::string::npos);
}

}  // namespace
