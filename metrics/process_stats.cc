#include "metrics/process_stats.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/open_regular_file.h"

namespace {

// Seconds since the epoch at which the machine booted, from /proc/stat's btime.
double BootTimeSeconds() {
  int error = 0;
  FILE* f = OpenRegularStream("/proc/stat", O_RDONLY, "r", &error);
  if (f == nullptr) return 0;
  char line[256];
  double boot = 0;
  while (std::fgets(line, sizeof(line), f) != nullptr) {
    unsigned long long value = 0;
    if (std::sscanf(line, "btime %llu", &value) == 1) {
      boot = static_cast<double>(value);
      break;
    }
  }
  std::fclose(f);
  return boot;
}

std::uint64_t CountDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  std::uint64_t count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count > 0 ? count - 1 : 0;  // less the directory's own descriptor
}

// Threads (field 20) and start time in clock ticks after boot (field 22) of /proc/self/stat.
void ReadStat(ProcessStats* stats) {
  int error = 0;
  FILE* f = OpenRegularStream("/proc/self/stat", O_RDONLY, "r", &error);
  if (f == nullptr) return;
  char buffer[1024];
  const std::size_t n = std::fread(buffer, 1, sizeof(buffer) - 1, f);
  std::fclose(f);
  buffer[n] = '\0';
  // The command name may hold spaces and parentheses; the fields start after the last ')'.
  const char* p = std::strrchr(buffer, ')');
  if (p == nullptr) return;
  long long threads = 0;
  unsigned long long startTicks = 0;
  if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %lld %*d %llu", &threads,
                  &startTicks) != 2) {
    return;
  }
  stats->threads = static_cast<std::uint64_t>(threads);
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  if (ticksPerSecond > 0) stats->startTimeSeconds = BootTimeSeconds() + static_cast<double>(startTicks) / ticksPerSecond;
}

}  // namespace

ProcessStats ReadProcessStats() {
  ProcessStats stats;
  int error = 0;
  if (FILE* f = OpenRegularStream("/proc/self/statm", O_RDONLY, "r", &error)) {
    unsigned long long size = 0, resident = 0;
    if (std::fscanf(f, "%llu %llu", &size, &resident) == 2) {
      stats.residentBytes = resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    }
    std::fclose(f);
  }
  stats.openDescriptors = CountDescriptors();
  ReadStat(&stats);
  return stats;
}

void AddProcessSamples(SampleSet& samples) {
  static const double startTime = ReadProcessStats().startTimeSeconds;  // fixed for the process's life
  const ProcessStats stats = ReadProcessStats();
  samples.Gauge("quoteloom_process_resident_memory_bytes", "Resident memory of the process", stats.residentBytes);
  samples.Gauge("quoteloom_process_open_fds", "Open file descriptors of the process", stats.openDescriptors);
  samples.Gauge("quoteloom_process_threads", "Threads of the process", stats.threads);
  samples.Gauge("quoteloom_process_start_time_seconds", "Start time of the process since the Unix epoch", startTime);
}
