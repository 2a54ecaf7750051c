#include "history/day_close_job.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "history/history_status.h"
#include "storage/day_packer.h"
#include "storage/journal_format.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;

namespace {

constexpr int kToday = 20260110;

class DayCloseJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-day-close-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A day's journal of one rb2605 tick, time-stream file and one contract file of that tick, last
  // changed a day before `now_`.
  void AddDay(const std::string& day, bool journal = true, std::int64_t age = 86400) {
    if (journal) Write("Journal/" + day + ".qtj", JournalOf(day, 1), age);
    Write("DataTimeStream/" + day + ".csv", "stream of " + day, age);
    Write("Data/" + day + "/rb2605.csv", "contract of " + day, age);
  }
  void Write(const std::string& name, const std::string& text, std::int64_t age) {
    fs::create_directories((dir_ / name).parent_path());
    std::ofstream(dir_ / name) << text;
    const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(age);
    fs::last_write_time(dir_ / name, when);
  }
  static std::string JournalOf(const std::string& day, int ticks) {
    std::string bytes = JournalHeaderBytes(day.c_str());
    for (int i = 0; i < ticks; ++i) {
      JournalEntry entry;
      entry.sequence = static_cast<std::uint64_t>(i) + 1;
      entry.writeTimeNs = 1767600000000000000LL + i;
      entry.tick = ExampleRb2405Record();
      std::snprintf(entry.tick.InstrumentID, sizeof entry.tick.InstrumentID, "rb2605");
      unsigned char record[kJournalRecordSize];
      EncodeJournalRecord(entry, record);
      bytes.append(reinterpret_cast<const char*>(record), sizeof record);
    }
    return bytes;
  }
  bool Has(const std::string& name) const { return fs::exists(fs::symlink_status(dir_ / name)); }

  // Packs as the packer does, refusing the days in `refuse_`; reports fixed figures.
  DayCloseJob::PackDay FakePacker() {
    return [this](const fs::path& workdir, const std::string& day, PackReport* report, std::string* error,
                  const std::function<bool()>& stop) {
      packed_.push_back(day);
      if (refuse_.count(day) != 0) {
        *error = "the unpacked day differs from its journal at record 7";
        return false;
      }
      if (!PackJournalDay(workdir, day, report, error, stop)) return false;
      report->records = 3;
      report->journal_bytes = 4096;
      report->packed_bytes = 512;
      return true;
    };
  }

  DayCloseJob::Result Run(std::optional<int> journals, std::optional<int> csv) {
    RetentionSettings retention;
    retention.journalDays = journals;
    retention.csvDays = csv;
    DayCloseJob job(dir_, retention, FakePacker(), [this](const std::string& line) { log_.push_back(line); }, &status_);
    return job.RunOnce(DayCloseMoment{static_cast<std::int64_t>(::time(nullptr)), kToday, 600});
  }

  std::string Log() const {
    std::string all;
    for (const std::string& line : log_) all += line + "\n";
    return all;
  }

  fs::path dir_;
  std::vector<std::string> packed_;
  std::set<std::string> refuse_;
  std::vector<std::string> log_;
  HistoryStatus status_;
};

