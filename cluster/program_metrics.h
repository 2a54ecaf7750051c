#ifndef QUOTELOOM_CLUSTER_PROGRAM_METRICS_H
#define QUOTELOOM_CLUSTER_PROGRAM_METRICS_H

#include <functional>
#include <string>

#include "metrics/metrics_endpoint.h"
#include "metrics/sample_set.h"

namespace CLI {
class App;
}

// `--metrics HOST:PORT|off` of the publisher and the archive; `text` holds the default. Main thread.
void AddMetricsOption(CLI::App& app, std::string* text);

// Serves `samples` and the process figures at the address `text` (already checked by the option).
// A program asked for metrics it cannot serve would look dead to its alerts: false after printing
// the reason, and the program ends. Main thread, before the loop starts.
bool StartProgramMetrics(MetricsEndpoint* endpoint, const std::string& text, const char* program,
                         std::function<void(SampleSet&)> samples);

#endif
