#include "daemon/daemon_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
         "  --replay-port PORT    port of the replay service (default: 7777)\n"
         "  --status-seconds N    seconds between status lines (default: 10)\n"
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
    } else if (arg == "--workdir" || arg == "--replay" || arg == "--replay-port" || arg == "--status-seconds") {
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
        if (!ParseNumber(value, 1, 65535, &number)) {
          *error = std::string("--replay-port takes a port from 1 to 65535, not '") + value + "'";
          return false;
        }
        options->replayPort = static_cast<unsigned short>(number);
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
