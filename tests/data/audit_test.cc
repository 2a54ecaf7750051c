#include "tools/data/day_audit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "sessions/session_clock.h"
#include "tests/data/data_fixture.h"

namespace {

constexpr int kFriday = 20240308;  // its night runs on Thursday evening
constexpr int kMonday = 20240311;

const ContractAudit& Of(const DayAudit& day, const std::string& contract) {
  for (const ContractAudit& c : day.contracts) {
    if (c.contract == contract) return c;
  }
  ADD_FAILURE() << "no audit of " << contract;
  static const ContractAudit kNone;
  return kNone;
}

// Audited on the evening while the night is collected: the day session has not opened yet.
AuditOptions Evening() {
  AuditOptions options;
  options.judge_until_ms = SessionSecond(Clock(23, 30)) * 1000LL;
  return options;
}

std::string Gaps(const ContractAudit& c) {
  std::string text;
  for (const AuditGap& g : c.gaps) {
    text += SessionTimeText(g.from_ms) + "-" + SessionTimeText(g.to_ms) + " " + g.where + ";";
  }
  return text;
}

TEST(AuditTest, ACompleteNightWithAnAuctionTickAndEmptyBookSidesHasNoHole) {
  DataFolder folder;
  Tick auction;
  auction.time = "20:59:00";
  std::string lines = auction.Line() + TickRun("rb2405", Clock(21, 0), Clock(23, 0));
  Tick emptyAsk;  // a limit-up tick: nobody sells
  emptyAsk.time = "23:00:00";
  emptyAsk.ms = 500;
  emptyAsk.ask = DBL_MAX;
  lines += emptyAsk.Line();
  folder.Append(kFriday, "rb2405", lines);

  const DayAudit day = AuditDay(folder.path(), kFriday, Evening());
  const ContractAudit& rb = Of(day, "rb2405");
  EXPECT_EQ(rb.ticks, 7203u);
  EXPECT_TRUE(rb.active);
  EXPECT_EQ(SessionTimeText(rb.first_ms), "20:59:00.000");
  EXPECT_EQ(SessionTimeText(rb.last_ms), "23:00:00.500");
  EXPECT_EQ(Gaps(rb), "");
  EXPECT_EQ(day.Holes(), 0u);
  EXPECT_EQ(day.Invalid(), 0u);
  EXPECT_TRUE(day.night_collected);
  EXPECT_FALSE(day.day_collected) << "the day session has not opened yet: it is not judged";
  EXPECT_NE(AuditText(day).find("20240308 summary: 1 contracts, 7203 ticks, 0 holes, 0 invalid"), std::string::npos)
      << AuditText(day);
}

TEST(AuditTest, SilencesInsideASessionAtItsStartAndAtItsEndAreHoles) {
  DataFolder folder;
  // rb2405 falls silent for 41 s; hc2405 starts five minutes late and stops ten minutes early.
  folder.Append(kFriday, "rb2405",
                TickRun("rb2405", Clock(21, 0), Clock(21, 29, 59)) + TickRun("rb2405", Clock(21, 30, 41), Clock(23, 0)));
  folder.Append(kFriday, "hc2405", TickRun("hc2405", Clock(21, 5), Clock(22, 50)));
  // A silence of exactly the threshold is no hole.
  folder.Append(kFriday, "i2405",
                TickRun("i2405", Clock(21, 0), Clock(22, 0)) + TickRun("i2405", Clock(22, 0, 30), Clock(23, 0)));

  const DayAudit day = AuditDay(folder.path(), kFriday, Evening());
  EXPECT_EQ(Gaps(Of(day, "rb2405")), "21:29:59.000-21:30:41.000 inside;");
  EXPECT_EQ(Gaps(Of(day, "hc2405")),
            "21:00:00.000-21:05:00.000 session start;22:50:00.000-23:00:00.000 session end;");
  EXPECT_EQ(Gaps(Of(day, "i2405")), "");
  EXPECT_EQ(day.Holes(), 3u);

  AuditOptions longer = Evening();
  longer.gap_seconds = 60;
  EXPECT_EQ(Gaps(Of(AuditDay(folder.path(), kFriday, longer), "rb2405")), "");
}

TEST(AuditTest, OnlyTradingTimeCountsAcrossTheMorningBreak) {
  DataFolder folder;
  // rb2405 stops at 10:14:50 and resumes at 10:30:05: 15 s of trading. hc2405 stops at 10:10.
  folder.Append(kMonday, "rb2405",
                TickRun("rb2405", Clock(9, 0), Clock(10, 14, 50), 1, 1, kMonday) +
                    TickRun("rb2405", Clock(10, 30, 5), Clock(15, 0), 1, 1, kMonday));
  folder.Append(kMonday, "hc2405",
                TickRun("hc2405", Clock(9, 0), Clock(10, 10), 1, 1, kMonday) +
                    TickRun("hc2405", Clock(10, 30), Clock(15, 0), 1, 1, kMonday));
  const DayAudit day = AuditDay(folder.path(), kMonday, AuditOptions());
  EXPECT_EQ(Gaps(Of(day, "rb2405")), "");
  ASSERT_EQ(Of(day, "hc2405").gaps.size(), 1u);
  EXPECT_EQ(Of(day, "hc2405").gaps[0].trading_ms, 300000);
  EXPECT_FALSE(day.night_collected) << "Monday's night (Friday evening) was not collected";
  EXPECT_EQ(day.silent_sessions, std::vector<std::string>{"night"}) << "a whole session without a tick is the day's finding";
}

// A tick sent again is found wherever it falls: at the same time as the one before, after the
// time went back (more times than runs are kept in order), and without a valid millisecond. The
// count is checked against comparing every line with every line before it.
TEST(AuditTest, TicksSentAgainAreFoundAfterTheTimeGoesBack) {
  DataFolder folder;
  std::uint64_t state = 7;
  const auto next = [&state](int n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(n));
  };
  std::string lines;
  std::set<std::string> seen;
  std::uint64_t expected = 0;
  const auto add = [&](const Tick& t) {
    const std::string line = t.Line();
    expected += seen.insert(line).second ? 0 : 1;
    lines += line;
  };
  for (int pass = 0; pass < 40; ++pass) {
    for (int s = 0; s < 30; ++s) {
      Tick t;
      t.time = ClockText(Clock(21, 0) + (s + pass * 7) % 60);
      t.ms = next(2) * 500;
      t.volume = 1 + next(3);
      t.last = 3725 + next(2);
      add(t);
    }
  }
  Tick noMillisecond;
  noMillisecond.ms = 1500;
  add(noMillisecond);
  add(noMillisecond);
  folder.Append(kFriday, "rb2405", lines);
  ASSERT_GT(expected, 100u);
  EXPECT_EQ(Of(AuditDay(folder.path(), kFriday, Evening()), "rb2405").duplicates, expected);
}

