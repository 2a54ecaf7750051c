#include "collector/collector_metrics.h"

#include <cstdio>
#include <memory>

#include "collector/collector_health.h"
#include "collector/collector_runtime.h"
#include "core/clock.h"
#include "marketdata/md_spi.h"
#include "metrics/callback_collectable.h"
#include "metrics/process_stats.h"
#include "replay/service/replay_service.h"
#include "sessions/exchange.h"

namespace {

void AddIntakeSamples(const CMdSpi* spi, SampleSet& s) {
  const FrontCounters* front = spi != nullptr ? &spi->front() : nullptr;
  auto load = [](const auto& atomic) { return static_cast<double>(atomic.load(std::memory_order_relaxed)); };
  const CMdSpi::FrontState state = spi != nullptr ? spi->frontStatus().state : CMdSpi::FrontState::kConnecting;
  const bool loggedIn = state == CMdSpi::FrontState::kLoggedIn;
  s.Gauge("quoteloom_front_connected", "1 while the connection to the market-data front is up",
          loggedIn || state == CMdSpi::FrontState::kConnected ? 1 : 0);
  s.Gauge("quoteloom_front_logged_in", "1 while the collector is logged in to its front", loggedIn ? 1 : 0);
  s.Counter("quoteloom_front_logins_total", "Successful logins to the front", front != nullptr ? load(front->logins) : 0);
  for (int slot = 0; slot < FrontCounters::kReasonSlots; ++slot) {
    char reason[16] = "other";
    if (slot < FrontCounters::kReasonSlots - 1) std::snprintf(reason, sizeof(reason), "0x%04x", FrontCounters::kReasons[slot]);
    s.Counter("quoteloom_front_disconnects_total", "Connections to the front lost, by the API's reason code",
              front != nullptr ? load(front->disconnects[slot]) : 0, {{"reason", reason}});
  }
  s.Counter("quoteloom_subscriptions_answered_total", "Subscriptions the front confirmed",
            front != nullptr ? load(front->subscriptionsAnswered) : 0);
  s.Counter("quoteloom_subscriptions_failed_total", "Subscriptions the front refused",
            front != nullptr ? load(front->subscriptionsFailed) : 0);
  for (int v = 1; v < TickScreen::kVerdicts; ++v) {
    const auto verdict = static_cast<TickScreen::Verdict>(v);
    s.Counter("quoteloom_ticks_refused_total", "Ticks the intake refused, by reason",
              spi != nullptr ? static_cast<double>(spi->screen().refused(verdict)) : 0,
              {{"reason", TickScreen::Label(verdict)}});
  }
}

void AddExchangeSamples(const CMdSpi* spi, const ClockReading& now, std::chrono::steady_clock::time_point since,
                        SampleSet& s) {
  const auto steadyNow = std::chrono::steady_clock::now();
  for (int e = 0; e < kExchangeCount; ++e) {
    const auto exchange = static_cast<Exchange>(e);
    const SampleSet::Labels labels = {{"exchange", ExchangeName(exchange)}};
    const ExchangeTickCounters* ticks = spi != nullptr ? &spi->exchangeTicks() : nullptr;
    s.Counter("quoteloom_exchange_ticks_total", "Accepted ticks of the exchange's contracts",
              ticks != nullptr ? static_cast<double>(ticks->ticks(exchange)) : 0, labels);
    // Before the first tick the age counts from the start, so a collector that never got one looks silent.
    const auto last = ticks != nullptr && ticks->anyTick(exchange) ? ticks->lastTick(exchange) : since;
    s.Gauge("quoteloom_exchange_last_tick_age_seconds",
            "Seconds since the exchange's last accepted tick (since the start before the first)",
            std::chrono::duration<double>(steadyNow - last).count(), labels);
    s.Gauge("quoteloom_exchange_in_session", "1 while the exchange's products are in continuous trading",
            ExchangeInSession(exchange, now) ? 1 : 0, labels);
  }
}

void AddWriterSamples(const CollectorRuntime::Counters& c, SampleSet& s) {
  s.Counter("quoteloom_ticks_received_total", "Tick callbacks from the front", c.ticksReceived);
  s.Counter("quoteloom_ticks_accepted_total", "Ticks the intake put into the writer queue", c.ticksAccepted);
  s.Counter("quoteloom_ticks_written_total", "Ticks with both lines stored", c.ticksWritten);
  s.Counter("quoteloom_ticks_unstorable_total", "Ticks the writer refused to store", c.ticksUnstorable);
  s.Counter("quoteloom_fallback_lines_total", "Lines written to cresh1.txt or cresh2.txt because their file failed",
            c.fallbackLines);
  s.Counter("quoteloom_lost_lines_total", "Lines that reached neither their file nor its fallback", c.linesLost);
  s.Counter("quoteloom_links_refused_total", "Lines not written because their file or a folder on its path is a link",
            c.linksRefused);
  s.Counter("quoteloom_file_failures_total", "Failed opens or appends of a data file", c.fallbackLines + c.linesLost);
  s.Gauge("quoteloom_writer_queue_depth", "Ticks waiting in the writer queue", c.queueDepth);
}

void AddReplaySamples(const ReplayService& replay, SampleSet& s) {
  s.Gauge("quoteloom_replay_connections", "Replay clients connected", replay.running() ? replay.connectionCount() : 0);
  s.Gauge("quoteloom_replay_running", "Replays running", replay.RunningReplays());
  s.Counter("quoteloom_replay_refused_connections_total", "Replay connections refused, by limit",
            replay.refusedConnections(false), {{"reason", "too_many_connections"}});
  s.Counter("quoteloom_replay_refused_connections_total", "Replay connections refused, by limit",
            replay.refusedConnections(true), {{"reason", "too_many_from_address"}});
}

}  // namespace

CollectorMetrics::CollectorMetrics(const CollectorRuntime& runtime, CollectorHealth& health)
    : runtime_(runtime), health_(health), created_(std::chrono::steady_clock::now()) {
  endpoint_.Register(std::make_shared<CallbackCollectable>([this](SampleSet& s) { Fill(s); }));
}

MetricsEndpoint::Outcome CollectorMetrics::Start(const MetricsAddress& address, std::string* error,
                                                 std::function<void(const std::string&)> bound) {
  return endpoint_.Start(address, error, std::move(bound));
}

void CollectorMetrics::AddSamples(std::function<void(SampleSet&)> fill) {
  endpoint_.Register(std::make_shared<CallbackCollectable>(std::move(fill)));
}

void CollectorMetrics::Fill(SampleSet& s) const {
  const CollectorHealth::Verdict verdict = health_.Evaluate();
  s.Gauge("quoteloom_healthy", "1 when the program works as it should; the reason says why or why not",
          verdict.healthy ? 1 : 0, {{"reason", verdict.reason}});
  const CMdSpi* spi = runtime_.callbacks();
  AddWriterSamples(runtime_.counters(), s);
  AddIntakeSamples(spi, s);
  AddExchangeSamples(spi, runtime_.clock().Now(), created_, s);
  AddReplaySamples(runtime_.replayService(), s);
  AddProcessSamples(s);
}
