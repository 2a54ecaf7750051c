#ifndef QUOTELOOM_HISTORY_STORED_DAY_SCAN_H
#define QUOTELOOM_HISTORY_STORED_DAY_SCAN_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "history/day_close_plan.h"

// A working folder's days as the day-close job sees them, with the bytes each store takes.
struct StoredDayScan {
  std::vector<StoredDay> days;           // by day, oldest first
  std::uint64_t packedDays = 0;          // History/<day>.qth files
  std::uint64_t packedBytes = 0;         // their bytes
  bool truncated = false;                // more than kMaxScannedDays days: some were left out
};

// Lists Journal/<day>.qtj, DataTimeStream/<day>.csv, Data/<day>/ and History/<day>.qth under
// `workdir` with the times of their last change. Links and entries of another type than expected
// are left out, so nothing outside the folder is ever taken for a day's file. Any thread.
StoredDayScan ScanStoredDays(const std::filesystem::path& workdir);

// At most this many days are listed (about 270 years of trading days).
inline constexpr std::size_t kMaxScannedDays = 100000;

// True for eight digits. Pure.
bool IsDayName(const std::string& name);

#endif
