#ifndef QUOTELOOM_SHELL_SHELL_SYSTEM_H
#define QUOTELOOM_SHELL_SHELL_SYSTEM_H

#include <cstdint>

class StopSaveWindows;
class TickLogChannel;
class TickReportReceiver;

// What the window needs of the running collector, so the shell is tested without one.
// User-interface thread only; the receiver is called on the tick writer thread, the tick log on the
// API's callback thread.
class ShellSystem {
 public:
  virtual ~ShellSystem() = default;
  // Runs once: the replay service when asked, the tick writer and the collector.
  virtual void Start(bool startReplayService, TickReportReceiver* receiver, TickLogChannel* tickLog) = 0;
  virtual void StartReplayService() = 0;
  virtual void StopReplayService() = 0;
  virtual bool ReplayServiceRunning() const = 0;
  // Stops the intake, writes everything queued and stops the replay service.
  virtual void Shutdown() = 0;
  // The stop-save windows as the collector holds them at this moment.
  virtual const StopSaveWindows& stopSaveWindows() const = 0;
  // Ticks the intake refused so far (bad code or text, not subscribed); 0 before Start.
  virtual std::uint64_t TicksRefused() const = 0;
  // Ticks the journal could not take (their CSV lines are written all the same); 0 before Start.
  virtual std::uint64_t JournalFailures() const = 0;
  // "metrics not served" while another program holds the metrics port, else empty.
  virtual const char* MetricsNote() const = 0;
};

#endif
