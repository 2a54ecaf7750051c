#ifndef QUOTELOOM_TOOLS_DATA_JOURNAL_DAY_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_JOURNAL_DAY_SOURCE_H

#include <sys/stat.h>

#include <string>
#include <vector>

#include "storage/journal_reader.h"
#include "tools/data/exact_record_source.h"

// A day's exact journal Journal/<day>.qtj, read in one pass in write order (storage/journal_reader,
// with its read-ahead thread). Every contract's ticks come from the one file, so they all share its
// modification time and its state at the end of the pass. One thread.
class JournalDaySource : public ExactRecordSource {
 public:
  explicit JournalDaySource(std::string path);

  // Opens the journal and checks its header; false with error() set when it is refused.
  bool Open();

  Result Next(SourceTick* tick) override;
  const std::vector<std::string>& Listed() const override { return listed_; }
  bool Modified(std::string_view contract, timespec* when) const override;
  bool Settled(std::string_view) const override { return settled_; }
  std::string ContractError(std::string_view) const override { return {}; }
  const std::vector<std::string>& FileErrors() const override { return file_errors_; }
  std::uint64_t Damaged() const override { return reader_.badRecords(); }
  const std::string& Path() const override { return path_; }
  const std::string& error() const override { return error_; }

 private:
  static constexpr std::size_t kRecordsPerRead = 2048;

  const std::string path_;
  JournalReader reader_;
  struct stat info_{};  // as the pass began
  bool reading_ = false;
  bool settled_ = false;
  const std::vector<std::string> listed_;       // none: contracts are known as read
  const std::vector<std::string> file_errors_;  // none: a journal's damage ends the day or is counted
  std::string error_;
};

#endif
