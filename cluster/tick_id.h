#ifndef QUOTELOOM_CLUSTER_TICK_ID_H
#define QUOTELOOM_CLUSTER_TICK_ID_H

#include <cstdint>
#include <string>
#include <string_view>

#include "cluster/stored_tick_line.h"

// The identity of a tick as the exchange sent it: FNV-1a (128 bits) over fields 2 to 24 of the stored
// line (contract, days, update time and milliseconds, prices, volumes, open interest, quotes), never
// the collector's write stamp, so two collectors of the same feed give the same id. Value type.
struct TickId {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  bool operator==(const TickId&) const = default;
  // 32 lower-case hex digits: the message id (Nats-Msg-Id) of the tick.
  std::string Text() const;
  // The same text into a buffer, without an allocation.
  void Text(char (&out)[33]) const;
};

TickId TickIdOfContent(std::string_view exchangeContent);
inline TickId TickIdOf(const StoredTickLine& line) { return TickIdOfContent(line.exchangeContent()); }

#endif
