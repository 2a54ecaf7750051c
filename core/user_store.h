#ifndef QUOTELOOM_CORE_USER_STORE_H
#define QUOTELOOM_CORE_USER_STORE_H

#include <string>
#include <string_view>

// The per-user store of the desktop switches: string values of section "Settings", names compared
// without case. Used from the user-interface thread (or the headless program's main thread).
class UserStore {
 public:
  virtual ~UserStore() = default;
  // The stored value, or an empty text when there is none.
  virtual std::string Read(std::string_view name) = 0;
  // Returns false when the value could not be stored.
  virtual bool Write(std::string_view name, std::string_view value) = 0;
};

inline constexpr const char* kUserStoreOrganization = "Vantrelo Quoteloom";
inline constexpr const char* kUserStoreApplication = "Quoteloom";
inline constexpr const char* kUserStoreSection = "Settings";

// Value names of the four switches.
inline constexpr const char* kReplayServiceStateName = "MDServicestate";
inline constexpr const char* kAutorunStateName = "AutoRunState";
inline constexpr const char* kTimeStreamModeName = "collecttimestremstr";
inline constexpr const char* kPerContractModeName = "collectinstrumentstatestr";
// HOST:PORT where the desktop program serves its metrics, or "off"; empty: the collector's default.
inline constexpr const char* kMetricsEndpointName = "MetricsEndpoint";

// $XDG_CONFIG_HOME (or ~/.config) joined with the given relative path.
std::string XdgConfigPath(std::string_view relative);

#endif
