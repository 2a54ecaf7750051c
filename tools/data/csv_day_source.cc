#include "tools/data/csv_day_source.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "sessions/tick_classifier.h"
#include "tools/data/day_files.h"
#include "tools/data/record_fields.h"

namespace fs = std::filesystem;

namespace {

// A text field into a record's buffer; one that does not fit whole is left empty, so it never
// reads as a shorter valid text.
template <std::size_t N>
void CopyText(std::string_view text, char (&field)[N]) {
  if (text.size() >= N) return;
  std::memcpy(field, text.data(), text.size());
}

}  // namespace

CsvDaySource::CsvDaySource(const fs::path& workdir, int day)
    : workdir_(workdir), day_(day), folder_(DayFolder(workdir, day).string()) {}

CsvDaySource::~CsvDaySource() = default;

bool CsvDaySource::Open() { return ListContracts(workdir_, day_, &contracts_, &error_); }

void CsvDaySource::OpenContracts(const std::vector<std::string>& contracts) { contracts_ = contracts; }

bool CsvDaySource::OpenNextFile() {
  if (ahead_ == nullptr) {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < contracts_.size(); ++i) {
      if (skipped_.count(contracts_[i]) != 0) continue;
      ahead_contracts_.push_back(i);
      paths.push_back((DayFolder(workdir_, day_) / (contracts_[i] + ".csv")).string());
    }
    ahead_ = std::make_unique<FileReadAhead>(std::move(paths));
  }
  while (ahead_next_ < ahead_contracts_.size()) {
    const std::string& contract = contracts_[ahead_contracts_[ahead_next_++]];
    auto reader = std::make_unique<LineBlockReader>();
    const bool opened = reader->Open(ahead_.get());
    if (skipped_.count(contract) != 0) {
      // Left out after the pass began: its pieces are read and dropped.
      std::string_view line;
      while (opened && reader->Next(&line)) {
      }
      continue;
    }
    if (!opened) {
      file_errors_.push_back(reader->error());
      contract_errors_.emplace(contract, reader->error());
      continue;
    }
    reader_ = std::move(reader);
    contract_ = &contract;
    number_ = 0;
    return true;
  }
  return false;
}

// After a file's last whole line: its overlong lines are still to come, as malformed ticks.
void CsvDaySource::EndFile() {
  if (!reader_->error().empty()) {
    file_errors_.push_back(*contract_ + ".csv: " + reader_->error());
    contract_errors_.emplace(*contract_, reader_->error());
  } else if (reader_->consumed() >= static_cast<std::uint64_t>(reader_->size_at_open())) {
    settled_.insert(*contract_);
  }
  overlong_left_ = reader_->overlong();
}

TickSource::Result CsvDaySource::Next(SourceTick* tick) {
  for (;;) {
    if (reader_ == nullptr && !OpenNextFile()) return Result::kEnd;
    std::string_view line;
    if (overlong_left_ == 0 && reader_->Next(&line)) {
      ++number_;
      decoded_ = false;
      fields_ok_ = SplitCollectedLine(line, &fields_);
      *tick = SourceTick{};
      tick->contract = *contract_;
      tick->number = number_;
      tick->malformed = !fields_ok_;
      if (fields_ok_) {
        tick->update_time = fields_.field[kUpdateTime];
        tick->write_stamp = fields_.field[kWriteStamp];
        tick->content = fields_.content;
        tick->arrival = stamps_.Seconds(tick->write_stamp);
      }
      return Result::kTick;
    }
    if (overlong_left_ == 0) EndFile();
    if (overlong_left_ > 0) {
      --overlong_left_;
      fields_ok_ = false;
      *tick = SourceTick{};
      tick->contract = *contract_;
      tick->malformed = true;
      return Result::kTick;
    }
    reader_.reset();
  }
}

SourceValues CsvDaySource::Values(std::uint32_t wanted) {
  if (!fields_ok_) return {nullptr, 0};
  if (!decoded_) {
    decoded_ = true;
    decoded_fields_ = 0;
    record_ = TickRecord{};
    unreadable_ = 0;
    CopyText(fields_.field[kInstrumentID], record_.InstrumentID);
    CopyText(fields_.field[kTradingDay], record_.TradingDay);
    CopyText(fields_.field[kActionDay], record_.ActionDay);
    CopyText(fields_.field[kUpdateTime], record_.UpdateTime);
  }
  const std::uint32_t missing = wanted & ~decoded_fields_;
  if (missing != 0) {
    decoded_fields_ |= missing;
    for (const RecordDoubleField& f : kRecordDoubleFields) {
      if ((missing & (1u << f.field)) == 0) continue;
      if (!ParseWhole(fields_.field[f.field], &(record_.*f.member))) {
        record_.*f.member = 0;
        unreadable_ |= 1u << f.field;
      }
    }
    for (const RecordIntField& f : kRecordIntFields) {
      if ((missing & (1u << f.field)) == 0) continue;
      long long value = 0;
      if (ParseWhole(fields_.field[f.field], &value) && value >= INT_MIN && value <= INT_MAX) {
        record_.*f.member = static_cast<int>(value);
      } else {
        unreadable_ |= 1u << f.field;
      }
    }
  }
  return {&record_, unreadable_};
}

const CollectedLine* CsvDaySource::Fields() { return fields_ok_ ? &fields_ : nullptr; }

bool CsvDaySource::Modified(std::string_view contract, timespec* when) const {
  struct stat info;
  if (::stat((DayFolder(workdir_, day_) / (std::string(contract) + ".csv")).c_str(), &info) != 0) return false;
  *when = info.st_mtim;
  return true;
}

bool CsvDaySource::Settled(std::string_view contract) const { return settled_.count(contract) != 0; }

std::string CsvDaySource::ContractError(std::string_view contract) const {
  const auto it = contract_errors_.find(contract);
  return it == contract_errors_.end() ? std::string() : it->second;
}
