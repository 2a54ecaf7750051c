#ifndef QUOTELOOM_COLLECTOR_WRITER_WATCH_H
#define QUOTELOOM_COLLECTOR_WRITER_WATCH_H

#include <chrono>
#include <cstdint>
#include <mutex>

// Tells a draining writer from a stalled one: the writer drains while its queue is empty or its
// written count moved within `stallAfter`. Observe may be called from any thread (the main loop's
// watchdog and the metrics endpoint's threads).
class WriterWatch {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit WriterWatch(std::chrono::steady_clock::duration stallAfter = std::chrono::seconds(10))
      : stallAfter_(stallAfter) {}

  // True while the writer drains.
  bool Observe(std::uint64_t written, std::uint64_t queueDepth, TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!seen_ || written != lastWritten_ || queueDepth == 0) {
      seen_ = true;
      lastWritten_ = written;
      lastProgress_ = now;
    }
    return now - lastProgress_ < stallAfter_;
  }

 private:
  const std::chrono::steady_clock::duration stallAfter_;
  std::mutex mutex_;
  bool seen_ = false;             // guarded by mutex_
  std::uint64_t lastWritten_ = 0;  // guarded by mutex_
  TimePoint lastProgress_{};      // guarded by mutex_
};

#endif
