#ifndef QUOTELOOM_STORAGE_STORAGE_PATHS_H
#define QUOTELOOM_STORAGE_STORAGE_PATHS_H

#include "storage/file_env.h"

// Names of the stored tick files, relative to the current directory. Any thread.

inline constexpr const char* kTimeStreamDirectory = "DataTimeStream";
inline constexpr const char* kDataDirectory = "Data";
inline constexpr const char* kTimeStreamFallbackFile = "cresh1.txt";
inline constexpr const char* kContractFallbackFile = "cresh2.txt";

inline constexpr int kFilePathSize = 300;
inline constexpr int kDayDirectorySize = 30;

// "DataTimeStream/<day>.csv", cut to the buffer.
void TimeStreamFilePath(const char* tradingDay, char (&out)[kFilePathSize]);
// "Data/<day>", cut to the buffer.
void DayDirectoryPath(const char* tradingDay, char (&out)[kDayDirectorySize]);
// "Data/<day>/<contract>.csv", cut to the buffer.
void ContractFilePath(const char* tradingDay, const char* contract, char (&out)[kFilePathSize]);

// Creates "DataTimeStream" when nothing has that name. Called before every time-stream append.
void EnsureTimeStreamDirectory(FileEnv& env);
// Creates "Data/<day>" when missing, "Data" first when that is missing too, one level at a time.
// Called before every per-contract append.
void EnsureDayDirectory(FileEnv& env, const char* tradingDay);

#endif
