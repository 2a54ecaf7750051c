#include "tools/data/day_source.h"

#include <system_error>

#include "tools/data/csv_day_source.h"
#include "tools/data/day_files.h"
#include "tools/data/journal_day_source.h"
#include "tools/data/packed_day_source.h"

namespace fs = std::filesystem;

bool DayHasJournal(const fs::path& workdir, int day) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(DayJournal(workdir, day), ec));
}

bool DayHasPacked(const fs::path& workdir, int day) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(DayPacked(workdir, day), ec));
}

std::unique_ptr<TickSource> OpenDaySource(const fs::path& workdir, int day, std::string* error) {
  if (DayHasJournal(workdir, day)) {
    auto journal = std::make_unique<JournalDaySource>(DayJournal(workdir, day).string());
    if (!journal->Open()) {
      *error = journal->error();
      return nullptr;
    }
    return journal;
  }
  if (DayHasPacked(workdir, day)) {
    auto packed = std::make_unique<PackedDaySource>(DayPacked(workdir, day).string());
    if (!packed->Open()) {
      *error = packed->error();
      return nullptr;
    }
    return packed;
  }
  auto files = std::make_unique<CsvDaySource>(workdir, day);
  if (!files->Open()) {
    *error = files->error();
    return nullptr;
  }
  return files;
}
