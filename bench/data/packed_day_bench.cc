// packed_day_bench WORKDIR DAY [--no-xz | --speed-only | --read-only | --pack-only]: packs Journal/<day>.qtj
// of a working folder into History/<day>.qth and prints, beside the general compressors on the same journal,
// the packed bytes per tick, the packing rate, and the reading rate of the packed day against the journal
// (the files sit in the page cache after the first pass), and the time to read the busiest contract's ticks
// alone from each. --read-only reads a day packed before, five times; --cold drops both files from the page
// cache before each read, so they come from the disk; --pack-only packs three times and reads nothing, for
// profiling the packer.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/day_packer.h"
#include "storage/journal_reader.h"
#include "storage/packed_day_reader.h"
#include "storage/storage_paths.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU seconds of the whole process (a reader's own threads included): steadier than the clock on a machine
// shared with other work.
double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Bytes of the journal through a command-line compressor, and its seconds.
bool Compressed(const std::string& command, const std::string& path, double* bytes, double* seconds) {
  const std::string line = command + " -c '" + path + "' | wc -c";
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return false;
  const bool read = std::fscanf(pipe, "%lf", bytes) == 1;
  *seconds = Seconds(start);
  return ::pclose(pipe) == 0 && read;
}

// Whole records per second (by the clock and by CPU time) and a sum of their fields that the compiler cannot
// drop.
template <typename Reader>
double ReadRate(Reader& reader, std::uint64_t* records, double* sum, double* cpuRate) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  JournalEntry entry;
  std::string error;
  *records = 0;
  *sum = 0;
  while (reader.Next(&entry, &error) == Reader::Result::kRecord) {
    ++*records;
    *sum += entry.tick.LastPrice + entry.tick.BidVolume1;
  }
  *cpuRate = *records / (CpuSeconds() - cpu);
  return *records / Seconds(start);
}

