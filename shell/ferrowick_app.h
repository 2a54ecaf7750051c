#ifndef QUOTELOOM_SHELL_FERROWICK_APP_H
#define QUOTELOOM_SHELL_FERROWICK_APP_H

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

#include "core/process_lock.h"
#include "shell/desktop_switches.h"
#include "shell/file_row_registry.h"
#include "shell/market_data_tab.h"

class Autorun;
class ChartLauncher;
class CFerrowickView;
class Clock;
class CMainFrame;
class COutputWnd;
class Dialogs;
class LogSink;
class QSettingsUserStore;
class ShellSystem;
class SingleInstance;

// The application object: single instance, the per-user switches, the main frame and the
// commands that belong to the application. User-interface thread only; it outlives the frame.
class CFerrowickApp : public QObject {
  Q_OBJECT

 public:
  static const QString kTitle;  // "Quoteloom": window title, instance name, message-box caption

  struct Options {
    QString runtimeDir;    // lock and socket; empty: the user's runtime directory
    QString workFolder;    // the collector's folder (setting.ini, the data); empty: the current directory
    QString settingsPath;  // per-user store; empty: $XDG_CONFIG_HOME/Vantrelo Quoteloom/Quoteloom.conf
    QString autostartDir;  // empty: $XDG_CONFIG_HOME/autostart
    QString scrollLockLedsDir;  // keyboard LEDs; empty: /sys/class/leds
    std::function<std::unique_ptr<ShellSystem>()> makeSystem;  // required
    std::shared_ptr<Dialogs> dialogs;                          // null: real modal boxes
    std::shared_ptr<ChartLauncher> chartLauncher;              // null: the real chart program
    const Clock* clock = nullptr;                              // null: the system clock
    LogSink* logSink = nullptr;                                // null: TheLogSink()
    std::function<bool(const QUrl&)> openUrl;                  // null: QDesktopServices
    std::function<bool()> trayAvailable;                       // null: QSystemTrayIcon's answer
    std::function<void()> extractChartProgram;                 // writes the chart program when missing
    bool quitOnClose = true;                                   // end the event loop after the close
  };

  explicit CFerrowickApp(Options options);
  ~CFerrowickApp() override;

  // False ends the process with startExitCode(): another instance runs (it was asked to show
  // itself), another program works in the folder, a setting cannot be used, or the frame failed.
  bool InitInstance();
  // 0 after a start that ended because another instance runs, 1 when another program holds the
  // working folder, 2 when setting.ini holds a value the collector cannot use.
  int startExitCode() const { return startExitCode_; }
  int ExitInstance(int code);

  // Commands of the application object.
  void OnFileNew() {}
  void OnStartReplayService();
  void OnStopReplayService();
  void OnOpenDataDirectory();
  void OnAutorunOn();
  void OnAutorunOff();
  void OnAppAbout();
  void OpenUrl(const QUrl& url);
  // The confirmed close: the orderly shutdown of the collector, then the end of the event loop.
  void OnMainFrameClosed();

  DesktopSwitches& switches() { return switches_; }
  QSettingsUserStore& store() { return *store_; }
  QSettingsUserStore& workspace() { return *workspace_; }
  ShellSystem& system() { return *system_; }
  FileRowRegistry& registry() { return registry_; }
  MarketDataTab& marketDataTab() { return marketDataTab_; }
  Dialogs& dialogs() { return *dialogs_; }
  const Clock& clock() const { return *clock_; }
  LogSink& logSink() { return *logSink_; }
  std::shared_ptr<ChartLauncher> chartLauncher() const { return chartLauncher_; }
  bool TrayAvailable() const;
  QString scrollLockLedsDir() const;

  CMainFrame* mainFrame() const { return frame_.get(); }
  CFerrowickView* view() const { return view_; }
  COutputWnd* outputWnd() const { return outputWnd_; }
  void SetView(CFerrowickView* view) { view_ = view; }
  void SetOutputWnd(COutputWnd* pane) { outputWnd_ = pane; }
  int applicationLook = 0;

 private:
  // Locks the working folder and checks setting.ini's values; false (with the reason shown) when
  // the program must not collect there.
  bool ClaimWorkFolder();
  // Shows `prefix` and `problem`, prints the problem on standard error and returns false.
  bool RefuseStart(int exitCode, const QString& prefix, const std::string& problem);
  void ReadSwitches();
  void ShowAutorunMessage(const std::string& text);

  Options options_;
  std::unique_ptr<SingleInstance> instance_;
  ProcessLock folderLock_;  // held for the program's life: one collector per folder
  int startExitCode_ = 0;
  std::unique_ptr<QSettingsUserStore> store_;
  std::unique_ptr<QSettingsUserStore> workspace_;
  std::unique_ptr<Autorun> autorun_;
  std::shared_ptr<Dialogs> dialogs_;
  std::shared_ptr<ChartLauncher> chartLauncher_;
  const Clock* clock_;
  LogSink* logSink_;
  DesktopSwitches switches_;
  // Outlives the view and the frame: the tick writer reports to it until the collector stops.
  FileRowRegistry registry_;
  // Outlives the frame too: the intake reports ticks to it until the collector stops.
  MarketDataTab marketDataTab_;
  std::unique_ptr<ShellSystem> system_;
  std::unique_ptr<CMainFrame> frame_;
  CFerrowickView* view_ = nullptr;
  COutputWnd* outputWnd_ = nullptr;
  bool shutDown_ = false;
};

#endif
