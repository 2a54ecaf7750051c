#include "tools/data/replayable_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "sessions/clock_time.h"
#include "tools/data/csv_day_source.h"
#include "tools/data/day_files.h"
#include "tools/data/replay_line.h"

namespace fs = std::filesystem;

struct ReplayableWriter::Output {
  Output(const std::string& contract, int day, int toleranceSeconds)
      : classifier(FindProductHours(ProductOfContract(contract)), day, toleranceSeconds) {}

  TickClassifier classifier;
  std::string temporaryName;  // in the Tick folder
  fs::path temporary;         // the same, for messages
  timespec modified{};     // of the contract's store as the pass began
  std::string buffer;      // lines not yet in the temporary file
  std::size_t kept = 0;    // memory of the buffer kept between blocks, as counted in kept_
  ReplayLineMemory numbers;
  bool upToDate = false;   // its file is already made from this store: left alone
  bool started = false;    // the temporary file exists
  bool failed = false;
  std::string error;
  std::uint64_t lines = 0;
  std::uint64_t notMarket = 0;
  std::uint64_t malformed = 0;
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

// A short hash of a contract code from its length and its first and last two characters, which
// tell a day's contracts apart nearly always; its top `bits` bits.
std::size_t CodeHash(std::string_view code, int bits) {
  std::uint64_t x = code.size();
  if (code.size() >= 2) {
    const auto at = [&code](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(code[i])); };
    const std::size_t n = code.size();
    x |= at(0) << 8 | at(1) << 16 | at(n - 2) << 24 | at(n - 1) << 32;
  }
  return static_cast<std::size_t>((x * 0x9E3779B97F4A7C15ULL) >> (64 - bits));
}

std::string Count(std::uint64_t n) { return std::to_string(n); }

}  // namespace

ReplayableWriter::ReplayableWriter(const fs::path& workdir, int day, int stableAgeSeconds, const Selection& selection)
    : workdir_(workdir), day_(day), stableAgeSeconds_(stableAgeSeconds), selection_(selection) {}

ReplayableWriter::~ReplayableWriter() {
  Discard();
  if (folderFd_ >= 0) ::close(folderFd_);
}

fs::path ReplayableWriter::TargetPath(const fs::path& workdir, int day, const std::string& contract) {
  return workdir / TickFolder(day) / (contract + ".csv");
}

std::string ReplayableWriter::TickFolder(int day) { return "Data/" + std::to_string(day) + "/Tick"; }

bool ReplayableWriter::TargetIsUpToDate(const std::string& contract, const timespec& modified) const {
  struct stat info;
  const fs::path target = TargetPath(workdir_, day_, contract);
  return ::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) && SameTime(info.st_mtim, modified);
}

// Whether the pass can be skipped: every contract of the day folder has a file made from its store
// as it is now.
bool ReplayableWriter::AllUpToDate(const TickSource& source, const std::vector<std::string>& contracts) const {
  if (contracts.empty()) return false;
  for (const std::string& contract : contracts) {
    timespec modified;
    if (!source.Modified(contract, &modified) || !TargetIsUpToDate(contract, modified)) return false;
  }
  return true;
}

ReplayableWriter::Output* ReplayableWriter::OutputFor(TickSource& source, std::string_view contract) {
  if (!slots_.empty()) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = CodeHash(contract, slotBits_);; i = (i + 1) & mask) {
      const CodeSlot& slot = slots_[i];
      if (slot.output == nullptr) break;
      if (slot.code == contract) return slot.output;
    }
  }
  if (!IsContractName(contract) || outputs_.size() >= kMaxContracts) return nullptr;
  const std::string name(contract);
  const auto made = outputs_.try_emplace(name, name, day_, selection_.tolerance_seconds).first;
  Output& output = made->second;
  AddSlot(made->first, &output);
  output.upToDate = source.Modified(name, &output.modified) && TargetIsUpToDate(name, output.modified);
  if (output.upToDate) source.Skip(name);
  output.temporaryName = "." + name + ".csv.tmp." + std::to_string(::getpid());
  output.temporary = TargetPath(workdir_, day_, name).parent_path() / output.temporaryName;
  return &output;
}

// Grows the table to keep it at most half full, the codes it held put in again.
void ReplayableWriter::AddSlot(std::string_view code, Output* output) {
  const auto place = [this](std::string_view key, Output* value) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = CodeHash(key, slotBits_);
    while (slots_[i].output != nullptr) i = (i + 1) & mask;
    slots_[i] = {key, value};
  };
  if (2 * outputs_.size() > slots_.size()) {
    slotBits_ = std::max(slotBits_ + 1, 6);
    std::vector<CodeSlot> old(std::size_t{1} << slotBits_);
    old.swap(slots_);
    for (const CodeSlot& slot : old) {
      if (slot.output != nullptr) place(slot.code, slot.output);
    }
  }
  place(code, output);
}

