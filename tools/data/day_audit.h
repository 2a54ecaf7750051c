#ifndef QUOTELOOM_TOOLS_DATA_DAY_AUDIT_H
#define QUOTELOOM_TOOLS_DATA_DAY_AUDIT_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/data/contract_audit.h"
#include "tools/data/tick_source.h"

// The audit of every contract of one trading day, and its report. One thread.
struct DayAudit {
  int day = 0;
  std::vector<ContractAudit> contracts;
  bool night_collected = false;  // some contract had a tick inside its night session
  bool day_collected = false;
  bool holiday = false;          // not a trading day on the calendar: read, counted, never judged
  bool night_held = true;        // the calendar gives the day a night session (none after a holiday)
  // Sessions ("night", "day") the calendar says took place but no contract has a tick in: findings.
  std::vector<std::string> silent_sessions;
  std::string error;             // the day could not be read at all (or the calendar lacks its year)
  std::vector<std::string> file_errors;
  std::uint64_t lines = 0;

  std::uint64_t Holes() const;
  std::uint64_t Invalid() const;
  std::uint64_t Duplicates() const;
  std::uint64_t Ticks() const;
  std::uint64_t Stale() const;
  std::uint64_t Test() const;
};

// The audit of the day's ticks in stored order.
DayAudit AuditDay(TickSource& source, int day, const AuditOptions& options);
// The same of the day's store under a working folder (tools/data/day_source.h).
DayAudit AuditDay(const std::filesystem::path& workdir, int day, const AuditOptions& options);

// The human-readable report of a day: a line per contract, its findings indented below, a summary line.
std::string AuditText(const DayAudit& audit);
// The same as one JSON object.
std::string AuditJson(const std::vector<DayAudit>& days);

#endif
