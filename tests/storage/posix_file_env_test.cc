#include "storage/posix_file_env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "queue/ring_queue_api_inter.h"
#include "storage/journal_writer.h"
#include "storage/storage_paths.h"
#include "storage/tick_writer_thread.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_watch.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

TEST_F(PosixFileEnvTest, AppendsToRegularFilesOnlyAndReportsWhyAnOpenFailed) {
  int error = -2;
  EXPECT_EQ(env_.AppendToFile("a.txt", "one\r\n", 5, &error), FileEnv::AppendStatus::kOk);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(env_.AppendToFile("a.txt", "two\r\n", 5, &error), FileEnv::AppendStatus::kOk);
  EXPECT_EQ(Read("a.txt"), "one\r\ntwo\r\n");
  fs::create_directory("dir");
  fs::create_symlink("a.txt", "link.txt");
  struct Case {
    const char* path;
    int error;
  };
  const Case cases[] = {
      {"missing/a.txt", ENOENT},
      {"dir", EISDIR},
      {"link.txt", ELOOP},               // a link planted in place of a stored file is not followed
      {"/dev/full", kNotARegularFile},   // a device is not a tick file
      {"/dev/null", kNotARegularFile},
  };
  for (const auto& c : cases) {
    if (!fs::exists(c.path) && c.error == kNotARegularFile) continue;
    error = 0;
    EXPECT_EQ(env_.AppendToFile(c.path, "x\r\n", 3, &error), FileEnv::AppendStatus::kOpenFailed) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  EXPECT_EQ(Read("a.txt"), "one\r\ntwo\r\n");
  EXPECT_TRUE(env_.Exists("dir"));
  EXPECT_TRUE(env_.Exists("a.txt"));
  EXPECT_FALSE(env_.Exists("b.txt"));
}

TEST_F(PosixFileEnvTest, AWriteThatFailsHalfwayLeavesNoPartialLine) {
  // A file size limit makes the kernel take part of the write and refuse the rest, as a full disk does.
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  int error = 0;
  ASSERT_EQ(env_.AppendToFile("a.txt", "whole\r\n", 7, &error), FileEnv::AppendStatus::kOk);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const FileEnv::AppendStatus status = env_.AppendToFile("a.txt", "0123456789\r\n", 12, &error);
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(status, FileEnv::AppendStatus::kWriteFailed);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(Read("a.txt"), "whole\r\n");
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

TEST_F(PosixFileEnvTest, NamedPipesInPlaceOfTickFilesNeitherHoldTheWriterNorTakeItsLines) {
  fs::create_directories("DataTimeStream");
  fs::create_directories("Data/20240301");
  ASSERT_EQ(mkfifo("DataTimeStream/20240301.csv", 0644), 0);
  ASSERT_EQ(mkfifo("Data/20240301/rb2405.csv", 0644), 0);
  // With a reader on the per-contract pipe an open for writing succeeds there at once.
  const int reader = open("Data/20240301/rb2405.csv", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  TickRecord r = ExampleRb2405Record();
  queue_->Push(&r);
  auto done = std::async(std::launch::async, [&] { return writer.WriteOne(); });
  if (done.wait_for(10s) != std::future_status::ready) {
    // Give the blocked open its reader so the test can end, then fail.
    const int unblock = open("DataTimeStream/20240301.csv", O_RDONLY | O_NONBLOCK);
    done.wait();
    close(unblock);
    close(reader);
    FAIL() << "the writer waited on a named pipe";
  }
  EXPECT_TRUE(done.get());
  char buffer[512];
  EXPECT_LE(read(reader, buffer, sizeof(buffer)), 0) << "a line went into the pipe";
  close(reader);
  EXPECT_NE(Read("cresh1.txt").find(",3725,123456,"), std::string::npos);
  EXPECT_NE(Read("cresh2.txt").find(",3725,123456,"), std::string::npos);
  EXPECT_EQ(writer.counters().fallbackLines, 2u);
  EXPECT_EQ(writer.counters().ticksWritten, 1u);
}

TEST_F(PosixFileEnvTest, WithEveryDescriptorInUseTheLinesCountAsLostNotWrittenAndEachFileLogsOnce) {
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  // Once before: the sanitizers' first check of a virtual call needs a descriptor of its own.
  WriteExample(writer);
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit small = before;
  small.rlim_cur = std::min<rlim_t>(before.rlim_cur, 256);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &small), 0);
  std::vector<int> held;
  held.reserve(4096);
  for (int fd = open("/dev/null", O_RDONLY); fd >= 0 && held.size() < 4096; fd = dup(fd)) held.push_back(fd);
  const int exhausted = errno;

  LogWatch watch;
  for (int i = 0; i < 3; ++i) WriteExample(writer);
  const auto full = writer.counters();
  for (int fd : held) close(fd);
  setrlimit(RLIMIT_NOFILE, &before);
  WriteExample(writer);

  ASSERT_EQ(exhausted, EMFILE);
  EXPECT_EQ(full.ticksWritten, 1u);  // the one before
  EXPECT_EQ(full.linesLost, 6u);
  EXPECT_EQ(full.fallbackLines, 0u);
  EXPECT_EQ(writer.counters().ticksWritten, 2u);
  const auto lines = watch.NewLines(LogTab::NetworkLog);
  const std::string tooMany = std::strerror(EMFILE);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "写入失败[DataTimeStream/20240301.csv][" + tooMany + "]，备用文件[cresh1.txt][" + tooMany +
                          "]，行情丢失");
  EXPECT_EQ(lines[1], "写入失败[Data/20240301/rb2405.csv][" + tooMany + "]，备用文件[cresh2.txt][" + tooMany +
                          "]，行情丢失");
}

