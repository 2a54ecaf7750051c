#include <QApplication>
#include <cstdio>
#include <optional>

#include "core/command_line.h"
#include "plotmire/extract_embedded_file.h"
#include "shell/collector_system.h"
#include "shell/ferrowick_app.h"
#include "shell/main_frame.h"
#include "shell/qt_chinese_texts.h"
#include "shell/settings_user_store.h"
#include "shell/termination_signals.h"

int main(int argc, char** argv) {
  // Answered before anything exists: no window, no files, no autostart entry, no display needed.
  CommandLine commandLine("quoteloom",
                          "The collector with its window: log tabs, the contracts written, the chart program\n"
                          "and a tray icon. It works in the current folder (setting.ini, DataTimeStream/, Data/).");
  commandLine.SetFooter({.success = "the window was closed"});
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return *exitCode;

  QApplication application(argc, argv);
  QApplication::setApplicationName(CFerrowickApp::kTitle);
  QApplication::setOrganizationName(QStringLiteral("Vantrelo Quoteloom"));
  QApplication::setDesktopFileName(QStringLiteral("Quoteloom.AppID.NoVersion"));
  // Closing a message box while the window sits in the tray must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);
  // The dialogs' standard buttons in Chinese (确定/取消), like their texts.
  if (InstallQtChineseTexts(application) == nullptr) {
    std::fprintf(stderr, "quoteloom: Qt's Chinese translation is missing (qt6-translations-l10n); buttons stay in English\n");
  }

  CFerrowickApp::Options options;
  options.makeSystem = [] { return std::make_unique<CollectorSystem>(QSettingsUserStore().Read(kMetricsEndpointName)); };
  options.extractChartProgram = [] {
    ExtractEmbeddedFile(QStringLiteral(":/plotmire/Plotmire.exe"), QStringLiteral("Plotmire.exe"));
  };
  CFerrowickApp app(std::move(options));
  if (!app.InitInstance()) return app.startExitCode();
  // kill, Ctrl-C or the end of the session: the same orderly shutdown as a confirmed close.
  TerminationSignals stopSignals;
  QObject::connect(&stopSignals, &TerminationSignals::terminationRequested, app.mainFrame(),
                   &CMainFrame::CloseWithoutAsking);
  return app.ExitInstance(QApplication::exec());
}
