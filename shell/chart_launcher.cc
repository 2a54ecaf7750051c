#include "shell/chart_launcher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "plotmire/send_path_to_chart.h"

QString ProcessChartLauncher::ChartProgramPath() const {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/Plotmire");
}

bool ProcessChartLauncher::StartProgram(const QString& path) {
  if (!QFileInfo::exists(path)) return false;
  QProcess::startDetached(path, {});
  return true;
}

void ProcessChartLauncher::SendPathToChart(const std::string& relativePath) {
  ::SendPathToChart(relativePath);  // an unreachable chart program is not reported
}
