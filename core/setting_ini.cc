#include "core/setting_ini.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/ini_file.h"
#include "core/journal_settings.h"
#include "core/retention_settings.h"
#include "core/open_regular_file.h"

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

MdEnvironment EnvironmentNamed(std::string_view value) {
  const std::string text(value);
  if (text.empty() || strcasecmp(text.c_str(), "production") == 0) return MdEnvironment::kProduction;
  if (strcasecmp(text.c_str(), "evaluation") == 0) return MdEnvironment::kEvaluation;
  return MdEnvironment::kUnknown;
}

MdEnvironment EnvironmentOf(const AccountSettings& account) { return EnvironmentNamed(account.Environment); }

namespace {

// At most 40 characters of a setting as text, other bytes as \xNN, for a message.
std::string Shown(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size() && i < 40; ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    }
  }
  if (value.size() > 40) out += "...";
  return out;
}

bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    const std::string literal(host.substr(1, host.size() - 2));
    in6_addr parsed{};
    return inet_pton(AF_INET6, literal.c_str(), &parsed) == 1;
  }
  if (host.find_first_not_of("0123456789.") == std::string_view::npos) {
    in_addr parsed{};
    return inet_pton(AF_INET, std::string(host).c_str(), &parsed) == 1;
  }
  return host.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-") ==
             std::string_view::npos &&
         host.front() != '-' && host.front() != '.';
}

// A file of text: no NUL byte in what the collector reads of it.
bool HoldsNul(std::FILE* file) {
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    if (std::memchr(buffer, '\0', n) != nullptr) return true;
  }
  return false;
}

}  // namespace

bool IsFrontAddress(std::string_view text) {
  const std::size_t scheme = text.find("://");
  if (scheme == std::string_view::npos || scheme == 0 ||
      text.substr(0, scheme).find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") != std::string_view::npos) {
    return false;
  }
  text.remove_prefix(scheme + 3);
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || !IsHostName(text.substr(0, colon))) return false;
  const std::string_view port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const int number = std::stoi(std::string(port));
  return number >= 1 && number <= 65535;
}

std::string FrontSettingsProblem(const char* path) {
  int error = 0;
  std::FILE* file = OpenRegularStream(path, O_RDONLY, "rb", &error);
  if (file == nullptr) return "setting.ini cannot be read: " + OpenErrorText(error);
  const bool binary = HoldsNul(file);
  std::fclose(file);
  if (binary) return "setting.ini is not a text file (it holds NUL bytes)";

  const CIniFile ini(path);
  char text[64] = {};
  ini.ReadString(kSettingIniSection, "servernum", "\x01", text, sizeof(text));
  const std::string servernum = text;
  if (servernum == "\x01") return "setting.ini has no servernum in [AccountInfo]";
  // The collector reads address1 to address12; a larger count names slots it never reads.
  const bool whole = !servernum.empty() && servernum.size() <= 2 &&
                     servernum.find_first_not_of("0123456789") == std::string::npos;
  const int count = whole ? std::stoi(servernum) : 0;
  if (count < 1 || count > AccountSettings::kAddressSlots) {
    return SettingNamed(kSettingIniSection, "servernum", servernum) + " is not a number of fronts from 1 to 12";
  }
  int usable = 0;
  for (int i = 1; i <= count; ++i) {
    const std::string key = "address" + std::to_string(i);
    // One more than the collector's slot holds, so that an address it would cut shows as too long.
    char address[sizeof(AccountSettings::Addresses[0]) + 1] = {};
    ini.ReadString(kSettingIniSection, key.c_str(), "", address, sizeof(address));
    const std::string_view value = address;
    if (value.empty()) continue;
    if (value.size() >= sizeof(AccountSettings::Addresses[0])) {
      return SettingNamed(kSettingIniSection, key.c_str(), value) + " is longer than " +
             std::to_string(sizeof(AccountSettings::Addresses[0]) - 1) + " characters";
    }
    if (!IsFrontAddress(value)) {
      return SettingNamed(kSettingIniSection, key.c_str(), value) +
             " is not a front address such as tcp://HOST:PORT (port 1 to 65535)";
    }
    ++usable;
  }
  if (usable == 0) {
    return "setting.ini names no front: servernum=" + servernum + " but address1" +
           (count > 1 ? " to address" + std::to_string(count) + " are" : " is") + " empty";
  }
  return {};
}

bool IsTimeOfDay(std::string_view text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  int hhmm = 0;
  for (char c : text) hhmm = hhmm * 10 + (c - '0');
  return hhmm / 100 <= 23 && hhmm % 100 <= 59;
}

std::string SettingValuesProblem(const char* path) {
  const CIniFile ini(path);
  char value[128];
  for (const char* key : {"stopsavetimebegin1", "stopsavetimeend1", "stopsavetimebegin2", "stopsavetimeend2"}) {
    ini.ReadString(kSettingIniSection, key, "", value, sizeof(value));
    if (value[0] != '\0' && !IsTimeOfDay(value)) {
      return SettingNamed(kSettingIniSection, key, value) + " is not a time of day HHMM from 0000 to 2359";
    }
  }
  ini.ReadString(kSettingIniSection, "environment", "", value, sizeof(value));
  if (EnvironmentNamed(value) == MdEnvironment::kUnknown) {
    return SettingNamed(kSettingIniSection, "environment", value) + " is not production or evaluation";
  }
  std::string problem;
  ReadJournalSettings(path, &problem);
  ReadRetentionSettings(path, &problem);
  return problem;
}

std::string SettingIniProblem(const char* path) {
  std::string problem = FrontSettingsProblem(path);
  return problem.empty() ? SettingValuesProblem(path) : problem;
}

std::string SettingNamed(const char* section, const char* key, std::string_view value) {
  return "[" + std::string(section) + "] " + key + "=" + Shown(value) + " in setting.ini";
}
