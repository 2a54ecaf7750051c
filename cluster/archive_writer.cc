#include "cluster/archive_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <deque>

#include "cluster/exact_tick.h"
#include "cluster/filing_day.h"
#include "cluster/line_scan.h"
#include "cluster/stored_tick_line.h"
#include "cluster/tick_id.h"
#include "core/contract_code.h"
#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "storage/journal_reader.h"
#include "storage/storage_paths.h"

namespace {

// Two collectors whose clocks differ by up to this much may file one tick under different days
// around 18:00; both days are searched for it.
constexpr int kClockSkewSeconds = 600;

}  // namespace

ArchiveWriter::ArchiveWriter(std::string root, std::size_t maxDaysHeld, JournalSync sync)
    : root_(std::move(root)), maxDaysHeld_(maxDaysHeld < 3 ? 3 : maxDaysHeld), env_(root_), journal_(sync, root_) {}

std::string ArchiveWriter::TimeStreamPath(const std::string& day) const {
  return std::string(kTimeStreamDirectory) + "/" + day + ".csv";
}

std::string ArchiveWriter::ContractPath(const std::string& day, std::string_view contract) const {
  return std::string(kDataDirectory) + "/" + day + "/" + std::string(contract) + ".csv";
}

void ArchiveWriter::MakeFolders(const std::string& day) {
  env_.CreateDirectory(kTimeStreamDirectory);
  env_.CreateDirectory((std::string(kDataDirectory) + "/" + day).c_str());
}

std::string ArchiveWriter::JournalPath(const std::string& day) const {
  return JournalDayPath(root_, day);
}

