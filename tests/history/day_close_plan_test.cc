#include "history/day_close_plan.h"

#include "history/change_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::int64_t kNow = 1'800'000'000;
constexpr std::int64_t kOld = kNow - 86400;   // settled long ago
constexpr std::int64_t kFresh = kNow - 10;    // still being written

// A day with a settled journal and time-stream file, packed when `packed`.
StoredDay Day(const std::string& day, bool packed, bool journal = true, bool csv = true) {
  StoredDay d;
  d.day = day;
  d.journalModified = journal ? kOld : 0;
  d.streamModified = csv ? kOld : 0;
  d.contractFolder = csv;
  d.packModified = packed ? kOld + 60 : 0;
  d.lastChange = kOld;
  return d;
}

RetentionSettings Keep(std::optional<int> journals, std::optional<int> csv) {
  RetentionSettings r;
  r.journalDays = journals;
  r.csvDays = csv;
  return r;
}

using Days = std::vector<std::string>;

TEST(DayClosePlanTest, PacksFinishedDaysAndDeletesOnlyPackedOnesPastRetention) {
  const DayCloseMoment moment{kNow, 20260110, 600};
  StoredDay growing = Day("20260108", false);
  growing.lastChange = kFresh;
  StoredDay packedButGrowing = Day("20260107", true);
  packedButGrowing.lastChange = kFresh;
  StoredDay stalePack = Day("20260102", true);
  stalePack.packModified = kOld - 60;  // the journal changed after it was packed
  const std::vector<StoredDay> folder = {
      Day("20260110", true),  // the current day, even packed, is never touched
      Day("20260111", false), // a day after the clock's
      growing, packedButGrowing, Day("20260106", true), Day("20260105", false), Day("20260104", true),
      Day("20260103", true, false, true),   // journal already deleted
      stalePack,
      Day("20260101", true, true, false),   // CSV files already deleted
      Day("20251231", false, false, true),  // CSV files only: nothing to pack
  };
  const struct {
    const char* name;
    RetentionSettings retention;
    Days pack, journals, csv;
  } cases[] = {
      {"keep everything", Keep(std::nullopt, std::nullopt), {"20260105"}, {}, {}},
      {"keep none", Keep(0, 0), {"20260105"}, {"20260101", "20260104", "20260106"},
       {"20260103", "20260104", "20260106"}},
      {"keep two journals", Keep(2, std::nullopt), {"20260105"}, {"20260101"}, {}},
      {"keep one of each", Keep(1, 1), {"20260105"}, {"20260101", "20260104"}, {"20260103", "20260104"}},
      {"keep more than there are", Keep(50, 50), {"20260105"}, {}, {}},
  };
  for (const auto& c : cases) {
    const DayClosePlan plan = PlanDayClose(folder, moment, c.retention);
    EXPECT_EQ(plan.pack, c.pack) << c.name;
    EXPECT_EQ(plan.stale, Days{"20260102"}) << c.name;
    EXPECT_EQ(plan.deleteJournals, c.journals) << c.name;
    EXPECT_EQ(plan.deleteCsv, c.csv) << c.name;
  }
}

TEST(DayClosePlanTest, ADayIsFinishedOnceBeforeTheCurrentDayAndSettled) {
  const struct {
    const char* day;
    std::int64_t lastChange;
    int currentDay;
    bool finished;
  } cases[] = {
      {"20260109", kOld, 20260110, true},
      {"20260109", kNow - 600, 20260110, true},
      {"20260109", kNow - 599, 20260110, false},
      {"20260109", kOld, 20260109, false},
      {"20260109", kOld, 20260101, false},  // the clock went back
      {"2026010", kOld, 20260110, false},
  };
  for (const auto& c : cases) {
    StoredDay day;
    day.day = c.day;
    day.lastChange = c.lastChange;
    EXPECT_EQ(DayIsFinished(day, DayCloseMoment{kNow, c.currentDay, 600}), c.finished)
        << c.day << " " << c.lastChange << " " << c.currentDay;
  }
}

TEST(ChangeWatchTest, JudgesChangesOnItsOwnClockFromPassToPass) {
  StoredDay day;
  day.day = "20260109";
  day.journalModified = kOld;
  day.journalSize = 440;
  day.streamModified = kOld - 5;
  std::vector<StoredDay> days = {day};
  ChangeWatch watch;
  watch.Stamp(&days, kNow);
  EXPECT_EQ(days[0].lastChange, kOld);  // first sight: the newer file time
  days[0].journalSize = 880;
  watch.Stamp(&days, kNow + 300);
  EXPECT_EQ(days[0].lastChange, kNow + 300);  // grew since the last pass
  watch.Stamp(&days, kNow + 600);
  EXPECT_EQ(days[0].lastChange, kNow + 300);  // unchanged since
  days[0].streamModified = kOld + 1;
  watch.Stamp(&days, kNow + 900);
  EXPECT_EQ(days[0].lastChange, kNow + 900);

  // File times ahead of the clock (a faked or set-back clock) count from the first sight.
  std::vector<StoredDay> ahead = {day};
  ahead[0].journalModified = kNow + 86400;
  ChangeWatch fresh;
  fresh.Stamp(&ahead, kNow);
  EXPECT_EQ(ahead[0].lastChange, kNow);
  fresh.Stamp(&ahead, kNow + 600);
  EXPECT_EQ(ahead[0].lastChange, kNow);
}

TEST(DayClosePlanTest, RetentionCountsOnlyFinishedDaysWithAPackUpToDate) {
  // Day 5 is packed but still settling, day 4 has a stale pack: the one day kept is day 3.
  StoredDay settling = Day("20260105", true);
  settling.lastChange = kFresh;
  StoredDay stale = Day("20260104", true);
  stale.packModified = kOld - 1;
  const DayClosePlan plan =
      PlanDayClose({Day("20260102", true), Day("20260103", true), stale, settling}, DayCloseMoment{kNow, 20260110, 600},
                   Keep(1, std::nullopt));
  EXPECT_EQ(plan.pack, Days{});
  EXPECT_EQ(plan.stale, Days{"20260104"});
  EXPECT_EQ(plan.deleteJournals, Days{"20260102"});
}

}  // namespace
