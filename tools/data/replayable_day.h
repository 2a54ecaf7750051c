#ifndef QUOTELOOM_TOOLS_DATA_REPLAYABLE_DAY_H
#define QUOTELOOM_TOOLS_DATA_REPLAYABLE_DAY_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sessions/tick_classifier.h"

// Which ticks go into a replayable file: only session ticks (sessions/tick_classifier.h), or every
// one when raw.
struct ReplayableSelection {
  bool raw = false;
  int tolerance_seconds = kDefaultToleranceSeconds;
};

// What `replayable` did for one trading day.
struct ReplayableDay {
  std::uint64_t written = 0;
  std::uint64_t up_to_date = 0;
  std::uint64_t failed = 0;
  std::uint64_t lines = 0;
  std::uint64_t not_market = 0;
  std::uint64_t malformed = 0;        // stored lines or records that make no replay line, left out
  bool partial_tail = false;          // a store ended inside a tick still being appended
  bool from_journal = false;
  std::vector<std::string> messages;  // problems of single files or records, for standard error
  std::string error;                  // the day could not be read at all; no file of it was replaced
};

// The replay files of every contract of a day (tools/data/replayable_writer.h) from the day's store
// (tools/data/day_source.h): a journal refused by its header is the day's error, never replaced by
// the per-contract files. One thread.
ReplayableDay WriteReplayableDay(const std::filesystem::path& workdir, int day, int stableAgeSeconds,
                                 const ReplayableSelection& selection);

#endif
