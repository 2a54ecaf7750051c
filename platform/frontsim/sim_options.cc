#include "platform/frontsim/sim_options.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

#include "core/command_line.h"
#include "platform/frontsim/fault_field.h"

namespace {

constexpr double kMaxTotalRate = 1e6;       // ticks per second in all
constexpr double kMaxContractRate = 1000;   // snapshots per second per contract
constexpr double kMaxSeconds = 366 * 86400.0;
constexpr double kMaxReplaySpeed = 1e6;

// A number from 0 to `max`; larger values would make the pacer's sums and waits meaningless.
bool ParseNumber(const std::string& text, double max, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(parsed) || parsed < 0 || parsed > max) return false;
  *value = parsed;
  return true;
}

bool ParseCount(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0) return false;
  *value = parsed;
  return true;
}

bool ParseListen(const std::string& text, SimOptions* options) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::uint64_t port = 0;
  if (!ParseCount(text.substr(colon + 1), &port) || port > 65535) return false;
  options->listen_host = text.substr(0, colon);
  options->listen_port = static_cast<unsigned short>(port);
  return true;
}

// Eight digits that name a real calendar date.
bool ParseDay(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int date = std::atoi(text.c_str());
  const std::chrono::year_month_day ymd{std::chrono::year(date / 10000), std::chrono::month(date / 100 % 100),
                                        std::chrono::day(date % 100)};
  return ymd.ok();
}

// "HH:MM" as seconds since midnight; -1 otherwise.
int ParseClock(std::string_view t) {
  if (t.size() != 5 || t[2] != ':') return -1;
  for (int i : {0, 1, 3, 4}) {
    if (t[i] < '0' || t[i] > '9') return -1;
  }
  const int hour = (t[0] - '0') * 10 + (t[1] - '0');
  const int minute = (t[3] - '0') * 10 + (t[4] - '0');
  return hour > 23 || minute > 59 ? -1 : hour * 3600 + minute * 60;
}

bool ParseWindow(std::string_view text, std::pair<int, int>* window) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return false;
  window->first = ParseClock(text.substr(0, dash));
  window->second = ParseClock(text.substr(dash + 1));
  return window->first >= 0 && window->second >= 0 && window->first != window->second;
}

bool ParseWindows(const std::string& text, std::vector<std::pair<int, int>>* windows) {
  windows->clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    std::pair<int, int> window;
    if (!ParseWindow(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start),
                     &window)) {
      return false;
    }
    windows->push_back(window);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !windows->empty() && windows->size() <= 8;
}

bool SplitFields(const std::string& text, std::vector<std::string>* fields, std::string* error) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (FindFaultField(name) == nullptr) {
      *error = "not a price field of the depth record: " + name;
      return false;
    }
    fields->push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

// The values as typed, checked and converted once CLI11 has matched the names.
struct RawValues {
  std::string listen, trading_day, total_rate, contract_rate, duration, drop_after_ticks, drop_after_seconds, seed,
      replay_speed, replay_delay, hang_after, reset_logins, nan_fields, max_fields, hostile_every, fault_every,
      service_hours, test_window;
};

