#ifndef QUOTELOOM_CLUSTER_LINK_WATCH_H
#define QUOTELOOM_CLUSTER_LINK_WATCH_H

#include <atomic>
#include <cstdint>

// The cluster connection as the metrics show it: its state, and a reconnect for every return after
// the first connection. Observed by the publisher's or archive's loop; the atomics are read by the
// metrics endpoint's threads.
class LinkWatch {
 public:
  void Observe(bool connected, std::atomic<bool>& shownConnected, std::atomic<std::uint64_t>& reconnects) {
    if (connected && !wasConnected_) {
      if (everConnected_) reconnects.fetch_add(1, std::memory_order_relaxed);
      everConnected_ = true;
    }
    wasConnected_ = connected;
    shownConnected.store(connected, std::memory_order_relaxed);
  }

 private:
  bool wasConnected_ = false;
  bool everConnected_ = false;
};

#endif
