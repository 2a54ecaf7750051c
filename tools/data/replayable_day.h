#ifndef QUOTELOOM_TOOLS_DATA_REPLAYABLE_DAY_H
#define QUOTELOOM_TOOLS_DATA_REPLAYABLE_DAY_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/data/replayable_writer.h"

// What `replayable` did for one trading day.
struct ReplayableDay {
  std::uint64_t written = 0;
  std::uint64_t up_to_date = 0;
  std::uint64_t failed = 0;
  std::uint64_t lines = 0;
  std::uint64_t not_market = 0;
  bool from_journal = false;
  std::vector<std::string> messages;  // problems of single files or records, for standard error
  std::string error;                  // the day could not be read at all; no file of it was replaced
};

// The replay files of every contract of a day: from the day's journal when it has one (a journal
// refused by its header is the day's error, never replaced by the per-contract files), else from
// the per-contract files. One thread.
ReplayableDay WriteReplayableDay(const std::filesystem::path& workdir, int day, int stableAgeSeconds,
                                 const ReplayableSelection& selection);

#endif
