#include "cluster/archive_writer.h"

#include <filesystem>
#include <vector>

#include "cluster/filing_day.h"
#include "cluster/line_scan.h"
#include "cluster/tick_id.h"
#include "core/contract_code.h"
#include "core/errno_text.h"
#include "storage/storage_paths.h"

namespace {

// Two collectors whose clocks differ by up to this much may file one tick under different days
// around 18:00; both days are searched for it.
constexpr int kClockSkewSeconds = 600;

}  // namespace

ArchiveWriter::ArchiveWriter(std::string root, std::size_t maxDaysHeld)
    : root_(std::move(root)), maxDaysHeld_(maxDaysHeld < 3 ? 3 : maxDaysHeld) {}

std::string ArchiveWriter::TimeStreamPath(const std::string& day) const {
  return root_ + "/" + kTimeStreamDirectory + "/" + day + ".csv";
}

std::string ArchiveWriter::ContractPath(const std::string& day, std::string_view contract) const {
  return root_ + "/" + kDataDirectory + "/" + day + "/" + std::string(contract) + ".csv";
}

ArchiveWriter::Result ArchiveWriter::Store(const StoredTickLine& line, std::string* error) {
  const std::string day = FilingDayOfStamp(line.writeStamp());
  // The collector's own code rule: the archive stores no tick a collector would have refused.
  if (day.empty() || !IsContractCode(line.contract())) {
    ++counters_.refused;
    *error = day.empty() ? "write stamp is not a date and time" : "contract code the collector refuses";
    return Result::kRefused;
  }
  const TickId id = TickIdOf(line);
  for (const std::string& d : {day, FilingDayOfStamp(line.writeStamp(), -kClockSkewSeconds),
                               FilingDayOfStamp(line.writeStamp(), kClockSkewSeconds)}) {
    DayIndex* index = Day(d, error);
    if (index == nullptr) {
      ++counters_.failures;
      return Result::kFailed;
    }
    if (index->ids.Contains(id)) {
      ++counters_.duplicates;
      return Result::kDuplicate;
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(root_ + "/" + kTimeStreamDirectory, ec);
  std::filesystem::create_directories(root_ + "/" + kDataDirectory + "/" + day, ec);
  const bool written = Append(TimeStreamPath(day), std::string(line.text), error) &&
                       Append(ContractPath(day, line.contract()), FixedStyleLine(line), error);
  if (!written) {
    // Rebuilt, and repaired, from the files when the day is next needed.
    days_.erase(day);
    ++counters_.failures;
    return Result::kFailed;
  }
  if (DayIndex* index = Day(day, error)) index->ids.Insert(id);
  ++counters_.ticksWritten;
  return Result::kWritten;
}

bool ArchiveWriter::Append(const std::string& path, const std::string& text, std::string* error) {
  int failure = 0;
  if (env_.AppendToFile(path.c_str(), text.data(), text.size(), &failure) == FileEnv::AppendStatus::kOk) return true;
  *error = "cannot append to " + path + ": " + (failure == kNotARegularFile ? "not a regular file" : ErrnoText(failure));
  return false;
}

ArchiveWriter::DayIndex* ArchiveWriter::Day(const std::string& day, std::string* error) {
  auto it = days_.find(day);
  if (it == days_.end()) {
    while (days_.size() >= maxDaysHeld_) {
      auto oldest = days_.begin();
      for (auto i = days_.begin(); i != days_.end(); ++i) {
        if (i->second.lastUse < oldest->second.lastUse) oldest = i;
      }
      days_.erase(oldest);
    }
    DayIndex index;
    if (!LoadDay(day, &index, error)) return nullptr;
    it = days_.emplace(day, std::move(index)).first;
  }
  it->second.lastUse = ++uses_;
  return &it->second;
}

bool ArchiveWriter::LoadDay(const std::string& day, DayIndex* index, std::string* error) {
  std::map<std::string, std::uint64_t> perContract;
  std::uint64_t whole = 0, size = 0;
  const auto onLine = [&](std::string_view text) {
    StoredTickLine line;
    if (!ParseStoredTickLine(text, &line)) return;
    index->ids.Insert(TickIdOf(line));
    ++perContract[std::string(line.contract())];
  };
  if (!ScanLines(TimeStreamPath(day), onLine, &whole, &size, error)) return false;
  if (whole < size) {
    if (!CutPartialTail(TimeStreamPath(day), whole, error)) return false;
    ++counters_.repairedLines;
  }
  return RepairContractFiles(day, perContract, error);
}

bool ArchiveWriter::RepairContractFiles(const std::string& day, const std::map<std::string, std::uint64_t>& lines,
                                        std::string* error) {
  // Lines are written time-stream first, so a crash can leave a per-contract file short (or with a
  // partial last line), never long: its missing lines are the contract's last ones in the day.
  std::map<std::string, std::uint64_t> missing;
  for (const auto& [contract, expected] : lines) {
    const std::string path = ContractPath(day, contract);
    std::uint64_t count = 0, whole = 0, size = 0;
    if (!ScanLines(path, [&](std::string_view) { ++count; }, &whole, &size, error)) return false;
    if (whole < size) {
      if (!CutPartialTail(path, whole, error)) return false;
      ++counters_.repairedLines;
    }
    if (count < expected) missing[contract] = expected - count;
  }
  if (missing.empty()) return true;
  std::map<std::string, std::vector<std::string>> tails;  // the contract's last lines, newest last
  std::uint64_t whole = 0, size = 0;
  const auto onLine = [&](std::string_view text) {
    StoredTickLine line;
    if (!ParseStoredTickLine(text, &line)) return;
    const auto it = missing.find(std::string(line.contract()));
    if (it == missing.end()) return;
    auto& tail = tails[it->first];
    tail.push_back(FixedStyleLine(line));
    if (tail.size() > it->second) tail.erase(tail.begin());
  };
  if (!ScanLines(TimeStreamPath(day), onLine, &whole, &size, error)) return false;
  std::error_code ec;
  std::filesystem::create_directories(root_ + "/" + kDataDirectory + "/" + day, ec);
  for (const auto& [contract, tail] : tails) {
    for (const std::string& text : tail) {
      if (!Append(ContractPath(day, contract), text, error)) return false;
      ++counters_.repairedLines;
    }
  }
  return true;
}
