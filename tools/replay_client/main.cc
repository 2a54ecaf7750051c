// quoteloom-replay: asks the replay service for one contract over a range of days and prints every
// tick message it receives as one CSV line, until Ctrl-C or --count messages.
#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/command_line.h"
#include "core/contract_code.h"
#include "replay/protocol/replay_message.h"
#include "tools/replay_client/replay_client.h"

namespace {

constexpr int kExitNetwork = kExitFailure;
constexpr int kExitGreeting = 3;
constexpr int kGreetingTimeoutMs = 5000;
constexpr int kPollMs = 100;

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

// Eight digits that name a real calendar date.
bool IsDay(std::string_view text) {
  if (text.size() != 8) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const int date = std::atoi(std::string(text).c_str());
  const std::chrono::year_month_day ymd{std::chrono::year(date / 10000), std::chrono::month(date / 100 % 100),
                                        std::chrono::day(date % 100)};
  return ymd.ok();
}

struct Arguments {
  std::string host;
  unsigned short port = 0;
  std::string contract;
  std::string firstDay;
  std::string lastDay;
  long long count = -1;  // -1: until stopped
};

CLI::Validator Day() {
  return CLI::Validator(
      [](std::string& value) { return IsDay(value) ? std::string() : "takes a day as yyyymmdd, not '" + value + "'"; }, "");
}

// Fills `args` from argv. Returns nullopt when the program should run; otherwise the exit code,
// after printing the help or version text (0) or the reason on standard error (2).
std::optional<int> ParseArguments(int argc, char** argv, Arguments* args) {
  CommandLine commandLine(
      "quoteloom-replay",
      "Asks the replay service for the stored and then the live ticks of one contract and prints each\n"
      "as one CSV line, until Ctrl-C or --count messages.");
  commandLine.SetFooter({.failure = "network trouble", .more = "3 no greeting from the service"});
  CLI::App& app = commandLine.app();
  // The four are checked after parsing, so that an unknown option is the reason given when there is one.
  std::string address;
  app.add_option("ADDRESS", address, "HOST or HOST:PORT of the replay service (port 7777 when left out)")
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseHostPort(value) ? std::string() : "takes HOST or HOST:PORT, not '" + value + "'";
          },
          ""));
  // It names a stored file and goes into a fixed field of the request: the collector's rule for codes.
  app.add_option("CONTRACT", args->contract, "contract code: 1 to 30 letters, digits, spaces, '&' or '-'")
      ->check(CLI::Validator(
          [](std::string& value) {
            return IsContractCode(value)
                       ? std::string()
                       : std::string("takes a contract code of 1 to 30 characters (letters, digits, space, '&', '-')");
          },
          ""));
  app.add_option("FIRSTDAY", args->firstDay, "first stored day, yyyymmdd")->check(Day());
  app.add_option("LASTDAY", args->lastDay, "last stored day, yyyymmdd")->check(Day());
  app.add_option("--count", args->count, "stop after this many messages (default: until Ctrl-C)")
      ->check(CLI::Validator(
          [](std::string& value) {
            return value.find_first_not_of("0123456789") == std::string::npos && value.size() < 19 &&
                           value.find_first_not_of('0') != std::string::npos
                       ? std::string()
                       : "takes a positive number, not '" + value + "'";
          },
          ""));
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return exitCode;
  if (args->lastDay.empty()) return commandLine.UsageError("expected ADDRESS CONTRACT FIRSTDAY LASTDAY");
  if (args->firstDay > args->lastDay) {
    return commandLine.UsageError("FIRSTDAY " + args->firstDay + " is after LASTDAY " + args->lastDay);
  }
  const auto hostPort = ParseHostPort(address);
  args->host = hostPort->first;
  args->port = hostPort->second;
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> exitCode = ParseArguments(argc, argv, &args)) return *exitCode;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  ReplayClient client;
  std::string error;
  if (!client.Connect(args.host, args.port, &error)) {
    std::fprintf(stderr, "quoteloom-replay: %s\n", error.c_str());
    return kExitNetwork;
  }
  if (!client.ExpectGreeting(kGreetingTimeoutMs, &error)) {
    std::fprintf(stderr, "quoteloom-replay: %s\n", error.c_str());
    return kExitGreeting;
  }
  if (!client.Send(EncodeReplayRequest(kReplayCommandStart, args.contract, args.firstDay, args.lastDay))) {
    std::fprintf(stderr, "quoteloom-replay: cannot send the request: %s\n", std::strerror(errno));
    return kExitNetwork;
  }

  long long received = 0;
  while (!gStop && (args.count < 0 || received < args.count)) {
    ReplayMessage message;
    switch (client.Read(&message, kPollMs)) {
      case ReplayClient::ReadStatus::Message:
        std::printf("%s\n", FormatTickCsv(message).c_str());
        std::fflush(stdout);
        ++received;
        break;
      case ReplayClient::ReadStatus::Timeout:
        break;
      case ReplayClient::ReadStatus::Closed:
        std::fprintf(stderr, "quoteloom-replay: the service closed the connection after %lld messages\n", received);
        return kExitNetwork;
      case ReplayClient::ReadStatus::BadFrame:
        std::fprintf(stderr, "quoteloom-replay: the service sent something that is not a replay pack\n");
        return kExitNetwork;
      case ReplayClient::ReadStatus::Error:
        std::fprintf(stderr, "quoteloom-replay: connection lost: %s\n", std::strerror(errno));
        return kExitNetwork;
    }
  }
  client.Send(EncodeReplayRequest(kReplayCommandStop, "", "", ""));
  std::fprintf(stderr, "quoteloom-replay: %lld messages\n", received);
  return 0;
}
