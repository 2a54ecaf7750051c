#include "history/day_close_job.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <system_error>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "core/string_printf.h"
#include "history/history_status.h"
#include "history/stored_day_scan.h"
#include "storage/journal_format.h"
#include "storage/packed_day_reader.h"
#include "storage/storage_paths.h"

namespace fs = std::filesystem;

namespace {

// Bytes of a regular file, or of the regular files under a folder; links are not followed.
std::uint64_t BytesUnder(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return 0;
  if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  std::uint64_t bytes = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) bytes += static_cast<std::uint64_t>(st.st_size);
  }
  return bytes;
}

}  // namespace

std::string SizeText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  const char* units[] = {"kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  return StringPrintf("%.1f %s", value, units[unit]);
}

DayCloseJob::DayCloseJob(fs::path workdir, RetentionSettings retention, PackDay pack, Log log, HistoryStatus* status)
    : workdir_(std::move(workdir)),
      retention_(retention),
      pack_(std::move(pack)),
      log_(std::move(log)),
      status_(status) {}

DayCloseJob::Result DayCloseJob::RunOnce(const DayCloseMoment& moment, const std::function<bool()>& stop) {
  Result result;
  const auto stopped = [&] { return stop && stop(); };
  StoredDayScan before = ScanStoredDays(workdir_);
  changes_.Stamp(&before.days, moment.now);
  if (status_ != nullptr) status_->SetHistory(before.packedDays, before.packedBytes);
  const DayClosePlan first = PlanDayClose(before.days, moment, retention_);
  for (const std::string& day : first.stale) {
    if (!staleSaid_.insert(day).second) continue;
    log_("the journal of day " + day + " changed after the day was packed; its files are kept until it is packed "
         "again by hand (quoteloom-data pack " + day + ")");
  }
  for (const std::string& day : first.pack) {
    if (stopped()) return result;
    const auto failed = failedAt_.find(day);
    if (failed != failedAt_.end() && moment.now - failed->second < kRetrySeconds) continue;
    Pack(day, moment.now, stopped, &result);
  }
  // Deletions are planned from what the folder holds now, so only packs that exist count.
  StoredDayScan after = ScanStoredDays(workdir_);
  changes_.Stamp(&after.days, moment.now);
  const DayClosePlan plan = PlanDayClose(after.days, moment, retention_);
  for (const std::string& day : plan.deleteJournals) {
    if (stopped()) break;
    DeleteJournal(day, &result);
  }
  for (const std::string& day : plan.deleteCsv) {
    if (stopped()) break;
    DeleteCsv(day, &result);
  }
  Rescan();
  return result;
}

void DayCloseJob::Pack(const std::string& day, std::int64_t now, const std::function<bool()>& stop,
                       Result* result) {
  PackReport report;
  std::string error;
  const bool verified = pack_(workdir_, day, &report, &error, stop);
  if (!verified && stop()) {
    // Not a failure: the program ends, and its next start packs the day.
    log_("packing day " + day + " given up as the program stops; it is packed at the next start");
    return;
  }
  if (status_ != nullptr) status_->PackDone(verified, std::max<std::int64_t>(now, ::time(nullptr)));
  if (!verified) {
    failedAt_[day] = now;
    ++result->packFailures;
    log_("packing day " + day + " failed: " + error + "; its journal and CSV files are kept, and it is tried again in an hour");
    return;
  }
  failedAt_.erase(day);
  ++result->packed;
  log_(StringPrintf("packed day %s: %" PRIu64 " records (%" PRIu64 " damaged), journal %s, pack %s, verified: %s",
                    day.c_str(), report.records, report.damaged, SizeText(report.journal_bytes).c_str(),
                    SizeText(report.packed_bytes).c_str(), PackedDayPath(workdir_.string(), day).c_str()));
}

bool DayCloseJob::StillPacked(const std::string& day, std::string* kept) const {
  const std::string path = PackedDayPath(workdir_.string(), day);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
  *kept = "kept " + path + " (" + SizeText(static_cast<std::uint64_t>(st.st_size)) + "), packed and verified";
  return true;
}

void DayCloseJob::DeleteJournal(const std::string& day, Result* result) {
  std::string kept;
  if (!StillPacked(day, &kept)) return;
  const std::string journal = JournalDayPath(workdir_.string(), day);
  const std::uint64_t bytes = BytesUnder(journal);
  if (::unlink(journal.c_str()) != 0) {
    ++result->deleteFailures;
    log_("could not delete " + journal + ": " + ErrnoText(errno));
    return;
  }
  ++result->journalsDeleted;
  if (status_ != nullptr) status_->JournalDeleted();
  log_("deleted " + journal + " (" + SizeText(bytes) + "), past the journals' retention; " + kept);
}

