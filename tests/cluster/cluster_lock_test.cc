// One publisher per state file and one archive per folder: a second exits 1 at once naming what is
// held and the process holding it, and one killed with SIGKILL never keeps the next from starting.
// The cluster is never reached (port 1), so both programs wait for it and no server is needed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Program {
  const char* path;
  const char* running;  // what it prints once it works
  std::string held;     // what the second one is told is in use, before " is in use by"
};

class ClusterLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-cluster-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "Journal");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> Argv(const char* program, std::vector<std::string> extra = {}) const {
    std::vector<std::string> argv = {program, "--workdir", dir_.string(), "--servers", "nats://127.0.0.1:1",
                                     "--metrics", "off"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }

  std::unique_ptr<ChildProcess> Start(const Program& p, const std::string& out, std::vector<std::string> extra = {}) {
    auto child = std::make_unique<ChildProcess>(Argv(p.path, extra), (dir_ / out).string());
    EXPECT_TRUE(WaitUntil([&] { return child->Output().find(p.running) != std::string::npos; }, 10s))
        << child->Output();
    return child;
  }

  fs::path dir_;
};

TEST_F(ClusterLockTest, ASecondPublisherOrArchiveEndsAtOnceAndAKilledOneNeverBlocks) {
  const Program programs[] = {
      {QUOTELOOM_PUBLISH, "following", "quoteloom-publish: the state file " + (dir_ / "quoteloom-publish.state").string()},
      {QUOTELOOM_ARCHIVE, "writing stream", "quoteloom-archive: the working folder " + dir_.string()},
  };
  for (const Program& p : programs) {
    std::unique_ptr<ChildProcess> first = Start(p, "first.out");
    const std::string name = fs::path(p.path).filename().string();
    const ProgramRun second = RunProgram(Argv(p.path), dir_ / "second.out", 10s);
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_NE(second.output.find(p.held + " is in use by process " + std::to_string(first->pid()) + " (" + name + ")"),
              std::string::npos)
        << second.output;
    EXPECT_TRUE(first->Running()) << first->Output();
    first->Signal(SIGKILL);
    ASSERT_TRUE(first->Wait(10s));
    std::unique_ptr<ChildProcess> next = Start(p, "next.out");
    EXPECT_TRUE(next->Running()) << next->Output();
  }
  // A publisher with a state file of its own may follow the same journal (to a second cluster, say).
  std::unique_ptr<ChildProcess> first = Start(programs[0], "first.out");
  std::unique_ptr<ChildProcess> other =
      Start(programs[0], "other.out", {"--state", (dir_ / "other.state").string()});
  EXPECT_TRUE(first->Running() && other->Running());
}

}  // namespace
