#ifndef QUOTELOOM_CLUSTER_ARCHIVE_COUNTERS_H
#define QUOTELOOM_CLUSTER_ARCHIVE_COUNTERS_H

#include <atomic>
#include <chrono>
#include <cstdint>

// What quoteloom-archive's loop has done, for its metrics: written by the loop (relaxed stores,
// each value stands alone), read by the metrics endpoint's threads.
struct ArchiveCounters {
  static std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  std::atomic<std::uint64_t> taken{0};
  std::atomic<std::uint64_t> stored{0};
  std::atomic<std::uint64_t> duplicates{0};
  std::atomic<std::uint64_t> refusedBodies{0};
  std::atomic<std::uint64_t> appendFailures{0};
  std::atomic<std::uint64_t> consumerPending{0};     // from the consumer's info: not yet delivered
  std::atomic<std::uint64_t> consumerAckPending{0};  // delivered, not yet acknowledged
  std::atomic<bool> consumerInfoKnown{false};
  std::atomic<bool> connected{false};
  std::atomic<std::uint64_t> reconnects{0};
  // Written by the history uploader's thread.
  std::atomic<std::uint64_t> historyDaysPut{0};
  std::atomic<std::uint64_t> historyFailures{0};
  std::atomic<std::uint64_t> historyDaysHeld{0};  // packed days of the folder the bucket holds as they are
  std::atomic<std::int64_t> lastHandledAt{NowNanos()};  // steady-clock nanoseconds of the last message handled
};

#endif
