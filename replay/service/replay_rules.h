#ifndef QUOTELOOM_REPLAY_SERVICE_REPLAY_RULES_H
#define QUOTELOOM_REPLAY_SERVICE_REPLAY_RULES_H

#include <string_view>

// The day arithmetic and the request checks of a replay. Pure functions; any thread.

// A day text as a number: leading white space, an optional sign and the leading decimal digits;
// 0 when there are none (so "2016x" is 2016 and "abc" is 0).
int ParseReplayDay(std::string_view text);

// The day after `day` (yyyymmdd as a number). February has 29 days in every year divisible by 4;
// a month outside 1-12 only counts its day up.
int NextReplayDay(int day);

// Exactly eight digits with a month of 1-12 and a day of 1-31.
bool IsReplayDate(std::string_view text);

// A contract that can name a stored file without leaving the data directory: only letters,
// digits, '-', '_', '&', '.' and space, and no "..".
bool IsSafeContract(std::string_view contract);

#endif
