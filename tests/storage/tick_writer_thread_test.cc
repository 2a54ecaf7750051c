#include "storage/tick_writer_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "queue/ring_queue_api_inter.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_watch.h"
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
  AppendStatus AppendToFile(const char* path, const char* data, std::size_t size, int* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_.push_back(path);
    *error = EMFILE;
    auto failure = failures_.find(path);
    if (failure != failures_.end() && failure->second == AppendStatus::kOpenFailed) return failure->second;
    if (failure != failures_.end() && failure->second == AppendStatus::kWriteFailed) return failure->second;
    files_[path].append(data, size);
    if (failure != failures_.end()) return failure->second;
    *error = 0;
    return AppendStatus::kOk;
  }

  void Fail(const std::string& path, AppendStatus how) { failures_[path] = how; }
  void Heal(const std::string& path) { failures_.erase(path); }
  // Every path an append was tried on, in order.
  std::vector<std::string> attempts() const { return attempts_; }
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
  std::vector<std::string> attempts_;
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

TEST_F(TickWriterThreadTest, ALineThatReachesNeitherFileIsLostAndItsTickIsNotCountedWritten) {
  struct Case {
    const char* path;
    const char* fallback;
  };
  const Case cases[] = {{kTimeStreamPath, "cresh1.txt"}, {kContractPath, "cresh2.txt"}};
  for (const auto& c : cases) {
    FakeFileEnv env;
    env.Fail(c.path, FileEnv::AppendStatus::kOpenFailed);
    env.Fail(c.fallback, FileEnv::AppendStatus::kOpenFailed);
    RecordingReceiver receiver;
    TickWriterThread writer(*queue_, clock_, env, &receiver, lock_);
    PushExample();
    ASSERT_TRUE(writer.WriteOne());
    const auto counters = writer.counters();
    EXPECT_EQ(counters.linesLost, 1u) << c.path;
    EXPECT_EQ(counters.fallbackLines, 0u);
    EXPECT_EQ(counters.ticksWritten, 0u) << "a tick with a lost line is not written";
    EXPECT_TRUE(receiver.reports.empty()) << "nothing is reported that is not on disk";
    // The other file of the record is still written.
    const bool timeStream = std::string(c.path) == kTimeStreamPath;
    EXPECT_EQ(env.File(timeStream ? kContractPath : kTimeStreamPath), timeStream ? kFixedLine : kGeneralLine);
  }
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

struct RefusedCase {
  const char* name;
  void (*spoil)(TickRecord*);
};

void SetCode(TickRecord* r, const char* code) {
  std::memset(r->InstrumentID, 0, sizeof(r->InstrumentID));
  std::memcpy(r->InstrumentID, code, std::min(std::strlen(code), sizeof(r->InstrumentID)));
}

TEST_F(TickWriterThreadTest, ARecordWhoseCodeOrTextCannotBeStoredIsRefusedWholeAndLoggedOncePerCode) {
  const RefusedCase cases[] = {
      {"path up", [](TickRecord* r) { SetCode(r, "../../../escaped"); }},
      {"dot dot", [](TickRecord* r) { SetCode(r, ".."); }},
      {"dot", [](TickRecord* r) { SetCode(r, "."); }},
      {"empty", [](TickRecord* r) { SetCode(r, ""); }},
      {"slash", [](TickRecord* r) { SetCode(r, "rb/2405"); }},
      {"backslash", [](TickRecord* r) { SetCode(r, "..\\rb2405"); }},
      {"CR LF", [](TickRecord* r) { SetCode(r, "rb\r\n2405"); }},
      {"control", [](TickRecord* r) { SetCode(r, "rb\x01" "2405"); }},
      {"comma", [](TickRecord* r) { SetCode(r, "rb,2405"); }},
      {"no terminator", [](TickRecord* r) { std::memset(r->InstrumentID, 'a', sizeof(r->InstrumentID)); }},
      {"comma in time", [](TickRecord* r) { std::memcpy(r->UpdateTime, "09:05,07", 9); }},
      {"LF in day", [](TickRecord* r) { std::memcpy(r->ActionDay, "2024\n0301", 9); }},
  };
  for (const auto& c : cases) {
    FakeFileEnv env;
    RecordingReceiver receiver;
    LogWatch watch;
    TickWriterThread writer(*queue_, clock_, env, &receiver, lock_);
    TickRecord r = ExampleRb2405Record();
    c.spoil(&r);
    queue_->Push(&r);
    queue_->Push(&r);
    ASSERT_TRUE(writer.WriteOne());
    ASSERT_TRUE(writer.WriteOne());

    EXPECT_TRUE(env.attempts().empty()) << c.name << ": " << env.attempts()[0];
    EXPECT_TRUE(env.created().empty()) << c.name;
    EXPECT_TRUE(receiver.reports.empty()) << c.name;
    const auto counters = writer.counters();
    EXPECT_EQ(counters.ticksUnstorable, 2u) << c.name;
    EXPECT_EQ(counters.ticksWritten, 0u) << c.name;
    const auto lines = watch.NewLines(LogTab::NetworkLog);
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(lines[0].rfind("行情不存储[", 0), 0u) << lines[0];
  }
}

TEST_F(TickWriterThreadTest, RefusedCodesAreLoggedReadablyAndTheLongestCodeIsStillStored) {
  LogWatch watch;
  TickWriterThread writer(*queue_, clock_, env_, nullptr, lock_);
  TickRecord r = ExampleRb2405Record();
  SetCode(&r, "rb\r\n2405");
  queue_->Push(&r);
  const std::string longest(30, 'a');
  SetCode(&r, longest.c_str());
  queue_->Push(&r);
  ASSERT_TRUE(writer.WriteOne());
  ASSERT_TRUE(writer.WriteOne());
  EXPECT_EQ(watch.NewLines(LogTab::NetworkLog),
            std::vector<std::string>{"行情不存储[rb\\x0d\\x0a2405]：合约代码不能作文件名"});
  EXPECT_TRUE(env_.HasFile("Data/20240301/" + longest + ".csv"));
  EXPECT_EQ(writer.counters().ticksWritten, 1u);
  EXPECT_EQ(writer.counters().ticksUnstorable, 1u);
}

std::chrono::steady_clock::time_point g_now;

TEST_F(TickWriterThreadTest, LossesAreLoggedOncePerBurstWithARunningCountAndTheTotalOnceWritingRecovers) {
  using namespace std::chrono_literals;
  g_now = std::chrono::steady_clock::time_point{} + 1h;
  env_.Fail(kTimeStreamPath, FileEnv::AppendStatus::kOpenFailed);
  env_.Fail("cresh1.txt", FileEnv::AppendStatus::kOpenFailed);
  LogWatch watch;
  TickWriterThread writer(*queue_, clock_, env_, &receiver_, lock_);
  writer.SetNowForTesting([] { return g_now; });
  for (int i = 0; i < 50; ++i) {
    PushExample();
    ASSERT_TRUE(writer.WriteOne());
    g_now += 10ms;
  }
  const std::string tooMany = std::strerror(EMFILE);
  EXPECT_EQ(watch.NewLines(LogTab::NetworkLog),
            std::vector<std::string>{"写入失败[DataTimeStream/20240301.csv][" + tooMany + "]，备用文件[cresh1.txt][" +
                                     tooMany + "]，行情丢失"});

  g_now += 5s;  // still failing: a running count
  PushExample();
  ASSERT_TRUE(writer.WriteOne());
  env_.Heal(kTimeStreamPath);
  g_now += 1s;  // stored again, but too soon after the last loss to call the burst over
  PushExample();
  ASSERT_TRUE(writer.WriteOne());
  g_now += 5s;
  EXPECT_FALSE(writer.WriteOne());

  const auto lines = watch.NewLines(LogTab::NetworkLog);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[DataTimeStream]写入仍失败，本次已丢失51行");
  EXPECT_EQ(lines[2], "[DataTimeStream]写入恢复，本次共丢失51行");
  const auto c = writer.counters();
  EXPECT_EQ(c.linesLost, 51u);
  EXPECT_EQ(c.ticksWritten, 1u);
  EXPECT_EQ(receiver_.reports.size(), 1u);
  EXPECT_EQ(env_.File(kContractPath).size(), 52 * (sizeof(kFixedLine) - 1));
}

TEST_F(TickWriterThreadTest, WhenBothFilesAndBothFallbacksFailNothingCountsWrittenAndStopLogsEachBurstsTotal) {
  for (const char* path : {kTimeStreamPath, kContractPath, "cresh1.txt", "cresh2.txt"}) {
    env_.Fail(path, FileEnv::AppendStatus::kOpenFailed);
  }
  constexpr int kRecords = 40;
  for (int i = 0; i < kRecords; ++i) PushExample();
  LogWatch watch;
  TickWriterThread writer(*queue_, clock_, env_, &receiver_, lock_);
  writer.Start();
  writer.StopWhenDrained();
  const auto c = writer.counters();
  EXPECT_EQ(c.ticksWritten, 0u);
  EXPECT_EQ(c.linesLost, 2u * kRecords);
  EXPECT_TRUE(receiver_.reports.empty());
  const auto lines = watch.NewLines(LogTab::NetworkLog);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("写入失败[DataTimeStream/20240301.csv][", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("写入失败[Data/20240301/rb2405.csv][", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "[DataTimeStream]写入停止，本次共丢失40行");
  EXPECT_EQ(lines[3], "[Data]写入停止，本次共丢失40行");
}

}  // namespace
