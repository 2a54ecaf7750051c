#include "storage/tick_writer_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "queue/ring_queue_api_inter.h"
#include "tests/support/fake_clock.h"
#include "tests/support/tick_fixtures.h"

namespace {

// An in-memory file system that fails chosen operations on chosen paths.
class FakeFileEnv : public FileEnv {
 public:
  bool Exists(const char* path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return directories_.count(path) > 0 || files_.count(path) > 0;
  }
  void CreateDirectory(const char* path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(path);
    directories_.insert(path);
  }
  AppendStatus AppendToFile(const char* path, const char* data, std::size_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto failure = failures_.find(path);
    if (failure != failures_.end() && failure->second == AppendStatus::kOpenFailed) return failure->second;
    if (failure != failures_.end() && failure->second == AppendStatus::kWriteFailed) return failure->second;
    files_[path].append(data, size);
    if (failure != failures_.end()) return failure->second;
    return AppendStatus::kOk;
  }

  void Fail(const std::string& path, AppendStatus how) { failures_[path] = how; }
  std::string File(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(path) ? files_[path] : std::string();
  }
  bool HasFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(path) > 0;
  }
  void AddDirectory(const std::string& path) { directories_.insert(path); }
  std::vector<std::string> created() const { return created_; }

 private:
  std::mutex mutex_;
  std::set<std::string> directories_;
  std::map<std::string, std::string> files_;
  std::map<std::string, AppendStatus> failures_;
  std::vector<std::string> created_;
};

struct Report {
  std::string fileName, lastPrice, openInterest, localTime, tradingDay;
};

class RecordingReceiver : public TickReportReceiver {
 public:
  void OnTickReport(const char* fileName, const char* lastPrice, const char* openInterest, const char* localTime,
                    const char* tradingDay) override {
    reports.push_back({fileName, lastPrice, openInterest, localTime, tradingDay});
  }
  std::vector<Report> reports;
};

const char kGeneralLine[] =
    "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,37251.2,3726,15,"
    "3725,30,3950,3500,1.65432e+06,4.59877e+09,3720,1.65e+06,3722\r\n";
const char kFixedLine[] =
    "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725.00,123456,3750.00,3700.00,3710.00,-1.00,"
    "37251.23,3726.00,15,3725.00,30,3950.00,3500.00,1654321.00,4598765432.00,3720.00,1650000.00,3722.00\r\n";
const char kTimeStreamPath[] = "DataTimeStream/20240301.csv";
const char kContractPath[] = "Data/20240301/rb2405.csv";

class TickWriterThreadTest : public ::testing::Test {
 protected:
  TickWriterThreadTest()
      : owned_(static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi())),
        queue_(owned_.get()) {
    queue_->InitQueue(64);
    clock_.Set(FakeClock::At(2024, 3, 1, 6, 9, 5, 7));
  }

  void PushExample() {
    TickRecord r = ExampleRb2405Record();
    queue_->Push(&r);
  }

  std::unique_ptr<CTRingQueueApi_inter> owned_;
  CTRingQueueApi* queue_;
  FakeClock clock_;
  FakeFileEnv env_;
  RecordingReceiver receiver_;
  std::mutex lock_;
};

TEST_F(TickWriterThreadTest, WritesBothFilesInTheirStylesAndReports) {
  TickWriterThread writer(*queue_, clock_, env_, &receiver_, lock_);
  EXPECT_FALSE(writer.WriteOne());
  PushExample();
  PushExample();
  EXPECT_TRUE(writer.WriteOne());
  EXPECT_TRUE(writer.WriteOne());
  EXPECT_FALSE(writer.WriteOne());

  EXPECT_EQ(env_.File(kTimeStreamPath), std::string(kGeneralLine) + kGeneralLine);
  EXPECT_EQ(env_.File(kContractPath), std::string(kFixedLine) + kFixedLine);
  EXPECT_FALSE(env_.HasFile("cresh1.txt"));
  EXPECT_FALSE(env_.HasFile("cresh2.txt"));
  EXPECT_EQ(env_.created(), (std::vector<std::string>{"DataTimeStream", "Data", "Data/20240301"}));

  ASSERT_EQ(receiver_.reports.size(), 2u);
  const Report& r = receiver_.reports[0];
  EXPECT_EQ(r.fileName, "rb2405.csv");
  EXPECT_EQ(r.lastPrice, "3725.00");
  EXPECT_EQ(r.openInterest, "1654321");
  EXPECT_EQ(r.localTime, "2024/03/01 09:05:07");
  EXPECT_EQ(r.tradingDay, "20240301");
  const auto c = writer.counters();
  EXPECT_EQ(c.ticksWritten, 2u);
  EXPECT_EQ(c.fallbackLines, 0u);
  EXPECT_EQ(c.linesLost, 0u);
}

