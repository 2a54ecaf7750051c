#ifndef QUOTELOOM_TESTS_SHELL_SHELL_TEST_SUPPORT_H
#define QUOTELOOM_TESTS_SHELL_SHELL_TEST_SUPPORT_H

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/log_sink.h"
#include "core/stop_save_windows.h"
#include "shell/chart_launcher.h"
#include "shell/dialogs.h"
#include "shell/ferrowick_app.h"
#include "shell/ferrowick_view.h"
#include "shell/file_row_model.h"
#include "shell/shell_system.h"

// One QApplication for the whole test program, on the offscreen platform.
inline QApplication& TestApplication() {
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nothing a test does may reach the user's own configuration or runtime files.
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    static int argc = 1;
    static char name[] = "shell_test";
    static char* argv[] = {name, nullptr};
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *application;
}

// A first member of a fixture that owns widgets, so the application exists before them.
struct QtApplicationGuard {
  QtApplicationGuard() { TestApplication(); }
};

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < timeoutMs) QTest::qWait(5);
  return done();
}

class FakeSystem : public ShellSystem {
 public:
  void Start(bool startReplayService, TickReportReceiver* receiver, TickLogChannel* tickLog) override {
    ++starts;
    replayStartedAtStart = startReplayService;
    replayRunning = startReplayService;
    this->receiver = receiver;
    this->tickLog = tickLog;
  }
  void StartReplayService() override { replayRunning = true; ++serviceStarts; }
  void StopReplayService() override { replayRunning = false; ++serviceStops; }
  bool ReplayServiceRunning() const override { return replayRunning; }
  void Shutdown() override { ++shutdowns; }
  const StopSaveWindows& stopSaveWindows() const override { return windows; }
  std::uint64_t TicksRefused() const override { return ticksRefused; }
  std::uint64_t JournalFailures() const override { return journalFailures; }
  const char* MetricsNote() const override { return metricsNote; }

  int starts = 0;
  int serviceStarts = 0;
  int serviceStops = 0;
  int shutdowns = 0;
  bool replayStartedAtStart = false;
  bool replayRunning = false;
  TickReportReceiver* receiver = nullptr;
  TickLogChannel* tickLog = nullptr;
  StopSaveWindows windows;
  std::uint64_t ticksRefused = 0;
  std::uint64_t journalFailures = 0;
  const char* metricsNote = "";
};

class FakeDialogs : public Dialogs {
 public:
  struct Shown {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
  };

  QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon icon, const QString& caption,
                                      const QString& text, QMessageBox::StandardButtons buttons) override {
    shown.push_back({icon, caption, text, buttons});
    return answer;
  }
  void About(QWidget*) override { ++abouts; }

  int Count(const QString& text) const {
    int n = 0;
    for (const Shown& s : shown) n += s.text == text ? 1 : 0;
    return n;
  }

  std::vector<Shown> shown;
  QMessageBox::StandardButton answer = QMessageBox::Ok;
  int abouts = 0;
};

class FakeChartLauncher : public ChartLauncher {
 public:
  QString ChartProgramPath() const override { return QStringLiteral("/nonexistent/Plotmire"); }
  bool StartProgram(const QString&) override { return programExists; }
  void SendPathToChart(const std::string& relativePath) override {
    std::lock_guard<std::mutex> lock(mutex);
    sent.push_back(relativePath);
  }
  std::vector<std::string> Sent() {
    std::lock_guard<std::mutex> lock(mutex);
    return sent;
  }

  bool programExists = true;
  std::mutex mutex;
  std::vector<std::string> sent;
};

class FakeClock : public Clock {
 public:
  ClockReading Now() const override { return reading; }
  ClockReading reading;
};

// A started application with fakes around it, in a folder of its own.
struct ShellHarness {
  ShellHarness() {
    TestApplication();
    clock.reading.hour = 10;  // outside both stop-save windows
    runtimeDir = dir.filePath(QStringLiteral("run"));
    settingsPath = dir.filePath(QStringLiteral("config/Quoteloom.conf"));
    autostartDir = dir.filePath(QStringLiteral("autostart"));
    scrollLockLedsDir = dir.filePath(QStringLiteral("leds"));
  }

  CFerrowickApp::Options MakeOptions() {
    CFerrowickApp::Options options;
    options.runtimeDir = runtimeDir;
    options.workFolder = dir.path();
    options.settingsPath = settingsPath;
    options.autostartDir = autostartDir;
    options.scrollLockLedsDir = scrollLockLedsDir;
    options.makeSystem = [this] {
      auto created = std::make_unique<FakeSystem>();
      system = created.get();
      return created;
    };
    options.dialogs = dialogs;
    options.chartLauncher = launcher;
    options.clock = &clock;
    options.logSink = &sink;
    options.openUrl = [this](const QUrl& url) {
      opened.push_back(url);
      return true;
    };
    options.trayAvailable = [this] { return trayAvailable; };
    options.quitOnClose = false;
    return options;
  }

  // Starts the application and waits until the document window exists and its list is set up.
  bool Start() {
    app = std::make_unique<CFerrowickApp>(MakeOptions());
    if (!app->InitInstance()) return false;
    return WaitUntil([this] { return app->view() != nullptr; }) && WaitUntil([this] { return ListSetUp(); });
  }
  bool ListSetUp() const { return app->view() != nullptr && app->view()->rows()->isSetUp(); }

  QTemporaryDir dir;
  QString runtimeDir;
  QString settingsPath;
  QString autostartDir;
  QString scrollLockLedsDir;
  std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
  std::shared_ptr<FakeChartLauncher> launcher = std::make_shared<FakeChartLauncher>();
  FakeClock clock;
  LogSink sink;
  std::vector<QUrl> opened;
  bool trayAvailable = false;
  FakeSystem* system = nullptr;
  std::unique_ptr<CFerrowickApp> app;
};

#endif