std::size_t LineCount(const fs::path& path) {
  const std::string text = Read(path);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) files.push_back(entry.path().string());
  return files;
}

// A folder of the working folder that is a link to a folder elsewhere takes nothing: the line goes to
// its fallback file (a journal record counts as a journal failure), the refusal is counted and logged
// once, and the tick's other lines are written as usual.
TEST_F(PosixFileEnvTest, AFolderThatIsALinkLeadsNothingOutsideTheWorkingFolder) {
  struct Case {
    const char* folder;
    std::uint64_t linksRefused;
    const char* fallback;  // where the refused lines go; null for the journal
  } cases[] = {
      {"Data/20240301", 3, "cresh2.txt"},
      {"Data", 3, "cresh2.txt"},
      {"DataTimeStream", 3, "cresh1.txt"},
      {"Journal", 0, nullptr},
  };
  for (const Case& c : cases) {
    const fs::path work = dir_ / c.folder / "work";  // a fresh working folder for each case
    const fs::path outside = dir_ / c.folder / "outside";
    fs::create_directories(outside);
    fs::create_directories((work / c.folder).parent_path());
    fs::create_directory_symlink(outside, work / c.folder);
    fs::current_path(work);
    JournalWriter journal(JournalSync::kNone);
    TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_, &journal);
    LogWatch watch;
    for (int i = 0; i < 3; ++i) WriteExample(writer);
    writer.StopWhenDrained();
    journal.Close();

    const std::vector<std::string> escaped = FilesBelow(outside);
    EXPECT_TRUE(escaped.empty()) << c.folder << ": " << escaped[0];
    const TickWriterThread::Counters counters = writer.counters();
    EXPECT_EQ(counters.ticksWritten, 3u) << c.folder;
    EXPECT_EQ(counters.linksRefused, c.linksRefused) << c.folder;
    EXPECT_EQ(counters.fallbackLines, c.linksRefused) << c.folder;
    EXPECT_EQ(counters.linesLost, 0u) << c.folder;
    EXPECT_EQ(counters.journalFailures, c.fallback == nullptr ? 3u : 0u) << c.folder;
    const std::string folder = c.folder;
    if (c.fallback != nullptr) EXPECT_EQ(LineCount(c.fallback), 3u) << c.folder;
    if (folder != "DataTimeStream") EXPECT_EQ(LineCount("DataTimeStream/20240301.csv"), 3u) << c.folder;
    if (folder.rfind("Data", 0) != 0) EXPECT_EQ(LineCount("Data/20240301/rb2405.csv"), 3u) << c.folder;
    if (folder != "Journal") EXPECT_TRUE(fs::is_regular_file("Journal/20240301.qtj")) << c.folder;
    // The journal's burst of failures also logs its end, with the count, when it closes.
    const std::vector<std::string> lines = watch.NewLines(LogTab::NetworkLog);
    ASSERT_EQ(lines.size(), c.fallback == nullptr ? 2u : 1u) << c.folder;
    const std::string refused = c.fallback == nullptr ? "Journal/20240301.qtj" : folder + "/";
    EXPECT_NE(lines[0].find(refused), std::string::npos) << lines[0];
  }
}

// The working folder itself may be a link: what lies below it is written as usual.
TEST_F(PosixFileEnvTest, AWorkingFolderThatIsALinkIsWrittenAsUsual) {
  fs::create_directories("real");
  fs::create_directory_symlink(dir_ / "real", "work");
  PosixFileEnv env((dir_ / "work").string());
  EnsureDayDirectory(env, "20240301");
  int error = 0;
  EXPECT_EQ(env.AppendToFile("Data/20240301/rb2405.csv", "x\r\n", 3, &error), FileEnv::AppendStatus::kOk) << error;
  JournalWriter journal(JournalSync::kNone, (dir_ / "work").string());
  EXPECT_TRUE(journal.Append("20240301", ExampleRb2405Record(), 1, std::chrono::steady_clock::now()));
  journal.Close();
  EXPECT_EQ(Read("real/Data/20240301/rb2405.csv"), "x\r\n");
  EXPECT_TRUE(fs::is_regular_file("real/Journal/20240301.qtj"));
}

TEST_F(PosixFileEnvTest, APathLikeCodeMakesNoFileAnywhere) {
  // Three levels deep, so that "../../../escaped" from Data/<day>/ would still land inside the test's folder.
  fs::create_directories("a/b/c");
  fs::current_path("a/b/c");
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  for (const char* code : {"../../../escaped", "../escaped", "..", "rb\n2405,x"}) {
    TickRecord r = ExampleRb2405Record();
    std::snprintf(r.InstrumentID, sizeof(r.InstrumentID), "%s", code);
    queue_->Push(&r);
    ASSERT_TRUE(writer.WriteOne());
  }
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    if (!entry.is_directory()) files.push_back(entry.path().string());
  }
  EXPECT_TRUE(files.empty()) << files[0];
  EXPECT_EQ(writer.counters().ticksUnstorable, 4u);
}

}  // namespace
