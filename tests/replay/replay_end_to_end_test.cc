// The replay service with stored files and live ticks, read by the quoteloom-replay program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/replay/replay_fixture.h"

extern char** environ;

namespace {

// quoteloom-replay run as a child process, its output in files of the test's temp folder.
class ClientProgram {
 public:
  ClientProgram(const TempDir& dir, std::vector<std::string> args)
      : out_(dir.path() + "/out.txt"), err_(dir.path() + "/err.txt") {
    args.insert(args.begin(), QUOTELOOM_REPLAY_CLIENT);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ClientProgram() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The exit code, or -1 (and the child killed) when it has not ended within `timeoutMs`.
  int Wait(int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Signal(int sig) { kill(pid_, sig); }
  bool running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  std::vector<std::string> Lines() const {
    std::ifstream in(out_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Errors() const {
    std::ifstream in(err_);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

using ReplayEndToEndTest = ReplayServiceTest;

TEST_F(ReplayEndToEndTest, StoredThenLiveTicksReachTheProgram) {
  Store("20160130", "rb1710", StoredFile({StoredLine("20160130", "09:00:00", 3000), StoredLine("20160130", "09:00:01", 3001)}));
  Store("20160201", "rb1710", StoredFile({StoredLine("20160201", "09:00:00", 3010)}));
  ClientProgram program(dir_, {"127.0.0.1:" + std::to_string(port_), "rb1710", "20160130", "20160202", "--count", "5"});
  WaitSelected("rb1710");
  relay_.Forward(LiveTick("rb1710", "10:00:00", 3100));
  relay_.Forward(LiveTick("rb1711", "10:00:00", 1));
  relay_.Forward(LiveTick("rb1710", "10:00:01", 3101));

  ASSERT_EQ(program.Wait(), 0) << program.Errors();
  const auto lines = program.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "rb1710,20160130,20160130,09:00:00,500,3000,10,3010,2990,3000,0,3001.5,3001,3,2999,4,3300,2700,"
                      "1000,30000,2995,900,2996");
  EXPECT_EQ(lines[1].substr(0, 33), "rb1710,20160130,20160130,09:00:01");
  EXPECT_EQ(lines[2].substr(0, 33), "rb1710,20160201,20160201,09:00:00");
  EXPECT_EQ(lines[3], "rb1710,20261210,20261209,10:00:00,0,3100,77,0,0,0,0,0,3101,0,3099,0,0,0,0,0,0,0,0");
  EXPECT_EQ(lines[4].substr(0, 33), "rb1710,20261210,20261209,10:00:01");
  EXPECT_TRUE(WaitForLog("OnReceive(1) 结束")) << "--count ends with a stop request";
}

TEST_F(ReplayEndToEndTest, InterruptSendsTheStopRequest) {
  ClientProgram program(dir_, {"127.0.0.1:" + std::to_string(port_), "rb1710", "20160104", "20160104"});
  WaitSelected("rb1710");
  relay_.Forward(LiveTick("rb1710", "10:00:00", 1));
  for (int i = 0; i < 500 && program.Lines().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(program.Lines().size(), 1u);
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(), 0) << program.Errors();
  // The server sees the close after the program has ended; wait for it before reading the order.
  ASSERT_TRUE(WaitForLog("OnClose 客户端断开(1)[Operation:5][ErrorCode:0]"));
  EXPECT_TRUE(LogHasInOrder({"OnReceive(1) 结束", "OnClose 客户端断开(1)[Operation:5][ErrorCode:0]"}));
}

TEST_F(ReplayEndToEndTest, ClearErrors) {
  const std::string here = "127.0.0.1:" + std::to_string(port_);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"127.0.0.1:" + std::to_string(UnusedPort()), "rb1710", "20160104", "20160104"}, 1, "cannot connect"},
      {{here, "rb1710", "20160104"}, 2, "expected ADDRESS CONTRACT FIRSTDAY LASTDAY"},
      {{here, "rb1710", "2016014", "20160104"}, 2, "FIRSTDAY: takes a day as yyyymmdd, not '2016014'"},
      {{here, "rb1710", "20160104", "x"}, 2, "LASTDAY: takes a day as yyyymmdd, not 'x'"},
      {{"127.0.0.1:99999", "rb1710", "20160104", "20160104"}, 2, "ADDRESS: takes HOST or HOST:PORT, not '127.0.0.1:99999'"},
      {{here, "rb1710", "20160104", "20160104", "--count", "0"}, 2, "--count: takes a positive number, not '0'"},
      {{here, "rb1710", "20160104", "20160104", "--fast"}, 2, "unknown option --fast"},
      {{here, std::string(31, 'a'), "20160104", "20160104"}, 2, "1 to 30 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ClientProgram program(dir_, c.args);
    EXPECT_EQ(program.Wait(), c.exitCode);
    EXPECT_NE(program.Errors().find(c.message), std::string::npos) << program.Errors();
    if (c.exitCode == 2) {
      EXPECT_NE(program.Errors().find("Try 'quoteloom-replay --help'"), std::string::npos);
    }
  }
}

TEST_F(ReplayEndToEndTest, BadGreetingIsRefused) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t length = sizeof(address);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  ClientProgram program(dir_, {"127.0.0.1:" + std::to_string(ntohs(address.sin_port)), "rb1710", "20160104", "20160104"});
  const int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::vector<std::uint8_t> greeting = Pack(kReplayPackFlag, std::vector<std::uint8_t>(217, 0));
  greeting[10] = 1;  // not all zero
  ASSERT_EQ(::send(peer, greeting.data(), greeting.size(), MSG_NOSIGNAL), static_cast<ssize_t>(greeting.size()));
  EXPECT_EQ(program.Wait(), 3);
  EXPECT_NE(program.Errors().find("bad greeting"), std::string::npos) << program.Errors();
  ::close(peer);
  ::close(listener);
}

}  // namespace
