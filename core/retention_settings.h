#ifndef QUOTELOOM_CORE_RETENTION_SETTINGS_H
#define QUOTELOOM_CORE_RETENTION_SETTINGS_H

#include <optional>
#include <string>

// The [Retention] section of setting.ini: how many of the most recent packed and verified days keep
// their journal and their CSV files. Empty keeps every day's files. Read once by the thread that
// starts the day-close job.
struct RetentionSettings {
  std::optional<int> journalDays;
  std::optional<int> csvDays;
};

inline constexpr int kMaxRetentionDays = 100000;

// Reads "journal_days" and "csv_days" (a whole number from 0 to kMaxRetentionDays; missing or empty
// keeps everything). A value it cannot use keeps everything and leaves the first such setting, named
// with its section and value, in `*problem` (the programs refuse to start on it).
RetentionSettings ReadRetentionSettings(const char* path, std::string* problem);

// "journals of the last 5 packed days, CSV files of every day": the settings as a log line says them.
std::string RetentionText(const RetentionSettings& settings);

#endif
