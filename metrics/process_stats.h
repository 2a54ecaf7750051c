#ifndef QUOTELOOM_METRICS_PROCESS_STATS_H
#define QUOTELOOM_METRICS_PROCESS_STATS_H

#include <cstdint>

#include "metrics/sample_set.h"

// What /proc says about this process. Any thread.
struct ProcessStats {
  std::uint64_t residentBytes = 0;
  std::uint64_t openDescriptors = 0;
  std::uint64_t threads = 0;
  double startTimeSeconds = 0;  // since the Unix epoch
};

// Fields that cannot be read stay 0.
ProcessStats ReadProcessStats();

// quoteloom_process_resident_memory_bytes, _open_fds, _threads and _start_time_seconds.
void AddProcessSamples(SampleSet& samples);

#endif
