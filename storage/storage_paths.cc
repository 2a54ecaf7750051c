#include "storage/storage_paths.h"

#include <cstdio>

void TimeStreamFilePath(const char* tradingDay, char (&out)[kFilePathSize]) {
  std::snprintf(out, sizeof(out), "%s/%s.csv", kTimeStreamDirectory, tradingDay);
}

void DayDirectoryPath(const char* tradingDay, char (&out)[kDayDirectorySize]) {
  std::snprintf(out, sizeof(out), "%s/%s", kDataDirectory, tradingDay);
}

void ContractFilePath(const char* tradingDay, const char* contract, char (&out)[kFilePathSize]) {
  std::snprintf(out, sizeof(out), "%s/%s/%s.csv", kDataDirectory, tradingDay, contract);
}

void EnsureTimeStreamDirectory(FileEnv& env) {
  if (!env.Exists(kTimeStreamDirectory)) env.CreateDirectory(kTimeStreamDirectory);
}

void EnsureDayDirectory(FileEnv& env, const char* tradingDay) {
  char day[kDayDirectorySize];
  DayDirectoryPath(tradingDay, day);
  if (env.Exists(day)) return;
  if (!env.Exists(kDataDirectory)) env.CreateDirectory(kDataDirectory);
  env.CreateDirectory(day);
}
