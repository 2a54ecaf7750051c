#include "shell/desktop_switches.h"

DesktopSwitches ReadDesktopSwitches(UserStore& store,
                                    const std::function<void(DesktopSwitches&)>& switchAutorunOn) {
  DesktopSwitches switches;
  switches.replayServiceState = store.Read(kReplayServiceStateName);
  if (switches.replayServiceState.empty()) switches.replayServiceState = "1";  // not written back

  switches.autorunState = store.Read(kAutorunStateName);
  if (switches.autorunState.empty() && switchAutorunOn) switchAutorunOn(switches);

  const std::string timeStream = store.Read(kTimeStreamModeName);
  switches.timeStreamFlag = (timeStream.empty() || timeStream == "1") ? 1 : 0;
  switches.perContractFlag = store.Read(kPerContractModeName) == "1" ? 1 : 0;
  return switches;
}
