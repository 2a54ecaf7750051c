#ifndef QUOTELOOM_CLUSTER_CLUSTER_METRICS_H
#define QUOTELOOM_CLUSTER_CLUSTER_METRICS_H

#include <chrono>
#include <string>

#include "cluster/archive_counters.h"
#include "cluster/publisher_counters.h"
#include "metrics/sample_set.h"

// The samples of quoteloom-publish and quoteloom-archive, read from their loops' counters at
// scrape time on the metrics endpoint's threads.

// Either program counts as stalled when it has work and made no progress for this long.
inline constexpr std::chrono::seconds kClusterStallAfter{60};

struct ClusterHealth {
  bool healthy;
  const char* reason;  // "ok", "disconnected", "stalled"
};

ClusterHealth JudgePublisher(const PublisherCounters& c, std::int64_t nowNanos);
ClusterHealth JudgeArchive(const ArchiveCounters& c, std::int64_t nowNanos);

void AddPublisherSamples(const PublisherCounters& c, SampleSet& s);
// `folder`: the archive's working folder, whose filesystem's free space is sampled.
void AddArchiveSamples(const ArchiveCounters& c, const std::string& folder, SampleSet& s);

#endif
