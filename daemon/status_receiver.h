#ifndef QUOTELOOM_DAEMON_STATUS_RECEIVER_H
#define QUOTELOOM_DAEMON_STATUS_RECEIVER_H

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "core/tick_report_receiver.h"

// The headless program's tick report: counts written ticks and the contracts seen, for the status
// line. OnTickReport runs on the tick writer thread; the getters on any thread.
class StatusReceiver : public TickReportReceiver {
 public:
  void OnTickReport(const char* fileName, const char* lastPrice, const char* openInterest, const char* localTime,
                    const char* tradingDay) override;

  std::uint64_t contracts() const { return contracts_.load(std::memory_order_relaxed); }
  std::uint64_t ticks() const { return ticks_.load(std::memory_order_relaxed); }

 private:
  std::unordered_set<std::string> files_;  // writer thread only
  std::atomic<std::uint64_t> contracts_{0};
  std::atomic<std::uint64_t> ticks_{0};
};

#endif
