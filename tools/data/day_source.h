#ifndef QUOTELOOM_TOOLS_DATA_DAY_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_DAY_SOURCE_H

#include <filesystem>
#include <memory>
#include <string>

#include "tools/data/tick_source.h"

// The store a trading day is read from: its journal when anything lies at the journal's name (what
// is not a journal is refused there, never replaced by the files), else its packed day when anything
// lies at History/<day>.qth (refused the same way), else its per-contract files.
// Null with `error` set when the store cannot be opened. Any thread.
std::unique_ptr<TickSource> OpenDaySource(const std::filesystem::path& workdir, int day, std::string* error);

// Whether the day is read from its journal; from its packed day.
bool DayHasJournal(const std::filesystem::path& workdir, int day);
bool DayHasPacked(const std::filesystem::path& workdir, int day);

#endif
