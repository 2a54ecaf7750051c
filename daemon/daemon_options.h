#ifndef QUOTELOOM_DAEMON_DAEMON_OPTIONS_H
#define QUOTELOOM_DAEMON_DAEMON_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>

// The command line of quoteloomd. Main thread only.
struct DaemonOptions {
  std::string workdir = ".";
  std::optional<bool> replay;  // unset: "MDServicestate" decides
  unsigned short replayPort = 7777;
  std::string replayBind = "0.0.0.0";
  std::uint32_t replayMaxConnections = 0;  // 0: from the descriptor limit
  std::uint32_t replayMaxPerAddress = 64;
  std::uint32_t replayIdleSeconds = 60;
  int statusSeconds = 10;
  // "off", or HOST:PORT of the metrics endpoint.
  std::string metricsEndpoint = "127.0.0.1:9470";
  // The sampled per-tick lines of the "行情数据" tab stay off the output (the journal).
  bool quietTicks = true;
};

// Fills `options` from argv. Returns nullopt when the program should run; otherwise the exit code,
// after printing the help or version text (standard output, 0) or the reason (standard error, 2).
std::optional<int> ParseDaemonOptions(int argc, char** argv, DaemonOptions* options);

// "off" or HOST:PORT as the metrics endpoint takes it; false with the reason in `error`.
bool IsMetricsEndpoint(const std::string& text, std::string* error);

#endif
