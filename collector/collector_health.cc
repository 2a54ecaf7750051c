#include "collector/collector_health.h"

#include "collector/collector_runtime.h"
#include "core/clock.h"
#include "marketdata/md_spi.h"
#include "sessions/exchange.h"

CollectorHealth::Verdict CollectorHealth::Judge(bool loggedIn, bool anyExchangeInSession, bool writerDraining) {
  if (!writerDraining) return {false, "writer_stalled"};
  if (loggedIn) return {true, "ok"};
  if (!anyExchangeInSession) return {true, "outside_service_hours"};
  return {false, "front_not_logged_in"};
}

bool CollectorHealth::WriterDraining() {
  const CollectorRuntime::Counters c = runtime_.counters();
  return writer_.Observe(c.ticksWritten, c.queueDepth, std::chrono::steady_clock::now());
}

CollectorHealth::Verdict CollectorHealth::Evaluate() {
  const bool draining = WriterDraining();
  const CMdSpi* spi = runtime_.callbacks();
  const bool loggedIn = spi != nullptr && spi->frontStatus().state == CMdSpi::FrontState::kLoggedIn;
  const ClockReading now = runtime_.clock().Now();
  bool inSession = false;
  for (int e = 0; e < kExchangeCount && !inSession; ++e) inSession = ExchangeInSession(static_cast<Exchange>(e), now);
  return Judge(loggedIn, inSession, draining);
}