namespace {

// Lines of a regular file below `root` (a last line without its line end counts); -1 when it cannot
// be read.
std::int64_t CountLines(int root, const std::string& relative) {
  int openError = 0;
  const int fd = OpenRegularFileBelow(root, relative, O_RDONLY, 0, &openError);
  if (fd < 0) return -1;
  std::vector<char> block(1 << 20);
  std::int64_t lines = 0;
  char last = '\n';
  for (;;) {
    const ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) lines = -1;
    if (n <= 0) break;
    lines += std::count(block.data(), block.data() + n, '\n');
    last = block[static_cast<std::size_t>(n) - 1];
  }
  ::close(fd);
  return lines < 0 ? -1 : lines + (last != '\n');
}

}  // namespace

bool DayCloseJob::PackHoldsCsvTicks(const std::string& day, std::string* why) const {
  PackedDayReader pack;
  if (!pack.Open(PackedDayPath(workdir_.string(), day), why)) return false;
  std::map<std::string, std::uint64_t> records;
  const std::vector<std::uint64_t> counts = pack.ContractRecordCounts();
  for (std::size_t i = 0; i < counts.size(); ++i) records[pack.contracts()[i]] += counts[i];
  int openError = 0;
  const int root = OpenWorkingFolder(workdir_.string(), &openError);
  if (root == -1) {
    *why = workdir_.string() + ": " + OpenErrorText(openError);
    return false;
  }
  bool held = true;
  char stream[kFilePathSize];
  char folder[kDayDirectorySize];
  if (!TimeStreamFilePath(day.c_str(), stream) || !DayDirectoryPath(day.c_str(), folder)) {
    *why = "day " + day + " names no file";
    held = false;
  }
  if (held) {
    const std::int64_t lines = CountLines(root, stream);
    if (lines > 0 && static_cast<std::uint64_t>(lines) > pack.header().slots) {
      *why = std::string(stream) + " holds " + std::to_string(lines) + " lines, the pack " +
             std::to_string(pack.header().slots) + " records";
      held = false;
    }
  }
  // The folder is found without following a link, then opened again to be listed. A link or a file
  // in its place holds none of the day's lines (the deletion removes the link itself).
  const int dayPath = held ? OpenFolderBelow(root, folder, false, &openError) : -1;
  if (held && dayPath < 0 && openError != ENOENT && openError != ENOTDIR && openError != ELOOP) {
    *why = std::string(folder) + ": " + OpenErrorText(openError);
    held = false;
  }
  const int dayFolder = dayPath >= 0 ? ::openat(dayPath, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (dayPath >= 0) ::close(dayPath);
  if (dayPath >= 0 && dayFolder < 0) {
    *why = std::string(folder) + ": " + ErrnoText(errno);
    held = false;
  }
  if (DIR* listing = dayFolder >= 0 ? ::fdopendir(dayFolder) : nullptr) {
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".csv") != 0) continue;
      const std::string contract = name.substr(0, name.size() - 4);
      const std::int64_t lines = CountLines(root, std::string(folder) + "/" + name);
      const auto it = records.find(contract);
      const std::uint64_t packed = it == records.end() ? 0 : it->second;
      if (lines > 0 && static_cast<std::uint64_t>(lines) > packed) {
        *why = std::string(folder) + "/" + name + " holds " + std::to_string(lines) + " lines, the pack " +
               std::to_string(packed) + " records of " + contract;
        held = false;
        break;
      }
    }
    ::closedir(listing);
  } else if (dayFolder >= 0) {
    ::close(dayFolder);
  }
  CloseWorkingFolder(root);
  return held;
}

void DayCloseJob::DeleteCsv(const std::string& day, Result* result) {
  std::string kept;
  if (!StillPacked(day, &kept)) return;
  std::string missing;
  if (!PackHoldsCsvTicks(day, &missing)) {
    if (warnedCsv_.insert(day).second) {
      log_("the CSV files of day " + day + " are kept past their retention: " + missing +
           " (ticks the journal missed live only there)");
    }
    return;
  }
  char stream[kFilePathSize];
  char folder[kDayDirectorySize];
  if (!TimeStreamFilePath(day.c_str(), stream) || !DayDirectoryPath(day.c_str(), folder)) return;
  std::string deleted;
  std::uint64_t bytes = 0;
  for (const fs::path& path : {workdir_ / stream, workdir_ / folder}) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    const std::uint64_t size = BytesUnder(path);
    std::error_code ec;
    // remove_all removes a link itself, never what it points to.
    fs::remove_all(path, ec);
    if (ec) {
      ++result->deleteFailures;
      log_("could not delete " + path.string() + ": " + ec.message());
      return;
    }
    bytes += size;
    deleted += (deleted.empty() ? "" : " and ") + path.string() + (S_ISDIR(st.st_mode) ? "/" : "");
  }
  if (deleted.empty()) return;
  ++result->csvDeleted;
  if (status_ != nullptr) status_->CsvDeleted();
  log_("deleted " + deleted + " (" + SizeText(bytes) + "), past the CSV files' retention; " + kept);
}

void DayCloseJob::Rescan() {
  if (status_ == nullptr) return;
  const StoredDayScan scan = ScanStoredDays(workdir_);
  status_->SetHistory(scan.packedDays, scan.packedBytes);
}
