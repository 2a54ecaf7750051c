#include "tools/data/replayable_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>

#include "replay/service/stored_tick_file.h"
#include "tests/data/data_fixture.h"

namespace {

constexpr int kDay = 20240308;

void MakeOld(const std::filesystem::path& path) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 60;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::deque<ReplayMessage> ReadBack(const DataFolder& folder) {
  std::deque<ReplayMessage> history;
  EXPECT_TRUE(StoredTickFile::Load(ReplayableWriter::TargetPath(folder.path(), kDay, "rb2405").string(), "rb2405",
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

}  // namespace
