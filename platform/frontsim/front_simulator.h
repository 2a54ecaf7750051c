#ifndef QUOTELOOM_PLATFORM_FRONTSIM_FRONT_SIMULATOR_H
#define QUOTELOOM_PLATFORM_FRONTSIM_FRONT_SIMULATOR_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ctp/wire/frame_decoder.h"
#include "platform/frontsim/listed_contract.h"
#include "platform/frontsim/replay_tick.h"
#include "platform/frontsim/sim_client.h"
#include "platform/frontsim/sim_options.h"
#include "platform/frontsim/sim_summary.h"
#include "platform/frontsim/tick_generator.h"
#include "platform/frontsim/tick_pacer.h"
#include "platform/frontsim/truth_writer.h"
#include "sessions/market_calendar.h"
#include "sessions/product_hours.h"

// A market-data front for the stand-in API: one loop thread (the caller of Run) serves every client.
// Stop, RequestSummary, DropConnections, SetHung and Summary may be called from any thread; Stop and
// RequestSummary also from a signal handler.
class FrontSimulator {
 public:
  explicit FrontSimulator(SimOptions options);
  ~FrontSimulator();
  FrontSimulator(const FrontSimulator&) = delete;
  FrontSimulator& operator=(const FrontSimulator&) = delete;

  // Loads the contracts or the replayed files and binds the listening socket.
  bool Prepare(std::string* error);
  unsigned short port() const { return port_; }
  std::string listen_address() const;
  // The trading day at start; a front without a fixed day moves on at 18:00.
  const std::string& trading_day() const { return trading_day_; }
  const std::vector<ListedContract>& listed() const { return listed_; }

  // Serves until Stop or the duration; then closes every connection and writes the summary.
  void Run();
  void Stop();
  void RequestSummary();
  void DropConnections();
  void SetHung(bool hung);
  SimSummary Summary() const;

 private:
  using Clock = std::chrono::steady_clock;
  using Client = SimClient;

  void Accept();
  void ReadClient(Client& client);
  bool HandleFrame(Client& client, FrontMessageType type, std::string_view payload);
  void HandleLogin(Client& client, std::string_view payload, bool* keep);
  void HandleCodes(Client& client, FrontMessageType type, const std::vector<std::string>& codes,
                   bool final_frame);
  void Subscribe(Client& client, std::size_t index);
  void Unsubscribe(Client& client, std::size_t index);
  void UnsubscribeAll(Client& client);
  void BeginClose(Client& client);
  void ResetClient(Client& client);
  void Flush(Client& client);
  void ReapClients();
  void CheckScheduledFaults(Clock::time_point now);
  void EmitGenerated(Clock::time_point now);
  void EmitReplayed(Clock::time_point now);
  void SendTick(std::size_t index, FrontDepthMarketData& tick);
  void SendHostileTicks(std::size_t index, const FrontDepthMarketData& tick);
  bool TickLimitReached() const;
  void ApplyFieldFaults(std::size_t index, FrontDepthMarketData& tick);
  std::string TradingDayAt(const ClockReading& now) const;
  // Market hours: the front's service windows, the fixed-time snapshots and the test data.
  void UpdateMarket(const ClockReading& now);
  void SetInService(bool serve);
  void MarketEventsOf(int tradingDay, std::int64_t after, std::int64_t upTo, const ClockReading& now);
  void SendTestData(int tradingDay, const ClockReading& now);
  void SendMarketSnapshot(std::size_t index, int tradingDay, int sessionSecond, const ClockReading& now);
  void SendSubscriptionSnapshot(Client& client, std::size_t index);
  bool InContinuousTrading(std::size_t index, const MarketMoment& moment) const;
  void ApplyExchangeQuirks(std::size_t index, bool night, int tradingDay, FrontDepthMarketData& tick) const;
  void RecordTruth(int tradingDay, TickKind kind, const ClockReading& now, const FrontDepthMarketData& tick);
  std::optional<MarketMoment> PlaceMoment(const ClockReading& now);
  void WriteSummaryFile();
  void Wake();

  // Constant after Prepare.
  const SimOptions options_;
  std::string trading_day_;
  std::vector<ListedContract> listed_;
  std::unordered_map<std::string, std::size_t> index_of_;
  std::unique_ptr<TickGenerator> generator_;
  std::vector<ReplayTick> replay_;
  int listen_fd_ = -1;
  unsigned short port_ = 0;
  int wake_[2] = {-1, -1};
  std::optional<MarketCalendar> calendar_;           // market hours only
  std::vector<const ProductHours*> hours_of_;        // per listed contract; null: not in the table

  // Set by any thread, taken by the loop.
  std::atomic<bool> stop_{false};
  std::atomic<bool> summary_requested_{false};
  std::atomic<bool> drop_requested_{false};
  std::atomic<bool> hung_{false};

  // Guarded by stats_mutex_ (the summary lock); written by the loop.
  mutable std::mutex stats_mutex_;
  SimSummary stats_;                   // everything but the per-contract counts
  std::vector<std::uint64_t> sent_;    // ticks sent per listed contract

  // Loop thread only.
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::vector<Client*>> subscribers_;
  std::vector<std::size_t> active_;    // listed contracts with at least one subscriber
  std::vector<std::ptrdiff_t> active_at_;
  std::vector<std::uint64_t> generated_;
  Clock::time_point started_;
  TickPacer pacer_;
  std::size_t cursor_ = 0;
  std::uint64_t since_hostile_ = 0;
  bool dropped_by_ticks_ = false;
  bool dropped_by_time_ = false;
  int resets_left_ = 0;
  int next_session_ = 1;
  bool replay_armed_ = false;
  Clock::time_point replay_start_;
  std::size_t replay_next_ = 0;
  std::string frame_;
  // Market hours, loop thread only.
  bool in_service_ = true;
  std::int64_t market_seen_ = -1;                    // local seconds of the last reading handled
  int market_seen_day_ = 0;                          // and its trading day
  std::vector<int> event_seconds_;                   // every fixed-time snapshot of the session table
  std::vector<FrontDepthMarketData> last_snapshot_;  // per listed contract, the last market snapshot
  std::vector<std::int64_t> last_snapshot_at_;       // its moment in local seconds; -1: none yet
  std::unique_ptr<TruthWriter> truth_;
  std::string calendar_error_;                       // reported once until it changes
};

#endif
