#ifndef QUOTELOOM_CLUSTER_SLEEP_UNLESS_STOPPED_H
#define QUOTELOOM_CLUSTER_SLEEP_UNLESS_STOPPED_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

// Sleeps `length` in short steps, ending early once `stop` is set, so a back-off of seconds never
// delays SIGTERM. The caller's thread.
inline void SleepUnlessStopped(std::chrono::milliseconds length, const std::atomic<bool>& stop) {
  const auto end = std::chrono::steady_clock::now() + length;
  while (!stop.load(std::memory_order_acquire)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
  }
}

#endif
