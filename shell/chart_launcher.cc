#include "shell/chart_launcher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "plotmire/send_path_to_chart.h"

QString ProcessChartLauncher::ChartProgramPath() const {
  // The copy written out at startup, beside Data/: the chart program reads <its folder>/Data/...
  return QDir::current().absoluteFilePath(QStringLiteral("Plotmire.exe"));
}

bool ProcessChartLauncher::StartProgram(const QString& path) {
  if (!QFileInfo::exists(path)) return false;
  QProcess::startDetached(path, {});
  return true;
}

void ProcessChartLauncher::SendPathToChart(const std::string& relativePath) {
  ::SendPathToChart(relativePath);  // an unreachable chart program is not reported
}
