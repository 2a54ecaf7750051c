#include "tools/data/day_audit.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "tools/data/day_files.h"
#include "tools/data/day_source.h"

namespace fs = std::filesystem;

namespace {

template <typename F>
std::uint64_t Sum(const DayAudit& audit, F f) {
  std::uint64_t total = 0;
  for (const ContractAudit& c : audit.contracts) total += f(c);
  return total;
}

std::string Format(const char* format, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::string SecondsText(std::int64_t ms) { return Format("%.1f s", static_cast<double>(ms) / 1000.0); }

// Whether any contract of the day has a night (day) session in its hours that has opened by now.
void JudgeSilentSessions(const AuditOptions& options, DayAudit* audit) {
  bool night = false, day = false;
  for (const ContractAudit& c : audit->contracts) {
    const ProductHours* hours = FindProductHours(c.product);
    if (hours == nullptr) continue;
    for (const TradingSession& session : hours->sessions()) {
      if (options.judge_until_ms >= 0 && session.begin() * 1000LL >= options.judge_until_ms) continue;
      (session.night() ? night : day) = true;
    }
  }
  if (night && audit->night_held && !audit->night_collected) audit->silent_sessions.push_back("night");
  if (day && !audit->day_collected) audit->silent_sessions.push_back("day");
}

}  // namespace

std::uint64_t DayAudit::Holes() const {
  return Sum(*this, [](const ContractAudit& c) { return c.Holes(); }) + silent_sessions.size();
}
std::uint64_t DayAudit::Ticks() const { return Sum(*this, [](const ContractAudit& c) { return c.ticks; }); }
std::uint64_t DayAudit::Stale() const { return Sum(*this, [](const ContractAudit& c) { return c.stale_snapshots; }); }
std::uint64_t DayAudit::Test() const { return Sum(*this, [](const ContractAudit& c) { return c.test_data; }); }
std::uint64_t DayAudit::Invalid() const {
  return Sum(*this, [](const ContractAudit& c) { return c.Invalid(); }) + file_errors.size() + (error.empty() ? 0 : 1);
}
std::uint64_t DayAudit::Duplicates() const {
  return Sum(*this, [](const ContractAudit& c) { return c.duplicates; });
}

namespace {

// An auditor per contract, fed in stored order; a tick's "line" is its line in its contract's file
// or its sequence number in a journal. False when the day cannot be read on.
bool ReadTicks(TickSource& source, int day, const AuditOptions& options, HugePageArena* arena, DayAudit* audit,
               std::vector<std::unique_ptr<ContractAuditor>>* auditors) {
  std::map<std::string, std::unique_ptr<ContractAuditor>, std::less<>> byContract;  // in name order
  // The same by a hash of the code, for a journal's ticks, whose contracts take turns.
  std::unordered_map<std::string_view, ContractAuditor*> byCode;
  for (const std::string& contract : source.Listed()) {
    auto it = byContract.emplace(contract, std::make_unique<ContractAuditor>(contract, options, day, arena)).first;
    byCode.emplace(it->first, it->second.get());
  }
  SourceTick tick;
  ContractAuditor* last = nullptr;
  std::string_view lastName;
  for (;;) {
    const TickSource::Result r = source.Next(&tick);
    if (r == TickSource::Result::kError) {
      audit->error = source.error();
      return false;
    }
    if (r == TickSource::Result::kEnd) break;
    ++audit->lines;
    if (last == nullptr || tick.contract != lastName) {
      auto known = byCode.find(tick.contract);
      if (known == byCode.end()) {
        const std::string contract(tick.contract);
        auto it = byContract.emplace(contract, std::make_unique<ContractAuditor>(contract, options, day, arena)).first;
        known = byCode.emplace(it->first, it->second.get()).first;
      }
      last = known->second;
      lastName = known->first;
    }
    if (tick.malformed || !source.HasLine()) {
      last->AddMalformed(tick.number);
    } else {
      last->Add(source, tick);
    }
  }
  for (const std::string& error : source.FileErrors()) audit->file_errors.push_back(error);
  if (source.Damaged() > 0) {
    audit->file_errors.push_back(source.Path() + ": " + std::to_string(source.Damaged()) + " damaged records");
  }
  for (auto& [contract, auditor] : byContract) auditors->push_back(std::move(auditor));
  return true;
}

}  // namespace

DayAudit AuditDay(const fs::path& workdir, int day, const AuditOptions& options) {
  DayAudit audit;
  audit.day = day;
  const std::optional<bool> trading = options.calendar->IsTradingDay(day, &audit.error);
  const std::optional<bool> night = options.calendar->HasNightSession(day, &audit.error);
  if (!trading || !night) return audit;
  const std::unique_ptr<TickSource> source = OpenDaySource(workdir, day, &audit.error);
  if (!source) return audit;
  return AuditDay(*source, day, options);
}

DayAudit AuditDay(TickSource& source, int day, const AuditOptions& options) {
  DayAudit audit;
  audit.day = day;
  const std::optional<bool> trading = options.calendar->IsTradingDay(day, &audit.error);
  const std::optional<bool> night = options.calendar->HasNightSession(day, &audit.error);
  if (!trading || !night) return audit;
  audit.holiday = !*trading;
  audit.night_held = *night;
  HugePageArena arena;
  std::vector<std::unique_ptr<ContractAuditor>> auditors;
  if (!ReadTicks(source, day, options, &arena, &audit, &auditors)) return audit;
  for (auto& auditor : auditors) {
    auditor->EndOfFile();
    audit.night_collected |= auditor->saw_night();
    audit.day_collected |= auditor->saw_day();
  }
  // A holiday is not judged; on a trading day a session without a single tick is a finding.
  for (auto& auditor : auditors) {
    audit.contracts.push_back(
        auditor->Finish(audit.night_collected && !audit.holiday, audit.day_collected && !audit.holiday));
  }
  if (!audit.holiday) JudgeSilentSessions(options, &audit);
  return audit;
}

std::string AuditText(const DayAudit& audit) {
  std::string out;
  if (!audit.error.empty()) return Format("%d: cannot read: %s\n", audit.day, audit.error.c_str());
  for (const std::string& error : audit.file_errors) out += Format("%d: cannot read %s\n", audit.day, error.c_str());
  for (const ContractAudit& c : audit.contracts) {
    out += Format("%d %-12s ticks %8llu", audit.day, c.contract.c_str(), static_cast<unsigned long long>(c.ticks));
    if (c.first_ms >= 0) {
      out += "  " + SessionTimeText(c.first_ms) + " - " + SessionTimeText(c.last_ms);
    }
    if (!c.hours_known) {
      out += "  product '" + c.product + "' not in the session table: gaps not checked";
    } else if (c.active) {
      out += Format("  active (median interval %lld ms)", static_cast<long long>(c.median_interval_ms));
    } else {
      out += "  not active: gaps not checked";
    }
    out += "\n";
    for (const AuditGap& gap : c.gaps) {
      out += "    hole " + SessionTimeText(gap.from_ms) + " - " + SessionTimeText(gap.to_ms) + " (" +
             SecondsText(gap.trading_ms) + " of trading, " + gap.where + ")\n";
    }
    if (c.gaps_not_listed > 0) out += Format("    %llu more holes\n", static_cast<unsigned long long>(c.gaps_not_listed));
    const std::pair<const char*, std::uint64_t> counts[] = {
        {"duplicates", c.duplicates},
        {"invalid update times", c.invalid_times},
        {"update times out of order", c.out_of_order},
        {"last prices outside the limits or not numbers", c.last_outside_limits},
        {"last prices carrying the largest double", c.last_max_double},
        {"malformed lines", c.malformed},
        {"ticks outside trading hours (note)", c.outside_sessions},
        {"stale snapshots (note)", c.stale_snapshots},
        {"test data (note)", c.test_data},
    };
    for (const auto& [what, n] : counts) {
      if (n > 0) out += Format("    %s: %llu\n", what, static_cast<unsigned long long>(n));
    }
    for (const AuditExample& e : c.examples) {
      out += Format("    line %llu: %s %s\n", static_cast<unsigned long long>(e.line), e.problem.c_str(), e.text.c_str());
    }
  }
  for (const std::string& session : audit.silent_sessions) {
    out += Format("%d: the %s session has no tick at all\n", audit.day, session.c_str());
  }
  const auto state = [&](bool night) -> std::string {
    if (audit.holiday) return "holiday, not judged";
    if (night && !audit.night_held) return "none (after a holiday)";
    if (night ? audit.night_collected : audit.day_collected) return "collected";
    for (const std::string& s : audit.silent_sessions) {
      if (s == (night ? "night" : "day")) return "no tick (finding)";
    }
    return "not yet or not traded";
  };
  out += Format("%d summary: %zu contracts, %llu ticks, %llu holes, %llu invalid, %llu duplicates, %llu stale "
                "snapshots, %llu test data; night %s, day %s\n",
                audit.day, audit.contracts.size(), static_cast<unsigned long long>(audit.Ticks()),
                static_cast<unsigned long long>(audit.Holes()), static_cast<unsigned long long>(audit.Invalid()),
                static_cast<unsigned long long>(audit.Duplicates()), static_cast<unsigned long long>(audit.Stale()),
                static_cast<unsigned long long>(audit.Test()), state(true).c_str(), state(false).c_str());
  return out;
}

std::string AuditJson(const std::vector<DayAudit>& days) {
  nlohmann::json root = nlohmann::json::object();
  nlohmann::json& list = root["days"] = nlohmann::json::array();
  std::uint64_t holes = 0, invalid = 0;
  for (const DayAudit& audit : days) {
    nlohmann::json day;
    day["day"] = std::to_string(audit.day);
    if (!audit.error.empty()) day["error"] = audit.error;
    day["file_errors"] = audit.file_errors;
    day["night_collected"] = audit.night_collected;
    day["day_collected"] = audit.day_collected;
    day["holiday"] = audit.holiday;
    day["night_held"] = audit.night_held;
    day["silent_sessions"] = audit.silent_sessions;
    nlohmann::json& contracts = day["contracts"] = nlohmann::json::array();
    std::uint64_t ticks = 0;
    for (const ContractAudit& c : audit.contracts) {
      ticks += c.ticks;
      nlohmann::json j;
      j["contract"] = c.contract;
      j["product"] = c.product;
      j["hours_known"] = c.hours_known;
      j["ticks"] = c.ticks;
      j["first"] = c.first_ms >= 0 ? nlohmann::json(SessionTimeText(c.first_ms)) : nlohmann::json();
      j["last"] = c.last_ms >= 0 ? nlohmann::json(SessionTimeText(c.last_ms)) : nlohmann::json();
      j["active"] = c.active;
      j["median_interval_ms"] = c.median_interval_ms;
      nlohmann::json& gaps = j["gaps"] = nlohmann::json::array();
      for (const AuditGap& g : c.gaps) {
        gaps.push_back({{"from", SessionTimeText(g.from_ms)}, {"to", SessionTimeText(g.to_ms)},
                        {"seconds", static_cast<double>(g.trading_ms) / 1000.0}, {"where", g.where}});
      }
      j["gaps_not_listed"] = c.gaps_not_listed;
      j["duplicates"] = c.duplicates;
      j["invalid_times"] = c.invalid_times;
      j["out_of_order"] = c.out_of_order;
      j["last_outside_limits"] = c.last_outside_limits;
      j["last_max_double"] = c.last_max_double;
      j["malformed_lines"] = c.malformed;
      j["outside_sessions"] = c.outside_sessions;
      j["stale_snapshots"] = c.stale_snapshots;
      j["test_data"] = c.test_data;
      nlohmann::json& examples = j["examples"] = nlohmann::json::array();
      for (const AuditExample& e : c.examples) {
        examples.push_back({{"line", e.line}, {"problem", e.problem}, {"text", e.text}});
      }
      contracts.push_back(std::move(j));
    }
    day["summary"] = {{"contracts", audit.contracts.size()}, {"ticks", ticks}, {"holes", audit.Holes()},
                      {"invalid", audit.Invalid()}, {"duplicates", audit.Duplicates()},
                      {"stale_snapshots", audit.Stale()}, {"test_data", audit.Test()}};
    holes += audit.Holes();
    invalid += audit.Invalid();
    list.push_back(std::move(day));
  }
  root["holes"] = holes;
  root["invalid"] = invalid;
  return root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
