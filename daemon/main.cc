// quoteloomd: the collector without a window. Runs the start sequence, shows the log tabs on the
// console with a status line (status and connection messages on standard error, the exit count on
// standard output), and on SIGINT or SIGTERM writes every accepted tick before it exits.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "collector/collector_health.h"
#include "collector/collector_metrics.h"
#include "collector/collector_runtime.h"
#include "core/conf_file_user_store.h"
#include "core/log_sink.h"
#include "core/process_lock.h"
#include "core/open_regular_file.h"
#include "core/retention_settings.h"
#include "core/setting_ini.h"
#include "core/string_printf.h"
#include "daemon/daemon_log_presenter.h"
#include "daemon/daemon_options.h"
#include "daemon/status_receiver.h"
#include "history/day_close_job.h"
#include "history/day_close_thread.h"
#include "history/history_status.h"
#include "metrics/service_notifier.h"
#include "replay/service/replay_service.h"

namespace {

constexpr std::size_t kDaemonStoredLogLines = 1000;  // per log tab

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

// Whether a file can be created in the current directory (a read-only filesystem or a folder
// without write permission cannot hold the tick files); on failure the system's reason.
bool CanWriteHere(std::string* problem) {
  const std::string probe = ".quoteloomd-write-check-" + std::to_string(getpid());
  int error = 0;
  const int fd = OpenRegularFile(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &error);
  if (fd < 0) {
    *problem = OpenErrorText(error);
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

// ", NOTE" after a line while `note` says something (metrics not served), else nothing.
std::string Note(const char* note) { return note[0] == '\0' ? std::string() : std::string(", ") + note; }

std::string StatusLine(const CollectorRuntime& runtime, const StatusReceiver& receiver, double ticksPerSecond,
                       const char* note) {
  const CollectorRuntime::Counters c = runtime.counters();
  const CollectorRuntime::FrontReport front = runtime.frontReport();
  const std::string lastTick = front.lastTickAgeMs < 0
                                   ? std::string("no tick yet")
                                   : StringPrintf("last tick %.1f s ago", front.lastTickAgeMs / 1000.0);
  return StringPrintf("contracts written %" PRIu64 ", ticks written %" PRIu64 ", %.1f ticks/s, writer queue %" PRIu64
                      ", fallback lines %" PRIu64 ", lost lines %" PRIu64 ", unstorable ticks %" PRIu64
                      ", refused ticks %" PRIu64 ", journal failures %" PRIu64 ", front %s, %s%s",
                      receiver.contracts(), c.ticksWritten, ticksPerSecond, c.queueDepth, c.fallbackLines,
                      c.linesLost, c.ticksUnstorable, c.ticksRefused, c.journalFailures, front.link.c_str(),
                      lastTick.c_str(), Note(note).c_str());
}

// Waits for SIGINT or SIGTERM, printing the status line every `statusSeconds` and handing it to the
// service manager. The manager's watchdog is pinged each second while the writer drains, so a
// stalled writer gets the program restarted. Returns the signal.
int WaitForStop(const CollectorRuntime& runtime, const StatusReceiver& receiver, CollectorHealth& health,
                const CollectorMetrics& metrics, const ServiceNotifier& notifier, const sigset_t& stopSignals,
                int statusSeconds) {
  auto last = SteadyClock::now();
  std::uint64_t lastWritten = 0;
  for (;;) {
    const timespec second{1, 0};
    const int signal = sigtimedwait(&stopSignals, nullptr, &second);
    if (signal == SIGINT || signal == SIGTERM) return signal;
    if (health.WriterDraining()) notifier.Watchdog();
    const auto now = SteadyClock::now();
    const double elapsed = std::chrono::duration<double>(now - last).count();
    if (elapsed < statusSeconds) continue;
    const std::uint64_t written = runtime.counters().ticksWritten;
    const std::string line = StatusLine(runtime, receiver, (written - lastWritten) / elapsed, metrics.StatusNote());
    std::fprintf(stderr, "[status] %s\n", line.c_str());
    notifier.Status(line);
    last = now;
    lastWritten = written;
  }
}

}  // namespace

int main(int argc, char** argv) {
  DaemonOptions options;
  if (const std::optional<int> exitCode = ParseDaemonOptions(argc, argv, &options)) return *exitCode;

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
  std::string problem;
  if (!CanWriteHere(&problem)) {
    std::fprintf(stderr, "quoteloomd: cannot write in the working directory %s: %s\n", CurrentDirectory().c_str(),
                 problem.c_str());
    return 1;
  }
  // One collector per folder: a second would append every tick to the same files again.
  ProcessLock folderLock;
  problem = folderLock.TakeWorkFolder(".", "quoteloomd");
  if (!problem.empty()) {
    std::fprintf(stderr, "quoteloomd: %s\n", problem.c_str());
    return 1;
  }
  // A collector without a usable front, or with a setting it cannot use, would run on quietly and
  // look healthy: refuse to start.
  problem = SettingIniProblem(kSettingIniPath);
  if (!problem.empty()) {
    std::fprintf(stderr, "quoteloomd: %s (in %s)\n", problem.c_str(), CurrentDirectory().c_str());
    return 2;
  }
  const RetentionSettings retention = ReadRetentionSettings(kSettingIniPath, &problem);  // checked above
  const bool replay = options.replay.has_value() ? *options.replay : ReplayEnabledByStore();

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // The console is the daemon's log and nothing shows stored lines: a few are kept, so a collector
  // running for weeks does not grow by the lines it has printed.
  TheLogSink().SetCap(kDaemonStoredLogLines);
  DaemonLogPresenter console(stderr, stdout, options.quietTicks);
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
  CollectorHealth health(runtime);
  HistoryStatus history;  // outlives the metrics endpoint that reads it
  CollectorMetrics metrics(runtime, health);
  metrics.AddSamples([&history](SampleSet& s) {
    history.Fill(s);
    AddWorkdirFreeSample(s, ".");
  });
  MetricsAddress metricsAddress;
  std::string error;
  ParseMetricsAddress(options.metricsEndpoint, &metricsAddress, &error);  // checked with the command line
  // An address that can never be served is a mistake to fix before collecting; a port another
  // program holds costs no tick: the endpoint binds once it is free.
  const auto said = [](const std::string& text) { std::fprintf(stderr, "quoteloomd: %s\n", text.c_str()); };
  switch (metrics.Start(metricsAddress, &error, said)) {
    case MetricsEndpoint::Outcome::kRefused:
      said(error);
      TheLogSink().Detach(&console);
      return 2;
    case MetricsEndpoint::Outcome::kWaiting:
      said(error);
      break;
    case MetricsEndpoint::Outcome::kOff:
      said("metrics off");
      break;
    case MetricsEndpoint::Outcome::kServing:
      said(StringPrintf("metrics on http://%s:%u/metrics", metricsAddress.host.c_str(), metrics.port()));
      break;
  }
  std::fprintf(stderr, "quoteloomd: storing ticks under %s (DataTimeStream/, Data/)\n", CurrentDirectory().c_str());
  runtime.Start();
  std::string replayAddress;
  unsigned short replayPort = 0;
  if (!replay) {
    std::fprintf(stderr, "quoteloomd: replay service off\n");
  } else if (runtime.replayService().ListenAddress(&replayAddress, &replayPort)) {
    std::fprintf(stderr, "quoteloomd: replay service on %s:%u (at most %u clients, %u from one address)\n",
                replayAddress.c_str(), replayPort, runtime.replayService().maxConnections(),
                options.replayMaxPerAddress);
  } else {
    std::fprintf(stderr, "quoteloomd: the replay service did not start on port %u; collecting without it\n",
                 options.replayPort);
  }

  // Finished days are packed and the retention applied on a thread of the lowest priority.
  const auto logged = [](const std::string& line) { AppendLine(LogTab::NetworkLog, line); };
  DayCloseJob dayClose(".", retention, PackJournalDay, logged, &history);
  DayCloseThread dayCloseThread(dayClose, runtime.clock(), DayCloseThread::Options());
  std::fprintf(stderr, "quoteloomd: packing finished days into History/; keeping %s\n",
               RetentionText(retention).c_str());
  dayCloseThread.Start(logged);

  const ServiceNotifier notifier;
  notifier.Ready("collecting under " + CurrentDirectory());
  const int signal = WaitForStop(runtime, receiver, health, metrics, notifier, stopSignals, options.statusSeconds);
  notifier.Stopping();
  const CollectorRuntime::Counters before = runtime.counters();
  std::fprintf(stderr, "quoteloomd: %s received; writing the %" PRIu64 " queued ticks, then stopping\n",
              signal == SIGINT ? "SIGINT" : "SIGTERM", before.queueDepth);
  runtime.Shutdown();
  dayCloseThread.Stop();
  const CollectorRuntime::Counters after = runtime.counters();
  std::printf("quoteloomd: accepted ticks %" PRIu64 ", written %" PRIu64 ", fallback lines %" PRIu64
              ", lost lines %" PRIu64 ", unstorable ticks %" PRIu64 ", refused ticks %" PRIu64
              ", journal records %" PRIu64 ", journal failures %" PRIu64 "%s%s\n",
              after.ticksAccepted, after.ticksWritten, after.fallbackLines, after.linesLost, after.ticksUnstorable,
              after.ticksRefused, after.journalRecords, after.journalFailures,
              after.journalEnabled ? "" : " (journal off)", Note(metrics.StatusNote()).c_str());
  TheLogSink().Detach(&console);
  return 0;
}
