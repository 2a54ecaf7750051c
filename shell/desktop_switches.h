#ifndef QUOTELOOM_SHELL_DESKTOP_SWITCHES_H
#define QUOTELOOM_SHELL_DESKTOP_SWITCHES_H

#include <functional>
#include <string>

#include "core/user_store.h"

// The desktop switches as read at startup. Owned by the user-interface thread.
struct DesktopSwitches {
  std::string replayServiceState;  // "1" or "0"; never empty after reading
  std::string autorunState;        // "1", "0" or empty
  unsigned char timeStreamFlag = 1;
  unsigned char perContractFlag = 1;
};

// Reads the four values by the startup rules. A missing or empty autorun value calls
// `switchAutorunOn`, which is expected to store "1" and set `autorunState` itself.
DesktopSwitches ReadDesktopSwitches(UserStore& store,
                                    const std::function<void(DesktopSwitches&)>& switchAutorunOn);

// True when the replay service should start: the state is "1" or empty.
inline bool ReplayServiceEnabled(const std::string& state) { return state.empty() || state == "1"; }

#endif
