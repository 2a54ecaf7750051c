#include "daemon/daemon_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "metrics/metrics_endpoint.h"

namespace {

bool ParseNumber(const char* text, long min, long max, long* out) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < min || value > max) return false;
  *out = value;
  return true;
}

}  // namespace

const char* DaemonUsage() {
  return "usage: quoteloomd [options]\n"
         "Collects the ticks of every contract from the CTP market-data fronts named in setting.ini\n"
         "and appends them to DataTimeStream/<day>.csv and Data/<day>/<contract>.csv.\n"
         "\n"
         "  --workdir DIR         working directory holding setting.ini and the data (default: .)\n"
         "  --replay on|off       run the replay service (default: the stored MDServicestate, on when unset)\n"
         "  --replay-port PORT    port of the replay service (default: 7777; 0 picks a free one)\n"
         "  --replay-bind ADDRESS IPv4 address it listens on (default: 0.0.0.0, every address;\n"
         "                        127.0.0.1 keeps it on this machine)\n"
         "  --replay-max-connections N  clients connected at once (default: 0, the open-file\n"
         "                        limit less 144 kept for the collector, at most 10000)\n"
         "  --replay-max-per-address N  clients connected at once from one address (default: 64;\n"
         "                        0: no limit of its own)\n"
         "  --replay-idle-seconds N     close idle, half-sent and non-reading clients after N\n"
         "                        seconds (default: 60; 0: never)\n"
         "  --status-seconds N    seconds between status lines (default: 10)\n"
         "  --metrics HOST:PORT|off  serve Prometheus metrics at http://HOST:PORT/metrics\n"
         "                        (default: 127.0.0.1:9470; off: none)\n"
         "  --help                show this text\n"
         "\n"
         "SIGINT or SIGTERM stops the intake, writes every queued tick and exits.\n";
}

bool ParseDaemonOptions(int argc, char** argv, DaemonOptions* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--workdir" || arg == "--replay" || arg == "--replay-port" || arg == "--status-seconds" ||
               arg == "--replay-bind" || arg == "--replay-max-connections" || arg == "--replay-max-per-address" ||
               arg == "--replay-idle-seconds" || arg == "--metrics") {
      if (!hasValue) {
        *error = arg + " needs a value";
        return false;
      }
      const char* value = argv[++i];
      long number = 0;
      if (arg == "--workdir") {
        if (value[0] == '\0') {
          *error = "--workdir needs a directory";
          return false;
        }
        options->workdir = value;
      } else if (arg == "--metrics") {
        MetricsAddress address;
        if (!ParseMetricsAddress(value, &address, error)) return false;
        options->metricsEndpoint = value;
      } else if (arg == "--replay") {
        if (std::strcmp(value, "on") == 0) {
          options->replay = true;
        } else if (std::strcmp(value, "off") == 0) {
          options->replay = false;
        } else {
          *error = std::string("--replay takes on or off, not '") + value + "'";
          return false;
        }
      } else if (arg == "--replay-port") {
        if (!ParseNumber(value, 0, 65535, &number)) {
          *error = std::string("--replay-port takes a port from 0 to 65535, not '") + value + "'";
          return false;
        }
        options->replayPort = static_cast<unsigned short>(number);
      } else if (arg == "--replay-bind") {
        in_addr parsed{};
        if (inet_pton(AF_INET, value, &parsed) != 1) {
          *error = std::string("--replay-bind takes an IPv4 address such as 127.0.0.1, not '") + value + "'";
          return false;
        }
        options->replayBind = value;
      } else if (arg == "--replay-max-connections" || arg == "--replay-max-per-address") {
        if (!ParseNumber(value, 0, 10000, &number)) {
          *error = arg + " takes a number of connections from 0 to 10000, not '" + value + "'";
          return false;
        }
        (arg == "--replay-max-connections" ? options->replayMaxConnections : options->replayMaxPerAddress) =
            static_cast<std::uint32_t>(number);
      } else if (arg == "--replay-idle-seconds") {
        if (!ParseNumber(value, 0, 86400, &number)) {
          *error = std::string("--replay-idle-seconds takes a number of seconds from 0 to 86400, not '") + value + "'";
          return false;
        }
        options->replayIdleSeconds = static_cast<std::uint32_t>(number);
      } else {
        if (!ParseNumber(value, 1, 86400, &number)) {
          *error = std::string("--status-seconds takes a number of seconds from 1 to 86400, not '") + value + "'";
          return false;
        }
        options->statusSeconds = static_cast<int>(number);
      }
    } else {
      *error = "unknown option '" + arg + "'";
      return false;
    }
  }
  return true;
}
