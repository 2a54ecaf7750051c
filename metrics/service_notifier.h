#ifndef QUOTELOOM_METRICS_SERVICE_NOTIFIER_H
#define QUOTELOOM_METRICS_SERVICE_NOTIFIER_H

#include <cstdint>
#include <string>

// Tells the service manager (systemd's notify protocol, NOTIFY_SOCKET) that the program is ready,
// what its status line says, and that it still makes progress. Every call does nothing when the
// program was not started by a manager that listens. Called from the program's main loop.
class ServiceNotifier {
 public:
  void Ready(const std::string& status) const;
  void Status(const std::string& status) const;
  // One keep-alive ping; a manager with WatchdogSec= restarts the program when they stop.
  void Watchdog() const;
  void Stopping() const;
  // The manager's watchdog interval in microseconds, 0 when none is set for this process.
  unsigned long long WatchdogIntervalUsec() const;
};

#endif
