#include "replay/service/stored_tick_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/replay/test_socket.h"

namespace {

const char kLine[] =
    "20170901,20170831,x,21:00:01,500,3650.5,120,3660,3640,3645,3649,3651.25,3651,7,3650,9,3900,3400,2500000,"
    "4.5e9,3644,2400000,3646";

TEST(StoredTickFileTest, PathLayout) {
  // Logged with doubled separators; the file opened is Data/20160130/Tick/rb1710.csv all the same.
  EXPECT_EQ(StoredTickFile::Path("Data", 20160130, "rb1710"), "Data//20160130//Tick//rb1710.csv");
}

TEST(StoredTickFileTest, FullLineFillsEveryField) {
  const ReplayMessage m = StoredTickFile::ParseLine(kLine, "rb1710");
  EXPECT_EQ(ReplayText(m.InstrumentID), "rb1710");
  EXPECT_EQ(ReplayText(m.TradingDay), "20170901");
  EXPECT_EQ(ReplayText(m.ActionDay), "20170831");
  EXPECT_EQ(ReplayText(m.UpdateTime), "21:00:01");
  EXPECT_EQ(+m.UpdateMillisec, 500);
  EXPECT_DOUBLE_EQ(+m.LastPrice, 3650.5);
  EXPECT_EQ(+m.Volume, 120);
  EXPECT_DOUBLE_EQ(+m.HighestPrice, 3660);
  EXPECT_DOUBLE_EQ(+m.LowestPrice, 3640);
  EXPECT_DOUBLE_EQ(+m.OpenPrice, 3645);
  EXPECT_DOUBLE_EQ(+m.ClosePrice, 3649);
  EXPECT_DOUBLE_EQ(+m.AveragePrice, 3651.25);
  EXPECT_DOUBLE_EQ(+m.AskPrice1, 3651);
  EXPECT_EQ(+m.AskVolume1, 7);
  EXPECT_DOUBLE_EQ(+m.BidPrice1, 3650);
  EXPECT_EQ(+m.BidVolume1, 9);
  EXPECT_DOUBLE_EQ(+m.UpperLimitPrice, 3900);
  EXPECT_DOUBLE_EQ(+m.LowerLimitPrice, 3400);
  EXPECT_DOUBLE_EQ(+m.OpenInterest, 2500000);
  EXPECT_DOUBLE_EQ(+m.Turnover, 4.5e9);
  EXPECT_DOUBLE_EQ(+m.PreClosePrice, 3644);
  EXPECT_DOUBLE_EQ(+m.PreOpenInterest, 2400000);
  EXPECT_DOUBLE_EQ(+m.PreSettlementPrice, 3646);
  EXPECT_EQ(+m.Command, 0);
  EXPECT_EQ(m.BeginTime[0], 0);
}

TEST(StoredTickFileTest, OddLines) {
  const struct {
    const char* name;
    std::string line;
    const char* tradingDay;
    const char* updateTime;
    int millisec;
    double lastPrice;
    int volume;
    double preSettlement;
  } cases[] = {
      {"empty line", "", "000000", "", 0, 0, 0, 0},
      {"short trading day", "93000", "093000", "", 0, 0, 0, 0},
      {"eight digits stay", "20160901", "20160901", "", 0, 0, 0, 0},
      {"long trading day cut", "2016090112", "20160901", "", 0, 0, 0, 0},
      {"long update time cut", "1,2,3,09:00:00.500", "000001", "09:00:00", 0, 0, 0, 0},
      {"prefixes and junk", "1,,,t, 42ms,  -3.5e2x,+7,", "000001", "t", 42, -350, 7, 0},
      {"no numbers", "d,d,d,t,abc,.,--1,", "00000d", "t", 0, 0, 0, 0},
      {"quotes are plain text", "\"1\",a,b,c,5,\"6\"", "000\"1\"", "c", 5, 0, 0, 0},
      {"more than 80 fields", std::string(kLine) + std::string(200, ','), "20170901", "21:00:01", 500, 3650.5, 120,
       3646},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ReplayMessage m = StoredTickFile::ParseLine(c.line, "rb1710");
    EXPECT_EQ(ReplayText(m.TradingDay), c.tradingDay);
    EXPECT_EQ(ReplayText(m.UpdateTime), c.updateTime);
    EXPECT_EQ(+m.UpdateMillisec, c.millisec);
    EXPECT_DOUBLE_EQ(+m.LastPrice, c.lastPrice);
    EXPECT_EQ(+m.Volume, c.volume);
    EXPECT_DOUBLE_EQ(+m.PreSettlementPrice, c.preSettlement);
  }
}

TEST(StoredTickFileTest, CountsAndLoadsFiles) {
  TempDir dir;
  const struct {
    const char* name;
    std::string content;
    int commaLines;
    std::size_t messages;
  } cases[] = {
      {"empty file", "", 0, 0},
      {"header only", "TradingDay,ActionDay\n", 1, 0},
      {"two ticks, CRLF", "h,h\r\n" + std::string(kLine) + "\r\n" + std::string(kLine) + "\r\n", 3, 2},
      {"last line without break", "h,h\n1,2\n3,4", 3, 2},
      {"empty line inside", "h,h\n\n1,2\n", 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write("f.csv", c.content);
    const std::string path = dir.path() + "/f.csv";
    EXPECT_EQ(StoredTickFile::CountCommaLines(path), c.commaLines);
    std::deque<ReplayMessage> history;
    EXPECT_TRUE(StoredTickFile::Load(path, "rb1710", &history));
    EXPECT_EQ(history.size(), c.messages);
  }
  std::deque<ReplayMessage> history;
  dir.Write("f.csv", "h\n1,2,3,09:00:00\n4,5,6,09:00:01\n");
  ASSERT_TRUE(StoredTickFile::Load(dir.path() + "/f.csv", "rb1710", &history));
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(ReplayText(history[0].UpdateTime), "09:00:00");
  EXPECT_EQ(ReplayText(history[1].UpdateTime), "09:00:01");
}

// A link is not followed, even to a good stored file.
TEST(StoredTickFileTest, UnreadableFilesReportFailure) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() + "/dir.csv");
  dir.Write("good.csv", "h\n1,2,3,09:00:00\n");
  std::filesystem::create_symlink(dir.path() + "/good.csv", dir.path() + "/link.csv");
  for (const std::string& path : {dir.path() + "/missing.csv", dir.path() + "/dir.csv", dir.path() + "/link.csv"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(StoredTickFile::CountCommaLines(path), std::nullopt);
    std::deque<ReplayMessage> history;
    EXPECT_FALSE(StoredTickFile::Load(path, "rb1710", &history));
  }
}

}  // namespace
