#ifndef QUOTELOOM_TOOLS_SHELL_LATENCY_SYNTHETIC_SYSTEM_H
#define QUOTELOOM_TOOLS_SHELL_LATENCY_SYNTHETIC_SYSTEM_H

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/stop_save_windows.h"
#include "shell/shell_system.h"

// A stand-in collector whose writer thread reports `rate` ticks per second over `contracts`
// contracts and hands every tick to the window's tick log, as the intake does.
// Created and stopped on the user-interface thread.
class SyntheticSystem : public ShellSystem {
 public:
  SyntheticSystem(double rate, int contracts);
  ~SyntheticSystem() override;

  void Start(bool startReplayService, TickReportReceiver* receiver, TickLogChannel* tickLog) override;
  void StartReplayService() override {}
  void StopReplayService() override {}
  bool ReplayServiceRunning() const override { return false; }
  void Shutdown() override;
  const StopSaveWindows& stopSaveWindows() const override { return windows_; }
  std::uint64_t TicksRefused() const override { return 0; }
  std::uint64_t JournalFailures() const override { return 0; }
  const char* MetricsNote() const override { return ""; }

  std::uint64_t reported() const { return reported_.load(std::memory_order_relaxed); }

 private:
  void Run(TickReportReceiver* receiver, TickLogChannel* tickLog);

  const double rate_;
  const int contracts_;
  StopSaveWindows windows_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> reported_{0};
  std::thread writer_;
};

#endif
