#ifndef QUOTELOOM_TESTS_SUPPORT_SIMULATOR_SUMMARY_H
#define QUOTELOOM_TESTS_SUPPORT_SIMULATOR_SUMMARY_H

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>

// What the front simulator's --summary file says it sent: every tick, the ticks per contract and
// the hostile ticks (not among the others).
struct SimulatorSummary {
  std::uint64_t total = 0;
  std::uint64_t hostile = 0;
  std::map<std::string, std::uint64_t> ticks;
};

// False when `json` is not a summary (no "ticks_total" or "ticks").
inline bool ParseSimulatorSummary(const std::string& json, SimulatorSummary* out) {
  const nlohmann::json j = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object() || !j.contains("ticks_total") || !j.contains("ticks") || !j["ticks"].is_object()) return false;
  try {
    out->total = j["ticks_total"].get<std::uint64_t>();
    out->hostile = j.value("ticks_hostile", std::uint64_t{0});
    for (const auto& [code, count] : j["ticks"].items()) out->ticks[code] = count.get<std::uint64_t>();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return true;
}

#endif
