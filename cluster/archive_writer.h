#ifndef QUOTELOOM_CLUSTER_ARCHIVE_WRITER_H
#define QUOTELOOM_CLUSTER_ARCHIVE_WRITER_H

#include <cstdint>
#include <map>
#include <string>

#include "cluster/tick_id_set.h"
#include "core/journal_settings.h"
#include "storage/journal_format.h"
#include "storage/journal_writer.h"
#include "storage/posix_file_env.h"

// Writes ticks into the collector's file tree under `root`, from their exact records: the record to
// Journal/<day>.qtj, then the lines a collector writes for it, byte for byte, to
// DataTimeStream/<day>.csv and Data/<day>/<contract>.csv (one open-append-close each), the day taken
// from the write time by the collector's rule. It keeps exactly one copy of each tick: per day a set
// of the ids it holds, built from its own time-stream file the first time the day is needed, and at
// that moment it repairs what a crash or a failed append left: a partial last line is cut, records of
// the journal past the time-stream's lines get their lines, and missing per-contract lines are
// written again from the journal. The archive thread only.
class ArchiveWriter {
 public:
  enum class Result {
    kWritten,    // the record and both lines are in their files
    kDuplicate,  // the tick is already held; nothing written
    kRefused,    // the tick cannot be filed (a write time outside the calendar, a code that is not a file name)
    kFailed,     // a file could not be written; try again later
  };
  struct Counters {
    std::uint64_t ticksWritten = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t refused = 0;
    std::uint64_t failures = 0;
    std::uint64_t repairedLines = 0;  // lines written again or partial lines cut at load
  };

  // `maxDaysHeld`: id sets kept in memory at once; the least recently used day is dropped and
  // rebuilt from its file when it is needed again.
  explicit ArchiveWriter(std::string root, std::size_t maxDaysHeld = 3, JournalSync sync = JournalSync::kSecond);

  Result Store(const JournalEntry& entry, std::string* error);
  const Counters& counters() const { return counters_; }

 private:
  struct DayIndex {
    TickIdSet ids;
    std::uint64_t lastUse = 0;
  };

  DayIndex* Day(const std::string& day, std::string* error);
  bool LoadDay(const std::string& day, DayIndex* index, std::string* error);
  // Writes the lines of the journal's records from index `firstRecord` on.
  bool CompleteFromJournal(const std::string& day, std::uint64_t firstRecord, DayIndex* index,
                           std::map<std::string, std::uint64_t>* perContract, std::string* error);
  // `journalRecords`: the journal's first records match the time-stream lines one to one (0: it does
  // not, and the missing lines come from the time-stream lines).
  bool RepairContractFiles(const std::string& day, const std::map<std::string, std::uint64_t>& lines,
                           std::uint64_t journalRecords, std::string* error);
  bool Append(const std::string& path, const char* text, std::size_t size, std::string* error);
  // Relative to root_, and opened below it without following a link.
  std::string TimeStreamPath(const std::string& day) const;
  std::string ContractPath(const std::string& day, std::string_view contract) const;
  // The full path, for the journal's reader.
  std::string JournalPath(const std::string& day) const;
  // DataTimeStream and Data/<day>, made below root_ without following a link.
  void MakeFolders(const std::string& day);

  const std::string root_;
  const std::size_t maxDaysHeld_;
  PosixFileEnv env_;
  JournalWriter journal_;
  std::map<std::string, DayIndex> days_;
  std::uint64_t uses_ = 0;
  Counters counters_;
};

#endif
