#include "tools/data/journal_replayable_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "sessions/tick_classifier.h"
#include "storage/tick_line.h"
#include "tools/data/day_files.h"
#include "tools/data/exact_line.h"
#include "tools/data/replay_line.h"

namespace fs = std::filesystem;

struct JournalReplayableWriter::Output {
  Output(const std::string& contract, int day, int toleranceSeconds)
      : classifier(FindProductHours(ProductOfContract(contract)), day, toleranceSeconds) {}

  TickClassifier classifier;
  fs::path temporary;
  std::string buffer;      // lines not yet in the temporary file
  bool upToDate = false;   // its file is already made from this journal: left alone
  bool started = false;    // the temporary file exists
  bool failed = false;
  std::string error;
  std::uint64_t lines = 0;
  std::uint64_t notMarket = 0;
  std::uint64_t malformed = 0;  // a text field with a comma or a control byte
};

namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string Count(std::uint64_t n) { return std::to_string(n); }

}  // namespace

JournalReplayableWriter::JournalReplayableWriter(const fs::path& workdir, int day, int stableAgeSeconds,
                                                 const ReplayableSelection& selection)
    : workdir_(workdir), day_(day), stableAgeSeconds_(stableAgeSeconds), selection_(selection) {}

JournalReplayableWriter::~JournalReplayableWriter() { Discard(); }

bool JournalReplayableWriter::TargetIsUpToDate(const std::string& contract) const {
  struct stat info;
  const fs::path target = ReplayableWriter::TargetPath(workdir_, day_, contract);
  return ::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         SameTime(info.st_mtim, journalInfo_.st_mtim);
}

// Whether the pass can be skipped: every contract of the day folder has a file made from the
// journal as it is now.
bool JournalReplayableWriter::AllUpToDate(const std::vector<std::string>& contracts) const {
  if (contracts.empty()) return false;
  for (const std::string& contract : contracts) {
    if (!TargetIsUpToDate(contract)) return false;
  }
  return true;
}

JournalReplayableWriter::Output* JournalReplayableWriter::OutputFor(const TickRecord& tick) {
  const std::string_view contract(tick.InstrumentID, strnlen(tick.InstrumentID, sizeof tick.InstrumentID));
  const auto it = outputs_.find(contract);
  if (it != outputs_.end()) return &it->second;
  if (!IsContractName(contract) || outputs_.size() >= kMaxContracts) return nullptr;
  const std::string name(contract);
  Output& output = outputs_.try_emplace(name, name, day_, selection_.tolerance_seconds).first->second;
  output.upToDate = TargetIsUpToDate(name);
  output.temporary = ReplayableWriter::TargetPath(workdir_, day_, name).parent_path() /
                     ("." + name + ".csv.tmp." + std::to_string(::getpid()));
  return &output;
}

void JournalReplayableWriter::Add(Output* output, const JournalEntry& entry) {
  if (!LineTextIsClean(entry.tick)) {
    ++output->malformed;
    return;
  }
  stamp_.clear();
  AppendLocalStamp(entry.writeTimeNs, &stamp_);
  if (!selection_.raw) {
    const std::string_view time(entry.tick.UpdateTime, strnlen(entry.tick.UpdateTime, sizeof entry.tick.UpdateTime));
    // Judged by when the tick arrived where the journal has it, not by when the writer got to it.
    std::string arrival;
    AppendLocalStamp(ArrivalOrWriteTimeNs(entry), &arrival);
    if (output->classifier.Classify(time, arrival) != TickKind::kSession) {
      ++output->notMarket;
      return;
    }
  }
  const std::size_t before = output->buffer.size();
  if (!AppendExactReplayLine(entry, stamp_, &output->buffer)) {
    ++output->malformed;
    return;
  }
  ++output->lines;
  buffered_ += output->buffer.size() - before;
  if (output->buffer.size() >= flushBytes_) Flush(output, nullptr);
  if (buffered_ >= bufferBudget_) FlushAll();
}

// Appends the contract's buffered lines to its temporary file (created with the header first), and
// with `stamp` gives the file its modification time. The buffer's memory is given back.
bool JournalReplayableWriter::Flush(Output* output, const timespec* stamp) {
  buffered_ -= output->buffer.size();
  std::string lines;
  lines.swap(output->buffer);
  if (output->failed) return false;
  const int flags = O_WRONLY | O_CREAT | (output->started ? O_APPEND : O_TRUNC);
  int openError = 0;
  const int fd = OpenRegularFile(output->temporary.c_str(), flags, 0644, &openError);
  if (fd < 0) {
    output->failed = true;
    output->error = output->temporary.string() + ": " + OpenErrorText(openError);
    return false;
  }
  const bool created = !output->started;
  output->started = true;
  bool ok = !created || (WriteAll(fd, ReplayableWriter::kHeader) && WriteAll(fd, "\r\n"));
  ok = ok && WriteAll(fd, lines);
  if (ok && stamp != nullptr) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[1] = *stamp;
    ok = ::futimens(fd, times) == 0;
  }
  const int writeError = errno;
  const bool closed = ::close(fd) == 0;
  if (!ok || !closed) {
    output->failed = true;
    output->error = output->temporary.string() + ": " + ErrnoText(ok ? errno : writeError);
    return false;
  }
  return true;
}