void ReplayableWriter::Add(TickSource& source, Output* output, const SourceTick& tick) {
  if (tick.malformed) {
    ++output->malformed;
    return;
  }
  if (!selection_.raw && output->classifier.ClassifyArrival(ParseClockTime(tick.update_time), tick.arrival) !=
                             TickKind::kSession) {
    ++output->notMarket;
    return;
  }
  // A busy contract gets a whole block's buffer at once, kept between blocks while all kept fit the
  // budget: grown by doubling, its lines would be copied and fresh pages touched several times over.
  if (output->kept == 0 && output->buffer.size() >= flushBytes_ / 16 &&
      kept_ + flushBytes_ + kLineRoom <= bufferBudget_) {
    output->buffer.reserve(flushBytes_ + kLineRoom);
    output->kept = output->buffer.capacity();
    kept_ += output->kept;
  }
  const std::size_t before = output->buffer.size();
  if (!AppendReplayLine(source, tick, &output->buffer, &output->numbers)) {
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
bool ReplayableWriter::Flush(Output* output, const timespec* stamp) {
  buffered_ -= output->buffer.size();
  // The lines leave the buffer whatever happens; Release or Keep decides about its memory.
  struct Drain {
    ReplayableWriter* writer;
    Output* output;
    bool last;
    ~Drain() { writer->Drained(output, last); }
  } drain{this, output, stamp != nullptr};
  const std::string_view lines = output->buffer;
  if (output->failed) return false;
  const int flags = O_WRONLY | O_CREAT | (output->started ? O_APPEND : O_TRUNC);
  int openError = 0;
  const int fd = OpenRegularFileBelow(folderFd_, output->temporaryName, flags, 0644, &openError);
  if (fd < 0) {
    output->failed = true;
    output->error = output->temporary.string() + ": " + OpenErrorText(openError);
    return false;
  }
  const bool created = !output->started;
  output->started = true;
  bool ok = !created || (WriteAll(fd, kHeader) && WriteAll(fd, "\r\n"));
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

// A buffer keeps its memory for the contract's next block while all buffers kept fit the budget,
// so a busy contract's buffer is not grown again from nothing block after block; the last block
// gives it back.
void ReplayableWriter::Drained(Output* output, bool last) {
  output->buffer.clear();
  if (!last && output->kept == 0 && kept_ + output->buffer.capacity() <= bufferBudget_) {
    output->kept = output->buffer.capacity();
    kept_ += output->kept;
  }
  if (!last && output->kept != 0) return;
  kept_ -= output->kept;
  output->kept = 0;
  std::string().swap(output->buffer);
}

void ReplayableWriter::FlushAll() {
  for (auto& [contract, output] : outputs_) {
    if (!output.buffer.empty()) Flush(&output, nullptr);
  }
}

// Every file out of date gets its last lines and its time and is renamed into place. Its time is
// its store's only when that store is finished; otherwise a second before, so the next run makes it
// again.
void ReplayableWriter::Finish(const TickSource& source) {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  for (auto& [contract, output] : outputs_) {
    if (output.upToDate) {
      ++result_.up_to_date;
      continue;
    }
    const std::string storeError = source.ContractError(contract);
    if (!storeError.empty() && !output.failed) {
      output.failed = true;
      output.error = storeError;
    }
    const bool settled = source.Settled(contract);
    result_.partial_tail |= !settled;
    timespec stamp = output.modified;
    if (!settled || now.tv_sec - stamp.tv_sec < stableAgeSeconds_) stamp.tv_sec -= 1;
    const fs::path target = TargetPath(workdir_, day_, contract);
    if (Flush(&output, &stamp) &&
        ::renameat(folderFd_, output.temporaryName.c_str(), folderFd_, (contract + ".csv").c_str()) != 0) {
      output.failed = true;
      output.error = target.string() + ": " + ErrnoText(errno);
    }
    if (output.failed) {
      ::unlinkat(folderFd_, output.temporaryName.c_str(), 0);
      output.started = false;
      ++result_.failed;
      result_.messages.push_back(output.error);
      continue;
    }
    output.started = false;
    ++result_.written;
    result_.lines += output.lines;
    result_.not_market += output.notMarket;
    result_.malformed += output.malformed;
    if (output.malformed > 0) {
      result_.messages.push_back(
          source.StoresText()
              ? std::to_string(day_) + "/" + contract + ".csv: " + Count(output.malformed) +
                    " lines without 24 fields left out"
              : std::to_string(day_) + "/" + contract + ": " + Count(output.malformed) +
                    " journal records with a comma or a control byte in a text field left out");
    }
  }
}

void ReplayableWriter::Discard() {
  for (auto& [contract, output] : outputs_) {
    if (output.started) ::unlinkat(folderFd_, output.temporaryName.c_str(), 0);
    output.started = false;
  }
}

// A contract of the day folder that the source lacks still has its stored ticks: they are copied
// from its per-contract file.
void ReplayableWriter::CopyMissing(const std::vector<std::string>& contracts) {
  std::vector<std::string> missing;
  for (const std::string& contract : contracts) {
    if (outputs_.count(contract) == 0) missing.push_back(contract);
  }
  if (missing.empty()) return;
  CsvDaySource files(workdir_, day_);
  files.OpenContracts(missing);
  ReplayableWriter writer(workdir_, day_, stableAgeSeconds_, selection_);
  const ReplayableDay copied = writer.Run(files, missing);
  result_.written += copied.written;
  result_.up_to_date += copied.up_to_date;
  result_.failed += copied.failed;
  result_.lines += copied.lines;
  result_.not_market += copied.not_market;
  result_.messages.insert(result_.messages.end(), copied.messages.begin(), copied.messages.end());
  for (const auto& [contract, output] : writer.outputs_) {
    if (!output.upToDate && !output.failed) {
      result_.messages.push_back(std::to_string(day_) + "/" + contract +
                                 ".csv: not in the journal, copied from the per-contract file (two decimals)");
    }
  }
}

ReplayableDay ReplayableWriter::Run(TickSource& source, const std::vector<std::string>& contracts) {
  result_.from_journal = !source.StoresText();
  if (AllUpToDate(source, contracts)) {
    result_.up_to_date = contracts.size();
    return std::move(result_);
  }
  // The Tick folder is made and opened below the working folder without following a link, and every
  // file is written inside it, so a link in its path leads nothing elsewhere.
  int openError = 0;
  const int root = OpenWorkingFolder(workdir_.string(), &openError);
  folderFd_ = root == -1 ? -1 : OpenFolderBelow(root, TickFolder(day_), true, &openError);
  CloseWorkingFolder(root);
  if (folderFd_ < 0) {
    result_.error = (workdir_ / TickFolder(day_)).string() + ": " + OpenErrorText(openError);
    return std::move(result_);
  }
  // Listed contracts get a file even when they hold no tick.
  for (const std::string& contract : source.Listed()) OutputFor(source, contract);
  SourceTick tick;
  for (;;) {
    const TickSource::Result r = source.Next(&tick);
    if (r == TickSource::Result::kError) {
      result_.error = source.error();
      Discard();
      return std::move(result_);
    }
    if (r == TickSource::Result::kEnd) break;
    Output* output = OutputFor(source, tick.contract);
    if (output == nullptr) {
      ++unnamed_;
    } else if (!output->upToDate && !output->failed) {
      Add(source, output, tick);
    }
  }
  Finish(source);
  if (source.Damaged() > 0) {
    result_.messages.push_back(source.Path() + ": " + Count(source.Damaged()) + " damaged records left out");
  }
  if (unnamed_ > 0) {
    result_.messages.push_back(source.Path() + ": " + Count(unnamed_) +
                               " records of contract codes that cannot name a file left out");
  }
  if (!source.StoresText()) CopyMissing(contracts);
  return std::move(result_);
}

ReplayableWriter::Result ReplayableWriter::Write(const fs::path& workdir, int day, const std::string& contract,
                                                 int stableAgeSeconds, const Selection& selection) {
  CsvDaySource source(workdir, day);
  source.OpenContracts({contract});
  ReplayableWriter writer(workdir, day, stableAgeSeconds, selection);
  const ReplayableDay day_result = writer.Run(source, {contract});
  Result result;
  result.lines = day_result.lines;
  result.not_market = day_result.not_market;
  result.malformed = day_result.malformed;
  result.partial_tail = day_result.partial_tail;
  if (day_result.failed > 0 || !day_result.error.empty()) {
    result.error = !day_result.error.empty() ? day_result.error : day_result.messages.front();
  } else {
    result.outcome = day_result.written > 0 ? Outcome::kWritten : Outcome::kUpToDate;
  }
  return result;
}
