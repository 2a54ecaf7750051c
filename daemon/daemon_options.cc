#include "daemon/daemon_options.h"

#include <arpa/inet.h>

#include <charconv>

#include "collector/collector_runtime.h"
#include "core/command_line.h"
#include "metrics/metrics_endpoint.h"

namespace {

// A CLI11 check: empty when `value` is a whole number within [min, max], otherwise `what`.
CLI::Validator WholeNumber(long min, long max, const std::string& what) {
  return CLI::Validator(
      [=](std::string& value) -> std::string {
        long number = 0;
        const auto r = std::from_chars(value.data(), value.data() + value.size(), number);
        if (r.ec != std::errc() || r.ptr != value.data() + value.size() || number < min || number > max) {
          return "takes " + what + ", not '" + value + "'";
        }
        return {};
      },
      "");
}

}  // namespace

bool IsMetricsEndpoint(const std::string& text, std::string* error) {
  MetricsAddress address;
  return ParseMetricsAddress(text, &address, error);
}

std::optional<int> ParseDaemonOptions(int argc, char** argv, DaemonOptions* options) {
  CommandLine commandLine(
      "quoteloomd",
      "Collects the ticks of every contract from the CTP market-data fronts named in setting.ini\n"
      "and appends them to DataTimeStream/<day>.csv and Data/<day>/<contract>.csv.");
  commandLine.SetVersionDetail(std::string("CTP market-data API ") + CollectorRuntime::MdApiVersionText());
  commandLine.SetFooter({.success = "after an orderly stop",
                         .failure = "the working directory cannot be used",
                         .usage = "bad command line or setting.ini"},
                        "SIGINT or SIGTERM stops the intake, writes every queued tick and exits.");
  CLI::App& app = commandLine.app();
  app.add_option("--workdir", options->workdir, "working directory holding setting.ini and the data (default: .)")
      ->check(CLI::Validator(
          [](std::string& value) { return value.empty() ? std::string("needs a directory") : std::string(); }, ""));
  std::string replay;
  app.add_option("--replay", replay, "run the replay service: on or off (default: the stored MDServicestate, on when unset)")
      ->check(CLI::Validator(
          [](std::string& value) {
            return value == "on" || value == "off" ? std::string() : "takes on or off, not '" + value + "'";
          },
          ""));
  app.add_option("--replay-port", options->replayPort, "port of the replay service (default: 7777; 0 picks a free one)")
      ->check(WholeNumber(0, 65535, "a port from 0 to 65535"));
  app.add_option("--replay-bind", options->replayBind,
                 "IPv4 address it listens on (default: 0.0.0.0, every address; 127.0.0.1 keeps it on this machine)")
      ->check(CLI::Validator(
          [](std::string& value) {
            in_addr parsed{};
            return inet_pton(AF_INET, value.c_str(), &parsed) == 1
                       ? std::string()
                       : "takes an IPv4 address such as 127.0.0.1, not '" + value + "'";
          },
          ""));
  app.add_option("--replay-max-connections", options->replayMaxConnections,
                 "clients connected at once (default: 0, the open-file limit less 144 kept for the collector, "
                 "at most 10000)")
      ->check(WholeNumber(0, 10000, "a number of connections from 0 to 10000"));
  app.add_option("--replay-max-per-address", options->replayMaxPerAddress,
                 "clients connected at once from one address (default: 64; 0: no limit of its own)")
      ->check(WholeNumber(0, 10000, "a number of connections from 0 to 10000"));
  app.add_option("--replay-idle-seconds", options->replayIdleSeconds,
                 "close idle, half-sent and non-reading clients after N seconds (default: 60; 0: never)")
      ->check(WholeNumber(0, 86400, "a number of seconds from 0 to 86400"));
  app.add_option("--status-seconds", options->statusSeconds, "seconds between status lines (default: 10)")
      ->check(WholeNumber(1, 86400, "a number of seconds from 1 to 86400"));
  app.add_option("--metrics", options->metricsEndpoint,
                 "HOST:PORT of the Prometheus metrics endpoint, or off (default: 127.0.0.1:9470)")
      ->check(CLI::Validator(
          [](std::string& value) {
            std::string error;
            return IsMetricsEndpoint(value, &error) ? std::string() : error;
          },
          ""));
  app.add_flag("--quiet-ticks,!--no-quiet-ticks", options->quietTicks,
               "keep the sampled tick lines of the 行情数据 tab off standard output (default: on; "
               "--no-quiet-ticks or --quiet-ticks=false prints them)");
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return exitCode;
  if (!replay.empty()) options->replay = replay == "on";
  return std::nullopt;
}