TEST_F(DayCloseJobTest, PacksFinishedDaysThenDeletesWhatRetentionLetsGoAndSaysWhatIsKept) {
  for (const char* day : {"20260105", "20260106", "20260107", "20260108"}) AddDay(day);
  AddDay("20260109", true, 60);  // yesterday, still settling
  AddDay("20260110");            // today
  refuse_ = {"20260106"};
  const DayCloseJob::Result result = Run(1, 0);
  EXPECT_EQ(packed_, (std::vector<std::string>{"20260105", "20260106", "20260107", "20260108"}));
  EXPECT_EQ(result.packed, 3);
  EXPECT_EQ(result.packFailures, 1);
  EXPECT_EQ(result.journalsDeleted, 2);
  EXPECT_EQ(result.csvDeleted, 3);
  // The newest packed day keeps its journal; the day whose pack failed keeps everything.
  for (const char* kept : {"Journal/20260108.qtj", "Journal/20260106.qtj", "Data/20260106/rb2605.csv",
                           "DataTimeStream/20260106.csv", "Journal/20260109.qtj", "Data/20260109",
                           "Journal/20260110.qtj", "DataTimeStream/20260110.csv"}) {
    EXPECT_TRUE(Has(kept)) << kept << "\n" << Log();
  }
  for (const char* gone : {"Journal/20260105.qtj", "Journal/20260107.qtj", "Data/20260105", "Data/20260108",
                           "DataTimeStream/20260107.csv"}) {
    EXPECT_FALSE(Has(gone)) << gone << "\n" << Log();
  }
  const std::string log = Log();
  EXPECT_NE(log.find("packing day 20260106 failed: the unpacked day differs from its journal at record 7; its "
                     "journal and CSV files are kept, and it is tried again in an hour"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("packed day 20260107: 3 records (0 damaged), journal 4.0 kB, pack 512 B, verified"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("deleted " + (dir_ / "Journal/20260105.qtj").string() + " (2.0 kB), past the journals' retention; "
                     "kept " + (dir_ / "History/20260105.qth").string() + " (" +
                     SizeText(fs::file_size(dir_ / "History/20260105.qth")) + "), packed and verified"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("deleted " + (dir_ / "DataTimeStream/20260105.csv").string() + " and " +
                     (dir_ / "Data/20260105").string() + "/ (38 B), past the CSV files' retention"),
            std::string::npos)
      << log;
  EXPECT_EQ(status_.packedDays(), 3u);
  EXPECT_EQ(status_.lastPack(), HistoryStatus::LastPack::kVerified);

  // A second pass has nothing left to do but retry the failed day.
  packed_.clear();
  const DayCloseJob::Result again = Run(1, 0);
  EXPECT_EQ(packed_, std::vector<std::string>{"20260106"});
  EXPECT_EQ(again.journalsDeleted + again.csvDeleted, 0);
}

TEST_F(DayCloseJobTest, KeepsEverythingWithoutRetentionAndNeverTrustsALinkedPackOrFollowsALinkedFolder) {
  AddDay("20260105");
  AddDay("20260106");
  // A planted link where a pack belongs does not count as packed, so the day keeps its files.
  fs::create_directories(dir_ / "History");
  fs::create_symlink(dir_ / "Journal/20260106.qtj", dir_ / "History/20260106.qth");
  refuse_ = {"20260106"};
  EXPECT_EQ(Run(std::nullopt, std::nullopt).journalsDeleted, 0);
  EXPECT_TRUE(Has("Journal/20260105.qtj"));
  EXPECT_TRUE(Has("History/20260105.qth"));

  // A linked day folder is removed as a link; what it points to stays.
  const fs::path outside = dir_ / "outside";
  fs::create_directories(outside);
  std::ofstream(outside / "keep.csv") << "x";
  fs::remove_all(dir_ / "Data/20260105");
  fs::create_directory_symlink(outside, dir_ / "Data/20260105");
  const DayCloseJob::Result result = Run(0, 0);
  EXPECT_EQ(result.journalsDeleted, 1);
  EXPECT_EQ(result.csvDeleted, 1);
  EXPECT_TRUE(fs::exists(outside / "keep.csv"));
  EXPECT_FALSE(Has("Data/20260105"));
  EXPECT_TRUE(Has("Journal/20260106.qtj"));
  EXPECT_TRUE(Has("Data/20260106"));
}

TEST_F(DayCloseJobTest, FileTimesAheadOfTheClockSettleOnTheJobsOwnClock) {
  AddDay("20260105", true, -365 * 86400);  // written under a clock a year ahead of the job's
  RetentionSettings keepAll;
  DayCloseJob job(dir_, keepAll, FakePacker(), [this](const std::string& line) { log_.push_back(line); }, nullptr);
  const std::int64_t now = ::time(nullptr);
  EXPECT_EQ(job.RunOnce(DayCloseMoment{now, kToday, 600}).packed, 0);
  EXPECT_EQ(job.RunOnce(DayCloseMoment{now + 300, kToday, 600}).packed, 0);
  Write("DataTimeStream/20260105.csv", "stream of 20260105 and one more line", -365 * 86400);
  EXPECT_EQ(job.RunOnce(DayCloseMoment{now + 700, kToday, 600}).packed, 0);  // it grew since the last pass
  EXPECT_EQ(job.RunOnce(DayCloseMoment{now + 1300, kToday, 600}).packed, 1);
  EXPECT_EQ(packed_, std::vector<std::string>{"20260105"});
}

// A program that stops gives up a pack under way: nothing is left in History/, it is no failure, and
// the next pass packs the day at once.
TEST_F(DayCloseJobTest, APackUnderWayIsGivenUpWhenTheProgramStops) {
  AddDay("20260105");
  RetentionSettings keepAll;
  DayCloseJob job(dir_, keepAll, FakePacker(), [this](const std::string& line) { log_.push_back(line); }, nullptr);
  int asked = 0;
  const std::int64_t now = ::time(nullptr);
  const DayCloseJob::Result stopped =
      job.RunOnce(DayCloseMoment{now, kToday, 600}, [&] { return ++asked > 1; });  // stops once the pack runs
  EXPECT_EQ(stopped.packed, 0);
  EXPECT_EQ(stopped.packFailures, 0);
  EXPECT_NE(Log().find("packing day 20260105 given up as the program stops"), std::string::npos) << Log();
  EXPECT_TRUE(!fs::exists(dir_ / "History") || fs::is_empty(dir_ / "History"));
  EXPECT_EQ(job.RunOnce(DayCloseMoment{now + 1, kToday, 600}).packed, 1);
  EXPECT_TRUE(Has("History/20260105.qth"));
}

TEST_F(DayCloseJobTest, AFailedPackIsTriedAgainAfterAnHourAndAStaleDayIsToldOnce) {
  AddDay("20260105");
  AddDay("20260106");
  fs::create_directories(dir_ / "History");
  std::ofstream(dir_ / "History/20260106.qth") << "packed before its journal changed";
  fs::last_write_time(dir_ / "History/20260106.qth", fs::file_time_type::clock::now() - std::chrono::hours(48));
  refuse_ = {"20260105"};
  RetentionSettings keepAll;
  DayCloseJob job(dir_, keepAll, FakePacker(), [this](const std::string& line) { log_.push_back(line); }, nullptr);
  const std::int64_t now = ::time(nullptr);
  for (const std::int64_t later : {0, 300, 3599}) {
    EXPECT_EQ(job.RunOnce(DayCloseMoment{now + later, kToday, 600}).packFailures, later == 0 ? 1 : 0) << later;
  }
  refuse_.clear();
  EXPECT_EQ(job.RunOnce(DayCloseMoment{now + 3600, kToday, 600}).packed, 1);
  EXPECT_EQ(packed_, (std::vector<std::string>{"20260105", "20260105"}));
  int told = 0;
  for (const std::string& line : log_) {
    told += line.find("the journal of day 20260106 changed after") != std::string::npos;
  }
  EXPECT_EQ(told, 1) << Log();
}

// A tick that reached the CSV files but not the journal lives only there: a day whose contract
// file or time-stream file holds more lines than its pack holds records keeps its CSV files (said
// once), while its journal goes by the retention as usual.
TEST_F(DayCloseJobTest, CsvFilesHoldingTicksThePackLacksAreKept) {
  AddDay("20260105");
  AddDay("20260106");
  AddDay("20260107");
  Write("Data/20260105/rb2605.csv", "line 1\r\nline 2 the journal missed\r\n", 86400);
  Write("Data/20260106/hc2605.csv", "a contract the journal never saw\r\n", 86400);
  Write("DataTimeStream/20260107.csv", "line 1\r\nline 2\r\n", 86400);
  const DayCloseJob::Result result = Run(0, 0);
  EXPECT_EQ(result.packed, 3);
  EXPECT_EQ(result.journalsDeleted, 3);
  EXPECT_EQ(result.csvDeleted, 0);
  for (const char* kept : {"Data/20260105/rb2605.csv", "Data/20260106/hc2605.csv", "DataTimeStream/20260107.csv"}) {
    EXPECT_TRUE(Has(kept)) << kept << "\n" << Log();
  }
  const std::string log = Log();
  EXPECT_NE(log.find("the CSV files of day 20260105 are kept past their retention: Data/20260105/rb2605.csv holds 2 "
                     "lines, the pack 1 records of rb2605"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Data/20260106/hc2605.csv holds 1 lines, the pack 0 records of hc2605"), std::string::npos) << log;
  EXPECT_NE(log.find("DataTimeStream/20260107.csv holds 2 lines, the pack 1 records"), std::string::npos) << log;
  EXPECT_EQ(Run(0, 0).csvDeleted, 0);
}

TEST(SizeTextTest, ChoosesTheLargestUnitUnder1024) {
  EXPECT_EQ(SizeText(0), "0 B");
  EXPECT_EQ(SizeText(1023), "1023 B");
  EXPECT_EQ(SizeText(1024), "1.0 kB");
  EXPECT_EQ(SizeText(1536ull * 1024 * 1024), "1.5 GB");
}

}  // namespace
