#include "shell/ferrowick_app.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <cstdio>

#include "core/clock.h"
#include "core/log_sink.h"
#include "core/setting_ini.h"
#include "shell/autorun.h"
#include "shell/chart_launcher.h"
#include "shell/dialogs.h"
#include "shell/main_frame.h"
#include "shell/scroll_lock_state.h"
#include "shell/settings_user_store.h"
#include "shell/shell_system.h"
#include "shell/single_instance.h"

const QString CFerrowickApp::kTitle = QStringLiteral("Quoteloom");

CFerrowickApp::CFerrowickApp(Options options)
    : options_(std::move(options)),
      dialogs_(options_.dialogs ? options_.dialogs : std::make_shared<ModalDialogs>()),
      chartLauncher_(options_.chartLauncher ? options_.chartLauncher
                                            : std::make_shared<ProcessChartLauncher>()),
      clock_(options_.clock != nullptr ? options_.clock : &TheSystemClock()),
      logSink_(options_.logSink != nullptr ? options_.logSink : &TheLogSink()),
      marketDataTab_(*logSink_) {
  Q_INIT_RESOURCE(shell);  // the icons live in the static library
}

CFerrowickApp::~CFerrowickApp() {
  frame_.reset();  // the frame's children reach back into the application while they go
}

bool CFerrowickApp::InitInstance() {
  QString runtimeDir = options_.runtimeDir;
  if (runtimeDir.isEmpty()) runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtimeDir.isEmpty()) runtimeDir = QDir::tempPath();
  instance_ = std::make_unique<SingleInstance>(runtimeDir, kTitle);
  if (!instance_->Acquire()) {
    instance_->ActivateFirstInstance();
    return false;
  }
  if (!instance_->lockProblem().isEmpty()) {
    const QByteArray line =
        QStringLiteral("单实例锁无法创建（%1），本程序按唯一实例继续运行").arg(instance_->lockProblem()).toUtf8();
    logSink_->AppendLine(LogTab::CtpLog, line.toStdString());
    std::fprintf(stderr, "%s\n", line.constData());
  }
  if (!ClaimWorkFolder()) return false;

  const QString settingsPath =
      options_.settingsPath.isEmpty() ? QSettingsUserStore::DefaultPath() : options_.settingsPath;
  store_ = std::make_unique<QSettingsUserStore>(QStringLiteral("Settings"), settingsPath);
  workspace_ = std::make_unique<QSettingsUserStore>(QStringLiteral("Workspace"), settingsPath);
  const std::string autostartDir = options_.autostartDir.isEmpty() ? Autorun::DefaultAutostartDir()
                                                                   : options_.autostartDir.toStdString();
  autorun_ = std::make_unique<Autorun>(
      *store_, [this](const std::string& text) { ShowAutorunMessage(text); }, autostartDir);
  ReadSwitches();
  if (options_.extractChartProgram) options_.extractChartProgram();

  system_ = options_.makeSystem();
  if (!system_) return false;
  frame_ = std::make_unique<CMainFrame>(*this);
  connect(instance_.get(), &SingleInstance::activationRequested, frame_.get(),
          &CMainFrame::ActivateFromSecondInstance);
  frame_->show();
  return true;
}

int CFerrowickApp::ExitInstance(int code) { return code; }

bool CFerrowickApp::ClaimWorkFolder() {
  const QString folder = options_.workFolder.isEmpty() ? QDir::currentPath() : options_.workFolder;
  std::string problem = folderLock_.TakeWorkFolder(folder.toStdString(), "quoteloom");
  if (!problem.empty()) return RefuseStart(1, QStringLiteral("无法在此文件夹采集："), problem);
  problem = SettingValuesProblem(QDir(folder).filePath(QStringLiteral("setting.ini")).toStdString().c_str());
  if (!problem.empty()) return RefuseStart(2, QStringLiteral("setting.ini无法使用："), problem);
  return true;
}

bool CFerrowickApp::RefuseStart(int exitCode, const QString& prefix, const std::string& problem) {
  startExitCode_ = exitCode;
  std::fprintf(stderr, "quoteloom: %s\n", problem.c_str());
  dialogs_->Message(nullptr, QMessageBox::Critical, kSystemPromptCaption, prefix + QString::fromStdString(problem),
                    QMessageBox::Ok);
  return false;
}

void CFerrowickApp::ReadSwitches() {
  switches_ = ReadDesktopSwitches(*store_, [this](DesktopSwitches& switches) {
    autorun_->SwitchOn(&switches.autorunState);
  });
}

void CFerrowickApp::ShowAutorunMessage(const std::string& text) {
  dialogs_->Message(frame_.get(), QMessageBox::NoIcon, kTitle, QString::fromStdString(text), QMessageBox::Ok);
}

void CFerrowickApp::OnStartReplayService() {
  switches_.replayServiceState = "1";
  system_->StartReplayService();
  store_->Write(kReplayServiceStateName, "1");
}

void CFerrowickApp::OnStopReplayService() {
  switches_.replayServiceState = "0";
  system_->StopReplayService();
  store_->Write(kReplayServiceStateName, "0");
}

void CFerrowickApp::OnOpenDataDirectory() {
  OpenUrl(QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("Data"))));
}

void CFerrowickApp::OnAutorunOn() { autorun_->SwitchOn(&switches_.autorunState); }

void CFerrowickApp::OnAutorunOff() { autorun_->SwitchOff(&switches_.autorunState); }

void CFerrowickApp::OnAppAbout() { dialogs_->About(frame_.get()); }

void CFerrowickApp::OpenUrl(const QUrl& url) {
  if (options_.openUrl) {
    options_.openUrl(url);
  } else {
    QDesktopServices::openUrl(url);  // a failure is not reported
  }
}

bool CFerrowickApp::TrayAvailable() const {
  return options_.trayAvailable ? options_.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

QString CFerrowickApp::scrollLockLedsDir() const {
  return options_.scrollLockLedsDir.isEmpty() ? ScrollLockState::kDefaultLedsDir : options_.scrollLockLedsDir;
}

void CFerrowickApp::OnMainFrameClosed() {
  if (shutDown_) return;
  shutDown_ = true;
  system_->Shutdown();
  if (options_.quitOnClose) QCoreApplication::quit();
}
