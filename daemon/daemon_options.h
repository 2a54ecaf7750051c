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
  std::string metricsEndpoint = "127.0.0.1:9470";  // HOST:PORT of /metrics, or "off"
  bool help = false;
};

// Fills `options` from argv; on a bad option returns false with a message in `error`.
bool ParseDaemonOptions(int argc, char** argv, DaemonOptions* options, std::string* error);

const char* DaemonUsage();

#endif