void Describe(CLI::App& app, SimOptions* o, RawValues* raw) {
  app.add_option("--listen", raw->listen,
                 "HOST:PORT to serve (default 127.0.0.1:41213; port 0 picks a free one; the first line of output "
                 "is \"listening HOST:PORT\")");
  app.add_option("--broker", o->broker, "the one account accepted: broker ID (default 9999)");
  app.add_option("--user", o->user, "user ID (default quoteloom)");
  app.add_option("--password", o->password, "password (default quoteloom)");
  app.add_option("--trading-day", raw->trading_day, "YYYYMMDD of logins and ticks (default: local clock, 18:00 rule)");
  app.add_option("--contracts", o->contracts_path, "FILE of listed contracts, one code a line (default: built-in list)");
  app.add_option("--contract-rate", raw->contract_rate,
                 "snapshots per second per subscribed listed contract, 0 to 1000 (default 2)");
  app.add_option("--total-rate", raw->total_rate,
                 "load mode: N ticks per second in all over the subscribed contracts, 0 to 1000000");
  app.add_option("--duration", raw->duration,
                 "SECONDS (at most 366 days), then close every connection, write the summary and exit");
  app.add_option("--seed", raw->seed, "seed of the random walks (default 1)");
  app.add_option("--summary", o->summary_path, "FILE: JSON summary written at exit and on SIGUSR1");
  app.add_option("--replay", o->replay_paths, "PATH: replay per-contract CSV files (a file or a folder; repeatable)")
      ->allow_extra_args(false);
  app.add_option("--replay-speed", raw->replay_speed, "replay at X times the recorded pace; 0 as fast as the rate allows");
  app.add_option("--replay-delay", raw->replay_delay, "SECONDS after the first subscription before replaying (default 1)");
  const char* market = "market hours";
  app.add_flag("--market-hours", o->market_hours,
               "trade the exchanges' calendar: sessions per product with auction and closing snapshots, front "
               "service windows, a snapshot on each subscription, test data after the close")
      ->group(market);
  app.add_option("--calendar", o->calendar_path, "FILE of holidays (default: the calendar shipped with the programs)")
      ->group(market);
  app.add_option("--service-hours", raw->service_hours,
                 "front service windows as HH:MM-HH:MM,... (default 20:30-02:45,08:30-15:30)")
      ->group(market);
  app.add_option("--test-window", raw->test_window, "HH:MM-HH:MM after the day close with test data (default 15:15-15:30)")
      ->group(market);
  app.add_option("--truth", o->truth_dir, "DIR: write what was sent, per trading day, each record classed")->group(market);
  const char* faults = "faults";
  app.add_option("--drop-after-ticks", raw->drop_after_ticks, "close every connection once N ticks have been sent")
      ->group(faults);
  app.add_option("--drop-after-seconds", raw->drop_after_seconds, "close every connection S seconds after start")
      ->group(faults);
  app.add_flag("--ignore-heartbeats", o->ignore_heartbeats, "never answer a heartbeat")->group(faults);
  app.add_option("--hang-after-seconds", raw->hang_after, "after S seconds send nothing more but keep the sockets open")
      ->group(faults);
  app.add_flag("--refuse-logins", o->refuse_logins, "refuse every login with error 3")->group(faults);
  app.add_option("--reset-logins", raw->reset_logins, "answer the first N login requests with a connection reset")
      ->group(faults);
  app.add_option("--nan-fields", raw->nan_fields, "F1,F2: put NaN into these price fields (record names, e.g. LastPrice)")
      ->group(faults);
  app.add_option("--max-fields", raw->max_fields, "F1,F2: put the largest double into these price fields")->group(faults);
  app.add_option("--fault-every", raw->fault_every, "the field faults hit every N-th tick of a contract (default 1)")
      ->group(faults);
  app.add_option("--hostile-every", raw->hostile_every,
                 "after every N ticks send one round of hostile ticks: codes that are paths, hold a comma, CR LF or "
                 "GBK, are empty, longer than 30 or 80 characters or never subscribed, and a comma or control "
                 "character in the update time or the days (counted as ticks_hostile, not in ticks)")
      ->group(faults);
}