ArchiveWriter::Result ArchiveWriter::Store(const JournalEntry& entry, std::string* error) {
  static thread_local ExactTickLines lines;
  BuildExactTickLines(entry, &lines);
  const std::string& day = lines.day;
  // The collector's own rules: the archive stores no tick a collector would have refused.
  if (day.empty() || !IsContractCode(entry.tick.InstrumentID) || !LineTextIsClean(entry.tick)) {
    ++counters_.refused;
    *error = day.empty() ? "write time outside the calendar"
             : !IsContractCode(entry.tick.InstrumentID) ? "contract code the collector refuses"
                                                         : "text field with a comma or a control character";
    return Result::kRefused;
  }
  const TickId id = TickIdOfContent(lines.exchangeContent());
  for (const std::string& d : {day, FilingDayOfStamp(lines.stamp, -kClockSkewSeconds),
                               FilingDayOfStamp(lines.stamp, kClockSkewSeconds)}) {
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
  // The journal first: what a crash cuts off after it is written again from it when the day is loaded.
  if (!journal_.Append(day.c_str(), entry.tick, entry.writeTimeNs, std::chrono::steady_clock::now(),
                       entry.arrivalTimeNs)) {
    *error = "cannot append to the journal: " + journal_.lastFailureText();
    ++counters_.failures;
    return Result::kFailed;
  }
  MakeFolders(day);
  const bool written = Append(TimeStreamPath(day), lines.general, lines.generalSize, error) &&
                       Append(ContractPath(day, entry.tick.InstrumentID), lines.fixed, lines.fixedSize, error);
  if (!written) {
    // Rebuilt, and repaired from the journal, when the day is next needed.
    days_.erase(day);
    ++counters_.failures;
    return Result::kFailed;
  }
  if (DayIndex* index = Day(day, error)) index->ids.Insert(id);
  ++counters_.ticksWritten;
  return Result::kWritten;
}

bool ArchiveWriter::Append(const std::string& path, const char* text, std::size_t size, std::string* error) {
  int failure = 0;
  if (env_.AppendToFile(path.c_str(), text, size, &failure) == FileEnv::AppendStatus::kOk) return true;
  *error = "cannot append to " + root_ + "/" + path + ": " + (failure == kNotARegularFile ? "not a regular file" : ErrnoText(failure));
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
  std::uint64_t whole = 0, size = 0, lines = 0;
  const auto onLine = [&](std::string_view text) {
    StoredTickLine line;
    if (!ParseStoredTickLine(text, &line)) return;
    index->ids.Insert(TickIdOf(line));
    ++perContract[std::string(line.contract())];
    ++lines;
  };
  if (!ScanLines(root_, TimeStreamPath(day), onLine, &whole, &size, error)) return false;
  if (whole < size) {
    if (!CutPartialTail(root_, TimeStreamPath(day), whole, error)) return false;
    ++counters_.repairedLines;
  }
  // Records and lines are written in the same order, so records past the count of lines are ticks
  // whose lines were never written; a journal with fewer records (a folder older than its journal)
  // cannot say which lines it lacks and is only appended to.
  std::uint64_t records = 0;
  {
    // Never through a link: the reader follows none. Its header gives the version's record size.
    JournalReader journal;
    std::string ignored;
    if (journal.Open(JournalPath(day), &ignored) && journal.sizeAtOpen() > journal.headerSize()) {
      records = (journal.sizeAtOpen() - journal.headerSize()) / journal.recordSize();
    }
  }
  // The per-contract files first, as they were before the crash; then the ticks the journal adds.
  if (!RepairContractFiles(day, perContract, records >= lines && records > 0 ? lines : 0, error)) return false;
  return records <= lines || CompleteFromJournal(day, lines, index, &perContract, error);
}

bool ArchiveWriter::CompleteFromJournal(const std::string& day, std::uint64_t firstRecord, DayIndex* index,
                                        std::map<std::string, std::uint64_t>* perContract, std::string* error) {
  JournalReader reader;
  if (!reader.Open(JournalPath(day), error)) return false;
  if (!reader.Seek(reader.headerSize() + firstRecord * reader.recordSize())) {
    *error = JournalPath(day) + ": cannot reach record " + std::to_string(firstRecord);
    return false;
  }
  MakeFolders(day);
  JournalEntry entry;
  static thread_local ExactTickLines lines;
  for (;;) {
    const JournalReader::Result r = reader.Next(&entry, error);
    if (r == JournalReader::Result::kError) return false;
    if (r == JournalReader::Result::kEnd) return true;
    BuildExactTickLines(entry, &lines);
    if (lines.day != day || !IsContractCode(entry.tick.InstrumentID)) continue;
    const TickId id = TickIdOfContent(lines.exchangeContent());
    if (index->ids.Contains(id)) continue;
    if (!Append(TimeStreamPath(day), lines.general, lines.generalSize, error) ||
        !Append(ContractPath(day, entry.tick.InstrumentID), lines.fixed, lines.fixedSize, error)) {
      return false;
    }
    index->ids.Insert(id);
    ++(*perContract)[entry.tick.InstrumentID];
    counters_.repairedLines += 2;
  }
}

bool ArchiveWriter::RepairContractFiles(const std::string& day, const std::map<std::string, std::uint64_t>& lines,
                                        std::uint64_t journalRecords, std::string* error) {
  // Lines are written time-stream first, so a crash can leave a per-contract file short (or with a
  // partial last line), never long: its missing lines are the contract's last ones in the day.
  std::map<std::string, std::uint64_t, std::less<>> missing;
  for (const auto& [contract, expected] : lines) {
    const std::string path = ContractPath(day, contract);
    std::uint64_t count = 0, whole = 0, size = 0;
    if (!ScanLines(root_, path, [&](std::string_view) { ++count; }, &whole, &size, error)) return false;
    if (whole < size) {
      if (!CutPartialTail(root_, path, whole, error)) return false;
      ++counters_.repairedLines;
    }
    if (count < expected) missing[contract] = expected - count;
  }
  if (missing.empty()) return true;
  std::map<std::string, std::deque<std::string>> tails;  // the contract's last lines, newest last
  const auto keep = [&](std::string_view contract, std::string line) {
    const auto it = missing.find(contract);
    if (it == missing.end()) return;
    auto& tail = tails[it->first];
    tail.push_back(std::move(line));
    if (tail.size() > it->second) tail.pop_front();
  };
  if (journalRecords > 0) {
    // The exact lines, from the records that match the time-stream lines.
    JournalReader reader;
    if (!reader.Open(JournalPath(day), error)) return false;
    JournalEntry entry;
    static thread_local ExactTickLines exact;
    std::uint64_t read = 0;
    for (JournalReader::Result r; read < journalRecords && (r = reader.Next(&entry, error)) != JournalReader::Result::kEnd; ++read) {
      if (r == JournalReader::Result::kError) return false;
      if (missing.find(std::string_view(entry.tick.InstrumentID)) == missing.end()) continue;
      BuildExactTickLines(entry, &exact);
      keep(entry.tick.InstrumentID, std::string(exact.fixedLine()));
    }
  } else {
    // A day stored before the archive kept a journal: rebuilt from the time-stream line.
    std::uint64_t whole = 0, size = 0;
    const auto onLine = [&](std::string_view text) {
      StoredTickLine line;
      if (ParseStoredTickLine(text, &line)) keep(line.contract(), FixedStyleLine(line));
    };
    if (!ScanLines(root_, TimeStreamPath(day), onLine, &whole, &size, error)) return false;
  }
  MakeFolders(day);
  for (const auto& [contract, tail] : tails) {
    for (const std::string& text : tail) {
      if (!Append(ContractPath(day, contract), text.data(), text.size(), error)) return false;
      ++counters_.repairedLines;
    }
  }
  return true;
}