TEST(AuditTest, DuplicatesInvalidTimesAndBadLastPricesAreFoundAndLocated) {
  DataFolder folder;
  std::string lines = TickRun("rb2405", Clock(21, 0), Clock(21, 10));
  Tick resent;  // the front sends the last snapshot again after a reconnection
  resent.time = "21:10:00";
  resent.volume = 601;
  resent.stamp = "20240307211004";
  lines += resent.Line();
  Tick bad;
  bad.time = "99:99:99";
  bad.volume = 602;
  lines += bad.Line();
  bad.time = "21:10:01";
  bad.ms = 1000;
  lines += bad.Line();
  bad.time = "21:05:00";  // older than the line above
  bad.ms = 0;
  bad.volume = 603;
  lines += bad.Line();
  bad.time = "21:10:02";
  bad.volume = 604;
  bad.last = DBL_MAX;
  lines += bad.Line();
  bad.time = "21:10:03";
  bad.volume = 605;
  bad.last = 3990;  // the upper limit is 3950
  lines += bad.Line();
  lines += "20240307211004,rb2405,garbage\r\n";
  lines += TickRun("rb2405", Clock(21, 10, 4), Clock(23, 0), 1, 700);
  folder.Append(kFriday, "rb2405", lines);

  const DayAudit day = AuditDay(folder.path(), kFriday, Evening());
  const ContractAudit& rb = Of(day, "rb2405");
  EXPECT_EQ(rb.duplicates, 1u);
  EXPECT_EQ(rb.invalid_times, 1u);
  EXPECT_EQ(rb.test_data, 1u) << "99:99:99 is a counter's test data, not an invalid tick";
  EXPECT_EQ(rb.out_of_order, 1u);
  EXPECT_EQ(rb.last_max_double, 1u);
  EXPECT_EQ(rb.last_outside_limits, 1u);
  EXPECT_EQ(rb.malformed, 1u);
  EXPECT_EQ(rb.Holes(), 0u);
  ASSERT_GE(rb.examples.size(), 6u);
  EXPECT_EQ(rb.examples[0].line, 602u);
  EXPECT_EQ(rb.examples[0].problem, "duplicate");
  EXPECT_EQ(rb.examples[1].text, "21:10:01.1000");
  EXPECT_EQ(day.Invalid(), 5u);
  EXPECT_EQ(day.Duplicates(), 1u);
}

