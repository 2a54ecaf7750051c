// The front simulator's market hours: service windows, the fixed-time snapshots of the sessions,
// the snapshot on subscription, test data after the close and the exchanges' own field habits.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <unordered_map>

#include "platform/frontsim/front_simulator.h"
#include "platform/frontsim/listen_socket.h"
#include "platform/frontsim/market_events.h"
#include "sessions/clock_time.h"
#include "sessions/session_clock.h"

namespace {

std::int64_t LocalSecondsAt(int tradingDay, int sessionSecond) {
  return TickClassifier::LocalSeconds(CalendarDateOf(tradingDay, sessionSecond), TimeOfDay(sessionSecond));
}

ClockReading ReadingAt(int tradingDay, int sessionSecond) {
  ClockReading r;
  const int date = CalendarDateOf(tradingDay, sessionSecond);
  const int time = TimeOfDay(sessionSecond);
  r.year = date / 10000;
  r.month = date / 100 % 100;
  r.day = date % 100;
  r.hour = time / 3600;
  r.minute = time / 60 % 60;
  r.second = time % 60;
  return r;
}

std::string StampOf(const ClockReading& r) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", r.year, r.month, r.day, r.hour, r.minute, r.second);
  return text;
}

template <std::size_t N>
void CopyText(char (&to)[N], const std::string& from) {
  std::snprintf(to, N, "%s", from.c_str());
}

// Update times a broker's counter sends after the close: outside every product's hours, or no time.
constexpr const char* kTestUpdateTimes[] = {"19:00:00", "17:30:00", "99:99:99"};

// Every fixed-time snapshot second of any product, so that a turn of the loop without one is cheap.
std::vector<int> AllEventSeconds() {
  std::set<int> seconds;
  for (const SessionTableRow& row : SessionTable()) {
    std::string error;
    const std::optional<ProductHours> hours = ProductHours::Parse(row.hours, &error);
    if (!hours) continue;
    for (bool night : {true, false}) {
      for (const MarketEvent& e : MarketEvents(*hours, night)) seconds.insert(e.session_second);
    }
  }
  return {seconds.begin(), seconds.end()};
}

}  // namespace

std::optional<MarketMoment> FrontSimulator::PlaceMoment(const ClockReading& now) {
  std::string error;
  std::optional<MarketMoment> moment = calendar_->Place(DateOfReading(now), TimeOfDayOfReading(now), &error);
  if (!moment && error != calendar_error_) {
    std::fprintf(stderr, "quoteloom-frontsim: %s; the front stays closed\n", error.c_str());
    calendar_error_ = error;
  }
  return moment;
}

void FrontSimulator::UpdateMarket(const ClockReading& now) {
  if (event_seconds_.empty()) event_seconds_ = AllEventSeconds();
  const std::int64_t local = TickClassifier::ReadingSeconds(now);
  const std::optional<MarketMoment> moment = PlaceMoment(now);
  if (market_seen_ >= 0 && local > market_seen_ && moment) {
    // Snapshots due since the last turn go out before a window's end closes the connections.
    if (market_seen_day_ != 0 && market_seen_day_ != moment->trading_day) {
      MarketEventsOf(market_seen_day_, market_seen_, local, now);
    }
    MarketEventsOf(moment->trading_day, market_seen_, local, now);
  }
  if (market_seen_ < 0 || local > market_seen_) {
    market_seen_ = local;
    if (moment) market_seen_day_ = moment->trading_day;
  }
  SetInService(moment && moment->open && InWindows(TimeOfDayOfReading(now), options_.service_windows));
}

void FrontSimulator::SetInService(bool serve) {
  if (serve == in_service_) return;
  if (!serve) {
    for (auto& client : clients_) BeginClose(*client);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    in_service_ = false;
    std::printf("front closed\n");
  } else {
    // Listening again on the same port: connections until now were refused as by a front that is down.
    std::string error;
    unsigned short bound = 0;
    listen_fd_ = ListenTcp(options_.listen_host, port_, &bound, &error);
    if (listen_fd_ < 0) {
      std::fprintf(stderr, "quoteloom-frontsim: %s\n", error.c_str());
      return;  // tried again on the next turn of the loop
    }
    in_service_ = true;
    std::printf("front open\n");
  }
  std::fflush(stdout);
}

