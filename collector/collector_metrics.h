#ifndef QUOTELOOM_COLLECTOR_COLLECTOR_METRICS_H
#define QUOTELOOM_COLLECTOR_COLLECTOR_METRICS_H

#include <chrono>
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

  // Serves /metrics at `address`; false with a message when it cannot (a port in use).
  bool Start(const MetricsAddress& address, std::string* error);
  unsigned short port() const { return endpoint_.port(); }

  // Every sample of one scrape (the process's figures included).
  void Fill(SampleSet& samples) const;

 private:
  const CollectorRuntime& runtime_;
  CollectorHealth& health_;
  const std::chrono::steady_clock::time_point created_;
  MetricsEndpoint endpoint_;
};

#endif
