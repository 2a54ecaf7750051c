#include "core/setting_ini.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

#include "core/ini_file.h"

void ReadSettingIni(const char* path, AccountSettings* account, StopSaveWindows* windows) {
  const CIniFile ini(path);
  const char* section = kSettingIniSection;
  ini.ReadString(section, "brokeid", "", account->BrokerID, sizeof(account->BrokerID));
  ini.ReadString(section, "username", "", account->UserID, sizeof(account->UserID));
  ini.ReadString(section, "password", "", account->Password, sizeof(account->Password));
  ini.ReadString(section, "environment", "", account->Environment, sizeof(account->Environment));
  account->ServerNum = ini.ReadInt(section, "servernum", 0);

  windows->Set(ini.ReadInt(section, "stopsavetimebegin1", 0) / 10000.0,
               ini.ReadInt(section, "stopsavetimeend1", 0) / 10000.0,
               ini.ReadInt(section, "stopsavetimebegin2", 0) / 10000.0,
               ini.ReadInt(section, "stopsavetimeend2", 0) / 10000.0);

  const int count = std::min(account->ServerNum, AccountSettings::kAddressSlots);
  for (int i = 1; i <= count; ++i) {
    char key[32];
    std::snprintf(key, sizeof(key), "address%d", i);
    ini.ReadString(section, key, "", account->Addresses[i - 1], sizeof(account->Addresses[i - 1]));
  }
}

MdEnvironment EnvironmentOf(const AccountSettings& account) {
  if (account.Environment[0] == '\0' || strcasecmp(account.Environment, "production") == 0) {
    return MdEnvironment::kProduction;
  }
  if (strcasecmp(account.Environment, "evaluation") == 0) return MdEnvironment::kEvaluation;
  return MdEnvironment::kUnknown;
}
