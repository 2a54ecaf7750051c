#include "shell/chart_launcher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <chrono>
#include <thread>

namespace {
constexpr int kMaxPathLength = 30;  // the chart program's buffer holds 30 characters and a NUL
constexpr int kAttempts = 10;
constexpr auto kPause = std::chrono::milliseconds(100);
}  // namespace

QString ProcessChartLauncher::ChartProgramPath() const {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/Plotmire");
}

bool ProcessChartLauncher::StartProgram(const QString& path) {
  if (!QFileInfo::exists(path)) return false;
  QProcess::startDetached(path, {});
  return true;
}

void ProcessChartLauncher::SendPathToChart(const std::string& relativePath) {
  std::this_thread::sleep_for(kPause);
  const std::string path = relativePath.substr(0, kMaxPathLength);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::this_thread::sleep_for(kPause);
    QLocalSocket socket;
    socket.connectToServer(QStringLiteral("Plotmire"));
    if (!socket.waitForConnected(100)) continue;
    socket.write(path.c_str(), static_cast<qint64>(path.size() + 1));
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return;
  }
}
