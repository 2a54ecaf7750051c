#include "cluster/run_until_stop_signal.h"

#include <nats/nats.h>
#include <signal.h>

namespace {

std::atomic<bool> gStop{false};

void OnStopSignal(int) { gStop.store(true, std::memory_order_release); }

}  // namespace

int RunUntilStopSignal(const std::function<int(const std::atomic<bool>& stop)>& loop) {
  signal(SIGINT, OnStopSignal);
  signal(SIGTERM, OnStopSignal);
  signal(SIGPIPE, SIG_IGN);
  const int code = loop(gStop);
  // Ends the library's threads, so nothing of it is left when the program exits.
  nats_CloseAndWait(2000);
  return code;
}
