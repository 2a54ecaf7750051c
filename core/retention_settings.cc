#include "core/retention_settings.h"

#include <string_view>

#include "core/ini_file.h"
#include "core/setting_ini.h"

namespace {

constexpr const char* kSection = "Retention";

// A count of days as written: digits only, at most kMaxRetentionDays.
std::optional<int> DaysOf(std::string_view text) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int days = 0;
  for (char c : text) days = days * 10 + (c - '0');
  if (days > kMaxRetentionDays) return std::nullopt;
  return days;
}

void ReadDays(const CIniFile& ini, const char* key, std::optional<int>* out, std::string* problem) {
  char value[128];
  ini.ReadString(kSection, key, "", value, sizeof(value));
  if (value[0] == '\0') return;
  *out = DaysOf(value);
  if (!out->has_value() && problem->empty()) {
    *problem = SettingNamed(kSection, key, value) + " is not a number of days from 0 to " +
               std::to_string(kMaxRetentionDays);
  }
}

std::string KeptText(const std::optional<int>& days) {
  if (!days.has_value()) return "of every day";
  if (*days == 0) return "of no packed day";
  if (*days == 1) return "of the last packed day";
  return "of the last " + std::to_string(*days) + " packed days";
}

}  // namespace

RetentionSettings ReadRetentionSettings(const char* path, std::string* problem) {
  const CIniFile ini(path);
  RetentionSettings settings;
  ReadDays(ini, "journal_days", &settings.journalDays, problem);
  ReadDays(ini, "csv_days", &settings.csvDays, problem);
  return settings;
}

std::string RetentionText(const RetentionSettings& settings) {
  return "journals " + KeptText(settings.journalDays) + ", CSV files " + KeptText(settings.csvDays);
}
