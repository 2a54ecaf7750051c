// quoteloom-archive: writes a NATS JetStream stream of ticks into the collector's file tree,
// one copy of each tick, and resumes as the stream's durable consumer after any stop.

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "cluster/cluster_metrics.h"
#include "cluster/cluster_settings.h"
#include "cluster/run_until_stop_signal.h"
#include "cluster/tick_archiver.h"
#include "metrics/callback_collectable.h"
#include "metrics/metrics_endpoint.h"
#include "metrics/process_stats.h"
#include "metrics/service_notifier.h"

int main(int argc, char** argv) {
  ClusterSettings settings;
  TickArchiver::Options options;
  CLI::App app{"Writes the ticks of a NATS JetStream stream into the collector's file tree.", "quoteloom-archive"};
  AddClusterOptions(app, settings);
  app.add_option("--durable", options.durable, "Name of the archive's durable consumer")->capture_default_str();
  app.add_option("--days-in-memory", options.maxDaysHeld, "Days whose tick ids are held in memory at once")
      ->capture_default_str()
      ->check(CLI::Range(3, 1000));
  std::string metricsText = "127.0.0.1:9472";
  app.add_option("--metrics", metricsText, "Serve Prometheus metrics at http://HOST:PORT/metrics, or off")
      ->capture_default_str()
      ->check([](const std::string& v) {
        MetricsAddress address;
        std::string error;
        return ParseMetricsAddress(v, &address, &error) ? std::string() : error;
      });
  CLI11_PARSE(app, argc, argv);
  std::error_code ec;
  std::filesystem::create_directories(settings.workdir, ec);
  std::string error;
  if (options.durable.empty() || options.durable.find_first_of(" .*>") != std::string::npos) {
    std::fprintf(stderr, "quoteloom-archive: --durable: no spaces, '.', '*' or '>'\n");
    return 2;
  }
  if (!ValidateClusterSettings(settings, &error)) {
    std::fprintf(stderr, "quoteloom-archive: %s\n", error.c_str());
    return 2;
  }
  // A program asked for metrics it cannot serve would look dead to its alerts: it ends instead.
  ArchiveCounters counters;
  MetricsAddress metricsAddress;
  ParseMetricsAddress(metricsText, &metricsAddress, &error);
  MetricsEndpoint metrics;
  metrics.Register(std::make_shared<CallbackCollectable>([&](SampleSet& s) {
    AddArchiveSamples(counters, settings.workdir, s);
    AddProcessSamples(s);
  }));
  if (!metrics.Start(metricsAddress, &error)) {
    std::fprintf(stderr, "quoteloom-archive: %s\n", error.c_str());
    return 1;
  }
  if (metrics.running()) {
    std::printf("quoteloom-archive: metrics on http://%s:%u/metrics\n", metricsAddress.host.c_str(), metrics.port());
  }
  const ServiceNotifier notifier;
  options.counters = &counters;
  options.notifier = &notifier;
  return RunUntilStopSignal([&](const std::atomic<bool>& stop) {
    TickArchiver archiver(settings, options);
    return archiver.Run(stop);
  });
}
