#ifndef QUOTELOOM_PLATFORM_FRONTSIM_MARKET_EVENTS_H
#define QUOTELOOM_PLATFORM_FRONTSIM_MARKET_EVENTS_H

#include <utility>
#include <vector>

#include "sessions/product_hours.h"

// The fixed-time snapshots of a product's trading day and the front's service windows. Pure
// functions, any thread.

struct MarketEvent {
  int session_second = 0;
  bool closing = false;  // a period's closing snapshot; otherwise the call auction's match
};

// Auction snapshots at the match minute (four minutes after the auction opens: 20:59, 08:59,
// 09:29) and a closing snapshot at each period's end, in time order. A product with a night session
// has a day auction only when there was no night (after a holiday); `nightOpen` false also drops the
// night session itself.
std::vector<MarketEvent> MarketEvents(const ProductHours& hours, bool nightOpen);

// Whether a time of day lies in one of the windows; a window whose end comes before its begin runs
// past midnight. The end itself is outside.
bool InWindows(int timeOfDay, const std::vector<std::pair<int, int>>& windows);

#endif
