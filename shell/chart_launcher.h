#ifndef QUOTELOOM_SHELL_CHART_LAUNCHER_H
#define QUOTELOOM_SHELL_CHART_LAUNCHER_H

#include <QString>
#include <string>

// Starts the chart program and hands it a file path. Called on a chart launch thread.
class ChartLauncher {
 public:
  virtual ~ChartLauncher() = default;
  // The chart program file that the desktop program wrote out.
  virtual QString ChartProgramPath() const = 0;
  // Starts the program without arguments; false when there is no such program file.
  virtual bool StartProgram(const QString& path) = 0;
  // Offers `relativePath` (trading day, backslash, file name) to a running chart program.
  virtual void SendPathToChart(const std::string& relativePath) = 0;
};

// The real program: a detached process, and the path sent over the chart's local socket.
class ProcessChartLauncher : public ChartLauncher {
 public:
  QString ChartProgramPath() const override;
  bool StartProgram(const QString& path) override;
  void SendPathToChart(const std::string& relativePath) override;
};

#endif
