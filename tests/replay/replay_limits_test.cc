// What a hostile or careless client can make the replay service hold: threads, queued bytes,
// connections, time.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "replay/service/replay_service.h"
#include "tests/replay/replay_fixture.h"

namespace {

using namespace std::chrono_literals;

std::atomic<bool> gRefuseThreads{false};

int RefusingThreadCreate(pthread_t* thread, const pthread_attr_t* attr, void* (*fn)(void*), void* arg) {
  if (gRefuseThreads.load()) return EAGAIN;
  return pthread_create(thread, attr, fn, arg);
}

// Replay threads that wait at a gate before they start their work, as threads stuck on a lock would.
std::mutex gGateMutex;
std::condition_variable gGateOpened;
bool gGateOpen = true;

struct GatedStart {
  void* (*fn)(void*);
  void* arg;
};

void* RunAfterGate(void* start) {
  const GatedStart gated = *static_cast<GatedStart*>(start);
  delete static_cast<GatedStart*>(start);
  {
    std::unique_lock<std::mutex> lock(gGateMutex);
    gGateOpened.wait(lock, [] { return gGateOpen; });
  }
  return gated.fn(gated.arg);
}

int GatedThreadCreate(pthread_t* thread, const pthread_attr_t* attr, void* (*fn)(void*), void* arg) {
  auto* start = new GatedStart{fn, arg};
  const int error = pthread_create(thread, attr, RunAfterGate, start);
  if (error != 0) delete start;
  return error;
}

void SetGate(bool open) {
  std::lock_guard<std::mutex> lock(gGateMutex);
  gGateOpen = open;
  gGateOpened.notify_all();
}

std::vector<std::string> Lines(std::size_t n, const std::string& day, double firstPrice) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < n; ++i) lines.push_back(StoredLine(day, "09:00:00", firstPrice + static_cast<double>(i)));
  return lines;
}

class ReplayLimitsTest : public ReplayServiceTest {
 protected:
  std::size_t CountLog(const std::string& prefix) const {
    std::size_t n = 0;
    for (const std::string& line : Log())
      if (line.rfind(prefix, 0) == 0) ++n;
    return n;
  }
  bool WaitNoReplayWithin(std::chrono::milliseconds limit, std::size_t atMost = 0) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (service_->RunningReplays() > atMost) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
};

