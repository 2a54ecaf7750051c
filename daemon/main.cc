// quoteloomd: the collector without a window. Runs the start sequence, shows the log tabs on the
// console with a status line, and on SIGINT or SIGTERM writes every accepted tick before it exits.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "collector/collector_runtime.h"
#include "core/conf_file_user_store.h"
#include "core/console_log_presenter.h"
#include "core/log_sink.h"
#include "daemon/daemon_options.h"
#include "daemon/status_receiver.h"
#include "replay/service/replay_service.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// "MDServicestate": "1" or empty starts the replay service.
bool ReplayEnabledByStore() {
  ConfFileUserStore store;
  const std::string state = store.Read(kReplayServiceStateName);
  return state.empty() || state == "1";
}

std::string CurrentDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : ".";
}

void PrintStatus(const CollectorRuntime& runtime, const StatusReceiver& receiver, double ticksPerSecond) {
  const CollectorRuntime::Counters c = runtime.counters();
  std::printf("[status] contracts written %" PRIu64 ", ticks written %" PRIu64 ", %.1f ticks/s, writer queue %" PRIu64
              ", fallback lines %" PRIu64 ", lost lines %" PRIu64 ", unstorable ticks %" PRIu64
              ", refused ticks %" PRIu64 ", journal failures %" PRIu64 "\n",
              receiver.contracts(), c.ticksWritten, ticksPerSecond, c.queueDepth, c.fallbackLines, c.linesLost,
              c.ticksUnstorable, c.ticksRefused, c.journalFailures);
  std::fflush(stdout);
}

// Waits for SIGINT or SIGTERM, printing the status line every `statusSeconds`. Returns the signal.
int WaitForStop(const CollectorRuntime& runtime, const StatusReceiver& receiver, const sigset_t& stopSignals,
                int statusSeconds) {
  auto last = SteadyClock::now();
  std::uint64_t lastWritten = 0;
  for (;;) {
    const timespec second{1, 0};
    const int signal = sigtimedwait(&stopSignals, nullptr, &second);
    if (signal == SIGINT || signal == SIGTERM) return signal;
    const auto now = SteadyClock::now();
    const double elapsed = std::chrono::duration<double>(now - last).count();
    if (elapsed < statusSeconds) continue;
    const std::uint64_t written = runtime.counters().ticksWritten;
    PrintStatus(runtime, receiver, (written - lastWritten) / elapsed);
    last = now;
    lastWritten = written;
  }
}

}  // namespace

int main(int argc, char** argv) {
  DaemonOptions options;
  std::string error;
  if (!ParseDaemonOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "quoteloomd: %s\nTry 'quoteloomd --help'.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(DaemonUsage(), stdout);
    return 0;
  }

  // Blocked before any thread exists, so only the main thread's sigtimedwait takes them. A shell
  // may have started us with them ignored (a background job); they still mean "stop".
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (chdir(options.workdir.c_str()) != 0) {
    std::fprintf(stderr, "quoteloomd: cannot use the working directory '%s': %s\n", options.workdir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (access("setting.ini", R_OK) != 0) {
    std::fprintf(stderr, "quoteloomd: no readable setting.ini in %s; no front will be registered\n",
                 CurrentDirectory().c_str());
  }
  const bool replay = options.replay.has_value() ? *options.replay : ReplayEnabledByStore();

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  ConsoleLogPresenter console(stdout);
  TheLogSink().Attach(&console);
  StatusReceiver receiver;

  CollectorRuntime::Options runtimeOptions;
  runtimeOptions.startReplayService = replay;
  runtimeOptions.replayPort = options.replayPort;
  runtimeOptions.replayBindAddress = options.replayBind;
  runtimeOptions.replayMaxConnections = options.replayMaxConnections;
  runtimeOptions.replayMaxConnectionsPerPeer = options.replayMaxPerAddress;
  runtimeOptions.replayIdleTimeoutMs = options.replayIdleSeconds * 1000;
  runtimeOptions.receiver = &receiver;
  CollectorRuntime runtime(runtimeOptions);
  std::printf("quoteloomd: storing ticks under %s (DataTimeStream/, Data/)\n", CurrentDirectory().c_str());
  runtime.Start();
  std::string replayAddress;
  unsigned short replayPort = 0;
  if (!replay) {
    std::printf("quoteloomd: replay service off\n");
  } else if (runtime.replayService().ListenAddress(&replayAddress, &replayPort)) {
    std::printf("quoteloomd: replay service on %s:%u (at most %u clients, %u from one address)\n",
                replayAddress.c_str(), replayPort, runtime.replayService().maxConnections(),
                options.replayMaxPerAddress);
  } else {
    std::fprintf(stderr, "quoteloomd: the replay service did not start on port %u; collecting without it\n",
                 options.replayPort);
  }

  const int signal = WaitForStop(runtime, receiver, stopSignals, options.statusSeconds);
  const CollectorRuntime::Counters before = runtime.counters();
  std::printf("quoteloomd: %s received; writing the %" PRIu64 " queued ticks, then stopping\n",
              signal == SIGINT ? "SIGINT" : "SIGTERM", before.queueDepth);
  runtime.Shutdown();
  const CollectorRuntime::Counters after = runtime.counters();
  std::printf("quoteloomd: accepted ticks %" PRIu64 ", written %" PRIu64 ", fallback lines %" PRIu64
              ", lost lines %" PRIu64 ", unstorable ticks %" PRIu64 ", refused ticks %" PRIu64
              ", journal records %" PRIu64 ", journal failures %" PRIu64 "%s\n",
              after.ticksAccepted, after.ticksWritten, after.fallbackLines, after.linesLost, after.ticksUnstorable,
              after.ticksRefused, after.journalRecords, after.journalFailures,
              after.journalEnabled ? "" : " (journal off)");
  TheLogSink().Detach(&console);
  return 0;
}
