#include "core/process_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class ProcessLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string LockPath() const { return (dir_ / ProcessLock::kWorkFolderLockName).string(); }

  fs::path dir_;
};

TEST_F(ProcessLockTest, ASecondHolderIsToldTheFolderAndTheHoldersPidUntilTheFirstLetsGo) {
  ProcessLock first;
  ASSERT_EQ(first.TakeWorkFolder(dir_.string(), "quoteloomd"), "");
  EXPECT_TRUE(first.held());
  // Another open of the same file, as another program's would be; the folder named by another path.
  ProcessLock second;
  EXPECT_EQ(second.TakeWorkFolder((dir_ / "." / "").string(), "quoteloom-archive"),
            "the working folder " + dir_.string() + " is in use by process " + std::to_string(::getpid()) +
                " (quoteloomd)");
  EXPECT_FALSE(second.held());
  first.Release();
  EXPECT_EQ(second.TakeWorkFolder(dir_.string(), "quoteloom-archive"), "");
  std::ifstream in(LockPath());
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, std::to_string(::getpid()) + " quoteloom-archive");
}

// The kernel drops the lock with its process: a holder killed with SIGKILL leaves its file and its
// pid behind, and neither blocks the next start.
TEST_F(ProcessLockTest, ALockOfAKilledProcessNeverBlocks) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ProcessLock lock;
    const char taken = lock.TakeWorkFolder(dir_.string(), "quoteloomd").empty() ? 'y' : 'n';
    (void)::write(ready[1], &taken, 1);
    for (int i = 0; i < 600; ++i) ::sleep(1);  // bounded: the parent kills it long before
    ::_exit(0);
  }
  ::close(ready[1]);
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(taken, 'y');
  ProcessLock lock;
  EXPECT_NE(lock.TakeWorkFolder(dir_.string(), "quoteloomd").find("in use by process " + std::to_string(child) +
                                                                  " (quoteloomd)"),
            std::string::npos);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(lock.TakeWorkFolder(dir_.string(), "quoteloomd"), "");
}

TEST_F(ProcessLockTest, AHostileLockFileIsNeitherFollowedNorBelieved) {
  // Whatever the file says, a holder is named only by a pid and a plain program name.
  for (const std::string& content : {std::string(""), std::string("4242\n"), std::string("x quoteloomd\n"),
                                     std::string("4242 \x1b[2Jevil\n"), std::string(200, '9')}) {
    std::ofstream(LockPath(), std::ios::trunc) << content;
    const int fd = ::open(LockPath().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // held, but without writing a line of its own
    ProcessLock lock;
    EXPECT_EQ(lock.TakeWorkFolder(dir_.string(), "quoteloomd"),
              "the working folder " + dir_.string() + " is in use by another process")
        << content;
    ::close(fd);
  }
  // A link or a named pipe in the lock file's place is refused, not followed or waited on.
  fs::remove(LockPath());
  fs::create_symlink(dir_ / "elsewhere", LockPath());
  ProcessLock lock;
  EXPECT_NE(lock.TakeWorkFolder(dir_.string(), "quoteloomd").find("cannot lock the working folder"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere"));
  fs::remove(LockPath());
  ASSERT_EQ(::mkfifo(LockPath().c_str(), 0600), 0);
  EXPECT_EQ(lock.TakeWorkFolder(dir_.string(), "quoteloomd"),
            "cannot lock the working folder " + dir_.string() + ": " + LockPath() + ": not a regular file");
  EXPECT_FALSE(lock.held());
}

}  // namespace
