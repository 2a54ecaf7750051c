#ifndef QUOTELOOM_TOOLS_DATA_PACKED_DAY_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_PACKED_DAY_SOURCE_H

#include <sys/stat.h>

#include <string>
#include <vector>

#include "storage/packed_day_reader.h"
#include "tools/data/exact_record_source.h"

// A packed day History/<day>.qth, read in the journal's order (storage/packed_day_reader): the same
// ticks, in the same order, as its journal, so every command gives the same output from either. A
// skipped contract's blocks are not read. One thread.
class PackedDaySource : public ExactRecordSource {
 public:
  explicit PackedDaySource(std::string path);

  // Opens the file and checks its header and index; false with error() set when it is refused.
  bool Open();

  Result Next(SourceTick* tick) override;
  const std::vector<std::string>& Listed() const override { return listed_; }
  void Skip(std::string_view contract) override;
  bool Modified(std::string_view contract, timespec* when) const override;
  bool Settled(std::string_view) const override { return settled_; }
  std::string ContractError(std::string_view) const override { return {}; }
  const std::vector<std::string>& FileErrors() const override { return file_errors_; }
  std::uint64_t Damaged() const override { return reader_.badRecords(); }
  const std::string& Path() const override { return path_; }
  const std::string& error() const override { return error_; }

 private:
  const std::string path_;
  PackedDayReader reader_;
  struct stat info_{};  // as the pass began
  bool settled_ = false;
  const std::vector<std::string> listed_;       // none, as for its journal: contracts are known as read
  const std::vector<std::string> file_errors_;  // none: a damaged packed day ends the day
  std::string error_;
};

#endif
