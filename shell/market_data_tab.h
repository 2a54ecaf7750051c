#ifndef QUOTELOOM_SHELL_MARKET_DATA_TAB_H
#define QUOTELOOM_SHELL_MARKET_DATA_TAB_H

#include <atomic>
#include <cstddef>

#include "core/log_sink.h"
#include "core/sampled_tick_log.h"
#include "core/tick_log_channel.h"

// The window's tab "行情数据" as the intake feeds it. OnTickAccepted runs on the API's callback
// thread: every 134th tick the lines from the first one the list shows down to the last go (lines
// scrolled out above stay), then the tick counts for the sample line. ShowFrom is called on the
// user-interface thread whenever the list scrolls or changes.
class MarketDataTab : public TickLogChannel {
 public:
  static constexpr int kTicksPerTrim = 134;

  explicit MarketDataTab(LogSink& sink) : sink_(sink), samples_(sink) {}
  void OnTickAccepted(const TickRecord& record) override;

  // The index of the line the list shows at its top.
  void ShowFrom(std::size_t firstShown) { firstShown_.store(firstShown, std::memory_order_release); }

 private:
  LogSink& sink_;
  SampledTickLog samples_;
  int sinceTrim_ = 0;  // callback thread only
  // Written by the user-interface thread, read by the callback thread.
  std::atomic<std::size_t> firstShown_{0};
};

#endif
