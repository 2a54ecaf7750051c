#include "core/journal_settings.h"

#include <strings.h>

#include "core/ini_file.h"

JournalSettings ReadJournalSettings(const char* path, std::string* warning) {
  const CIniFile ini(path);
  JournalSettings settings;
  char enabled[16];
  char sync[16];
  ini.ReadString("Journal", "enabled", "1", enabled, sizeof(enabled));
  ini.ReadString("Journal", "sync", "second", sync, sizeof(sync));
  if (std::string(enabled) == "0") {
    settings.enabled = false;
  } else if (std::string(enabled) != "1") {
    *warning += std::string("setting.ini [Journal] enabled=") + enabled + " is not 0 or 1; the journal stays on. ";
  }
  if (strcasecmp(sync, "none") == 0) {
    settings.sync = JournalSync::kNone;
  } else if (strcasecmp(sync, "every") == 0) {
    settings.sync = JournalSync::kEvery;
  } else if (strcasecmp(sync, "second") != 0) {
    *warning += std::string("setting.ini [Journal] sync=") + sync + " is not none, second or every; using second. ";
  }
  return settings;
}

const char* JournalSyncName(JournalSync sync) {
  switch (sync) {
    case JournalSync::kNone: return "none";
    case JournalSync::kEvery: return "every";
    case JournalSync::kSecond: break;
  }
  return "second";
}
