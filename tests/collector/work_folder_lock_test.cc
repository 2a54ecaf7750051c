// One quoteloomd per working folder: a second one exits 1 at once naming the folder and the process
// that holds it, and a collector killed with SIGKILL never keeps the next one from starting.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class WorkFolderLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-folder-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // A front that never answers: the collector runs and waits for it.
    std::ofstream(dir_ / "setting.ini") << "[AccountInfo]\r\nbrokeid=9999\r\nusername=u\r\npassword=p\r\n"
                                           "servernum=1\r\naddress1=tcp://127.0.0.1:1\r\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> Argv(const fs::path& workdir) const {
    return {QUOTELOOMD, "--workdir", workdir.string(), "--replay", "off", "--metrics", "off"};
  }

  // Starts quoteloomd on the folder and waits until it collects.
  std::unique_ptr<ChildProcess> StartCollector(const std::string& name) {
    auto collector = std::make_unique<ChildProcess>(Argv(dir_), (dir_ / name).string());
    EXPECT_TRUE(WaitUntil([&] { return collector->Output().find("storing ticks under") != std::string::npos; }, 10s))
        << collector->Output();
    return collector;
  }

  fs::path dir_;
};

TEST_F(WorkFolderLockTest, ASecondCollectorOnTheFolderEndsAtOnceNamingTheFolderAndTheHolder) {
  std::unique_ptr<ChildProcess> first = StartCollector("first.out");
  const std::string says = "quoteloomd: the working folder " + dir_.string() + " is in use by process " +
                           std::to_string(first->pid()) + " (quoteloomd)";
  // The same folder by another path: a link to it counts as the folder itself.
  fs::create_directory_symlink(dir_, dir_.string() + "-link");
  for (const fs::path& workdir : {dir_, fs::path(dir_.string() + "-link")}) {
    const ProgramRun second = RunProgram(Argv(workdir), dir_ / "second.out", 10s);
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_NE(second.output.find(says), std::string::npos) << second.output;
    EXPECT_EQ(second.output.find("storing ticks"), std::string::npos) << second.output;
  }
  fs::remove(dir_.string() + "-link");
  EXPECT_TRUE(first->Running());

  // SIGKILL leaves the lock file with the dead pid in it; the next collector starts all the same.
  first->Signal(SIGKILL);
  ASSERT_TRUE(first->Wait(10s));
  std::unique_ptr<ChildProcess> next = StartCollector("next.out");
  EXPECT_TRUE(next->Running());
  next->Signal(SIGTERM);
  ASSERT_TRUE(next->Wait(30s));
  EXPECT_TRUE(WIFEXITED(next->status()) && WEXITSTATUS(next->status()) == 0) << next->Output();
}

}  // namespace
