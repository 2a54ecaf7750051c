#ifndef QUOTELOOM_CLUSTER_PUBLISHER_COUNTERS_H
#define QUOTELOOM_CLUSTER_PUBLISHER_COUNTERS_H

#include <atomic>
#include <chrono>
#include <cstdint>

// What quoteloom-publish's loop has done, for its metrics: written by the loop (relaxed stores,
// each value stands alone), read by the metrics endpoint's threads.
struct PublisherCounters {
  static std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  std::atomic<std::uint64_t> linesRead{0};
  std::atomic<std::uint64_t> published{0};
  std::atomic<std::uint64_t> acknowledged{0};
  std::atomic<std::uint64_t> malformed{0};
  std::atomic<std::uint64_t> retries{0};
  std::atomic<std::uint64_t> refusedFiles{0};  // journals not followed: a link, a pipe, a foreign file
  std::atomic<std::uint64_t> pending{0};       // published, acknowledgement not yet in
  std::atomic<std::uint64_t> backlogBytes{0};  // after the acknowledged position, as of the last heartbeat
  std::atomic<bool> connected{false};
  std::atomic<std::uint64_t> reconnects{0};
  // Steady-clock nanoseconds: the last time nothing was left to publish, and the last acknowledgement.
  std::atomic<std::int64_t> caughtUpAt{NowNanos()};
  std::atomic<std::int64_t> lastAcknowledgedAt{NowNanos()};
};

#endif
