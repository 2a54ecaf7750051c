#include "replay/service/replay_service.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/replay/replay_fixture.h"

namespace {

std::string TradingDayOf(const ReplayMessage& m) { return ReplayText(m.TradingDay); }

TEST_F(ReplayServiceTest, ReadsEveryDayOfTheRangeInOrder) {
  Store("20160130", "rb1710", StoredFile({StoredLine("20160130", "09:00:00", 3000)}));
  Store("20160201", "rb1710", StoredFile({StoredLine("20160201", "09:00:00", 3001)}));
  Store("20160202", "rb1710", StoredFile({StoredLine("20160202", "09:00:00", 3002)}));
  auto client = Connect();
  Request(*client, "rb1710", "20160130", "20160202");

  const auto messages = ReadMessages(*client, 3);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(TradingDayOf(messages[0]), "20160130");
  EXPECT_EQ(TradingDayOf(messages[1]), "20160201");
  EXPECT_EQ(TradingDayOf(messages[2]), "20160202");
  EXPECT_EQ(ReplayText(messages[0].InstrumentID), "rb1710");
  EXPECT_DOUBLE_EQ(+messages[2].LastPrice, 3002);

  EXPECT_TRUE(LogHasInOrder({
      "OnAccept 客户端连接(1)",
      "OnReceive(1)[instrument:rb1710][begintime:20160130][endtime:20160202][Len217]",
      "2016年1月30日",
      "OK找到" + PathOf("20160130", "rb1710"),
      "2026 12 09 08:30:05 " + PathOf("20160130", "rb1710"),
      "读取csv共 1 条记录",
      "(1)[client:1]发送行情 rb1710 [20160130][20160130][09:00:00][500][3000.00][10][3010.00][2990.00][3000.00]"
      "[0.00][3001.50][3001.00][3]",
      "没找到" + PathOf("20160131", "rb1710"),
      "OK找到" + PathOf("20160201", "rb1710"),
      "OK找到" + PathOf("20160202", "rb1710"),
      "(3)[client:1]发送行情 rb1710 [20160202][20160202][09:00:00][500][3002.00][10][3010.00][2990.00][3000.00]"
      "[0.00][3001.50][3003.00][3]",
  }));
}

TEST_F(ReplayServiceTest, HeaderOnlyAndEmptyFilesSendNoHistory) {
  Store("20160104", "rb1710", StoredFile({}));
  Store("20160105", "rb1710", "");
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160105");
  EXPECT_TRUE(WaitForLog("读取csv共 -1 条记录"));
  EXPECT_TRUE(LogHasInOrder({"读取csv共 0 条记录", "读取csv共 -1 条记录"}));
  WaitSelected("rb1710");
  relay_.Forward(LiveTick("rb1710", "10:00:00", 3500));

  const auto messages = ReadMessages(*client, 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(ReplayText(messages[0].UpdateTime), "10:00:00") << "only the live tick";
  EXPECT_TRUE(WaitForLog(
      "(1)[client:1]发送实时行情 rb1710 [20261210][20261209][10:00:00][0][3500.00][77][0.00][0.00][0.00][0.00][0.00]"
      "[3501.00][0]"));
}

TEST_F(ReplayServiceTest, EmptyLineAndShortTradingDay) {
  Store("20160104", "rb1710", StoredFile({"", "93000,20160104,,21:00:00,0,1", "20160901,x"}));
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");
  const auto messages = ReadMessages(*client, 3);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(TradingDayOf(messages[0]), "000000");
  EXPECT_EQ(+messages[0].LastPrice, 0);
  EXPECT_EQ(ReplayText(messages[0].UpdateTime), "");
  EXPECT_EQ(TradingDayOf(messages[1]), "093000");
  EXPECT_EQ(+messages[1].LastPrice, 1);
  EXPECT_EQ(TradingDayOf(messages[2]), "20160901");
}

TEST_F(ReplayServiceTest, HistoryThenLiveTicksInArrivalOrder) {
  std::vector<std::string> lines;
  for (int i = 0; i < 20; ++i) lines.push_back(StoredLine("20160104", "09:00:" + std::to_string(10 + i), 3000 + i));
  Store("20160104", "rb1710", StoredFile(lines));
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");
  WaitSelected("rb1710");
  relay_.Forward(LiveTick("rb1711", "10:00:00", 1));  // another contract: never sent
  relay_.Forward(LiveTick("rb1710", "10:00:01", 2));
  relay_.Forward(LiveTick("rb1710", "10:00:02", 3));

  const auto messages = ReadMessages(*client, 22);
  ASSERT_EQ(messages.size(), 22u);
  for (int i = 0; i < 20; ++i) EXPECT_DOUBLE_EQ(+messages[i].LastPrice, 3000 + i);
  EXPECT_EQ(ReplayText(messages[20].UpdateTime), "10:00:01");
  EXPECT_EQ(ReplayText(messages[21].UpdateTime), "10:00:02");

  relay_.Forward(LiveTick("rb1710", "10:00:03", 4));
  const auto later = ReadMessages(*client, 1);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(ReplayText(later[0].UpdateTime), "10:00:03");
  EXPECT_TRUE(service_->livePhase());
}

TEST_F(ReplayServiceTest, StopRequestDuringHistoryDoesNotShortenIt) {
  std::vector<std::string> lines;
  for (int i = 0; i < 30; ++i) lines.push_back(StoredLine("20160104", "09:00:00", 3000 + i));
  Store("20160104", "rb1710", StoredFile(lines));
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");
  ASSERT_EQ(ReadMessages(*client, 1).size(), 1u);
  ASSERT_TRUE(client->Send(EncodeReplayRequest(kReplayCommandStop, "", "", "")));
  EXPECT_TRUE(WaitForLog("OnReceive(1) 结束"));
  EXPECT_FALSE(service_->livePhase());

  const auto rest = ReadMessages(*client, 29);
  ASSERT_EQ(rest.size(), 29u);
  EXPECT_DOUBLE_EQ(+rest.back().LastPrice, 3029);
  WaitNoReplay();
  relay_.Forward(LiveTick("rb1710", "10:00:00", 1));
  EXPECT_TRUE(NoMessage(*client, 100)) << "no live phase after a stop";
}

TEST_F(ReplayServiceTest, AnyConnectionCloseEndsTheLivePhase) {
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");  // no stored file: live ticks only
  WaitSelected("rb1710");
  relay_.Forward(LiveTick("rb1710", "10:00:00", 1));
  ASSERT_EQ(ReadMessages(*client, 1).size(), 1u);
  ASSERT_TRUE(service_->livePhase());

  {
    auto bystander = Connect();  // never sends a request
  }
  EXPECT_TRUE(WaitForLog("OnClose 客户端断开(2)[Operation:5][ErrorCode:0]"));
  WaitNoReplay();
  EXPECT_FALSE(service_->livePhase());
  EXPECT_FALSE(relay_.active());
  EXPECT_EQ(relay_.BufferSize(), 0u);
  relay_.Forward(LiveTick("rb1710", "10:00:01", 2));
  EXPECT_TRUE(NoMessage(*client, 100));
}

TEST_F(ReplayServiceTest, StoppingTheServiceEndsTheLivePhase) {
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");
  WaitSelected("rb1710");
  ASSERT_EQ(service_->RunningReplays(), 1u);
  service_->StopReplayService();
  EXPECT_FALSE(service_->running());
  WaitNoReplay();
  EXPECT_FALSE(relay_.active());
  EXPECT_TRUE(LogHasInOrder({"OnClose 客户端断开(1)[Operation:5][ErrorCode:0]", "行情重播服务关闭"}));
  ReplayMessage m;
  EXPECT_EQ(client->Read(&m, 1000), ReplayClient::ReadStatus::Closed);
}

TEST_F(ReplayServiceTest, FirstDayAfterLastDayReadsNoFileAndGoesLive) {
  Store("20160105", "rb1710", StoredFile({StoredLine("20160105", "09:00:00", 1)}));
  auto client = Connect();
  Request(*client, "rb1710", "20160105", "20160104");
  WaitSelected("rb1710");
  relay_.Forward(LiveTick("rb1710", "10:00:00", 2));
  const auto messages = ReadMessages(*client, 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_DOUBLE_EQ(+messages[0].LastPrice, 2);
  EXPECT_TRUE(LogHasInOrder({"2016年1月5日"}));
  for (const std::string& line : Log()) EXPECT_EQ(line.find("找到"), std::string::npos) << line;
}

// Packs that are no start or stop request change nothing and log nothing.
TEST_F(ReplayServiceTest, IgnoredPacks) {
  const ReplayMessageBytes start = EncodeReplayRequest(kReplayCommandStart, "rb1710", "20160104", "20160104");
  const struct {
    const char* name;
    std::vector<std::uint8_t> body;
  } cases[] = {
      {"216-byte start request", std::vector<std::uint8_t>(start.begin(), start.end() - 1)},
      {"four bytes", {0xE8, 0x03, 0, 0}},
      {"command 1002", [] {
         const auto b = EncodeReplayRequest(1002, "rb1710", "20160104", "20160104");
         return std::vector<std::uint8_t>(b.begin(), b.end());
       }()},
  };
  TestSocket client;
  ASSERT_TRUE(client.Connect(port_));
  EXPECT_EQ(client.Read(221), Pack(kReplayPackFlag, std::vector<std::uint8_t>(217, 0))) << "the greeting";
  ASSERT_TRUE(WaitForLog("OnAccept 客户端连接(1)"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(client.Send(Pack(kReplayPackFlag, c.body)));
  }
  EXPECT_TRUE(client.Quiet(100));
  EXPECT_EQ(Log(), (std::vector<std::string>{"行情重播服务开启", "OnAccept 客户端连接(1)"}));
  EXPECT_FALSE(relay_.active());
  EXPECT_EQ(service_->RunningReplays(), 0u);
  EXPECT_FALSE(service_->activeRequest());
}

TEST_F(ReplayServiceTest, RefusesUnsafeContractsAndBadDates) {
  const struct {
    const char* contract;
    const char* first;
    const char* last;
    const char* refusal;
  } cases[] = {
      {"../../etc/passwd", "20160104", "20160104", "OnReceive(1) 非法合约[../../etc/passwd]"},
      {"/etc/passwd", "20160104", "20160104", "OnReceive(1) 非法合约[/etc/passwd]"},
      {"rb..1710", "20160104", "20160104", "OnReceive(1) 非法合约[rb..1710]"},
      {"a/b", "20160104", "20160104", "OnReceive(1) 非法合约[a/b]"},
      {"rb1710", "2016013", "20160104", "OnReceive(1) 非法日期[2016013][20160104]"},
      {"rb1710", "20160104", "20161301", "OnReceive(1) 非法日期[20160104][20161301]"},
      {"rb1710", "abcdefgh", "20160104", "OnReceive(1) 非法日期[abcdefgh][20160104]"},
      {"rb1710", "20160100", "20160104", "OnReceive(1) 非法日期[20160100][20160104]"},
      {"rb1710", "", "20160104", "OnReceive(1) 非法日期[][20160104]"},
  };
  auto client = Connect();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    Request(*client, c.contract, c.first, c.last);
    EXPECT_TRUE(WaitForLog(c.refusal));
  }
  EXPECT_FALSE(relay_.active());
  EXPECT_FALSE(service_->livePhase());
  EXPECT_EQ(service_->RunningReplays(), 0u);
  EXPECT_FALSE(service_->activeRequest());
  for (const std::string& line : Log()) EXPECT_EQ(line.find("找到"), std::string::npos) << line;
}

TEST_F(ReplayServiceTest, NewStartRequestSupersedesTheRunningReplay) {
  std::vector<std::string> silver;
  for (int i = 0; i < 1000; ++i) silver.push_back(StoredLine("20160104", "09:00:00", 4000 + i));
  Store("20160104", "ag1706", StoredFile(silver));
  Store("20160104", "au1706", StoredFile({StoredLine("20160104", "09:30:00", 280), StoredLine("20160104", "09:30:01", 281)}));

  auto first = Connect();
  auto second = Connect();
  Request(*first, "ag1706", "20160104", "20160104");
  ASSERT_EQ(ReadMessages(*first, 5).size(), 5u);
  Request(*second, "au1706", "20160104", "20160104");

  const auto gold = ReadMessages(*second, 2);
  ASSERT_EQ(gold.size(), 2u);
  for (const auto& m : gold) EXPECT_EQ(ReplayText(m.InstrumentID), "au1706");
  EXPECT_TRUE(NoMessage(*second, 100)) << "nothing of the earlier replay reaches the new client";

  std::size_t more = 0;
  ReplayMessage m;
  while (first->Read(&m, 100) == ReplayClient::ReadStatus::Message) {
    EXPECT_EQ(ReplayText(m.InstrumentID), "ag1706");
    ++more;
  }
  EXPECT_LT(more, 500u) << "the earlier replay stopped";
  EXPECT_EQ(service_->RunningReplays(), 1u);

  WaitSelected("au1706");
  relay_.Forward(LiveTick("au1706", "10:00:00", 282));
  const auto live = ReadMessages(*second, 1);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(ReplayText(live[0].UpdateTime), "10:00:00");
  EXPECT_TRUE(NoMessage(*first, 50));
}

// A folder or a named pipe in a stored file's place is skipped; the pipe never blocks the replay.
TEST_F(ReplayServiceTest, FileThatCannotBeOpenedIsLoggedAsNotFound) {
  std::filesystem::create_directories(dir_.path() + "/Data/20160104/Tick/rb1710.csv");
  std::filesystem::create_directories(dir_.path() + "/Data/20160105/Tick");
  ASSERT_EQ(::mkfifo((dir_.path() + "/Data/20160105/Tick/rb1710.csv").c_str(), 0600), 0);
  Store("20160106", "rb1710", StoredFile({StoredLine("20160106", "09:00:00", 1)}));
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160106");
  const auto messages = ReadMessages(*client, 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(TradingDayOf(messages[0]), "20160106");
  EXPECT_TRUE(LogHasInOrder({"OK找到" + PathOf("20160104", "rb1710"), "没找到" + PathOf("20160104", "rb1710"),
                             "OK找到" + PathOf("20160105", "rb1710"), "没找到" + PathOf("20160105", "rb1710"),
                             "OK找到" + PathOf("20160106", "rb1710")}));
}

TEST_F(ReplayServiceTest, StartAndStopAreIdempotent) {
  service_->StartReplayService();
  service_->StopReplayService();
  EXPECT_FALSE(service_->running());
  service_->StopReplayService();
  service_->StartReplayService();
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(Log(), (std::vector<std::string>{"行情重播服务开启", "行情重播服务关闭", "行情重播服务开启"}));
}

TEST_F(ReplayServiceTest, PortInUseLogsOnlyTheShutdown) {
  ReplayServiceOptions options;
  options.port = port_;
  options.bindAddress = "127.0.0.1";
  LiveTickRelay otherRelay;
  ReplayService other(otherRelay, options);
  other.StartReplayService();
  EXPECT_FALSE(other.running());
  EXPECT_EQ(Log(), (std::vector<std::string>{"行情重播服务开启", "行情重播服务关闭"}))
      << "the failed start logs no opening of its own";
}

// A stop does not end a replay that is sending its history; after a restart the first client gets
// the same id as the old one, and must not receive the old replay.
TEST_F(ReplayServiceTest, HistoryOfAClosedClientNeverReachesItsSuccessor) {
  std::vector<std::string> lines(2000, StoredLine("20160104", "09:00:00", 1));
  Store("20160104", "rb1710", StoredFile(lines));
  auto old = Connect();
  Request(*old, "rb1710", "20160104", "20160104");
  ASSERT_EQ(ReadMessages(*old, 1).size(), 1u);
  service_->StopReplayService();
  service_->StartReplayService();
  ASSERT_TRUE(service_->ListenAddress(nullptr, &port_));
  auto successor = Connect();
  ASSERT_TRUE(WaitForLog("OnAccept 客户端连接(1)"));
  EXPECT_TRUE(NoMessage(*successor, 200));
  EXPECT_EQ(service_->RunningReplays(), 0u) << "the old replay ended with its client";
}

TEST_F(ReplayServiceTest, DestroyingTheServiceStopsItInOrder) {
  std::vector<std::string> lines(2000, StoredLine("20160104", "09:00:00", 1));
  Store("20160104", "rb1710", StoredFile(lines));
  auto live = Connect();
  auto busy = Connect();
  Request(*live, "rb1710", "20160105", "20160105");
  WaitSelected("rb1710");
  Request(*busy, "rb1710", "20160104", "20160104");  // a long history in progress
  ASSERT_EQ(ReadMessages(*busy, 1).size(), 1u);

  const auto before = std::chrono::steady_clock::now();
  service_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2)) << "replay threads end at once";
  ReplayMessage m;
  for (ReplayClient* c : {live.get(), busy.get()}) {
    ReplayClient::ReadStatus status;
    while ((status = c->Read(&m, 1000)) == ReplayClient::ReadStatus::Message) {
    }
    EXPECT_EQ(status, ReplayClient::ReadStatus::Closed);
  }
  EXPECT_TRUE(LogHasInOrder({"OnClose 客户端断开(1)[Operation:5][ErrorCode:0]", "行情重播服务关闭"}));
  EXPECT_TRUE(LogHasInOrder({"OnClose 客户端断开(2)[Operation:5][ErrorCode:0]", "行情重播服务关闭"}));
}

}  // namespace
