#include "tools/data/replayable_day.h"

#include <system_error>

#include "tools/data/day_files.h"
#include "tools/data/journal_replayable_writer.h"

namespace fs = std::filesystem;

ReplayableDay WriteReplayableDay(const fs::path& workdir, int day, int stableAgeSeconds,
                                 const ReplayableSelection& selection) {
  ReplayableDay result;
  std::vector<std::string> contracts;
  const bool listed = ListContracts(workdir, day, &contracts, &result.error);
  std::error_code ec;
  // Anything at the journal's name makes it the day's source; what is not a journal is refused there.
  if (fs::exists(fs::symlink_status(DayJournal(workdir, day), ec))) {
    // A day whose ticks all failed to reach the per-contract files has a journal and no folder.
    if (!listed && fs::exists(DayFolder(workdir, day), ec)) return result;
    result.error.clear();
    return JournalReplayableWriter(workdir, day, stableAgeSeconds, selection).Run(contracts);
  }
  if (!listed) return result;
  for (const std::string& contract : contracts) {
    const ReplayableWriter::Result r = ReplayableWriter::Write(workdir, day, contract, stableAgeSeconds, selection);
    if (r.outcome == ReplayableWriter::Outcome::kFailed) {
      ++result.failed;
      result.messages.push_back(r.error);
      continue;
    }
    if (r.malformed > 0) {
      result.messages.push_back(std::to_string(day) + "/" + contract + ".csv: " + std::to_string(r.malformed) +
                                " lines without 24 fields left out");
    }
    (r.outcome == ReplayableWriter::Outcome::kWritten ? result.written : result.up_to_date) += 1;
    result.lines += r.lines;
    result.not_market += r.not_market;
  }
  return result;
}