TEST_F(ReplayLimitsTest, StartRequestsOfOneConnectionShareOneThread) {
  Store("20160104", "ag1706", StoredFile(Lines(2000, "20160104", 4000)));
  Store("20160104", "au1706", StoredFile(Lines(2, "20160104", 280)));
  auto client = Connect();
  std::size_t most = 0;
  for (int i = 0; i < 50; ++i) {
    Request(*client, "ag1706", "20160104", "20160104");
    most = std::max(most, service_->RunningReplays());
    std::this_thread::sleep_for(1ms);
  }
  Request(*client, "au1706", "20160104", "20160104");
  for (int i = 0; i < 100; ++i) {
    most = std::max(most, service_->RunningReplays());
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_LE(most, 1u);

  // Whatever the earlier replays sent first, the last request is served to its end.
  std::size_t gold = 0;
  ReplayMessage m;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (gold < 2 && std::chrono::steady_clock::now() < deadline) {
    if (client->Read(&m, 50) == ReplayClient::ReadStatus::Message && ReplayText(m.InstrumentID) == "au1706") ++gold;
  }
  EXPECT_EQ(gold, 2u);
  EXPECT_EQ(service_->RunningReplays(), 1u) << "the last replay is live";
}

// Replay threads that are slow to end (stuck on a lock, a slow disk) do not let a flood of
// requests make more threads.
TEST_F(ReplayLimitsTest, ReplayThreadsAreBoundedInTotal) {
  Restart([](ReplayServiceOptions& o) {
    o.maxReplayThreads = 3;
    o.createThread = GatedThreadCreate;
  });
  Store("20160104", "rb1710", StoredFile(Lines(3, "20160104", 3000)));
  std::vector<std::unique_ptr<ReplayClient>> clients;
  for (int i = 0; i < 8; ++i) clients.push_back(Connect());
  {
    SetGate(false);
    struct Reopen {
      ~Reopen() { SetGate(true); }
    } reopenAtTheEnd;
    const auto start = std::chrono::steady_clock::now();
    for (ConnectionId id = 1; id <= 8; ++id) {
      Request(*clients[id - 1], "rb1710", "20160104", "20160104");
      const std::string received = "OnReceive(" + std::to_string(id) + ")[instrument:rb1710]";
      ASSERT_TRUE(WaitForLog(received + "[begintime:20160104][endtime:20160104][Len217]"));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Five refusals, logged at most once a second: the first, and the rest only counted.
    ASSERT_TRUE(WaitForLog("OnReceive(4) 重播线程已满[3]")) << [this] {
      std::string text = "log:\n";
      for (const std::string& line : Log()) text += line + "\n";
      return text;
    }();
    EXPECT_EQ(service_->RunningReplays(), 3u);
    std::this_thread::sleep_for(1100ms);
    std::size_t logged = 0;
    for (const std::string& line : Log()) logged += line.find("重播线程已满") != std::string::npos;
    EXPECT_LE(logged, 1 + static_cast<std::size_t>(seconds + 0.1)) << seconds << " s";

    Request(*clients[7], "rb1710", "20160104", "20160104");
    const std::string next = "OnReceive(8) 重播线程已满[3] (此前另拒绝" + std::to_string(5 - logged) + "个未记录)";
    EXPECT_TRUE(WaitForLog(next)) << next;
  }
  const auto served = ReadMessages(*clients[2], 3);  // the latest request that was taken
  ASSERT_EQ(served.size(), 3u);
  EXPECT_TRUE(WaitNoReplayWithin(1s, 1)) << "the superseded replays ended at their first step";

  Request(*clients[7], "rb1710", "20160104", "20160104");  // room again
  EXPECT_EQ(ReadMessages(*clients[7], 3).size(), 3u);
}

TEST_F(ReplayLimitsTest, ARefusedThreadRefusesTheRequestAndTheServiceGoesOn) {
  Restart([](ReplayServiceOptions& o) { o.createThread = RefusingThreadCreate; });
  Store("20160104", "rb1710", StoredFile(Lines(2, "20160104", 3000)));
  auto client = Connect();
  gRefuseThreads = true;
  Request(*client, "rb1710", "20160104", "20160104");
  EXPECT_TRUE(WaitForLog("OnReceive(1) 无法创建重播线程[Resource temporarily unavailable]"));
  gRefuseThreads = false;
  EXPECT_EQ(service_->RunningReplays(), 0u);
  EXPECT_FALSE(relay_.active()) << "a refused request selects nothing";
  EXPECT_TRUE(service_->running());

  Request(*client, "rb1710", "20160104", "20160104");
  EXPECT_EQ(ReadMessages(*client, 2).size(), 2u);
}

TEST_F(ReplayLimitsTest, AVanishedClientEndsItsReplayWithinASecond) {
  Store("20160104", "rb1710", StoredFile(Lines(5000, "20160104", 3000)));
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");
  ASSERT_EQ(ReadMessages(*client, 3).size(), 3u);
  client->Close();
  ASSERT_TRUE(WaitForLog("OnClose 客户端断开(1)[Operation:5][ErrorCode:0]"));
  EXPECT_TRUE(WaitNoReplayWithin(1s));
  const std::size_t sent = CountLog("(");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(CountLog("("), sent) << "nothing more is sent or logged for the client";
  EXPECT_LT(sent, 2000u);
}

// A client that stops reading holds at most the send queue; it is closed after the timeout and its
// replay ends with it.
TEST_F(ReplayLimitsTest, ANonReadingClientIsClosedAndItsReplayEnds) {
  Restart([](ReplayServiceOptions& o) {
    o.sendQueueBytes = 8 * 1024;
    o.idleTimeoutMs = 500;
  });
  Store("20160104", "rb1710", StoredFile(Lines(30000, "20160104", 3000)));
  TestSocket reader;
  ASSERT_TRUE(reader.Connect(port_, nullptr, 4096));
  const ReplayMessageBytes request = EncodeReplayRequest(kReplayCommandStart, "rb1710", "20160104", "20160104");
  ASSERT_TRUE(reader.Send(Pack(kReplayPackFlag, {request.begin(), request.end()})));
  EXPECT_TRUE(WaitForLog("OnClose 客户端断开(1)[Operation:3][ErrorCode:110]", 15000));
  EXPECT_TRUE(WaitNoReplayWithin(1s));
  EXPECT_LT(CountLog("("), 10000u) << "the replay waited for the client instead of queueing its history";
}

TEST_F(ReplayLimitsTest, IdleAndHalfSentConnectionsAreClosedButALiveClientIsNot) {
  Restart([](ReplayServiceOptions& o) { o.idleTimeoutMs = 300; });
  auto client = Connect();
  Request(*client, "rb1710", "20160104", "20160104");  // no stored file: live at once
  WaitSelected("rb1710");
  std::this_thread::sleep_for(1000ms);
  relay_.Forward(LiveTick("rb1710", "10:00:00", 1));
  EXPECT_EQ(ReadMessages(*client, 1).size(), 1u) << "receiving only is not idleness";
  EXPECT_EQ(CountLog("OnClose"), 0u);

  TestSocket idle;
  ASSERT_TRUE(idle.Connect(port_));
  TestSocket halfSent;
  ASSERT_TRUE(halfSent.Connect(port_));
  ASSERT_TRUE(halfSent.Send({0xD9, 0x00, 0x40}));
  EXPECT_TRUE(idle.WaitClosed(3000));
  EXPECT_TRUE(halfSent.WaitClosed(3000));
  EXPECT_TRUE(WaitForLog("OnClose 客户端断开(2)[Operation:4][ErrorCode:110]"));
  EXPECT_TRUE(WaitForLog("OnClose 客户端断开(3)[Operation:4][ErrorCode:110]"));
}

TEST_F(ReplayLimitsTest, ConnectionsBeyondTheLimitsAreClosedAndLoggedOncePerSecond) {
  Restart([](ReplayServiceOptions& o) {
    o.maxConnections = 2;
    o.maxConnectionsPerPeer = 1;
  });
  const auto refused = [&](const char* from) {
    TestSocket late;
    return late.Connect(port_, from) && late.WaitClosed();
  };
  TestSocket a;
  ASSERT_TRUE(a.Connect(port_, "127.0.0.1"));
  ASSERT_TRUE(WaitForLog("OnAccept 客户端连接(1)"));
  EXPECT_TRUE(refused("127.0.0.1"));
  TestSocket b;
  ASSERT_TRUE(b.Connect(port_, "127.0.0.2"));
  ASSERT_TRUE(WaitForLog("OnAccept 客户端连接(2)"));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(refused("127.0.0.3"));

  const std::vector<std::string> log = Log();
  std::vector<std::string> refusals;
  for (const std::string& line : log)
    if (line.rfind("拒绝连接[", 0) == 0) refusals.push_back(line.substr(line.find(']') + 1));
  EXPECT_EQ(refusals, (std::vector<std::string>{" 同一地址连接数已满[1]", " 连接数已满[2]"}));
  EXPECT_EQ(CountLog("OnAccept"), 2u);

  std::this_thread::sleep_for(1100ms);
  EXPECT_TRUE(refused("127.0.0.3"));
  for (int i = 0; i < 400 && CountLog("拒绝连接[") < 3; ++i) std::this_thread::sleep_for(5ms);
  const std::vector<std::string> later = Log();
  ASSERT_EQ(CountLog("拒绝连接["), 3u);
  const std::string& last = later.back();
  EXPECT_EQ(last.substr(last.find(']') + 1), " 连接数已满[2] (此前另拒绝4个未记录)") << last;
}

}  // namespace
