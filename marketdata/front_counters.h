#ifndef QUOTELOOM_MARKETDATA_FRONT_COUNTERS_H
#define QUOTELOOM_MARKETDATA_FRONT_COUNTERS_H

#include <atomic>
#include <cstdint>

// What happened between the collector and its front: logins, disconnects by the API's reason code,
// subscription answers (the connection state itself is CMdSpi::frontStatus). Written by the API's
// callback thread, read by any thread (metrics, status line); relaxed, since each value stands alone.
struct FrontCounters {
  // The reason codes the API documents for OnFrontDisconnected; any other counts as the last slot.
  static constexpr int kReasons[] = {0x1001, 0x1002, 0x2001, 0x2002, 0x2003};
  static constexpr int kReasonSlots = 6;

  static int SlotOf(int reason) {
    for (int i = 0; i < kReasonSlots - 1; ++i) {
      if (kReasons[i] == reason) return i;
    }
    return kReasonSlots - 1;
  }

  std::atomic<std::uint64_t> logins{0};
  std::atomic<std::uint64_t> disconnects[kReasonSlots] = {};
  std::atomic<std::uint64_t> subscriptionsAnswered{0};
  std::atomic<std::uint64_t> subscriptionsFailed{0};
};

#endif
