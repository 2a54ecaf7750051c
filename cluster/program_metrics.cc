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
  const auto said = [program](const std::string& text) { std::fprintf(stderr, "%s: %s\n", program, text.c_str()); };
  switch (endpoint->Start(address, &error, said)) {
    case MetricsEndpoint::Outcome::kRefused:
      said(error);
      return false;
    case MetricsEndpoint::Outcome::kWaiting:
      said(error);
      break;
    case MetricsEndpoint::Outcome::kServing:
      said("metrics on http://" + address.host + ":" + std::to_string(endpoint->port()) + "/metrics");
      break;
    case MetricsEndpoint::Outcome::kOff:
      break;
  }
  return true;
}

std::string MetricsStatusNote(const MetricsEndpoint* endpoint) {
  const char* note = endpoint != nullptr ? endpoint->StatusNote() : "";
  return note[0] == '\0' ? std::string() : std::string(", ") + note;
}