bool Convert(const CLI::App& app, const RawValues& raw, SimOptions* o, std::string* error) {
  struct Check {
    const char* name;
    const std::string& value;
    std::function<bool()> apply;
    const char* accepted = nullptr;  // said with the refusal
  };
  std::uint64_t count = 0;
  const char* seconds = "0 to 31622400 seconds";
  const Check checks[] = {
      {"--listen", raw.listen, [&] { return ParseListen(raw.listen, o); }, "HOST:PORT"},
      {"--trading-day", raw.trading_day, [&] { o->trading_day = raw.trading_day; return ParseDay(raw.trading_day); },
       "a date as yyyymmdd"},
      {"--total-rate", raw.total_rate, [&] { return ParseNumber(raw.total_rate, kMaxTotalRate, &o->total_rate); },
       "0 to 1000000 ticks per second"},
      {"--contract-rate", raw.contract_rate,
       [&] { return ParseNumber(raw.contract_rate, kMaxContractRate, &o->contract_rate); },
       "0 to 1000 snapshots per second"},
      {"--duration", raw.duration, [&] { return ParseNumber(raw.duration, kMaxSeconds, &o->duration_s); }, seconds},
      {"--drop-after-ticks", raw.drop_after_ticks, [&] { return ParseCount(raw.drop_after_ticks, &o->drop_after_ticks); }},
      {"--drop-after-seconds", raw.drop_after_seconds,
       [&] { return ParseNumber(raw.drop_after_seconds, kMaxSeconds, &o->drop_after_s); }, seconds},
      {"--seed", raw.seed, [&] { return ParseCount(raw.seed, &o->seed); }},
      {"--replay-speed", raw.replay_speed,
       [&] { return ParseNumber(raw.replay_speed, kMaxReplaySpeed, &o->replay_speed); }, "0 to 1000000"},
      {"--replay-delay", raw.replay_delay, [&] { return ParseNumber(raw.replay_delay, 86400, &o->replay_delay_s); },
       "0 to 86400 seconds"},
      {"--hang-after-seconds", raw.hang_after, [&] { return ParseNumber(raw.hang_after, kMaxSeconds, &o->hang_after_s); },
       seconds},
      {"--reset-logins", raw.reset_logins, [&] {
         const bool ok = ParseCount(raw.reset_logins, &count) && count <= 1000000;
         o->reset_logins = static_cast<int>(count);
         return ok;
       }, "0 to 1000000"},
      {"--hostile-every", raw.hostile_every, [&] { return ParseCount(raw.hostile_every, &o->hostile_every) && o->hostile_every > 0; }},
      {"--fault-every", raw.fault_every, [&] { return ParseCount(raw.fault_every, &o->fault_every) && o->fault_every > 0; }},
      {"--service-hours", raw.service_hours, [&] { return ParseWindows(raw.service_hours, &o->service_windows); }},
      {"--test-window", raw.test_window, [&] { return ParseWindow(raw.test_window, &o->test_window); }},
  };
  for (const Check& check : checks) {
    if (app.count(check.name) == 0) continue;
    if (!check.apply()) {
      *error = std::string("bad value for ") + check.name + ": " + check.value;
      if (check.accepted != nullptr) *error += std::string(" (takes ") + check.accepted + ")";
      return false;
    }
  }
  if (app.count("--nan-fields") > 0 && !SplitFields(raw.nan_fields, &o->nan_fields, error)) return false;
  if (app.count("--max-fields") > 0 && !SplitFields(raw.max_fields, &o->max_fields, error)) return false;
  return true;
}

// Describes the options, parses and converts; a refusal's reason in `error`.
CommandLine::Outcome ParseInto(CommandLine& commandLine, int argc, const char* const argv[], SimOptions* o,
                               std::string* error) {
  RawValues raw;
  Describe(commandLine.app(), o, &raw);
  const CommandLine::Outcome outcome = commandLine.Parse(argc, argv);
  if (outcome == CommandLine::Outcome::kUsageError) *error = commandLine.message();
  if (outcome != CommandLine::Outcome::kRun) return outcome;
  return Convert(commandLine.app(), raw, o, error) ? outcome : CommandLine::Outcome::kUsageError;
}

constexpr const char* kProgram = "quoteloom-frontsim";
constexpr const char* kDescription =
    "A market-data front for the stand-in CTP API: logins, subscriptions and simulated ticks.";

}  // namespace

bool ParseSimOptions(int argc, const char* const argv[], SimOptions* o, std::string* error) {
  CommandLine commandLine(kProgram, kDescription);
  return ParseInto(commandLine, argc, argv, o, error) != CommandLine::Outcome::kUsageError;
}

std::optional<int> ReadSimCommandLine(int argc, const char* const argv[], SimOptions* o) {
  CommandLine commandLine(kProgram, kDescription);
  commandLine.SetFooter({.success = "after a normal end", .failure = "it cannot listen or read a file it was given"});
  std::string error;
  const CommandLine::Outcome outcome = ParseInto(commandLine, argc, argv, o, &error);
  if (outcome == CommandLine::Outcome::kUsageError) return commandLine.UsageError(error);
  return commandLine.Answer(outcome);
}