void JournalReplayableWriter::FlushAll() {
  for (auto& [contract, output] : outputs_) {
    if (!output.buffer.empty()) Flush(&output, nullptr);
  }
}

// Every file out of date gets its last lines and its time and is renamed into place.
void JournalReplayableWriter::Finish(bool finished) {
  timespec stamp = journalInfo_.st_mtim;
  if (!finished) stamp.tv_sec -= 1;  // made again by the next run
  for (auto& [contract, output] : outputs_) {
    if (output.upToDate) {
      ++result_.up_to_date;
      continue;
    }
    const fs::path target = ReplayableWriter::TargetPath(workdir_, day_, contract);
    if (Flush(&output, &stamp) && ::rename(output.temporary.c_str(), target.c_str()) != 0) {
      output.failed = true;
      output.error = target.string() + ": " + ErrnoText(errno);
    }
    if (output.failed) {
      ::unlink(output.temporary.c_str());
      output.started = false;
      ++result_.failed;
      result_.messages.push_back(output.error);
      continue;
    }
    output.started = false;
    ++result_.written;
    result_.lines += output.lines;
    result_.not_market += output.notMarket;
    if (output.malformed > 0) {
      result_.messages.push_back(std::to_string(day_) + "/" + contract + ": " + Count(output.malformed) +
                                 " journal records with a comma or a control byte in a text field left out");
    }
  }
}

void JournalReplayableWriter::Discard() {
  for (auto& [contract, output] : outputs_) {
    if (output.started) ::unlink(output.temporary.c_str());
    output.started = false;
  }
}

ReplayableDay JournalReplayableWriter::Run(const std::vector<std::string>& contracts) {
  result_.from_journal = true;
  const fs::path journal = DayJournal(workdir_, day_);
  JournalReader reader;
  if (!reader.Open(journal.string(), &result_.error)) return std::move(result_);
  if (::lstat(journal.c_str(), &journalInfo_) != 0) {
    result_.error = journal.string() + ": " + ErrnoText(errno);
    return std::move(result_);
  }
  if (AllUpToDate(contracts)) {
    result_.up_to_date = contracts.size();
    return std::move(result_);
  }
  const fs::path folder = ReplayableWriter::TargetPath(workdir_, day_, "x").parent_path();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    result_.error = folder.string() + ": " + ec.message();
    return std::move(result_);
  }

  reader.ReadAhead();
  JournalEntry entry;
  for (;;) {
    const JournalReader::Result r = reader.Next(&entry, &result_.error);
    if (r == JournalReader::Result::kError) {
      Discard();
      return std::move(result_);
    }
    if (r == JournalReader::Result::kEnd) break;
    Output* output = OutputFor(entry.tick);
    if (output == nullptr) {
      ++unnamedRecords_;
    } else if (!output->upToDate && !output->failed) {
      Add(output, entry);
    }
  }
  // Finished: nothing appended while it was read, no record half written, and quiet long enough.
  struct stat after;
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  const bool finished = ::lstat(journal.c_str(), &after) == 0 && after.st_size == journalInfo_.st_size &&
                        SameTime(after.st_mtim, journalInfo_.st_mtim) && reader.partialBytes() == 0 &&
                        now.tv_sec - journalInfo_.st_mtim.tv_sec >= stableAgeSeconds_;
  Finish(finished);

  if (reader.badRecords() > 0) {
    result_.messages.push_back(journal.string() + ": " + Count(reader.badRecords()) + " damaged records left out");
  }
  if (unnamedRecords_ > 0) {
    result_.messages.push_back(journal.string() + ": " + Count(unnamedRecords_) +
                               " records of contract codes that cannot name a file left out");
  }
  // A contract the journal lacks (its records failed to reach it) still has its stored ticks.
  for (const std::string& contract : contracts) {
    if (outputs_.count(contract) != 0) continue;
    const ReplayableWriter::Result r = ReplayableWriter::Write(workdir_, day_, contract, stableAgeSeconds_, selection_);
    if (r.outcome == ReplayableWriter::Outcome::kFailed) {
      ++result_.failed;
      result_.messages.push_back(r.error);
      continue;
    }
    (r.outcome == ReplayableWriter::Outcome::kWritten ? result_.written : result_.up_to_date) += 1;
    result_.lines += r.lines;
    result_.not_market += r.not_market;
    if (r.outcome == ReplayableWriter::Outcome::kWritten) {
      result_.messages.push_back(std::to_string(day_) + "/" + contract +
                                 ".csv: not in the journal, copied from the per-contract file (two decimals)");
    }
  }
  return std::move(result_);
}
