#include "tools/data/replayable_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <charconv>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <limits>
#include <sstream>

#include "replay/service/stored_tick_file.h"
#include "storage/tick_line.h"
#include "tests/data/data_fixture.h"
#include "tools/data/day_files.h"
#include "tools/data/journal_day_source.h"
#include "tools/data/replay_line.h"
#include "tools/data/replayable_day.h"

namespace {

constexpr int kDay = 20240308;

void MakeOld(const std::filesystem::path& path) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 60;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::deque<ReplayMessage> ReadBack(const DataFolder& folder, const std::string& contract = "rb2405") {
  std::deque<ReplayMessage> history;
  EXPECT_TRUE(StoredTickFile::Load(ReplayableWriter::TargetPath(folder.path(), kDay, contract).string(), contract,
                                   &history));
  return history;
}

TEST(ReplayableTest, TheReplayServiceReadsBackEveryTickWithItsValues) {
  DataFolder folder;
  Tick first;
  first.time = "21:00:01";
  first.ms = 500;
  first.turnover = 4598765432;
  first.ask = DBL_MAX;  // an empty side of the book
  Tick second = first;
  second.time = "21:00:02";
  second.ms = 0;
  second.last = 3726.5;
  second.volume = 7;
  second.ask = 3727;
  folder.Append(kDay, "rb2405", first.Line() + second.Line());

  const ReplayableWriter::Result result = ReplayableWriter::Write(folder.path(), kDay, "rb2405");
  ASSERT_EQ(result.outcome, ReplayableWriter::Outcome::kWritten) << result.error;
  EXPECT_EQ(result.lines, 2u);

  const std::deque<ReplayMessage> history = ReadBack(folder);
  ASSERT_EQ(history.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const TickRecord expected = (i == 0 ? first : second).Record();
    const ReplayMessage& m = history[i];  // packed: numbers are read by value (unary +)
    EXPECT_STREQ(m.InstrumentID, "rb2405");
    EXPECT_STREQ(m.TradingDay, expected.TradingDay);
    EXPECT_STREQ(m.ActionDay, expected.ActionDay);
    EXPECT_STREQ(m.UpdateTime, expected.UpdateTime);
    EXPECT_EQ(+m.UpdateMillisec, expected.UpdateMillisec);
    EXPECT_EQ(+m.Volume, expected.Volume);
    EXPECT_EQ(+m.AskVolume1, expected.AskVolume1);
    EXPECT_EQ(+m.BidVolume1, expected.BidVolume1);
    const std::pair<double, double> doubles[] = {
        {+m.LastPrice, expected.LastPrice},         {+m.HighestPrice, expected.HighestPrice},
        {+m.LowestPrice, expected.LowestPrice},     {+m.OpenPrice, expected.OpenPrice},
        {+m.ClosePrice, expected.ClosePrice},       {+m.AskPrice1, expected.AskPrice1},
        {+m.BidPrice1, expected.BidPrice1},         {+m.UpperLimitPrice, expected.UpperLimitPrice},
        {+m.LowerLimitPrice, expected.LowerLimitPrice}, {+m.OpenInterest, expected.OpenInterest},
        {+m.Turnover, expected.Turnover},           {+m.PreClosePrice, expected.PreClosePrice},
        {+m.PreOpenInterest, expected.PreOpenInterest}, {+m.PreSettlementPrice, expected.PreSettlementPrice},
    };
    for (const auto& [got, want] : doubles) EXPECT_EQ(got, want) << "tick " << i;
    EXPECT_NEAR(+m.AveragePrice, expected.AveragePrice, 0.005);  // stored with two decimals
  }
  EXPECT_EQ(StoredTickFile::CountCommaLines(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405").string()), 3);
}

TEST(ReplayableTest, OnlyWholeLinesAreCopiedAndFinishedFilesAreSkippedUntilTheyGrow) {
  DataFolder folder;
  Tick tick;
  const std::string whole = tick.Line();
  tick.time = "21:00:01";
  const std::string next = tick.Line();
  folder.Append(kDay, "rb2405", whole + next.substr(0, 40));  // the collector is appending the second line

  ReplayableWriter::Result r = ReplayableWriter::Write(folder.path(), kDay, "rb2405", 0);
  ASSERT_EQ(r.outcome, ReplayableWriter::Outcome::kWritten) << r.error;
  EXPECT_TRUE(r.partial_tail);
  EXPECT_EQ(ReadBack(folder).size(), 1u);
  EXPECT_EQ(ReplayableWriter::Write(folder.path(), kDay, "rb2405", 0).outcome, ReplayableWriter::Outcome::kWritten)
      << "a copy made from a file in the middle of a line is made again";

  folder.Append(kDay, "rb2405", next.substr(40));
  MakeOld(folder.File(kDay, "rb2405"));
  EXPECT_EQ(ReplayableWriter::Write(folder.path(), kDay, "rb2405").outcome, ReplayableWriter::Outcome::kWritten);
  EXPECT_EQ(ReadBack(folder).size(), 2u);
  EXPECT_EQ(ReplayableWriter::Write(folder.path(), kDay, "rb2405").outcome, ReplayableWriter::Outcome::kUpToDate);

  folder.Append(kDay, "rb2405", whole);
  r = ReplayableWriter::Write(folder.path(), kDay, "rb2405");
  EXPECT_EQ(r.outcome, ReplayableWriter::Outcome::kWritten);
  EXPECT_EQ(r.lines, 3u);
  EXPECT_EQ(ReadBack(folder).size(), 3u);

  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "Data" / "20240308" / "Tick")) {
    EXPECT_EQ(entry.path().filename(), "rb2405.csv") << "no temporary file stays behind";
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST(ReplayableTest, ARecentlyChangedFileIsCopiedAgainNextTime) {
  DataFolder folder;
  folder.Append(kDay, "rb2405", Tick().Line());
  ASSERT_EQ(ReplayableWriter::Write(folder.path(), kDay, "rb2405").outcome, ReplayableWriter::Outcome::kWritten);
  // The collector may still append within the same tick of the file system's clock.
  EXPECT_EQ(ReplayableWriter::Write(folder.path(), kDay, "rb2405").outcome, ReplayableWriter::Outcome::kWritten);
}

// Appends the ticks to the day's journal as the collector does.
void Journal(const DataFolder& folder, const std::vector<Tick>& ticks) {
  EXPECT_TRUE(AppendJournal(folder, "20240308", ticks));
}

std::filesystem::path JournalFile(const DataFolder& folder) {
  return DayJournal(folder.path(), kDay);
}

std::string ReadText(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

Tick At(const std::string& contract, const std::string& time, double last, int volume) {
  Tick t;
  t.contract = contract;
  t.time = time;
  t.last = last;
  t.volume = volume;
  return t;
}

std::size_t LeftoverTemporaries(const DataFolder& folder) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "Data" / "20240308" / "Tick")) {
    n += entry.path().filename().string()[0] == '.';
  }
  return n;
}

// The same day made from the per-contract files and then from the journal: every field is the same
// text, except where two decimals rounded (the bond future's half ticks, the average price). A
// contract the journal lacks is still copied from its file; a 19:00 test tick stays out either way.
TEST(JournalReplayableTest, ADayWithAJournalGivesExactValuesInTheSameLayout) {
  DataFolder folder;
  Tick bondA = At("T2406", "09:30:00", 92.005, 10);
  bondA.ask = 92.01;
  const Tick bondB = At("T2406", "09:30:01", 91.995, 11);
  const std::vector<Tick> ticks = {At("rb2405", "21:00:00", 3725, 1), At("rb2405", "19:00:00", 3725, 1), bondA,
                                   At("rb2405", "21:00:01", 3726.5, 2), bondB};
  for (const Tick& t : ticks) folder.Append(kDay, t.contract, t.Line());

  ReplayableDay r = WriteReplayableDay(folder.path(), kDay, 0, ReplayableSelection());
  ASSERT_EQ(r.error, "");
  EXPECT_FALSE(r.from_journal);
  EXPECT_EQ(r.written, 2u);
  EXPECT_EQ(r.lines, 4u);
  EXPECT_EQ(r.not_market, 1u);
  const std::string rbFromFile = ReadText(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405"));
  EXPECT_NE(+ReadBack(folder, "T2406")[0].LastPrice, 92.005) << "two decimals cannot hold a half tick";

  Journal(folder, ticks);
  folder.Append(kDay, "ag2406", At("ag2406", "21:00:00", 7000, 1).Line());
  r = WriteReplayableDay(folder.path(), kDay, 0, ReplayableSelection());
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.from_journal);
  EXPECT_EQ(r.written, 3u);
  EXPECT_EQ(r.lines, 5u);
  EXPECT_EQ(r.not_market, 1u);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_NE(r.messages[0].find("ag2406.csv: not in the journal"), std::string::npos) << r.messages[0];

  const std::deque<ReplayMessage> bond = ReadBack(folder, "T2406");
  ASSERT_EQ(bond.size(), 2u);
  EXPECT_EQ(+bond[0].LastPrice, 92.005);
  EXPECT_EQ(+bond[0].AskPrice1, 92.01);
  EXPECT_EQ(+bond[1].LastPrice, 91.995);
  EXPECT_EQ(+bond[1].Volume, 11);
  EXPECT_EQ(+bond[0].AveragePrice, 37251.2345);

  const std::vector<std::string> fromFile = Split(rbFromFile, '\n');
  const std::vector<std::string> fromJournal =
      Split(ReadText(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405")), '\n');
  ASSERT_EQ(fromJournal.size(), 3u);
  ASSERT_EQ(fromFile.size(), fromJournal.size());
  EXPECT_EQ(fromJournal[0], fromFile[0]);
  for (std::size_t line = 1; line < fromFile.size(); ++line) {
    const std::vector<std::string> want = Split(fromFile[line], ',');
    const std::vector<std::string> got = Split(fromJournal[line], ',');
    ASSERT_EQ(got.size(), 24u) << fromJournal[line];
    for (std::size_t field = 0; field < want.size(); ++field) {
      EXPECT_EQ(got[field], field == 11 ? "37251.2345" : want[field]) << "line " << line << " field " << field;
    }
  }
  EXPECT_EQ(ReadBack(folder, "ag2406").size(), 1u);
  EXPECT_EQ(LeftoverTemporaries(folder), 0u);
}

// A finished journal (quiet for the stable age, no partial record) is read once; one that grows or
// ends in half a record makes the files again on every run until it is finished.
TEST(JournalReplayableTest, AFinishedJournalIsReadOnceAndAChangedOneAgain) {
  DataFolder folder;
  const std::vector<Tick> first = {At("rb2405", "21:00:00", 3725, 1), At("rb2405", "21:00:01", 3726, 2)};
  for (const Tick& t : first) folder.Append(kDay, "rb2405", t.Line());
  Journal(folder, first);
  MakeOld(JournalFile(folder));
  const auto run = [&] { return WriteReplayableDay(folder.path(), kDay, 2, ReplayableSelection()); };

  ReplayableDay r = run();
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.written, 1u);
  EXPECT_EQ(std::filesystem::last_write_time(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405")),
            std::filesystem::last_write_time(JournalFile(folder)));
  r = run();
  EXPECT_EQ(r.written, 0u);
  EXPECT_EQ(r.up_to_date, 1u);

  Journal(folder, {At("rb2405", "21:00:02", 3727, 3)});
  for (int i = 0; i < 2; ++i) {
    r = run();
    EXPECT_EQ(r.written, 1u) << "a journal changed within the stable age is read on every run";
    EXPECT_EQ(r.lines, 3u);
  }
  std::ofstream(JournalFile(folder), std::ios::binary | std::ios::app) << std::string(100, 'x');
  MakeOld(JournalFile(folder));
  for (int i = 0; i < 2; ++i) {
    r = run();
    EXPECT_EQ(r.written, 1u) << "a partial last record is a journal still being written";
    EXPECT_EQ(r.lines, 3u);
  }
  EXPECT_EQ(+ReadBack(folder).back().Volume, 3);
  EXPECT_EQ(LeftoverTemporaries(folder), 0u);
}

// A number of a line made from a journal is the per-contract file's two-decimal text wherever that
// holds the value, checked against printing it with two decimals over prices, sums and edge values.
TEST(JournalReplayableTest, NumbersAreTheFilesTwoDecimalTextUnlessThatWouldRoundThem) {
  std::vector<double> values = {0.0, -0.0, 0.5, -1.0, 92.005, 0.1 + 0.2, 1e12 + 0.25, 9999999999999.99, 1e13,
                                1e13 + 0.5, 2.5e15 + 0.25, 1e20, 1.7976931348623157e308, -5095.4,
                                std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()};
  std::uint64_t state = 1;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const double cents = static_cast<double>(state >> 24) / 100.0;  // up to about 1.7e9
    values.push_back(i % 2 ? cents : -cents / 1000.0);
    // Sums of a whole day reach 1e13 and beyond, where the text stops being two decimals.
    if (i % 4 == 0) values.push_back(static_cast<double>(state >> 13) / 100.0);
  }
  for (double v : values) {
    char shortest[400];
    const auto r = std::to_chars(shortest, shortest + sizeof shortest, v, std::chars_format::fixed);
    const std::string text(shortest, r.ptr);
    const std::size_t point = text.find('.');
    std::string expected = text;
    if (point == std::string::npos || text.size() - point - 1 <= 2) {
      char fixed[kNumberSize];
      expected.assign(fixed, FormatNumber(v, NumberStyle::kFixed, fixed));
    }
    std::string got;
    AppendReplayNumber(v, &got);
    ASSERT_EQ(got, expected) << text;
  }
}

// A contract's line made from what its line before held is the line made afresh, whichever text
// fields and numbers changed, also when only the time would break the line.
TEST(JournalReplayableTest, ALineMadeFromTheContractsLineBeforeIsTheLineMadeAfresh) {
  struct Change {
    const char* time;
    const char* actionDay;
    const char* code;
    double last;
    double turnover;
    int volume;
  };
  const Change changes[] = {
      {"09:00:00", "20240308", "rb2405", 3601.0, 1e6, 1},      {"09:00:00", "20240308", "rb2405", 3601.5, 1e6, 2},
      {"09:00:01", "20240308", "rb2405", 3601.5, 2.5e6, 3},    {"09:0,:02", "20240308", "rb2405", 3602.0, 3e6, 4},
      {"09:00:02", "20240308", "rb2405", 3602.0, 3e6, 4},      {"09:00\x01", "20240308", "rb2405", 3602.0, 3e6, 5},
      {"09:00:03", "20240309", "rb2405", 92.005, 9999999999999.99, 6},
      {"09:00:03", "20240309", "rb2406", -0.0, 1e13 + 0.5, 7}, {"9:00:04", "20240309", "rb2406", 0.05, 0.0, 8},
      {"09:00:04", "2024,309", "rb2406", 0.05, 0.0, 8},        {"09:00:04", "20240309", "rb2406", 0.05, 0.0, 9}};
  ReplayLineMemory memory;
  for (const Change& c : changes) {
    TickRecord t = ExampleRb2405Record();
    std::strncpy(t.UpdateTime, c.time, sizeof t.UpdateTime - 1);
    std::strncpy(t.ActionDay, c.actionDay, sizeof t.ActionDay - 1);
    std::strncpy(t.InstrumentID, c.code, sizeof t.InstrumentID - 1);
    t.LastPrice = c.last;
    t.Turnover = c.turnover;
    t.Volume = c.volume;
    std::string remembered, afresh;
    const bool made = AppendExactReplayLine(t, "20240308090000", &remembered, &memory);
    EXPECT_EQ(made, AppendExactReplayLine(t, "20240308090000", &afresh)) << c.time << " " << c.actionDay;
    EXPECT_EQ(remembered, afresh) << c.time << " " << c.actionDay;
  }
}

// With blocks of a few lines, each contract's file still gets exactly its records in journal order;
// a code that could name a path outside the folder and a text field with a comma are left out.
TEST(JournalReplayableTest, LinesGoOutInBlocksAndStayInJournalOrder) {
  DataFolder folder;
  const std::vector<std::string> contracts = {"rb2405", "rb2410", "hc2405"};
  std::vector<Tick> ticks;
  for (int i = 0; i < 40; ++i) {
    for (const std::string& contract : contracts) ticks.push_back(At(contract, ClockText(Clock(21, 0) + i), 3725, i + 1));
  }
  ticks.push_back(At("../rb2405", "21:00:00", 3725, 99));
  ticks.push_back(At("rb2405", "21:00,00", 3725, 99));
  Journal(folder, ticks);

  JournalDaySource journal(DayJournal(folder.path(), kDay).string());
  ASSERT_TRUE(journal.Open()) << journal.error();
  ReplayableWriter writer(folder.path(), kDay, 0, ReplayableSelection{.raw = true});
  writer.SetLimitsForTesting(600, 1500);  // a line is about 170 bytes
  const ReplayableDay r = writer.Run(journal, {});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.written, 3u);
  EXPECT_EQ(r.lines, 120u);
  std::string messages;
  for (const std::string& m : r.messages) messages += m + "\n";
  EXPECT_NE(messages.find("1 records of contract codes that cannot name a file"), std::string::npos) << messages;
  EXPECT_NE(messages.find("rb2405: 1 journal records with a comma"), std::string::npos) << messages;
  for (const std::string& contract : contracts) {
    const std::deque<ReplayMessage> history = ReadBack(folder, contract);
    ASSERT_EQ(history.size(), 40u) << contract;
    for (int i = 0; i < 40; ++i) EXPECT_EQ(+history[i].Volume, i + 1) << contract;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "Data" / "rb2405.csv"));
  EXPECT_EQ(LeftoverTemporaries(folder), 0u);
}

