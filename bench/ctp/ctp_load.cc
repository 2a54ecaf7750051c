// Prints how many ticks per second one stand-in API client receives from quoteloom-frontsim in load
// mode. Usage: ctp_load [--rate N] [--seconds S] [--frontsim PATH]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ThostFtdcMdApi.h"
#include "platform/frontsim/listed_contract.h"

extern char** environ;

namespace {

constexpr const char* kTradingDay = "20210603";

class CountingSpi : public CThostFtdcMdSpi {
 public:
  CThostFtdcMdApi* api = nullptr;
  std::atomic<long long> ticks{0};
  std::atomic<bool> subscribed{false};

  void OnFrontConnected() override {
    CThostFtdcReqUserLoginField login{};
    std::strcpy(login.BrokerID, "9999");
    std::strcpy(login.UserID, "load");
    std::strcpy(login.Password, "load");
    api->ReqUserLogin(&login, 1);
  }
  void OnRspUserLogin(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info, int, bool) override {
    if (info != nullptr && info->ErrorID != 0) {
      std::fprintf(stderr, "login refused: %d\n", info->ErrorID);
      return;
    }
    // The collector's way: one code per call.
    for (const ListedContract& contract : BuiltInListedContracts(std::atoi(kTradingDay))) {
      std::string code = contract.code;
      char* codes[] = {code.data()};
      api->SubscribeMarketData(codes, 1);
    }
    subscribed = true;
  }
  void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField*) override {
    ticks.fetch_add(1, std::memory_order_relaxed);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string rate = "100000";
  double seconds = 5;
  std::string program = QUOTELOOM_FRONTSIM_PROGRAM;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rate") == 0) rate = argv[i + 1];
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--frontsim") == 0) program = argv[i + 1];
  }
  int out[2];
  if (::pipe(out) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string duration = std::to_string(static_cast<int>(seconds) + 10);
  std::vector<std::string> args = {program, "--listen", "127.0.0.1:0", "--broker", "9999", "--user", "load",
                                   "--password", "load", "--trading-day", kTradingDay, "--total-rate", rate,
                                   "--duration", duration};
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), &actions, nullptr, argp.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", program.c_str());
    return 1;
  }
  ::close(out[1]);
  FILE* child_out = ::fdopen(out[0], "r");
  char line[256] = {};
  if (std::fgets(line, sizeof line, child_out) == nullptr || std::strncmp(line, "listening ", 10) != 0) {
    std::fprintf(stderr, "frontsim did not start\n");
    return 1;
  }
  std::string front = "tcp://" + std::string(line + 10, std::strcspn(line + 10, "\r\n"));

  CountingSpi spi;
  CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
  spi.api = api;
  api->RegisterSpi(&spi);
  api->RegisterFront(front.data());
  api->Init();
  auto wait_until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!spi.subscribed && std::chrono::steady_clock::now() < wait_until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Measure after a warm-up second, once the rate has settled.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  long long before = spi.ticks.load();
  auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  long long after = spi.ticks.load();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  api->Release();
  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);
  std::printf("frontsim --total-rate %s: one stand-in client received %lld ticks in %.2f s = %.0f ticks/s\n",
              rate.c_str(), after - before, elapsed, (after - before) / elapsed);
  return after > before ? 0 : 1;
}
