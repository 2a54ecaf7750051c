#ifndef QUOTELOOM_TOOLS_DATA_JOURNAL_REPLAYABLE_WRITER_H
#define QUOTELOOM_TOOLS_DATA_JOURNAL_REPLAYABLE_WRITER_H

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "storage/journal_reader.h"
#include "tools/data/replayable_day.h"
#include "tools/data/replayable_writer.h"

// Writes the replay files of one trading day from its exact journal Journal/<day>.qtj, in one pass
// in journal order. Memory stays bounded whatever the journal's size: each contract's lines go out
// to its temporary file in blocks, and only the contracts whose file is out of date are kept.
// A file carries the journal's modification time once the journal is finished (unchanged for the
// stable age, no partial record), which is what "up to date" means; a journal still growing makes
// every file again on the next run. One thread.
class JournalReplayableWriter {
 public:
  // A contract's lines go to its file once they reach this many bytes, and all contracts' once
  // their sum does.
  static constexpr std::size_t kFlushBytes = 256 * 1024;
  static constexpr std::size_t kBufferBudget = 32 * 1024 * 1024;
  // Distinct contracts a journal may name; records of further ones are left out and reported.
  static constexpr std::size_t kMaxContracts = 20000;

  JournalReplayableWriter(const std::filesystem::path& workdir, int day, int stableAgeSeconds,
                          const ReplayableSelection& selection);
  JournalReplayableWriter(const JournalReplayableWriter&) = delete;
  JournalReplayableWriter& operator=(const JournalReplayableWriter&) = delete;
  ~JournalReplayableWriter();

  // Smaller blocks, so tests see the flushes with a few records. Call before Run.
  void SetLimitsForTesting(std::size_t flushBytes, std::size_t bufferBudget) {
    flushBytes_ = flushBytes;
    bufferBudget_ = bufferBudget;
  }

  // Does the day's work. `contracts` are those with a per-contract file: one the journal lacks is
  // copied from that file instead (reported), so no stored tick is lost.
  ReplayableDay Run(const std::vector<std::string>& contracts);

 private:
  struct Output;

  bool AllUpToDate(const std::vector<std::string>& contracts) const;
  bool TargetIsUpToDate(const std::string& contract) const;
  Output* OutputFor(const TickRecord& tick);
  void Add(Output* output, const JournalEntry& entry);
  bool Flush(Output* output, const timespec* stamp);
  void FlushAll();
  void Finish(bool finished);
  void Discard();

  const std::filesystem::path workdir_;
  const int day_;
  const int stableAgeSeconds_;
  const ReplayableSelection selection_;

  std::size_t flushBytes_ = kFlushBytes;
  std::size_t bufferBudget_ = kBufferBudget;

  struct stat journalInfo_{};  // as the pass began
  std::map<std::string, Output, std::less<>> outputs_;  // by contract, in name order
  std::size_t buffered_ = 0;
  std::uint64_t unnamedRecords_ = 0;  // codes that cannot name a file, or beyond kMaxContracts
  std::string line_;
  std::string stamp_;
  ReplayableDay result_;
};

#endif
