#ifndef QUOTELOOM_PLATFORM_FRONTSIM_SIM_SUMMARY_H
#define QUOTELOOM_PLATFORM_FRONTSIM_SIM_SUMMARY_H

#include <cstdint>
#include <map>
#include <string>

// What the simulator has done so far; tests compare it with what a collector stored. Plain value.
struct SimSummary {
  std::uint64_t ticks_total = 0;
  std::map<std::string, std::uint64_t> ticks;  // sent per contract code
  std::uint64_t logins = 0;                   // successful logins
  std::uint64_t refused_logins = 0;
  std::uint64_t subscriptions = 0;            // codes asked for, listed or not
  std::uint64_t connections = 0;
  std::uint64_t ticks_skipped = 0;            // not sent because a client fell too far behind
  std::uint64_t ticks_hostile = 0;            // hostile ticks sent (--hostile-every), not in ticks

  std::string ToJson() const;
};

// Writes the JSON through a temporary file and a rename, so readers never see half a summary.
bool WriteSimSummary(const SimSummary& summary, const std::string& path, std::string* error);

#endif
