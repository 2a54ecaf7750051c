#include "history/stored_day_scan.h"

#include <sys/stat.h>

#include <map>
#include <system_error>

#include "storage/journal_format.h"
#include "storage/storage_paths.h"

namespace fs = std::filesystem;

namespace {

// The entry's status without following a link; false when it cannot be read.
bool StatOf(const fs::path& path, struct stat* st) { return ::lstat(path.c_str(), st) == 0; }

// Calls `take(name, stat)` for every entry of `folder` (none when it is missing).
template <typename Take>
void ForEachEntry(const fs::path& folder, Take take) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    struct stat st {};
    if (StatOf(it->path(), &st)) take(it->path().filename().string(), st);
  }
}

}  // namespace

bool IsDayName(const std::string& name) {
  return name.size() == 8 && name.find_first_not_of("0123456789") == std::string::npos;
}

StoredDayScan ScanStoredDays(const fs::path& workdir) {
  std::map<std::string, StoredDay> byDay;
  StoredDayScan scan;
  const auto dayOf = [&](const std::string& day) -> StoredDay* {
    auto it = byDay.find(day);
    if (it != byDay.end()) return &it->second;
    if (byDay.size() >= kMaxScannedDays) {
      scan.truncated = true;
      return nullptr;
    }
    StoredDay& added = byDay[day];
    added.day = day;
    return &added;
  };
  std::string day;
  ForEachEntry(workdir / kJournalDirectory, [&](const std::string& name, const struct stat& st) {
    if (!S_ISREG(st.st_mode) || !IsJournalFileName(name, &day)) return;
    if (StoredDay* d = dayOf(day)) {
      d->journalModified = std::max<std::int64_t>(st.st_mtime, 1);
      d->journalSize = static_cast<std::uint64_t>(st.st_size);
    }
  });
  ForEachEntry(workdir / kTimeStreamDirectory, [&](const std::string& name, const struct stat& st) {
    if (!S_ISREG(st.st_mode) || name.size() != 12 || name.compare(8, 4, ".csv") != 0 || !IsDayName(name.substr(0, 8))) {
      return;
    }
    if (StoredDay* d = dayOf(name.substr(0, 8))) {
      d->streamModified = std::max<std::int64_t>(st.st_mtime, 1);
      d->streamSize = static_cast<std::uint64_t>(st.st_size);
    }
  });
  ForEachEntry(workdir / kDataDirectory, [&](const std::string& name, const struct stat& st) {
    if (!S_ISDIR(st.st_mode) || !IsDayName(name)) return;
    if (StoredDay* d = dayOf(name)) d->contractFolder = true;
  });
  ForEachEntry(HistoryDirectoryPath(workdir.string()), [&](const std::string& name, const struct stat& st) {
    if (!S_ISREG(st.st_mode) || !IsPackedDayFileName(name, &day)) return;
    ++scan.packedDays;
    scan.packedBytes += static_cast<std::uint64_t>(st.st_size);
    if (StoredDay* d = dayOf(day)) d->packModified = std::max<std::int64_t>(st.st_mtime, 1);
  });
  for (auto& [name, stored] : byDay) scan.days.push_back(std::move(stored));
  return scan;
}
