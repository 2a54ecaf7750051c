#ifndef QUOTELOOM_CORE_TICK_LOG_CHANNEL_H
#define QUOTELOOM_CORE_TICK_LOG_CHANNEL_H

#include "core/tick_record.h"

// Where the tick intake reports every tick it took into the writer queue, for the log. Called on
// the API's callback thread only; it must not block for long, since the next tick waits behind it.
class TickLogChannel {
 public:
  virtual ~TickLogChannel() = default;
  virtual void OnTickAccepted(const TickRecord& record) = 0;
};

#endif
