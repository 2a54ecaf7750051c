#ifndef QUOTELOOM_SHELL_COLLECTOR_SYSTEM_H
#define QUOTELOOM_SHELL_COLLECTOR_SYSTEM_H

#include <memory>
#include <string>

#include "core/stop_save_windows.h"
#include "shell/shell_system.h"

class CollectorHealth;
class CollectorMetrics;
class CollectorRuntime;
class DayCloseJob;
class DayCloseThread;
class HistoryStatus;

// The shell's running system: the collector runtime with its replay service, its metrics and the
// day-close job. User-interface thread only.
class CollectorSystem : public ShellSystem {
 public:
  // `metricsEndpoint`: HOST:PORT, "off", or empty for the collector's default.
  explicit CollectorSystem(std::string metricsEndpoint = "");
  ~CollectorSystem() override;

  void Start(bool startReplayService, TickReportReceiver* receiver, TickLogChannel* tickLog) override;
  void StartReplayService() override;
  void StopReplayService() override;
  bool ReplayServiceRunning() const override;
  void Shutdown() override;
  const StopSaveWindows& stopSaveWindows() const override;
  std::uint64_t TicksRefused() const override;
  std::uint64_t JournalFailures() const override;
  const char* MetricsNote() const override;

 private:
  void StartMetrics();
  void StartDayClose();

  const std::string metricsEndpoint_;
  std::unique_ptr<CollectorRuntime> runtime_;
  std::unique_ptr<CollectorHealth> health_;
  std::unique_ptr<CollectorMetrics> metrics_;
  std::unique_ptr<HistoryStatus> history_;
  std::unique_ptr<DayCloseJob> dayClose_;
  std::unique_ptr<DayCloseThread> dayCloseThread_;
  StopSaveWindows builtInWindows_;  // before Start: the built-in windows
};

#endif
