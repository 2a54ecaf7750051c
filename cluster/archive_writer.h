#ifndef QUOTELOOM_CLUSTER_ARCHIVE_WRITER_H
#define QUOTELOOM_CLUSTER_ARCHIVE_WRITER_H

#include <cstdint>
#include <map>
#include <string>

#include "cluster/stored_tick_line.h"
#include "cluster/tick_id_set.h"
#include "storage/posix_file_env.h"

// Writes ticks into the collector's file tree under `root`: the line as it came to
// DataTimeStream/<day>.csv and in fixed style to Data/<day>/<contract>.csv, one open-append-close
// each, the day taken from the line's own write stamp by the collector's rule. It keeps exactly one
// copy of each tick: per day a set of the ids it holds, built from its own time-stream file the first
// time the day is needed, and at that moment it repairs what a crash between the two appends left
// (a partial last line, a per-contract line missing). The archive thread only.
class ArchiveWriter {
 public:
  enum class Result {
    kWritten,    // both lines are in their files
    kDuplicate,  // the tick is already held; nothing written
    kRefused,    // the line cannot be filed (no valid stamp, a code that is not a file name)
    kFailed,     // a file could not be written; try again later
  };
  struct Counters {
    std::uint64_t ticksWritten = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t refused = 0;
    std::uint64_t failures = 0;
    std::uint64_t repairedLines = 0;  // per-contract lines restored or partial lines cut at load
  };

  // `maxDaysHeld`: id sets kept in memory at once; the least recently used day is dropped and
  // rebuilt from its file when it is needed again.
  explicit ArchiveWriter(std::string root, std::size_t maxDaysHeld = 3);

  Result Store(const StoredTickLine& line, std::string* error);
  const Counters& counters() const { return counters_; }

 private:
  struct DayIndex {
    TickIdSet ids;
    std::uint64_t lastUse = 0;
  };

  DayIndex* Day(const std::string& day, std::string* error);
  bool LoadDay(const std::string& day, DayIndex* index, std::string* error);
  bool RepairContractFiles(const std::string& day, const std::map<std::string, std::uint64_t>& lines,
                           std::string* error);
  bool Append(const std::string& path, const std::string& text, std::string* error);
  std::string TimeStreamPath(const std::string& day) const;
  std::string ContractPath(const std::string& day, std::string_view contract) const;

  const std::string root_;
  const std::size_t maxDaysHeld_;
  PosixFileEnv env_;
  std::map<std::string, DayIndex> days_;
  std::uint64_t uses_ = 0;
  Counters counters_;
};

#endif
