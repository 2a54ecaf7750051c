#ifndef QUOTELOOM_SHELL_COLLECTOR_SYSTEM_H
#define QUOTELOOM_SHELL_COLLECTOR_SYSTEM_H

#include <memory>

#include "core/stop_save_windows.h"
#include "shell/shell_system.h"

class CollectorRuntime;

// The shell's running system: the collector runtime with its replay service.
// User-interface thread only.
class CollectorSystem : public ShellSystem {
 public:
  CollectorSystem();
  ~CollectorSystem() override;

  void Start(bool startReplayService, TickReportReceiver* receiver) override;
  void StartReplayService() override;
  void StopReplayService() override;
  bool ReplayServiceRunning() const override;
  void Shutdown() override;
  const StopSaveWindows& stopSaveWindows() const override;
  std::uint64_t TicksRefused() const override;
  std::uint64_t JournalFailures() const override;

 private:
  std::unique_ptr<CollectorRuntime> runtime_;
  StopSaveWindows builtInWindows_;  // before Start: the built-in windows
};

#endif
