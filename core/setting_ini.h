#ifndef QUOTELOOM_CORE_SETTING_INI_H
#define QUOTELOOM_CORE_SETTING_INI_H

#include <string>
#include <string_view>

#include "core/stop_save_windows.h"

// What setting.ini tells the collector. Filled once by the collector thread before the API starts;
// read afterwards by the callback thread.
struct AccountSettings {
  static constexpr int kAddressSlots = 12;

  char BrokerID[11] = {};
  char UserID[13] = {};
  char Password[41] = {};
  int ServerNum = 0;
  char Addresses[kAddressSlots][50] = {};
  // "environment": empty or "production" for production fronts, "evaluation" for the vendor's
  // evaluation environment (chosen through CreateFtdcMdApi by SDKs from 6.7.11 on).
  char Environment[16] = {};
};

enum class MdEnvironment { kProduction, kEvaluation, kUnknown };

// The environment a value of "environment" names, compared without case; empty is production.
MdEnvironment EnvironmentNamed(std::string_view value);
MdEnvironment EnvironmentOf(const AccountSettings& account);

inline constexpr const char* kSettingIniPath = "./setting.ini";
inline constexpr const char* kSettingIniSection = "AccountInfo";

// Reads the account, "environment", "servernum", the four stop-save times (HHMM / 10000.0) and address1 to
// address<min(servernum, 12)>. A missing file or key gives empty text and 0, without a message.
void ReadSettingIni(const char* path, AccountSettings* account, StopSaveWindows* windows);

// True for "SCHEME://HOST:PORT" as a front takes it: a scheme of letters and digits (tcp, ssl, ...),
// a host name, a valid dotted IPv4 address or a bracketed IPv6 one, and a port from 1 to 65535.
bool IsFrontAddress(std::string_view text);

// Empty when the file at `path` can be read and names at least one usable front; otherwise the
// reason, naming the file or the setting (servernum, addressN) that is wrong. Any thread.
std::string FrontSettingsProblem(const char* path);

// True for a stop-save time as setting.ini gives it: HHMM in one to four digits, hours 0 to 23 and
// minutes 0 to 59 ("0", "300" and "0840" are times; "2561", "-5", "9999" and "abc" are not).
bool IsTimeOfDay(std::string_view text);

// Empty when every other value the collector reads is one it can use: the four stop-save times,
// "environment" (production or evaluation), [Journal] enabled (0 or 1) and sync (none, second or
// every), [Retention] journal_days and csv_days (a number of days). Otherwise the first that is
// not, named with its section and value. A missing or empty key
// takes its default. A missing file is no problem here (FrontSettingsProblem names it). Any thread.
std::string SettingValuesProblem(const char* path);

// FrontSettingsProblem, then SettingValuesProblem: what stops a collector at start.
std::string SettingIniProblem(const char* path);

// "[SECTION] KEY=VALUE in setting.ini", the value cut to 40 characters and its bytes outside
// printable ASCII shown as \xNN: how every message about a setting names it.
std::string SettingNamed(const char* section, const char* key, std::string_view value);

#endif