// A day with a journal is audited from it: two bond ticks that differ only in the third decimal are
// one line twice in the per-contract file (a duplicate) but two ticks in the journal.
TEST(AuditTest, ADayWithAJournalIsAuditedFromItsExactTicks) {
  DataFolder folder;
  Tick a;
  a.contract = "T2406";
  a.time = "09:30:00";
  a.last = 92.001;
  Tick b = a;
  b.last = 92.002;
  Tick bad = a;
  bad.time = "09:30:01";
  bad.last = DBL_MAX;
  folder.Append(kFriday, "T2406", a.Line() + b.Line() + bad.Line());
  EXPECT_EQ(Of(AuditDay(folder.path(), kFriday, AuditOptions()), "T2406").duplicates, 1u);
  ASSERT_TRUE(AppendJournal(folder, "20240308", {a, b, bad}));
  const DayAudit day = AuditDay(folder.path(), kFriday, AuditOptions());
  ASSERT_EQ(day.error, "");
  const ContractAudit& t = Of(day, "T2406");
  EXPECT_EQ(t.ticks, 3u);
  EXPECT_EQ(t.duplicates, 0u);
  EXPECT_EQ(t.last_max_double, 1u);
  // Examples are located by the journal's sequence number.
  EXPECT_TRUE(std::any_of(t.examples.begin(), t.examples.end(), [](const AuditExample& e) { return e.line == 3; }));
}

TEST(AuditTest, QuietContractsAndUnknownProductsAreNotJudgedForGaps) {
  DataFolder folder;
  folder.Append(kFriday, "rb2405", TickRun("rb2405", Clock(21, 0), Clock(23, 0)));
  folder.Append(kFriday, "rb2410", TickRun("rb2410", Clock(21, 30), Clock(22, 30), 60));  // a far month
  folder.Append(kFriday, "zz2405", TickRun("zz2405", Clock(21, 0), Clock(21, 10)));
  const DayAudit day = AuditDay(folder.path(), kFriday, Evening());
  EXPECT_FALSE(Of(day, "rb2410").active);
  EXPECT_EQ(Of(day, "rb2410").median_interval_ms, 60000);
  EXPECT_FALSE(Of(day, "zz2405").hours_known);
  EXPECT_EQ(day.Holes(), 0u);
}

TEST(AuditTest, ADayStillBeingCollectedIsJudgedUpToNow) {
  DataFolder folder;
  folder.Append(kFriday, "rb2405", TickRun("rb2405", Clock(21, 0), Clock(22, 0)));
  AuditOptions options;
  options.judge_until_ms = SessionSecond(Clock(22, 0, 10)) * 1000LL;
  EXPECT_EQ(AuditDay(folder.path(), kFriday, options).Holes(), 0u);
  options.judge_until_ms = SessionSecond(Clock(22, 5)) * 1000LL;
  EXPECT_EQ(Gaps(Of(AuditDay(folder.path(), kFriday, options), "rb2405")),
            "22:00:00.000-22:05:00.000 session end;");
}

}  // namespace

