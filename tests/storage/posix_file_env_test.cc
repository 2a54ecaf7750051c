#include "storage/posix_file_env.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "queue/ring_queue_api_inter.h"
#include "storage/tick_writer_thread.h"
#include "tests/support/fake_clock.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs each test in a fresh directory under /tmp, since the stored paths are relative.
class PosixFileEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-storage-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
    queue_.reset(static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi()));
    queue_->InitQueue(16);
    clock_.Set(FakeClock::At(2024, 3, 1, 6, 9, 5, 7));
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  void WriteExample(TickWriterThread& writer) {
    TickRecord r = ExampleRb2405Record();
    queue_->Push(&r);
    ASSERT_TRUE(writer.WriteOne());
  }

  fs::path dir_, previous_;
  std::unique_ptr<CTRingQueueApi_inter> queue_;
  FakeClock clock_;
  PosixFileEnv env_;
  std::mutex lock_;
};

TEST_F(PosixFileEnvTest, AppendsAndReportsFailuresOfOpenAndWrite) {
  EXPECT_EQ(env_.AppendToFile("a.txt", "one\r\n", 5), FileEnv::AppendStatus::kOk);
  EXPECT_EQ(env_.AppendToFile("a.txt", "two\r\n", 5), FileEnv::AppendStatus::kOk);
  EXPECT_EQ(Read("a.txt"), "one\r\ntwo\r\n");
  EXPECT_EQ(env_.AppendToFile("missing/a.txt", "x", 1), FileEnv::AppendStatus::kOpenFailed);
  fs::create_directory("dir");
  EXPECT_EQ(env_.AppendToFile("dir", "x", 1), FileEnv::AppendStatus::kOpenFailed);
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(env_.AppendToFile("/dev/full", "x\r\n", 3), FileEnv::AppendStatus::kWriteFailed);
  }
  EXPECT_TRUE(env_.Exists("dir"));
  EXPECT_TRUE(env_.Exists("a.txt"));
  EXPECT_FALSE(env_.Exists("b.txt"));
}

TEST_F(PosixFileEnvTest, ADirectoryWhereTheTimeStreamFileShouldBeSendsItsLinesToCresh1) {
  fs::create_directories("DataTimeStream/20240301.csv");
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  WriteExample(writer);
  WriteExample(writer);

  const std::string cresh1 = Read("cresh1.txt");
  EXPECT_EQ(std::count(cresh1.begin(), cresh1.end(), '\n'), 2);
  EXPECT_NE(cresh1.find(",3725,123456,"), std::string::npos);  // general style
  const std::string contract = Read("Data/20240301/rb2405.csv");
  EXPECT_NE(contract.find(",3725.00,123456,"), std::string::npos);
  EXPECT_EQ(std::count(contract.begin(), contract.end(), '\n'), 2);
  EXPECT_FALSE(fs::exists("cresh2.txt"));
  EXPECT_EQ(writer.counters().fallbackLines, 2u);
}

TEST_F(PosixFileEnvTest, DirectoriesRemovedWhileRunningAreCreatedAgain) {
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  WriteExample(writer);
  fs::remove_all("Data");
  fs::remove_all("DataTimeStream");
  WriteExample(writer);

  EXPECT_EQ(std::count_if(std::istreambuf_iterator<char>(std::ifstream("Data/20240301/rb2405.csv").rdbuf()),
                          std::istreambuf_iterator<char>(), [](char c) { return c == '\n'; }),
            1);
  EXPECT_TRUE(fs::is_regular_file("DataTimeStream/20240301.csv"));
  EXPECT_FALSE(fs::exists("cresh1.txt"));
  EXPECT_FALSE(fs::exists("cresh2.txt"));
  EXPECT_EQ(writer.counters().fallbackLines, 0u);
}

}  // namespace
