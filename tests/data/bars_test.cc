#include "tools/data/day_bars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/data/data_fixture.h"
#include "tools/data/csv_day_source.h"
#include "tools/data/day_files.h"
#include "tools/data/replayable_day.h"

namespace {

constexpr int kMonday = 20240311;  // its night runs on Friday 2024-03-08 and past midnight into Saturday

std::string Ticks(const std::vector<Tick>& ticks) {
  std::string lines;
  for (const Tick& t : ticks) lines += t.Line();
  return lines;
}

Tick T(const char* contract, const char* time, int ms, double last, int volume, double interest) {
  Tick t;
  t.day = kMonday;
  t.contract = contract;
  t.time = time;
  t.ms = ms;
  t.last = last;
  t.volume = volume;
  t.turnover = volume * 1000.0;
  t.interest = interest;
  return t;
}

class BarsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Append(kMonday, "rb2405",
                   Ticks({
                       T("rb2405", "20:59:00", 0, 3700, 10, 100),    // the night's call auction
                       T("rb2405", "21:00:00", 500, 3702, 15, 101),
                       T("rb2405", "21:00:30", 0, 3698, 20, 102),
                       T("rb2405", "21:01:10", 0, 3705, 26, 104),
                       T("rb2405", "21:01:10", 0, 3705, 26, 104),    // sent again after a reconnection
                       T("rb2405", "22:59:59", 500, 3710, 30, 105),
                       T("rb2405", "23:00:00", 0, 3711, 31, 106),    // the closing snapshot
                       T("rb2405", "10:14:59", 500, 3720, 40, 110),
                       T("rb2405", "10:15:00", 0, 3721, 41, 111),    // closes the first period
                       T("rb2405", "10:30:00", 500, 3722, 45, 112),
                       T("rb2405", "12:00:00", 0, 3799, 46, 112),    // noon: no bar
                   }));
    folder_.Append(kMonday, "au2406", Ticks({T("au2406", "00:30:10", 0, 480, 5, 50)}));
  }

  std::string Bars(const char* period) {
    const DayBars bars = BuildDayBars(folder_.path(), kMonday, *ParseBarPeriod(period));
    EXPECT_TRUE(bars.error.empty()) << bars.error;
    return bars.csv;
  }

  DataFolder folder_;
};

TEST_F(BarsTest, MinuteBarsEqualTheHandComputedOnes) {
  EXPECT_EQ(Bars("1m"),
            "au2406,20240311,2024-03-09T00:30:00+08:00,2024-03-09T00:31:00+08:00,480,480,480,480,5,5000,50,1\n"
            "rb2405,20240311,2024-03-08T21:00:00+08:00,2024-03-08T21:01:00+08:00,3700,3702,3698,3698,20,20000,102,3\n"
            "rb2405,20240311,2024-03-08T21:01:00+08:00,2024-03-08T21:02:00+08:00,3705,3705,3705,3705,6,6000,104,1\n"
            "rb2405,20240311,2024-03-08T22:59:00+08:00,2024-03-08T23:00:00+08:00,3710,3711,3710,3711,5,5000,106,2\n"
            "rb2405,20240311,2024-03-11T10:14:00+08:00,2024-03-11T10:15:00+08:00,3720,3721,3720,3721,10,10000,111,2\n"
            "rb2405,20240311,2024-03-11T10:30:00+08:00,2024-03-11T10:31:00+08:00,3722,3722,3722,3722,4,4000,112,1\n");
}

TEST_F(BarsTest, LongerBarsAreCutAtBreaksAndTheDailyBarHoldsTheWholeDay) {
  const std::string hour = Bars("1h");
  EXPECT_NE(hour.find("rb2405,20240311,2024-03-08T21:00:00+08:00,2024-03-08T22:00:00+08:00,3700,3705,3698,3705,26,"),
            std::string::npos) << hour;
  EXPECT_NE(hour.find("2024-03-11T10:00:00+08:00,2024-03-11T10:15:00+08:00,3720,3721,3720,3721,10,"), std::string::npos)
      << "the hour stops at the break\n" << hour;
  EXPECT_NE(hour.find("2024-03-11T10:30:00+08:00,2024-03-11T11:00:00+08:00,3722,"), std::string::npos) << hour;

  const std::string day = Bars("1d");
  EXPECT_NE(day.find("rb2405,20240311,2024-03-08T21:00:00+08:00,2024-03-11T15:00:00+08:00,3700,3722,3698,3722,45,45000,112,9\n"),
            std::string::npos) << day;
  EXPECT_NE(day.find("au2406,20240311,2024-03-08T21:00:00+08:00,2024-03-11T15:00:00+08:00,480,"), std::string::npos) << day;
}