namespace {

// What a front sends besides the market: the last close again on subscription, test data after the
// close. Counted as notes; a session without a single tick on a trading day is the finding.
TEST(AuditTest, StaleSnapshotsAndTestDataAreNotesAndOnlyTradingDaysAreJudged) {
  DataFolder folder;
  Tick stale;  // Friday's close, pushed when the collector subscribed at 20:35
  stale.day = kMonday;
  stale.time = "15:00:00";
  stale.stamp = "20240308203500";
  std::string lines = stale.Line() + TickRun("rb2405", Clock(21, 0), Clock(23, 0), 1, 1, kMonday);
  stale.time = "23:00:00";  // the night's close again at the day's subscription, 08:30
  stale.stamp = "20240311083000";
  lines += stale.Line() + TickRun("rb2405", Clock(9, 0), Clock(10, 15), 1, 9000, kMonday) +
           TickRun("rb2405", Clock(10, 30), Clock(11, 30), 1, 20000, kMonday) +
           TickRun("rb2405", Clock(13, 30), Clock(15, 0), 1, 30000, kMonday);
  for (const char* time : {"19:00:00", "99:99:99", "15:20:00"}) {
    Tick test;
    test.time = time;
    test.stamp = "20240311151600";
    lines += test.Line();
  }
  folder.Append(kMonday, "rb2405", lines);
  const DayAudit monday = AuditDay(folder.path(), kMonday, AuditOptions());
  EXPECT_EQ(Of(monday, "rb2405").stale_snapshots, 2u);
  EXPECT_EQ(Of(monday, "rb2405").test_data, 3u);
  EXPECT_EQ(monday.Invalid(), 0u);
  EXPECT_EQ(monday.Holes(), 0u) << AuditText(monday);
  EXPECT_NE(AuditText(monday).find("2 stale snapshots, 3 test data; night collected, day collected"),
            std::string::npos) << AuditText(monday);

  struct Case {
    int day;
    int from, to;  // the only ticks of rb2405
    bool holiday;
    std::vector<std::string> silent;
  };
  const Case cases[] = {
      {20240404, Clock(9, 0), Clock(9, 30), true, {}},           // Qingming: read, never judged
      {20240408, Clock(9, 0), Clock(15, 0), false, {}},          // no night after the holiday
      {20240402, Clock(21, 0), Clock(23, 0), false, {"day"}},    // a whole day session missing
      {20240403, Clock(9, 0), Clock(15, 0), false, {"night"}},   // a whole night missing
  };
  for (const Case& c : cases) {
    folder.Append(c.day, "rb2405", TickRun("rb2405", c.from, c.to, 1, 1, c.day));
    const DayAudit audit = AuditDay(folder.path(), c.day, AuditOptions());
    EXPECT_EQ(audit.holiday, c.holiday) << c.day;
    EXPECT_EQ(audit.silent_sessions, c.silent) << c.day << AuditText(audit);
    EXPECT_EQ(audit.Holes(), c.silent.size()) << c.day << AuditText(audit);
  }

  AuditOptions lacking;
  std::string lacking_error;
  const std::optional<MarketCalendar> only2024 = MarketCalendar::Parse("20240101\n", "cal.txt", &lacking_error);
  lacking.calendar = &*only2024;
  folder.Append(20250106, "rb2405", TickRun("rb2405", Clock(9, 0), Clock(9, 1), 1, 1, 20250106));
  const DayAudit unknown = AuditDay(folder.path(), 20250106, lacking);
  EXPECT_NE(unknown.error.find("cal.txt has no year 2025"), std::string::npos) << unknown.error;
}

}  // namespace
