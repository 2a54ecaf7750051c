#ifndef QUOTELOOM_PLATFORM_FRONTSIM_SIM_OPTIONS_H
#define QUOTELOOM_PLATFORM_FRONTSIM_SIM_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the front simulator is told on its command line. Plain value.
struct SimOptions {
  std::string listen_host = "127.0.0.1";
  unsigned short listen_port = 41213;
  std::string broker = "9999";
  std::string user = "quoteloom";
  std::string password = "quoteloom";
  std::string trading_day;          // empty: from the local clock
  double total_rate = 0;            // ticks per second in all; 0: contract_rate per contract
  double contract_rate = 2;         // snapshots per second per subscribed contract
  double duration_s = 0;            // 0: run until a signal
  std::uint64_t drop_after_ticks = 0;
  double drop_after_s = 0;
  std::uint64_t seed = 1;
  std::string summary_path;
  std::string contracts_path;
  std::vector<std::string> replay_paths;
  double replay_speed = 1;          // 0: as fast as the rate allows
  double replay_delay_s = 1;        // from the first subscription to the first replayed tick
  bool ignore_heartbeats = false;
  double hang_after_s = 0;          // 0: never goes silent
  bool refuse_logins = false;
  int reset_logins = 0;             // the first N login requests get a connection reset
  std::vector<std::string> nan_fields;
  std::vector<std::string> max_fields;
  std::uint64_t fault_every = 1;    // the field faults hit every N-th tick of a contract
  std::uint64_t hostile_every = 0;  // after every N ticks, one round of hostile ticks; 0: never
  // Market hours: sessions, front service windows and the calendar instead of ticks around the clock.
  bool market_hours = false;
  std::string calendar_path;        // empty: the shipped calendar
  std::string truth_dir;            // empty: no ground truth written
  // Service windows as times of day in seconds; a window whose end is before its begin runs past midnight.
  std::vector<std::pair<int, int>> service_windows = {{20 * 3600 + 30 * 60, 2 * 3600 + 45 * 60},
                                                      {8 * 3600 + 30 * 60, 15 * 3600 + 30 * 60}};
  std::pair<int, int> test_window = {15 * 3600 + 15 * 60, 15 * 3600 + 30 * 60};
};

// False with a message for an unknown option, a missing, malformed or out-of-range value; prints
// nothing (--help and --version leave `options` as it is and return true).
bool ParseSimOptions(int argc, const char* const argv[], SimOptions* options, std::string* error);

// The program's command line: nullopt when the simulator runs, otherwise its exit code after the
// help, the version or the refusal is printed.
std::optional<int> ReadSimCommandLine(int argc, const char* const argv[], SimOptions* options);

#endif
