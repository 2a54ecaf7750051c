#ifndef QUOTELOOM_MARKETDATA_EXCHANGE_TICK_COUNTERS_H
#define QUOTELOOM_MARKETDATA_EXCHANGE_TICK_COUNTERS_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "sessions/exchange.h"

// Accepted ticks per exchange and when the last one came (steady clock). Count runs on the API's
// callback thread for every accepted tick, so it only does relaxed stores; the getters run on any
// thread (the metrics endpoint's).
class ExchangeTickCounters {
 public:
  static constexpr int kSlots = kExchangeCount + 1;  // the exchanges, then codes of no known exchange

  void Count(const char* code) {
    const int slot = static_cast<int>(ExchangeOfCode(code));
    ticks_[slot].fetch_add(1, std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    lastTick_[slot].store(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), std::memory_order_relaxed);
  }

  std::uint64_t ticks(Exchange exchange) const {
    return ticks_[static_cast<int>(exchange)].load(std::memory_order_relaxed);
  }
  // Steady-clock time of the exchange's last tick; see anyTick for whether there was one.
  std::chrono::steady_clock::time_point lastTick(Exchange exchange) const {
    const std::int64_t ns = lastTick_[static_cast<int>(exchange)].load(std::memory_order_relaxed);
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
  }
  // Steady-clock nanoseconds of the last tick of any exchange, 0 before the first.
  std::int64_t lastAnyTickNs() const {
    std::int64_t last = 0;
    for (const auto& slot : lastTick_) last = std::max(last, slot.load(std::memory_order_relaxed));
    return last;
  }
  bool anyTick(Exchange exchange) const { return lastTick_[static_cast<int>(exchange)].load(std::memory_order_relaxed) != 0; }

 private:
  std::atomic<std::uint64_t> ticks_[kSlots] = {};
  std::atomic<std::int64_t> lastTick_[kSlots] = {};
};

#endif