// Data/<day> or its Tick folder as a link to a folder elsewhere: no replay file is written through it,
// from the per-contract files or from the journal, and the refusal names the link; the next day of
// the same folder is written as usual.
TEST(JournalReplayableTest, AFolderThatIsALinkGetsNoReplayFile) {
  namespace fs = std::filesystem;
  for (const char* linked : {"Data/20240308", "Data/20240308/Tick"}) {
    for (const bool withJournal : {false, true}) {
      const std::string name = std::string(linked) + (withJournal ? " with a journal" : "");
      DataFolder folder;
      const fs::path outside = folder.path() / "outside";
      const std::vector<Tick> ticks = {At("rb2405", "21:00:00", 3725, 1), At("cu2405", "21:00:01", 70000, 2)};
      for (const Tick& t : ticks) folder.Append(kDay, t.contract, t.Line());
      if (withJournal) Journal(folder, ticks);
      if (std::string(linked) == "Data/20240308") {
        fs::rename(folder.path() / linked, outside);  // the day moved elsewhere, a link left in its place
      } else {
        fs::create_directories(outside);
      }
      const std::size_t before = std::distance(fs::recursive_directory_iterator(outside), {});
      fs::create_directory_symlink(outside, folder.path() / linked);
      Tick later = At("rb2405", "21:00:00", 3800, 1);
      later.day = 20240311;
      folder.Append(20240311, "rb2405", later.Line());

      const ReplayableDay r = WriteReplayableDay(folder.path(), kDay, 0, ReplayableSelection());
      EXPECT_EQ(std::distance(fs::recursive_directory_iterator(outside), {}), before) << name;
      EXPECT_EQ(r.written, 0u) << name;
      // The day's Tick folder cannot be opened: that is the day's error, from either store.
      const std::string refusal = r.error;
      EXPECT_EQ(r.failed, 0u) << name;
      EXPECT_NE(refusal.find(std::strerror(ELOOP)), std::string::npos) << name << ": " << refusal;
      EXPECT_NE(refusal.find("Tick"), std::string::npos) << name << ": " << refusal;
      const ReplayableDay next = WriteReplayableDay(folder.path(), 20240311, 0, ReplayableSelection());
      EXPECT_EQ(next.written, 1u) << name << ": " << next.error;
    }
  }
}

