// quoteloom-replay: asks the replay service for one contract over a range of days and prints every
// tick message it receives as one CSV line, until Ctrl-C or --count messages.
#include <signal.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "replay/protocol/replay_message.h"
#include "tools/replay_client/replay_client.h"

namespace {

constexpr int kExitNetwork = 1;
constexpr int kExitUsage = 2;
constexpr int kExitGreeting = 3;
constexpr int kGreetingTimeoutMs = 5000;
constexpr int kPollMs = 100;

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

int Usage(const char* problem) {
  std::fprintf(stderr,
               "quoteloom-replay: %s\n"
               "usage: quoteloom-replay HOST[:PORT] CONTRACT FIRSTDAY LASTDAY [--count N]\n"
               "  FIRSTDAY and LASTDAY are yyyymmdd; PORT defaults to 7777; Ctrl-C stops the replay.\n",
               problem);
  return kExitUsage;
}

bool IsDay(std::string_view text) {
  if (text.size() != 8) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

struct Arguments {
  std::string host;
  unsigned short port = 0;
  std::string contract;
  std::string firstDay;
  std::string lastDay;
  long long count = -1;  // -1: until stopped
};

// An empty text on success, otherwise what is wrong.
std::string ParseArguments(int argc, char** argv, Arguments* args) {
  std::vector<std::string_view> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--count") {
      if (i + 1 >= argc) return "--count needs a number";
      const std::string_view value = argv[++i];
      const auto r = std::from_chars(value.data(), value.data() + value.size(), args->count);
      if (r.ec != std::errc() || r.ptr != value.data() + value.size() || args->count < 1)
        return "--count needs a positive number, not '" + std::string(value) + "'";
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return "unknown option '" + std::string(arg) + "'";
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 4) return "expected 4 arguments, got " + std::to_string(positional.size());
  const auto hostPort = ParseHostPort(positional[0]);
  if (!hostPort) return "bad address '" + std::string(positional[0]) + "' (HOST or HOST:PORT)";
  args->host = hostPort->first;
  args->port = hostPort->second;
  args->contract = positional[1];
  if (args->contract.empty() || args->contract.size() > 30) return "the contract must have 1 to 30 characters";
  args->firstDay = positional[2];
  args->lastDay = positional[3];
  if (!IsDay(args->firstDay)) return "bad first day '" + args->firstDay + "' (yyyymmdd)";
  if (!IsDay(args->lastDay)) return "bad last day '" + args->lastDay + "' (yyyymmdd)";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  const std::string problem = ParseArguments(argc, argv, &args);
  if (!problem.empty()) return Usage(problem.c_str());

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
