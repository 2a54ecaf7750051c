#ifndef QUOTELOOM_CORE_JOURNAL_SETTINGS_H
#define QUOTELOOM_CORE_JOURNAL_SETTINGS_H

#include <string>

// How durable the tick journal is: fdatasync never, at most once a second, or after every record.
enum class JournalSync { kNone, kSecond, kEvery };

// The [Journal] section of setting.ini. Read once by the owning thread before the writer starts.
struct JournalSettings {
  bool enabled = true;
  JournalSync sync = JournalSync::kSecond;
};

// Reads "enabled" (0 or 1, default 1) and "sync" (none, second or every, without case; default
// second); a missing or empty key takes the default. A value it cannot use keeps the default and
// leaves the first such setting, named with its section and value, in `*problem` (the programs
// refuse to start on it).
JournalSettings ReadJournalSettings(const char* path, std::string* problem);

const char* JournalSyncName(JournalSync sync);

#endif
