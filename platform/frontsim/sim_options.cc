#include "platform/frontsim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/frontsim/fault_field.h"

namespace {

bool ParseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(parsed) || parsed < 0) return false;
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

bool ParseDay(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  int month = std::atoi(text.substr(4, 2).c_str());
  int day = std::atoi(text.substr(6, 2).c_str());
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
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

}  // namespace

bool ParseSimOptions(int argc, const char* const argv[], SimOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      o->help = true;
      continue;
    }
    if (option == "--ignore-heartbeats") {
      o->ignore_heartbeats = true;
      continue;
    }
    if (option == "--refuse-logins") {
      o->refuse_logins = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = option.rfind("--", 0) == 0 ? option + " needs a value" : "unknown argument " + option;
      return false;
    }
    std::string value = argv[++i];
    std::uint64_t count = 0;
    bool ok = true;
    if (option == "--listen") {
      ok = ParseListen(value, o);
    } else if (option == "--broker") {
      o->broker = value;
    } else if (option == "--user") {
      o->user = value;
    } else if (option == "--password") {
      o->password = value;
    } else if (option == "--trading-day") {
      ok = ParseDay(value);
      o->trading_day = value;
    } else if (option == "--total-rate") {
      ok = ParseNumber(value, &o->total_rate);
    } else if (option == "--contract-rate") {
      ok = ParseNumber(value, &o->contract_rate);
    } else if (option == "--duration") {
      ok = ParseNumber(value, &o->duration_s);
    } else if (option == "--drop-after-ticks") {
      ok = ParseCount(value, &o->drop_after_ticks);
    } else if (option == "--drop-after-seconds") {
      ok = ParseNumber(value, &o->drop_after_s);
    } else if (option == "--seed") {
      ok = ParseCount(value, &o->seed);
    } else if (option == "--summary") {
      o->summary_path = value;
    } else if (option == "--contracts") {
      o->contracts_path = value;
    } else if (option == "--replay") {
      o->replay_paths.push_back(value);
    } else if (option == "--replay-speed") {
      ok = ParseNumber(value, &o->replay_speed);
    } else if (option == "--replay-delay") {
      ok = ParseNumber(value, &o->replay_delay_s);
    } else if (option == "--hang-after-seconds") {
      ok = ParseNumber(value, &o->hang_after_s);
    } else if (option == "--reset-logins") {
      ok = ParseCount(value, &count) && count <= 1000000;
      o->reset_logins = static_cast<int>(count);
    } else if (option == "--nan-fields") {
      if (!SplitFields(value, &o->nan_fields, error)) return false;
    } else if (option == "--max-fields") {
      if (!SplitFields(value, &o->max_fields, error)) return false;
    } else if (option == "--hostile-every") {
      ok = ParseCount(value, &o->hostile_every) && o->hostile_every > 0;
    } else if (option == "--fault-every") {
      ok = ParseCount(value, &o->fault_every) && o->fault_every > 0;
    } else {
      *error = "unknown option " + option;
      return false;
    }
    if (!ok) {
      *error = "bad value for " + option + ": " + value;
      return false;
    }
  }
  return true;
}

std::string SimUsage() {
  return "usage: quoteloom-frontsim [options]\n"
         "A market-data front for the stand-in CTP API: logins, subscriptions and simulated ticks.\n"
         "\n"
         "  --listen HOST:PORT        address to serve (default 127.0.0.1:41213; port 0 picks a free one;\n"
         "                            the first line of output is \"listening HOST:PORT\")\n"
         "  --broker ID --user ID --password PW\n"
         "                            the one account accepted (default 9999 / quoteloom / quoteloom)\n"
         "  --trading-day YYYYMMDD    trading day of logins and ticks (default: local clock, 18:00 rule)\n"
         "  --contracts FILE          listed contracts, one code a line (default: the built-in list)\n"
         "  --contract-rate N         snapshots per second per subscribed listed contract (default 2)\n"
         "  --total-rate N            load mode: N ticks per second in all over the subscribed contracts\n"
         "  --duration SECONDS        then close every connection, write the summary and exit\n"
         "  --seed N                  seed of the random walks (default 1)\n"
         "  --summary FILE            JSON summary written at exit and on SIGUSR1\n"
         "  --replay PATH             replay per-contract CSV files (a file or a folder; repeatable)\n"
         "  --replay-speed X          replay at X times the recorded pace; 0 as fast as the rate allows\n"
         "  --replay-delay SECONDS    wait after the first subscription before replaying (default 1)\n"
         "faults:\n"
         "  --drop-after-ticks N      close every connection once N ticks have been sent\n"
         "  --drop-after-seconds S    close every connection S seconds after start\n"
         "  --ignore-heartbeats       never answer a heartbeat\n"
         "  --hang-after-seconds S    after S seconds send nothing more but keep the sockets open\n"
         "  --refuse-logins           refuse every login with error 3\n"
         "  --reset-logins N          answer the first N login requests with a connection reset\n"
         "  --nan-fields F1,F2        put NaN into these price fields (record names, e.g. LastPrice)\n"
         "  --max-fields F1,F2        put the largest double into these price fields\n"
         "  --fault-every N           the field faults hit every N-th tick of a contract (default 1)\n"
         "  --hostile-every N         after every N ticks send one round of hostile ticks: codes that are\n"
         "                            paths, hold a comma, CR LF or GBK, are empty, longer than 30 or 80\n"
         "                            characters or never subscribed, and a comma or control character in\n"
         "                            the update time or the days (counted as ticks_hostile, not in ticks)\n"
         "  --help                    this text\n";
}
