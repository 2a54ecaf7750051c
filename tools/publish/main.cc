// quoteloom-publish: publishes the records a collector appends to its tick journal to a NATS
// JetStream stream, and resumes from its state file after any stop.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cluster/cluster_metrics.h"
#include "cluster/cluster_settings.h"
#include "cluster/program_metrics.h"
#include "cluster/run_until_stop_signal.h"
#include "cluster/tick_publisher.h"
#include "core/command_line.h"
#include "metrics/service_notifier.h"
#include "sessions/trading_day_rule.h"

namespace {

constexpr std::size_t kMaxCollectorName = 64;

std::string HostName() {
  char name[256] = "";
  gethostname(name, sizeof(name) - 1);
  return name[0] != '\0' ? name : "collector";
}

}  // namespace

int main(int argc, char** argv) {
  ClusterSettings settings;
  TickPublisher::Options options;
  options.collectorName = HostName();
  CommandLine commandLine("quoteloom-publish",
                          "Publishes the ticks of the collector's journal to a NATS JetStream stream.");
  commandLine.SetFooter({.success = "after a stop signal or --exit-when-idle", .failure = "it cannot go on"});
  CLI::App& app = commandLine.app();
  AddClusterOptions(app, settings);
  // It travels as a message header: a bounded line of printable characters, never rewritten.
  app.add_option("--collector-name", options.collectorName,
                 "Name in the Quoteloom-Collector header: 1 to 64 printable ASCII characters")
      ->capture_default_str()
      ->check([](const std::string& v) {
        const bool printable =
            std::all_of(v.begin(), v.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
        return !v.empty() && v.size() <= kMaxCollectorName && printable
                   ? std::string()
                   : "takes 1 to " + std::to_string(kMaxCollectorName) +
                         " printable ASCII characters (no line breaks or control characters)";
      });
  app.add_option("--state", options.statePath, "State file (default: WORKDIR/quoteloom-publish.state)");
  app.add_option("--from-day", options.fromDay, "Publish the stored days from this one (yyyymmdd) on again")
      ->check([](const std::string& v) {
        const bool digits = v.size() == 8 && v.find_first_not_of("0123456789") == std::string::npos;
        return digits && IsCalendarDate(std::atoi(v.c_str())) ? std::string()
                                                              : "\"" + v + "\" is not a date yyyymmdd";
      });
  app.add_option("--max-pending", options.maxPending, "Publishes that may wait for their acknowledgement")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  app.add_option("--exit-when-idle", options.exitWhenIdleSeconds,
                 "End once everything is acknowledged and nothing new came for this many seconds")
      ->check(CLI::Range(0.0, 86400.0 * 365));
  std::string metricsText = "127.0.0.1:9471";
  AddMetricsOption(app, &metricsText);
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return *exitCode;
  std::string error;
  if (!ValidateClusterSettings(settings, &error)) return commandLine.UsageError(error);
  PublisherCounters counters;
  MetricsEndpoint metrics;
  const bool serving = StartProgramMetrics(&metrics, metricsText, "quoteloom-publish", [&](SampleSet& s) {
    AddPublisherSamples(counters, s);
  });
  if (!serving) return kExitUsage;
  const ServiceNotifier notifier;
  options.metrics = &metrics;
  options.counters = &counters;
  options.notifier = &notifier;
  return RunUntilStopSignal([&](const std::atomic<bool>& stop) {
    TickPublisher publisher(settings, options);
    return publisher.Run(stop);
  });
}