void FrontSimulator::MarketEventsOf(int day, std::int64_t after, std::int64_t upTo, const ClockReading& now) {
  std::string error;
  const std::optional<bool> night = calendar_->HasNightSession(day, &error);
  if (!night) return;
  const std::int64_t testAt = LocalSecondsAt(day, SessionSecond(options_.test_window.first));
  if (testAt > after && testAt <= upTo) SendTestData(day, now);
  std::unordered_map<const ProductHours*, std::vector<MarketEvent>> eventsOf;
  for (int second : event_seconds_) {
    const std::int64_t at = LocalSecondsAt(day, second);
    if (at <= after || at > upTo) continue;
    const std::vector<std::size_t> indices = active_;
    for (std::size_t index : indices) {
      const ProductHours* hours = hours_of_[index];
      if (hours == nullptr) continue;
      auto found = eventsOf.find(hours);
      if (found == eventsOf.end()) found = eventsOf.emplace(hours, MarketEvents(*hours, *night)).first;
      for (const MarketEvent& e : found->second) {
        if (e.session_second == second) SendMarketSnapshot(index, day, second, now);
      }
    }
  }
}

void FrontSimulator::SendMarketSnapshot(std::size_t index, int day, int sessionSecond, const ClockReading& now) {
  const ClockReading at = ReadingAt(day, sessionSecond);
  generator_->set_trading_day(std::to_string(day));
  FrontDepthMarketData tick;
  generator_->Next(index, at, &tick);
  ApplyExchangeQuirks(index, sessionSecond < kDaySessionSecond, day, tick);
  std::lock_guard<std::mutex> lock(stats_mutex_);
  SendTick(index, tick);
  last_snapshot_[index] = tick;
  last_snapshot_at_[index] = TickClassifier::ReadingSeconds(at);
  RecordTruth(day, TickKind::kSession, now, tick);
}

// Copies of each contract's last snapshot with an update time no session has; the walk stays put.
void FrontSimulator::SendTestData(int day, const ClockReading& now) {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  for (std::size_t index : active_) {
    if (last_snapshot_at_[index] < 0) continue;
    for (const char* time : kTestUpdateTimes) {
      FrontDepthMarketData tick = last_snapshot_[index];
      CopyText(tick.UpdateTime, time);
      tick.UpdateMillisec = 0;
      SendTick(index, tick);
      RecordTruth(day, TickKind::kTest, now, tick);
    }
  }
}

void FrontSimulator::SendSubscriptionSnapshot(Client& client, std::size_t index) {
  const ClockReading now = TheSystemClock().Now();
  const std::optional<MarketMoment> moment = PlaceMoment(now);
  const ProductHours* hours = hours_of_[index];
  if (!moment || hours == nullptr) return;
  if (last_snapshot_at_[index] < 0) {
    // A front that has just started still knows the last close: that of today's day session once it
    // is over, else that of the trading day before.
    const int close = hours->sessions().back().end();
    std::string error;
    int day = moment->trading_day;
    if (!(moment->open && moment->session_second >= close && DateOfReading(now) == day)) {
      const std::optional<int> before = calendar_->PreviousTradingDay(day, &error);
      if (!before) return;
      day = *before;
    }
    const ClockReading at = ReadingAt(day, close);
    generator_->set_trading_day(std::to_string(day));
    generator_->Next(index, at, &last_snapshot_[index]);
    ApplyExchangeQuirks(index, false, day, last_snapshot_[index]);
    last_snapshot_at_[index] = TickClassifier::ReadingSeconds(at);
  }
  const ProductHours::Place place = hours->Locate(moment->session_second);
  const bool fresh = moment->open && (place.period >= 0 || place.auction) &&
                     TickClassifier::ReadingSeconds(now) - last_snapshot_at_[index] <= kDefaultToleranceSeconds;
  frame_.clear();
  AppendDepthMarketData(frame_, last_snapshot_[index]);
  client.out.append(frame_);
  std::lock_guard<std::mutex> lock(stats_mutex_);
  ++sent_[index];
  ++stats_.ticks_total;
  RecordTruth(moment->trading_day, fresh ? TickKind::kSession : TickKind::kStale, now, last_snapshot_[index]);
}

bool FrontSimulator::InContinuousTrading(std::size_t index, const MarketMoment& moment) const {
  const ProductHours* hours = hours_of_[index];
  if (hours == nullptr || !moment.open) return false;
  const ProductHours::Place place = hours->Locate(moment.session_second);
  if (place.period < 0) return false;
  // The period's last second belongs to its closing snapshot.
  return moment.session_second < hours->sessions()[place.session].periods[place.period].end;
}

void FrontSimulator::ApplyExchangeQuirks(std::size_t index, bool night, int day, FrontDepthMarketData& tick) const {
  const std::string& exchange = listed_[index].exchange;
  if (exchange == "CZCE") {
    tick.UpdateMillisec = 0;
    if (night) CopyText(tick.TradingDay, tick.ActionDay);  // the calendar date, not the trading day
  } else if (exchange == "DCE" && night) {
    CopyText(tick.ActionDay, std::to_string(day));  // the trading day, not the calendar date
  }
}

// Called with stats_mutex_ held.
void FrontSimulator::RecordTruth(int day, TickKind kind, const ClockReading& now, const FrontDepthMarketData& tick) {
  if (truth_) truth_->Record(day, kind, StampOf(now), tick);
}