TEST_F(TickWriterThreadTest, OnlyTheMissingDayDirectoryIsCreatedWhenDataExists) {
  env_.AddDirectory("Data");
  env_.AddDirectory("DataTimeStream");
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  PushExample();
  EXPECT_TRUE(writer.WriteOne());
  EXPECT_EQ(env_.created(), (std::vector<std::string>{"Data/20240301"}));
}

struct FailureCase {
  const char* failingPath;
  FileEnv::AppendStatus how;
  const char* fallback;
};

TEST_F(TickWriterThreadTest, AFailedOpenWriteOrCloseSendsTheLineToItsFallbackInGeneralStyle) {
  const FailureCase cases[] = {
      {kTimeStreamPath, FileEnv::AppendStatus::kOpenFailed, "cresh1.txt"},
      {kTimeStreamPath, FileEnv::AppendStatus::kWriteFailed, "cresh1.txt"},
      {kTimeStreamPath, FileEnv::AppendStatus::kCloseFailed, "cresh1.txt"},
      {kContractPath, FileEnv::AppendStatus::kOpenFailed, "cresh2.txt"},
      {kContractPath, FileEnv::AppendStatus::kWriteFailed, "cresh2.txt"},
      {kContractPath, FileEnv::AppendStatus::kCloseFailed, "cresh2.txt"},
  };
  for (const auto& c : cases) {
    FakeFileEnv env;
    env.Fail(c.failingPath, c.how);
    RecordingReceiver receiver;
    TickWriterThread writer(*queue_, clock_, env, &receiver, lock_);
    PushExample();
    ASSERT_TRUE(writer.WriteOne());

    EXPECT_EQ(env.File(c.fallback), kGeneralLine) << c.failingPath << " " << static_cast<int>(c.how);
    const bool timeStreamFailed = std::string(c.failingPath) == kTimeStreamPath;
    EXPECT_EQ(env.File(timeStreamFailed ? kContractPath : kTimeStreamPath),
              timeStreamFailed ? kFixedLine : kGeneralLine);
    EXPECT_EQ(writer.counters().fallbackLines, 1u);
    EXPECT_EQ(writer.counters().linesLost, 0u);
    EXPECT_EQ(receiver.reports.size(), 1u);
  }
}

TEST_F(TickWriterThreadTest, ALineThatReachesNeitherFileIsCountedAsLost) {
  env_.Fail(kTimeStreamPath, FileEnv::AppendStatus::kOpenFailed);
  env_.Fail("cresh1.txt", FileEnv::AppendStatus::kWriteFailed);
  TickWriterThread writer(*queue_, clock_, env_, &receiver_, lock_);
  PushExample();
  ASSERT_TRUE(writer.WriteOne());
  const auto c = writer.counters();
  EXPECT_EQ(c.linesLost, 1u);
  EXPECT_EQ(c.fallbackLines, 0u);
  EXPECT_EQ(c.ticksWritten, 1u);
  EXPECT_EQ(env_.File(kContractPath), kFixedLine);
  EXPECT_EQ(receiver_.reports.size(), 1u);
}

TEST_F(TickWriterThreadTest, StopWhenDrainedWritesEveryQueuedRecordFirst) {
  constexpr int kRecords = 300;
  for (int i = 0; i < kRecords; ++i) PushExample();
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  writer.Start();
  writer.StopWhenDrained();
  EXPECT_FALSE(writer.running());
  EXPECT_EQ(writer.counters().ticksWritten, static_cast<std::uint64_t>(kRecords));
  EXPECT_EQ(env_.File(kTimeStreamPath).size(), kRecords * (sizeof(kGeneralLine) - 1));
  EXPECT_EQ(env_.File(kContractPath).size(), kRecords * (sizeof(kFixedLine) - 1));
}

std::atomic<int> g_sleeps{0};

TEST_F(TickWriterThreadTest, RecordsThatWaitAreWrittenWithoutSleepingBetweenThem) {
  constexpr int kRecords = 200;
  for (int i = 0; i < kRecords; ++i) PushExample();
  g_sleeps = 0;
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  writer.SetSleepForTesting([](std::chrono::milliseconds) { g_sleeps.fetch_add(1); });
  writer.Start();
  writer.StopWhenDrained();
  EXPECT_EQ(writer.counters().ticksWritten, static_cast<std::uint64_t>(kRecords));
  // At most one idle pass (10 ms and 1 ms), should the stop request come after the last record.
  EXPECT_LE(g_sleeps.load(), 2);
}

TEST_F(TickWriterThreadTest, TheTradingDayComesFromTheMomentOfWriting) {
  clock_.Set(FakeClock::At(2024, 3, 1, 6, 18, 0, 0));  // Friday evening: Monday's trading day
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  PushExample();
  ASSERT_TRUE(writer.WriteOne());
  EXPECT_TRUE(env_.HasFile("DataTimeStream/20240304.csv"));
  EXPECT_EQ(env_.File("Data/20240304/rb2405.csv").substr(0, 22), "20240301180000,rb2405,");
}

}  // namespace