// A day with a journal is read from it: bond-futures bars keep their half ticks (the per-contract file
// says 92.00 and 92.01), and a bar's turnover is the difference in cents, without float noise.
TEST(JournalBarsTest, BondBarsFromTheJournalAreExactAndSumsCarryNoFloatNoise) {
  DataFolder folder;
  std::vector<Tick> ticks = {T("T2406", "09:30:00", 0, 92.005, 10, 0), T("T2406", "09:30:20", 0, 92.015, 20, 0),
                             T("T2406", "09:30:40", 0, 91.995, 30, 0), T("T2406", "09:31:00", 0, 92.01, 40, 0)};
  ticks[0].turnover = 100000000.12;
  ticks[1].turnover = 120000000.34;
  ticks[2].turnover = 152440378.09;
  ticks[3].turnover = 152440378.09 + 1e-2;
  folder.Append(kMonday, "T2406", Ticks(ticks));
  const std::string fromFiles = BuildDayBars(folder.path(), kMonday, 60).csv;
  EXPECT_NE(fromFiles.find(",92,92.02,92,92,"), std::string::npos) << fromFiles;  // what two decimals leave
  ASSERT_TRUE(AppendJournal(folder, "20240311", ticks));
  const DayBars bars = BuildDayBars(folder.path(), kMonday, 60);
  ASSERT_EQ(bars.error, "");
  EXPECT_EQ(bars.csv,
            "T2406,20240311,2024-03-11T09:30:00+08:00,2024-03-11T09:31:00+08:00,92.005,92.015,91.995,91.995,30,"
            "152440378.09,0,3\n"
            "T2406,20240311,2024-03-11T09:31:00+08:00,2024-03-11T09:32:00+08:00,92.01,92.01,92.01,92.01,10,0.01,0,1\n");
}

// The journal of a day of interleaved contracts, with an old snapshot and test data in it, gives the
// bars and counts the files of the same ticks give (their values are exact in both).
TEST(JournalBarsTest, AJournalDayGivesTheBarsAndCountsOfItsFiles) {
  std::vector<Tick> ticks;
  const char* codes[] = {"rb2405", "au2406", "IF2403", "c2405", "rb2410", "CF405"};
  for (int i = 0; i < 600; ++i) {
    const int second = 9 * 3600 + 30 * 60 + i * 4;  // 09:30 to 10:10, every product trading
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
    ticks.push_back(T(codes[i % 6], time, (i % 2) * 500, 3700 + i % 13, 10 + i, 100 + i % 5));
  }
  Tick stale = T("rb2405", "15:00:00", 0, 3650, 5, 90);
  stale.stamp = "20240311093000";  // yesterday's close pushed at subscription
  ticks.insert(ticks.begin() + 3, stale);
  ticks.push_back(T("au2406", "99:99:99", 0, 480, 5, 50));
  ticks.push_back(T("au2406", "19:00:00", 0, 480, 5, 50));
  DataFolder folder;
  for (const char* code : codes) {
    std::vector<Tick> own;
    std::copy_if(ticks.begin(), ticks.end(), std::back_inserter(own), [code](const Tick& t) { return t.contract == code; });
    folder.Append(kMonday, code, Ticks(own));
  }
  const DayBars fromFiles = BuildDayBars(folder.path(), kMonday, 60);
  ASSERT_TRUE(AppendJournal(folder, "20240311", ticks));
  const DayBars fromJournal = BuildDayBars(folder.path(), kMonday, 60);
  ASSERT_EQ(fromJournal.error, "");
  EXPECT_EQ(fromJournal.csv, fromFiles.csv);
  EXPECT_EQ(fromJournal.contracts, 6u);
  EXPECT_EQ(fromJournal.lines, ticks.size());
  EXPECT_EQ(fromJournal.stale, 1u);
  EXPECT_EQ(fromJournal.test, 2u);
  EXPECT_EQ(fromFiles.stale, 1u);
  EXPECT_EQ(fromFiles.test, 2u);
  EXPECT_EQ(std::count(fromJournal.csv.begin(), fromJournal.csv.end(), '\n'), 6 * 40);
}

