#ifndef QUOTELOOM_COLLECTOR_COLLECTOR_METRICS_H
#define QUOTELOOM_COLLECTOR_COLLECTOR_METRICS_H

#include <chrono>
#include <functional>
#include <string>

#include "metrics/metrics_endpoint.h"
#include "metrics/sample_set.h"

// Where both programs serve the collector's metrics unless told otherwise.
inline constexpr const char* kCollectorMetricsDefault = "127.0.0.1:9470";

class CollectorHealth;
class CollectorRuntime;

// The collector's metrics: read at scrape time, on the endpoint's threads, from the counters the
// intake, the writer and the replay service keep as relaxed atomics, so the tick path never
// touches the metrics library. Started and stopped by the thread that owns the runtime.
class CollectorMetrics {
 public:
  CollectorMetrics(const CollectorRuntime& runtime, CollectorHealth& health);

  // Serves /metrics at `address`, or waits for it while another program holds the port; see
  // MetricsEndpoint::Start.
  MetricsEndpoint::Outcome Start(const MetricsAddress& address, std::string* error,
                                 std::function<void(const std::string&)> bound = nullptr);
  unsigned short port() const { return endpoint_.port(); }
  // "metrics not served" while waiting for the address, else empty; from any thread.
  const char* StatusNote() const { return endpoint_.StatusNote(); }

  // Every sample of one scrape (the process's figures included).
  void Fill(SampleSet& samples) const;

  // More samples for each scrape, read by `fill` on the endpoint's threads. Call before Start.
  void AddSamples(std::function<void(SampleSet&)> fill);

 private:
  const CollectorRuntime& runtime_;
  CollectorHealth& health_;
  const std::chrono::steady_clock::time_point created_;
  MetricsEndpoint endpoint_;
};

#endif
