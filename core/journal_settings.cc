#include "core/journal_settings.h"

#include <strings.h>

#include <string_view>

#include "core/ini_file.h"
#include "core/setting_ini.h"

namespace {

constexpr const char* kSection = "Journal";

}  // namespace

JournalSettings ReadJournalSettings(const char* path, std::string* problem) {
  const CIniFile ini(path);
  JournalSettings settings;
  char enabled[128];
  char sync[128];
  ini.ReadString(kSection, "enabled", "", enabled, sizeof(enabled));
  ini.ReadString(kSection, "sync", "", sync, sizeof(sync));
  const std::string_view flag = enabled;
  if (flag == "0") {
    settings.enabled = false;
  } else if (!flag.empty() && flag != "1" && problem->empty()) {
    *problem = SettingNamed(kSection, "enabled", flag) + " is not 0 or 1";
  }
  if (strcasecmp(sync, "none") == 0) {
    settings.sync = JournalSync::kNone;
  } else if (strcasecmp(sync, "every") == 0) {
    settings.sync = JournalSync::kEvery;
  } else if (sync[0] != '\0' && strcasecmp(sync, "second") != 0 && problem->empty()) {
    *problem = SettingNamed(kSection, "sync", sync) + " is not none, second or every";
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
