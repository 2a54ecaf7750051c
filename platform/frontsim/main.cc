#include <csignal>
#include <cstdio>
#include <string>

#include "platform/frontsim/front_simulator.h"
#include "platform/frontsim/sim_options.h"

namespace {

FrontSimulator* the_simulator = nullptr;

void OnStopSignal(int) { the_simulator->Stop(); }
void OnSummarySignal(int) { the_simulator->RequestSummary(); }

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  if (const std::optional<int> exitCode = ReadSimCommandLine(argc, argv, &options)) return *exitCode;
  std::string error;
  FrontSimulator simulator(options);
  if (!simulator.Prepare(&error)) {
    std::fprintf(stderr, "quoteloom-frontsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening %s\n", simulator.listen_address().c_str());
  std::printf("trading day %s, %zu listed contracts\n", simulator.trading_day().c_str(),
              simulator.listed().size());
  std::fflush(stdout);
  the_simulator = &simulator;
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGUSR1, OnSummarySignal);
  simulator.Run();
  std::signal(SIGUSR1, SIG_IGN);
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return 0;
}
