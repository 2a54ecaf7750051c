// The metrics endpoint of quoteloom-publish and quoteloom-archive as an operator meets it: a port
// another program holds costs nothing but the metrics, an address this machine does not have ends
// the program at start. No server needed: the programs run on against an unreachable one.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/held_port.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kPrograms[] = {QUOTELOOM_PUBLISH, QUOTELOOM_ARCHIVE};

class ProgramMetricsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-program-metrics-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "Journal");  // the publisher follows a journal, empty will do
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<ChildProcess> Start(const char* program, const std::string& metrics) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "--servers", "nats://127.0.0.1:1", "--workdir", dir_.string(),
                                 "--status-seconds", "1", "--metrics", metrics},
        (dir_ / "out").string());
  }

  fs::path dir_;
};

TEST_F(ProgramMetricsTest, APortInUseIsSaidOnceAndNotedOnEveryStatusLine) {
  std::string where;
  const int holder = HoldFreeLoopbackPort(&where);
  ASSERT_GE(holder, 0);
  for (const char* program : kPrograms) {
    auto run = Start(program, where);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(run->Output(), "[status]") >= 3 || !run->Running(); }, 30s))
        << run->Output();
    ASSERT_TRUE(run->Running()) << program << ": " << run->Output();
    run->Signal(SIGTERM);
    ASSERT_TRUE(run->Wait(20s));
    EXPECT_TRUE(WIFEXITED(run->status()) && WEXITSTATUS(run->status()) == 0) << program;
    const std::string out = run->Output();
    EXPECT_EQ(CountOf(out, "metrics not served on " + where +
                             ": the port is in use by another program; trying again every 30 s\n"),
              1)
        << program << ": " << out;
    const std::regex noted("\\[status\\][^\\n]*, metrics not served\\n");
    const auto notedLines = std::distance(std::sregex_iterator(out.begin(), out.end(), noted), std::sregex_iterator());
    EXPECT_GE(notedLines, 4) << "the status lines and the one at the exit\n" << out;
    EXPECT_EQ(notedLines, CountOf(out, "[status]")) << out;
  }
  ::close(holder);
}

TEST_F(ProgramMetricsTest, AnAddressOfAnotherMachineEndsTheProgramWithExit2) {
  for (const char* program : kPrograms) {
    auto run = Start(program, "192.0.2.1:9471");
    ASSERT_TRUE(run->Wait(20s)) << run->Output();
    EXPECT_TRUE(WIFEXITED(run->status()) && WEXITSTATUS(run->status()) == 2) << program;
    EXPECT_NE(run->Output().find("cannot serve metrics on 192.0.2.1:9471: that is not an address of this machine"),
              std::string::npos)
        << run->Output();
  }
}

}  // namespace
