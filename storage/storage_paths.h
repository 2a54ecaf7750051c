#ifndef QUOTELOOM_STORAGE_STORAGE_PATHS_H
#define QUOTELOOM_STORAGE_STORAGE_PATHS_H

#include <cstddef>
#include <string>

#include "storage/file_env.h"

// Names of the stored tick files, relative to the current directory. Any thread.
//
// The day and the contract code become one path component each. A builder refuses (returns false and
// leaves `out` empty) a day or code that is empty, "." or "..", longer than its field, or holds '/',
// '\\' or a control character, so no name from the front can lead outside the data folders.

inline constexpr const char* kTimeStreamDirectory = "DataTimeStream";
inline constexpr const char* kDataDirectory = "Data";
inline constexpr const char* kTimeStreamFallbackFile = "cresh1.txt";
inline constexpr const char* kContractFallbackFile = "cresh2.txt";

inline constexpr int kFilePathSize = 300;
inline constexpr int kDayDirectorySize = 30;
inline constexpr std::size_t kMaxDayLength = 8;
inline constexpr std::size_t kMaxContractLength = 30;

// True when the first `maxLength` bytes of `text` hold a whole name that stays one component.
// Reads at most maxLength + 1 bytes, so a field without a terminator is refused, not overread.
bool IsSafeNameComponent(const char* text, std::size_t maxLength);

// "DataTimeStream/<day>.csv".
bool TimeStreamFilePath(const char* tradingDay, char (&out)[kFilePathSize]);
// "Data/<day>".
bool DayDirectoryPath(const char* tradingDay, char (&out)[kDayDirectorySize]);
// "Data/<day>/<contract>.csv".
bool ContractFilePath(const char* tradingDay, const char* contract, char (&out)[kFilePathSize]);

// Creates "DataTimeStream" when nothing has that name. Called before every time-stream append.
void EnsureTimeStreamDirectory(FileEnv& env);
// Creates "Data/<day>" when missing, "Data" first when that is missing too, one level at a time.
// Called before every per-contract append; does nothing for a day the builders refuse.
void EnsureDayDirectory(FileEnv& env, const char* tradingDay);

// The packed days: "History/<day>.qth" (docs/tick-files.md).
inline constexpr const char* kHistoryDirectory = "History";
// "<root>/History" ("History" for an empty root).
std::string HistoryDirectoryPath(const std::string& root);
// "<root>/History/<day>.qth": the one place a packed day's path is made. The day is not checked.
std::string PackedDayPath(const std::string& root, const std::string& day);
// True for "<8 digits>.qth", the name of a packed day; `*day` (may be null) gets the digits.
bool IsPackedDayFileName(const std::string& name, std::string* day = nullptr);

#endif