// A journal its header refuses is the day's error with the reason; the per-contract files do not
// stand in for it and no replay file is touched.
TEST(JournalReplayableTest, ARefusedJournalIsTheDaysErrorAndReplacesNothing) {
  const std::string good = JournalHeaderBytes("20240308");
  const auto withU32 = [&](std::size_t at, std::uint32_t v) {
    std::string bytes = good;
    std::memcpy(bytes.data() + at, &v, 4);
    return bytes;
  };
  const struct {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"a CSV file", "20240308210000,rb2405\r\n", "bad magic"},
      {"a newer version", withU32(8, kJournalVersion + 1), "newer"},
      {"a truncated header", good.substr(0, 600), "truncated header"},
      {"another record size", withU32(16, 416), "records of 416 bytes"},
  };
  for (const auto& c : cases) {
    DataFolder folder;
    folder.Append(kDay, "rb2405", Tick().Line());
    std::filesystem::create_directories(folder.path() / "Data" / "20240308" / "Tick");
    std::ofstream(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405")) << "kept";
    std::filesystem::create_directories(JournalFile(folder).parent_path());
    std::ofstream(JournalFile(folder), std::ios::binary) << c.bytes;

    const ReplayableDay r = WriteReplayableDay(folder.path(), kDay, 0, ReplayableSelection());
    EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.name << ": " << r.error;
    EXPECT_NE(r.error.find("20240308.qtj"), std::string::npos) << c.name << ": " << r.error;
    EXPECT_EQ(r.written, 0u) << c.name;
    EXPECT_EQ(ReadText(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405")), "kept") << c.name;
    EXPECT_EQ(LeftoverTemporaries(folder), 0u) << c.name;
  }
}

}  // namespace
