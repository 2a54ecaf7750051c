#ifndef QUOTELOOM_CORE_SAMPLED_TICK_LOG_H
#define QUOTELOOM_CORE_SAMPLED_TICK_LOG_H

#include "core/log_sink.h"
#include "core/tick_log_channel.h"

// The tab "行情数据" as both programs fill it: one line "CODE[last][high][low]" for every 12th
// accepted tick of any contract, so the tab shows the market moving without a line per tick.
// Called on the API's callback thread only.
class SampledTickLog : public TickLogChannel {
 public:
  static constexpr int kTicksPerSample = 12;

  explicit SampledTickLog(LogSink& sink = TheLogSink()) : sink_(sink) {}
  void OnTickAccepted(const TickRecord& record) override;

 private:
  LogSink& sink_;
  int sinceSample_ = 0;  // callback thread only
};

#endif
