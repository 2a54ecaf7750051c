#include <QApplication>

#include "shell/collector_system.h"
#include "shell/ferrowick_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(CFerrowickApp::kTitle);
  QApplication::setOrganizationName(QStringLiteral("Vantrelo Quoteloom"));
  QApplication::setDesktopFileName(QStringLiteral("Quoteloom.AppID.NoVersion"));
  // Closing a message box while the window sits in the tray must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  CFerrowickApp::Options options;
  options.makeSystem = [] { return std::make_unique<CollectorSystem>(); };
  CFerrowickApp app(std::move(options));
  if (!app.InitInstance()) return 0;
  return app.ExitInstance(QApplication::exec());
}
