#ifndef QUOTELOOM_TOOLS_DATA_CSV_DAY_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_CSV_DAY_SOURCE_H

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sessions/tick_classifier.h"
#include "tools/data/file_read_ahead.h"
#include "tools/data/line_block_reader.h"
#include "tools/data/tick_source.h"

// A day of the collector's per-contract files Data/<day>/<contract>.csv, read contract by contract
// in name order, each file to its last whole line. A file that cannot be opened or read is noted
// and the day goes on. One thread; the files are read ahead on a thread of their own.
class CsvDaySource : public TickSource {
 public:
  CsvDaySource(const std::filesystem::path& workdir, int day);
  ~CsvDaySource() override;

  // Lists the day folder; false with error() set when it cannot be read.
  bool Open();
  // Reads only these contracts' files, without listing the folder.
  void OpenContracts(const std::vector<std::string>& contracts);

  Result Next(SourceTick* tick) override;
  SourceValues Values(std::uint32_t fields) override;
  const CollectedLine* Fields() override;
  std::string_view FieldText(CollectedField field) override { return fields_.field[field]; }
  bool HasLine() override { return fields_ok_; }
  bool StoresText() const override { return true; }
  bool KeepsWholeRecords() const override { return false; }
  const std::vector<std::string>& Listed() const override { return contracts_; }
  void Skip(std::string_view contract) override { skipped_.emplace(contract); }
  bool Modified(std::string_view contract, timespec* when) const override;
  bool Settled(std::string_view contract) const override;
  std::string ContractError(std::string_view contract) const override;
  const std::vector<std::string>& FileErrors() const override { return file_errors_; }
  std::uint64_t Damaged() const override { return 0; }
  const std::string& Path() const override { return folder_; }
  const std::string& error() const override { return error_; }

 private:
  bool OpenNextFile();
  void EndFile();

  const std::filesystem::path workdir_;
  const int day_;
  std::string folder_;
  std::vector<std::string> contracts_;
  std::set<std::string, std::less<>> skipped_;
  std::string error_;
  std::vector<std::string> file_errors_;
  std::map<std::string, std::string, std::less<>> contract_errors_;
  std::set<std::string, std::less<>> settled_;

  // The files of the pass, read ahead on a thread of their own from the first Next on.
  std::unique_ptr<FileReadAhead> ahead_;
  std::vector<std::size_t> ahead_contracts_;  // the contract of each file of ahead_
  std::size_t ahead_next_ = 0;                // the next of them to open

  // The file being read.
  std::unique_ptr<LineBlockReader> reader_;
  const std::string* contract_ = nullptr;
  std::uint64_t number_ = 0;
  std::uint64_t overlong_left_ = 0;  // overlong lines still to hand out as malformed, after the file
  CollectedLine fields_;
  bool fields_ok_ = false;
  bool decoded_ = false;          // the texts of record_ are set
  std::uint32_t decoded_fields_ = 0;  // and these numbers
  TickRecord record_{};
  std::uint32_t unreadable_ = 0;
  TickClassifier::StampReader stamps_;
};

#endif
