#ifndef QUOTELOOM_TOOLS_DATA_DAY_FILES_H
#define QUOTELOOM_TOOLS_DATA_DAY_FILES_H

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/market_calendar.h"

// The collector's files of one trading day under a working folder: Data/<day>/<contract>.csv, and
// the days a command line names. Pure functions of the file system, any thread.

// yyyymmdd of a real date as a number; 0 otherwise.
int ParseDayArgument(std::string_view text);

// The days to work on: `days` as given, then every calendar day from `from` to `to` (0: none) that
// has a day folder, a journal or a packed day. Sorted, without repeats. Empty with `error` set on a bad day or range.
std::vector<int> ExpandDays(const std::vector<std::string>& days, const std::string& from, const std::string& to,
                            const std::filesystem::path& workdir, std::string* error);

// The `count` latest day folders under Data/ that are not after `lastDay`, oldest first.
std::vector<int> LatestDays(const std::filesystem::path& workdir, int count, int lastDay);

// The `count` latest trading days of the calendar up to `lastDay`, oldest first, whether or not they
// have a folder (a trading day without one was not collected). Empty with `error` set when the
// calendar lacks a year on the way.
std::vector<int> LatestTradingDays(const MarketCalendar& calendar, int count, int lastDay, std::string* error);

std::filesystem::path DayFolder(const std::filesystem::path& workdir, int day);
// Journal/<day>.qtj of the working folder: the day's exact journal, when it has one.
std::filesystem::path DayJournal(const std::filesystem::path& workdir, int day);
// History/<day>.qth of the working folder: the day's packed journal, when it has one.
std::filesystem::path DayPacked(const std::filesystem::path& workdir, int day);

// A contract code that can name a file in the day folder: every code the collector stores (letters,
// digits, space, '&', '-'), and the names of older folders (also '_' and '.', not leading), at most 30.
bool IsContractName(std::string_view name);

// The contracts with a per-contract file in the day folder, sorted; false with `error` set when the
// folder cannot be read.
bool ListContracts(const std::filesystem::path& workdir, int day, std::vector<std::string>* contracts,
                   std::string* error);

#endif
