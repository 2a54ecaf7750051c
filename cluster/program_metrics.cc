#include "cluster/program_metrics.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "metrics/callback_collectable.h"
#include "metrics/process_stats.h"

void AddMetricsOption(CLI::App& app, std::string* text) {
  app.add_option("--metrics", *text, "Serve Prometheus metrics at http://HOST:PORT/metrics, or off")
      ->capture_default_str()
      ->check([](const std::string& v) {
        MetricsAddress address;
        std::string error;
        return ParseMetricsAddress(v, &address, &error) ? std::string() : error;
      });
}

bool StartProgramMetrics(MetricsEndpoint* endpoint, const std::string& text, const char* program,
                         std::function<void(SampleSet&)> samples) {
  MetricsAddress address;
  std::string error;
  ParseMetricsAddress(text, &address, &error);
  endpoint->Register(std::make_shared<CallbackCollectable>([samples = std::move(samples)](SampleSet& s) {
    samples(s);
    AddProcessSamples(s);
  }));
  if (!endpoint->Start(address, &error)) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return false;
  }
  if (endpoint->running()) {
    std::fprintf(stderr, "%s: metrics on http://%s:%u/metrics\n", program, address.host.c_str(), endpoint->port());
  }
  return true;
}