// Asks the kernel to forget the file's cached pages, so the next read comes from the disk, as it does for a
// day read long after it was written.
bool DropFromPageCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool dropped = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  ::close(fd);
  return dropped;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: packed_day_bench WORKDIR DAY [--no-xz | --speed-only | --read-only | --pack-only] [--cold]\n");
    return 2;
  }
  const std::string workdir = argv[1];
  const std::string day = argv[2];
  std::string option;
  bool cold = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cold") == 0) {
      cold = true;
    } else {
      option = argv[i];
    }
  }
  const bool xz = option.empty();
  const bool readOnly = option == "--read-only";
  const bool packOnly = option == "--pack-only";
  const bool compressors = option != "--speed-only" && !readOnly && !packOnly;
  const std::string journal = JournalDayPath(workdir, day);
  const std::string packed = PackedDayPath(workdir, day);

  PackReport report;
  std::string error;
  double best = 1e30;
  double bestCpu = 1e30;
  for (int round = 0; round < (readOnly ? 0 : 3); ++round) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    if (!PackJournalDay(workdir, day, &report, &error)) {
      std::fprintf(stderr, "packed_day_bench: %s\n", error.c_str());
      return 1;
    }
    best = std::min(best, Seconds(start));
    bestCpu = std::min(bestCpu, CpuSeconds() - cpu);
  }
  const double ticks = static_cast<double>(report.records);
  if (!readOnly) {
    std::printf("journal            %12llu bytes  %8.0f ticks  %6.1f bytes/tick\n",
                static_cast<unsigned long long>(report.journal_bytes), ticks, report.journal_bytes / ticks);
    std::printf(
        "packed (.qth)      %12llu bytes                  %6.1f "
        "bytes/tick  pack with its check: %.2f s, %.2f M "
        "ticks/s; CPU %.2f s, %.2f M ticks/s (best of 3)\n",
        static_cast<unsigned long long>(report.packed_bytes), report.packed_bytes / ticks, best, ticks / best / 1e6,
        bestCpu, ticks / bestCpu / 1e6);
  }
  struct Tool {
    const char* name;
    const char* command;
  };
  std::vector<Tool> tools;
  if (compressors) tools = {{"zstd -3", "zstd -q -3"}, {"zstd -19", "zstd -q -19"}};
  if (xz) tools.push_back({"xz -6", "xz -6"});
  for (const Tool& tool : tools) {
    double bytes = 0;
    double seconds = 0;
    if (!Compressed(tool.command, journal, &bytes, &seconds)) {
      std::printf("%-18s (failed to run)\n", tool.name);
      continue;
    }
    std::printf(
        "%-18s %12.0f bytes                  %6.1f bytes/tick  %.1f s  "
        "(.qth is %.2f of it)\n",
        tool.name, bytes, bytes / ticks, seconds, report.packed_bytes / bytes);
  }

  if (packOnly) return 0;
  for (int round = 0; round < (readOnly ? 5 : 2); ++round) {
    if (cold && !(DropFromPageCache(journal) && DropFromPageCache(packed))) {
      std::fprintf(stderr, "packed_day_bench: cannot drop the files from the page cache\n");
      return 1;
    }
    JournalReader journalReader;
    PackedDayReader packedReader;
    if (!journalReader.Open(journal, &error) || !packedReader.Open(packed, &error)) {
      std::fprintf(stderr, "packed_day_bench: %s\n", error.c_str());
      return 1;
    }
    journalReader.ReadAhead();
    std::uint64_t journalRecords = 0;
    std::uint64_t packedRecords = 0;
    double journalSum = 0;
    double packedSum = 0;
    double journalCpu = 0;
    double packedCpu = 0;
    const double journalRate = ReadRate(journalReader, &journalRecords, &journalSum, &journalCpu);
    const double packedRate = ReadRate(packedReader, &packedRecords, &packedSum, &packedCpu);
    std::printf(
        "read%s (round %d) journal %.2f M ticks/s (CPU %.2f M/s), "
        "packed %.2f M ticks/s (CPU %.2f M/s): "
        "%.2fx; records %llu / %llu%s\n",
        cold ? " from disk" : "", round + 1, journalRate / 1e6, journalCpu / 1e6, packedRate / 1e6, packedCpu / 1e6,
        packedRate / journalRate, static_cast<unsigned long long>(journalRecords),
        static_cast<unsigned long long>(packedRecords), journalSum == packedSum ? "" : "  VALUES DIFFER");
  }

  // One contract's ticks, as a chart or a study of one contract asks for them: the journal is read whole for
  // them, the packed day reads that contract's blocks alone.
  PackedDayReader contracts;
  if (!contracts.Open(packed, &error)) {
    std::fprintf(stderr, "packed_day_bench: %s\n", error.c_str());
    return 1;
  }
  const std::vector<std::uint64_t> counts = contracts.ContractRecordCounts();
  if (counts.empty()) return 0;
  const std::size_t busiest = static_cast<std::size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
  const std::string code = contracts.contracts()[busiest];
  for (int round = 0; round < 3; ++round) {
    if (cold && !(DropFromPageCache(journal) && DropFromPageCache(packed))) return 1;
    auto start = std::chrono::steady_clock::now();
    JournalReader journalReader;
    if (!journalReader.Open(journal, &error)) return 1;
    journalReader.ReadAhead();
    JournalEntry entry;
    std::uint64_t fromJournal = 0;
    while (journalReader.Next(&entry, &error) == JournalReader::Result::kRecord) {
      fromJournal += code == entry.tick.InstrumentID;
    }
    const double journalSeconds = Seconds(start);
    start = std::chrono::steady_clock::now();
    PackedDayReader packedReader;
    std::vector<JournalEntry> entries;
    if (!packedReader.Open(packed, &error) || !packedReader.ReadContract(code, &entries, &error)) {
      std::fprintf(stderr, "packed_day_bench: %s\n", error.c_str());
      return 1;
    }
    const double packedSeconds = Seconds(start);
    std::printf("one contract%s (round %d) %s: journal %.3f s, packed %.3f s: %.1fx; records %llu / %zu\n",
                cold ? " from disk" : "", round + 1, code.c_str(), journalSeconds, packedSeconds,
                journalSeconds / packedSeconds, static_cast<unsigned long long>(fromJournal), entries.size());
  }
  return 0;
}
