#include "tools/data/replayable_day.h"

#include <system_error>

#include "tools/data/csv_day_source.h"
#include "tools/data/day_files.h"
#include "tools/data/day_source.h"
#include "tools/data/replayable_writer.h"

namespace fs = std::filesystem;

ReplayableDay WriteReplayableDay(const fs::path& workdir, int day, int stableAgeSeconds,
                                 const ReplayableSelection& selection) {
  ReplayableDay result;
  std::vector<std::string> contracts;
  const bool listed = ListContracts(workdir, day, &contracts, &result.error);
  std::error_code ec;
  if (DayHasJournal(workdir, day) || DayHasPacked(workdir, day)) {
    // A day whose ticks all failed to reach the per-contract files has a journal and no folder.
    if (!listed && fs::exists(DayFolder(workdir, day), ec)) return result;
    result = ReplayableDay{};
    const std::unique_ptr<TickSource> exact = OpenDaySource(workdir, day, &result.error);
    if (!exact) {
      result.from_journal = true;
      return result;
    }
    return ReplayableWriter(workdir, day, stableAgeSeconds, selection).Run(*exact, contracts);
  }
  if (!listed) return result;
  CsvDaySource files(workdir, day);
  files.OpenContracts(contracts);
  return ReplayableWriter(workdir, day, stableAgeSeconds, selection).Run(files, contracts);
}
