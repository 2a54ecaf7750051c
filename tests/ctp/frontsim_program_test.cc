#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/build_version.h"
#include "tests/ctp/recording_spi.h"
#include "tests/ctp/running_simulator.h"
#include "tests/support/process_output.h"

extern char** environ;

namespace {

// quoteloom-frontsim as a child process with its standard output on a pipe.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), QUOTELOOM_FRONTSIM_PROGRAM);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = ::fdopen(out[0], "r");
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }
  std::string ReadLine() {
    char line[4096];
    if (out_ == nullptr || std::fgets(line, sizeof line, out_) == nullptr) return "";
    return line;
  }
  std::string ReadAll() {
    std::string all, line;
    while (!(line = ReadLine()).empty()) all += line;
    return all;
  }
  // Exit code, or -1 when it has not ended within the limit.
  int Wait(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FrontSimProgramTest, ServesOnAnEphemeralPortAndSummarisesWhatItSent) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("frontsim_program_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::path summary = dir / "summary.json";
  Child child({"--listen", "127.0.0.1:0", "--broker", "9999", "--user", "quoteloom", "--password", "quoteloom",
               "--trading-day", "20210603", "--total-rate", "400", "--duration", "2", "--summary",
               summary.string()});
  std::string first = child.ReadLine();
  ASSERT_EQ(first.rfind("listening 127.0.0.1:", 0), 0u) << first;
  int port = std::atoi(first.c_str() + std::strlen("listening 127.0.0.1:"));
  ASSERT_GT(port, 0);

  ::setenv("QUOTELOOM_CTP_RECONNECT_MS", "100", 1);
  RecordingSpi spi;
  ApiPtr api(CThostFtdcMdApi::CreateFtdcMdApi());
  CThostFtdcMdApi* raw = api.get();
  api->RegisterSpi(&spi);
  std::string front = "tcp://127.0.0.1:" + std::to_string(port);
  api->RegisterFront(front.data());
  spi.on_connected = [raw] {
    CThostFtdcReqUserLoginField login{};
    std::strcpy(login.BrokerID, "9999");
    std::strcpy(login.UserID, "quoteloom");
    std::strcpy(login.Password, "quoteloom");
    raw->ReqUserLogin(&login, 1);
  };
  spi.on_login = [raw](CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*) {
    std::string codes[] = {"rb2106", "AP110", "AP110", "XX999"};
    for (std::string& code : codes) {
      char* one[] = {code.data()};
      raw->SubscribeMarketData(one, 1);
    }
  };
  api->Init();
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 10; }))
      << ::testing::PrintToString(spi.lines()) << " ticks " << spi.ticks().size();

  ::kill(child.pid(), SIGUSR1);
  for (int i = 0; i < 200 && !std::filesystem::exists(summary); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string early = ReadFile(summary);
  EXPECT_NE(early.find("\"logins\": 1,"), std::string::npos) << early;
  EXPECT_NE(early.find("\"subscriptions\": 4,"), std::string::npos) << early;

  // At the end of its duration it closes the connection, writes the summary and exits by itself.
  ASSERT_TRUE(spi.WaitForLine("disconnected 4097", 1, std::chrono::milliseconds(4000)));
  EXPECT_EQ(child.Wait(std::chrono::milliseconds(3000)), 0);
  api.reset();
  std::map<std::string, int> received;
  for (const auto& tick : spi.ticks()) ++received[tick.InstrumentID];
  std::string final_summary = ReadFile(summary);
  std::string expected_ticks = "\"ticks\": {\n    \"AP110\": " + std::to_string(received["AP110"]) +
                               ",\n    \"rb2106\": " + std::to_string(received["rb2106"]) + "\n  },";
  EXPECT_EQ(received.size(), 2u);
  EXPECT_NE(final_summary.find("\"ticks_total\": " + std::to_string(spi.ticks().size()) + ","), std::string::npos)
      << final_summary;
  EXPECT_NE(final_summary.find(expected_ticks), std::string::npos) << final_summary;
  std::filesystem::remove_all(dir);
}

TEST(FrontSimProgramTest, HelpAndBadOptions) {
  Child help({"--help"});
  std::string usage = help.ReadAll();
  EXPECT_EQ(help.Wait(std::chrono::milliseconds(3000)), 0);
  for (const char* option : {"--listen", "--broker", "--trading-day", "--total-rate", "--duration",
                             "--drop-after-ticks", "--seed", "--summary", "--replay"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  Child bad({"--total-rate", "lots"});
  EXPECT_EQ(bad.ReadAll(), "");
  EXPECT_EQ(bad.Wait(std::chrono::milliseconds(3000)), 2);
  Child bad_address({"--listen", "256.0.0.1:0"});
  EXPECT_EQ(bad_address.Wait(std::chrono::milliseconds(3000)), 1);
  Child version({"--version"});
  EXPECT_EQ(version.ReadAll(), std::string("quoteloom-frontsim ") + QuoteloomVersion() + "\n");
  EXPECT_EQ(version.Wait(std::chrono::milliseconds(3000)), 0);
}

// Every bad command line ends with exit 2 and its reason on standard error, nothing on standard output.
TEST(FrontSimProgramTest, BadCommandLinesExitTwoWithTheReason) {
  const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                    ("frontsim-usage-" + std::to_string(::getpid()) + ".out");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--bogus=1"}, "unknown option --bogus"},
      {{"stray"}, "unexpected argument stray"},
      {{"--duration"}, "--duration"},
      {{"--seed=x"}, "bad value for --seed: x"},
      {{"--service-hours", "20:30"}, "bad value for --service-hours"},
      {{"--test-window=15:15-15:15"}, "bad value for --test-window"},
  };
  for (const auto& [args, reason] : cases) {
    std::vector<std::string> argv = {QUOTELOOM_FRONTSIM_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramRun run = RunProgram(argv, out, std::chrono::seconds(5));
    EXPECT_EQ(run.exitCode, 2) << args[0];
    EXPECT_NE(run.output.find("quoteloom-frontsim: " + reason), std::string::npos) << run.output;
  }
  std::filesystem::remove(out);
}

}  // namespace