// A writer held back six minutes (a stalled disk, a burst at the open) writes every tick late. The
// journal keeps when each tick arrived, so bars and the replay files still take the session's ticks;
// judged by the write time alone (a journal without arrival times) they would all be stale.
TEST(JournalBarsTest, TicksWrittenSixMinutesLateStillCountAsSessionTicks) {
  std::vector<Tick> ticks;
  for (int i = 0; i < 60; ++i) ticks.push_back(T("rb2405", ClockText(Clock(9, 30, i * 2)).c_str(), 0, 3700 + i % 7, 10 + i, 100));
  DataFolder onTime;
  ASSERT_TRUE(AppendJournal(onTime, "20240311", ticks));
  const DayBars expected = BuildDayBars(onTime.path(), kMonday, 60);
  ASSERT_EQ(expected.stale, 0u);
  constexpr std::int64_t kSixMinutes = 6 * 60 * 1000000000LL;
  for (const bool arrivalKept : {true, false}) {
    DataFolder folder;
    {
      JournalWriter writer(JournalSync::kNone, folder.path().string());
      for (const Tick& t : ticks) {
        ASSERT_TRUE(writer.Append("20240311", t.Record(), t.WriteTimeNs() + kSixMinutes, {},
                                  arrivalKept ? t.WriteTimeNs() : 0));
      }
    }
    const DayBars bars = BuildDayBars(folder.path(), kMonday, 60);
    ASSERT_EQ(bars.error, "");
    const ReplayableDay replayable = WriteReplayableDay(folder.path(), kMonday, 0, ReplayableSelection());
    ASSERT_EQ(replayable.error, "");
    if (arrivalKept) {
      EXPECT_EQ(bars.stale, 0u);
      EXPECT_EQ(bars.csv, expected.csv);
      EXPECT_EQ(replayable.not_market, 0u);
    } else {
      EXPECT_EQ(bars.stale, ticks.size());
      EXPECT_EQ(replayable.not_market, ticks.size());
    }
  }
}

// A day of per-contract files is made in two halves on two threads; the result is the one pass
// over every file gives: lines in name order, counts summed, unknown products before unreadable files.
TEST(CsvBarsTest, TwoHalvesGiveWhatOnePassGives) {
  DataFolder folder;
  const char* contracts[] = {"aa2405", "cu2405", "hc2405", "i2405", "m2405", "rb2405", "zz2405"};
  for (int c = 0; c < 7; ++c) {
    std::vector<Tick> ticks;
    for (int i = 0; i < 90; ++i) {
      ticks.push_back(T(contracts[c], ClockText(Clock(9, 30, i * (c + 1))).c_str(), 0, 3700 + i % 5 + c, 10 + i, 100 + c));
    }
    folder.Append(kMonday, contracts[c], Ticks(ticks));
  }
  std::filesystem::remove(folder.File(kMonday, "i2405"));  // a folder where a file belongs
  std::filesystem::create_directory(folder.File(kMonday, "i2405"));
  CsvDaySource whole(folder.path(), kMonday);
  ASSERT_TRUE(whole.Open());
  const DayBars expected = BuildDayBars(whole, kMonday, 60);
  const DayBars got = BuildDayBars(folder.path(), kMonday, 60);
  EXPECT_EQ(got.csv, expected.csv);
  EXPECT_EQ(got.warnings, expected.warnings);
  EXPECT_EQ(got.contracts, expected.contracts);
  EXPECT_EQ(got.bars, expected.bars);
  EXPECT_EQ(got.lines, expected.lines);
  EXPECT_EQ(got.error, expected.error);
  ASSERT_GE(expected.warnings.size(), 2u);
  EXPECT_NE(expected.warnings.front().find("aa2405"), std::string::npos);
}

TEST(BarPeriodTest, OnlyTheKnownPeriodsAreAccepted) {
  EXPECT_EQ(ParseBarPeriod("1m"), 60);
  EXPECT_EQ(ParseBarPeriod("15m"), 900);
  EXPECT_EQ(ParseBarPeriod("1d"), kDailyBar);
  EXPECT_FALSE(ParseBarPeriod("2m"));
  EXPECT_FALSE(ParseBarPeriod(""));
}

}  // namespace

namespace {

// A combination contract's code has a space; the collector stores it, so the tools list it too,
// beside the names older folders hold.
TEST(DayFilesTest, EveryStoredCodeIsListedAndNothingThatCannotBeOne) {
  DataFolder folder;
  for (const char* code : {"SP rb2405&rb2410", "rb2405", "IO2403-C-3800", "old_name.x"}) {
    folder.Append(kMonday, code, Ticks({T(code, "21:00:00", 0, 3700, 1, 1)}));
  }
  folder.Append(kMonday, ".hidden", "");
  std::vector<std::string> contracts;
  std::string error;
  ASSERT_TRUE(ListContracts(folder.path(), kMonday, &contracts, &error)) << error;
  std::sort(contracts.begin(), contracts.end());
  EXPECT_EQ(contracts, (std::vector<std::string>{"IO2403-C-3800", "SP rb2405&rb2410", "old_name.x", "rb2405"}));
}

}  // namespace
