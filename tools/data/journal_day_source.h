#ifndef QUOTELOOM_TOOLS_DATA_JOURNAL_DAY_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_JOURNAL_DAY_SOURCE_H

#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "storage/journal_reader.h"
#include "tools/data/tick_source.h"

// A day's exact journal Journal/<day>.qtj, read in one pass in write order (storage/journal_reader,
// with its read-ahead thread). Every contract's ticks come from the one file, so they all share its
// modification time and its state at the end of the pass. One thread.
class JournalDaySource : public TickSource {
 public:
  explicit JournalDaySource(std::string path);

  // Opens the journal and checks its header; false with error() set when it is refused.
  bool Open();

  Result Next(SourceTick* tick) override;
  SourceValues Values(std::uint32_t) override { return {&entry_.tick, 0}; }
  const CollectedLine* Fields() override;
  std::string_view FieldText(CollectedField field) override;
  bool HasLine() override;
  bool StoresText() const override { return false; }
  bool KeepsWholeRecords() const override { return true; }
  const std::vector<std::string>& Listed() const override { return listed_; }
  void Skip(std::string_view contract) override { skipped_.emplace(contract); }
  bool Modified(std::string_view contract, timespec* when) const override;
  bool Settled(std::string_view) const override { return settled_; }
  std::string ContractError(std::string_view) const override { return {}; }
  const std::vector<std::string>& FileErrors() const override { return file_errors_; }
  std::uint64_t Damaged() const override { return reader_.badRecords(); }
  const std::string& Path() const override { return path_; }
  const std::string& error() const override { return error_; }

 private:
  const std::string path_;
  JournalReader reader_;
  struct stat info_{};  // as the pass began
  bool reading_ = false;
  bool settled_ = false;
  std::set<std::string, std::less<>> skipped_;
  const std::vector<std::string> listed_;       // none: contracts are known as read
  const std::vector<std::string> file_errors_;  // none: a journal's damage ends the day or is counted
  std::string error_;

  JournalEntry entry_;
  char stamp_[15] = "";  // yyyymmddHHMMSS (storage/trading_day.h)
  // The arrival second last read and its reading as the classifier takes it: ticks arrive many to
  // a second.
  std::int64_t arrival_second_ = -1;
  std::int64_t arrival_ = -1;
  bool fields_made_ = false;
  bool fields_ok_ = false;
  std::string line_;
  std::string field_text_;
  CollectedLine fields_;
};

#endif
