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
// A port another program holds costs no message: the reason is printed once and the endpoint binds
// when it can. False after printing the reason when the address can never be served here; the
// program then ends with kExitUsage. Main thread, before the loop starts.
bool StartProgramMetrics(MetricsEndpoint* endpoint, const std::string& text, const char* program,
                         std::function<void(SampleSet&)> samples);

// ", metrics not served" while `endpoint` waits for its address, else empty; for the status lines.
std::string MetricsStatusNote(const MetricsEndpoint* endpoint);

#endif
