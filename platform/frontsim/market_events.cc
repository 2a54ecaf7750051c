#include "platform/frontsim/market_events.h"

namespace {

constexpr int kAuctionMatchAfter = 4 * 60;

}  // namespace

std::vector<MarketEvent> MarketEvents(const ProductHours& hours, bool nightOpen) {
  std::vector<MarketEvent> events;
  const bool hasNight = !hours.sessions().empty() && hours.sessions().front().night();
  for (const TradingSession& session : hours.sessions()) {
    if (session.night() && !nightOpen) continue;
    const bool auction = session.auction_begin < session.begin() && (session.night() || !hasNight || !nightOpen);
    if (auction) events.push_back({std::min(session.auction_begin + kAuctionMatchAfter, session.begin() - 1), false});
    for (const TradingPeriod& period : session.periods) events.push_back({period.end, true});
  }
  return events;
}

bool InWindows(int t, const std::vector<std::pair<int, int>>& windows) {
  for (const auto& [begin, end] : windows) {
    if (begin < end ? (t >= begin && t < end) : (t >= begin || t < end)) return true;
  }
  return false;
}
