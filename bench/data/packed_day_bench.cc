// packed_day_bench WORKDIR DAY [--no-xz]: packs Journal/<day>.qtj of a working folder into
// History/<day>.qth and prints, beside the general compressors on the same journal, the packed bytes
// per tick, the packing rate, and the reading rate of the packed day against the journal (one core;
// the files sit in the page cache after the first pass).
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

// Whole records per second and a sum of their fields that the compiler cannot drop.
template <typename Reader>
double ReadRate(Reader& reader, std::uint64_t* records, double* sum) {
  const auto start = std::chrono::steady_clock::now();
  JournalEntry entry;
  std::string error;
  *records = 0;
  *sum = 0;
  while (reader.Next(&entry, &error) == Reader::Result::kRecord) {
    ++*records;
    *sum += entry.tick.LastPrice + entry.tick.BidVolume1;
  }
  return *records / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: packed_day_bench WORKDIR DAY [--no-xz]\n");
    return 2;
  }
  const std::string workdir = argv[1];
  const std::string day = argv[2];
  const bool xz = !(argc > 3 && std::strcmp(argv[3], "--no-xz") == 0);
  const std::string journal = JournalDayPath(workdir, day);
  const std::string packed = PackedDayPath(workdir, day);

  PackReport report;
  std::string error;
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (!PackJournalDay(workdir, day, &report, &error)) {
      std::fprintf(stderr, "packed_day_bench: %s\n", error.c_str());
      return 1;
    }
    best = std::min(best, Seconds(start));
  }
  const double ticks = static_cast<double>(report.records);
  std::printf("journal            %12llu bytes  %8.0f ticks  %6.1f bytes/tick\n",
              static_cast<unsigned long long>(report.journal_bytes), ticks, report.journal_bytes / ticks);
  std::printf("packed (.qth)      %12llu bytes                  %6.1f bytes/tick  pack %.2f s, %.2f M ticks/s (best of 3, verify included)\n",
              static_cast<unsigned long long>(report.packed_bytes), report.packed_bytes / ticks, best,
              ticks / best / 1e6);
  struct Tool {
    const char* name;
    const char* command;
  };
  std::vector<Tool> tools = {{"zstd -3", "zstd -q -3"}, {"zstd -19", "zstd -q -19"}};
  if (xz) tools.push_back({"xz -6", "xz -6"});
  for (const Tool& tool : tools) {
    double bytes = 0;
    double seconds = 0;
    if (!Compressed(tool.command, journal, &bytes, &seconds)) {
      std::printf("%-18s (failed to run)\n", tool.name);
      continue;
    }
    std::printf("%-18s %12.0f bytes                  %6.1f bytes/tick  %.1f s  (.qth is %.2f of it)\n", tool.name,
                bytes, bytes / ticks, seconds, report.packed_bytes / bytes);
  }

  for (int round = 0; round < 2; ++round) {
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
    const double journalRate = ReadRate(journalReader, &journalRecords, &journalSum);
    const double packedRate = ReadRate(packedReader, &packedRecords, &packedSum);
    std::printf("read (round %d)     journal %.2f M ticks/s, packed %.2f M ticks/s (%.2fx); records %llu / %llu%s\n",
                round + 1, journalRate / 1e6, packedRate / 1e6, packedRate / journalRate,
                static_cast<unsigned long long>(journalRecords), static_cast<unsigned long long>(packedRecords),
                journalSum == packedSum ? "" : "  VALUES DIFFER");
  }
  return 0;
}
