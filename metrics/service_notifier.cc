#include "metrics/service_notifier.h"

#include <systemd/sd-daemon.h>

namespace {

// The status line as one field: a newline would start another assignment.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

}  // namespace

void ServiceNotifier::Ready(const std::string& status) const {
  sd_notify(0, ("READY=1\nSTATUS=" + OneLine(status)).c_str());
}

void ServiceNotifier::Status(const std::string& status) const { sd_notify(0, ("STATUS=" + OneLine(status)).c_str()); }

void ServiceNotifier::Watchdog() const { sd_notify(0, "WATCHDOG=1"); }

void ServiceNotifier::Stopping() const { sd_notify(0, "STOPPING=1"); }

unsigned long long ServiceNotifier::WatchdogIntervalUsec() const {
  std::uint64_t usec = 0;
  return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}
