#ifndef QUOTELOOM_HISTORY_HISTORY_STATUS_H
#define QUOTELOOM_HISTORY_HISTORY_STATUS_H

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "metrics/sample_set.h"

// What the day-close job has done, for the metrics. Written by the day-close thread, read by the
// metrics endpoint's threads; every field is an independent relaxed atomic.
class HistoryStatus {
 public:
  enum class LastPack { kNone = -1, kFailed = 0, kVerified = 1 };

  void SetHistory(std::uint64_t days, std::uint64_t bytes);
  void PackDone(bool verified, std::int64_t unixSeconds);
  void JournalDeleted() { journalsDeleted_.fetch_add(1, std::memory_order_relaxed); }
  void CsvDeleted() { csvDeleted_.fetch_add(1, std::memory_order_relaxed); }

  std::uint64_t packedDays() const { return packedDays_.load(std::memory_order_relaxed); }
  std::uint64_t packedBytes() const { return packedBytes_.load(std::memory_order_relaxed); }
  LastPack lastPack() const { return static_cast<LastPack>(lastPack_.load(std::memory_order_relaxed)); }

  // The quoteloom_history_* samples.
  void Fill(SampleSet& s) const;

 private:
  std::atomic<std::uint64_t> packedDays_{0};
  std::atomic<std::uint64_t> packedBytes_{0};
  std::atomic<int> lastPack_{static_cast<int>(LastPack::kNone)};
  std::atomic<std::int64_t> lastPackTime_{0};
  std::atomic<std::uint64_t> packsVerified_{0};
  std::atomic<std::uint64_t> packsFailed_{0};
  std::atomic<std::uint64_t> journalsDeleted_{0};
  std::atomic<std::uint64_t> csvDeleted_{0};
};

// Bytes an unprivileged program may still write on the filesystem holding `folder`; -1 when it
// cannot be read. Any thread.
double FreeBytesOf(const std::filesystem::path& folder);

// quoteloom_workdir_free_bytes of `workdir`, read at scrape time.
void AddWorkdirFreeSample(SampleSet& s, const std::filesystem::path& workdir);

#endif
