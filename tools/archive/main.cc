// quoteloom-archive: writes a NATS JetStream stream of ticks into the collector's file tree,
// one copy of each tick, and resumes as the stream's durable consumer after any stop.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "cluster/cluster_metrics.h"
#include "cluster/cluster_settings.h"
#include "cluster/program_metrics.h"
#include "core/open_regular_file.h"
#include "cluster/run_until_stop_signal.h"
#include "cluster/tick_archiver.h"
#include "core/clock.h"
#include "core/command_line.h"
#include "core/errno_text.h"
#include "core/retention_settings.h"
#include "history/day_close_job.h"
#include "history/day_close_thread.h"
#include "history/history_status.h"
#include "metrics/service_notifier.h"
#include "objectstore/object_layout.h"

namespace {

// The archive writes everything into its folder: one that is a file, cannot be made or takes no new
// file (read-only, full) ends the program at start, before a message is taken. Empty when usable.
std::string FolderProblem(const std::string& workdir) {
  std::error_code ec;
  std::filesystem::create_directories(workdir, ec);
  if (!std::filesystem::is_directory(workdir, ec)) {
    return "--workdir: " + workdir + " is not a folder" + (ec ? " (" + ec.message() + ")" : std::string());
  }
  const std::string probe = workdir + "/.quoteloom-archive-probe." + std::to_string(::getpid());
  int error = 0;
  const int fd = OpenRegularFile(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &error);
  if (fd < 0) return "--workdir: cannot write into " + workdir + ": " + OpenErrorText(error);
  ::close(fd);
  ::unlink(probe.c_str());
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  ClusterSettings settings;
  TickArchiver::Options options;
  CommandLine commandLine("quoteloom-archive",
                          "Writes the ticks of a NATS JetStream stream into the collector's file tree.");
  commandLine.SetFooter({.success = "after a stop signal", .failure = "the folder cannot be used or it cannot go on"});
  CLI::App& app = commandLine.app();
  AddClusterOptions(app, settings);
  app.add_option("--durable", options.durable, "Name of the archive's durable consumer")->capture_default_str();
  app.add_option("--days-in-memory", options.maxDaysHeld, "Days whose tick ids are held in memory at once")
      ->capture_default_str()
      ->check(CLI::Range(3, 1000));
  app.add_option("--bucket", options.history.bucket,
                 "Object store bucket the packed days of History/ are put into, or off")
      ->capture_default_str();
  double bucketDays = 0;
  app.add_option("--bucket-days", bucketDays, "Days a packed day stays in the bucket; 0 keeps every day")
      ->capture_default_str()
      ->check(CLI::Range(0, 36500));
  double historySeconds = 60;
  app.add_option("--history-seconds", historySeconds, "Seconds between two looks for packed days not yet shared")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 86400.0));
  RetentionSettings retention;
  app.add_option("--journal-days", retention.journalDays,
                 "Keep the journals of this many of the most recent packed days (default: every day's)")
      ->check(CLI::Range(0, kMaxRetentionDays));
  app.add_option("--csv-days", retention.csvDays,
                 "Keep the CSV files of this many of the most recent packed days (default: every day's)")
      ->check(CLI::Range(0, kMaxRetentionDays));
  std::string metricsText = "127.0.0.1:9472";
  AddMetricsOption(app, &metricsText);
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return *exitCode;
  if (options.durable.empty() || options.durable.find_first_of(" .*>") != std::string::npos) {
    return commandLine.UsageError("--durable: no spaces, '.', '*' or '>'");
  }
  options.shareHistory = options.history.bucket != "off";
  if (options.shareHistory && !IsBucketName(options.history.bucket)) {
    return commandLine.UsageError("--bucket: letters, digits, '-' and '_' only, at most 64");
  }
  options.history.maxAgeSeconds = static_cast<std::int64_t>(bucketDays * 86400);
  options.history.interval = std::chrono::milliseconds(static_cast<std::int64_t>(historySeconds * 1000));
  if (const std::string problem = FolderProblem(settings.workdir); !problem.empty()) {
    std::fprintf(stderr, "quoteloom-archive: %s\n", problem.c_str());
    return kExitFailure;
  }
  std::string error;
  if (!ValidateClusterSettings(settings, &error)) return commandLine.UsageError(error);
  ArchiveCounters counters;
  HistoryStatus history;
  MetricsEndpoint metrics;
  const bool serving = StartProgramMetrics(&metrics, metricsText, "quoteloom-archive", [&](SampleSet& s) {
    AddArchiveSamples(counters, settings.workdir, s);
    history.Fill(s);
  });
  if (!serving) return kExitUsage;
  const ServiceNotifier notifier;
  options.metrics = &metrics;
  options.counters = &counters;
  options.notifier = &notifier;
  // Finished days are packed and the retention applied as in a collector, once the folder is ours.
  const auto logged = [](const std::string& line) { std::fprintf(stderr, "quoteloom-archive: %s\n", line.c_str()); };
  DayCloseJob dayClose(settings.workdir, retention, PackJournalDay, logged, &history);
  DayCloseThread dayCloseThread(dayClose, TheSystemClock(), DayCloseThread::Options());
  options.folderHeld = [&] {
    logged("packing finished days into History/; keeping " + RetentionText(retention));
    dayCloseThread.Start(logged);
  };
  return RunUntilStopSignal([&](const std::atomic<bool>& stop) {
    TickArchiver archiver(settings, options);
    const int code = archiver.Run(stop);
    dayCloseThread.Stop();  // while the folder is still held
    return code;
  });
}
