#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>

#include "core/gbk.h"
#include "tests/ctp/recording_spi.h"
#include "tests/ctp/running_simulator.h"

namespace {

constexpr int kReadFailure = 0x1001;
constexpr int kHeartbeatTimeout = 0x2001;

// A loopback port nobody listens on: bound once for its number, then closed.
int DeadPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

SimOptions Options() {
  SimOptions options;
  options.broker = "9999";
  options.user = "alice";
  options.password = "secret";
  options.trading_day = "20210603";
  options.contract_rate = 50;
  return options;
}

class MdApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUOTELOOM_CTP_RECONNECT_MS", "100", 1);
    ::setenv("QUOTELOOM_CTP_HEARTBEAT_MS", "50", 1);
    ::setenv("QUOTELOOM_CTP_HEARTBEAT_TIMEOUT_MS", "400", 1);
    ::setenv("QUOTELOOM_CTP_CONNECT_TIMEOUT_MS", "500", 1);
  }

  // An API with the spi registered, the fronts given, and a login sent on every connection.
  ApiPtr Start(RecordingSpi& spi, const std::vector<std::string>& fronts, const char* password = "secret") {
    ApiPtr api(CThostFtdcMdApi::CreateFtdcMdApi("", false, false));
    api->RegisterSpi(&spi);
    for (const std::string& front : fronts) api->RegisterFront(const_cast<char*>(front.c_str()));
    CThostFtdcMdApi* raw = api.get();
    std::string pw = password;
    spi.on_connected = [raw, pw, this] {
      CThostFtdcReqUserLoginField login{};
      std::strcpy(login.BrokerID, "9999");
      std::strcpy(login.UserID, "alice");
      std::snprintf(login.Password, sizeof login.Password, "%s", pw.c_str());
      raw->ReqUserLogin(&login, ++request_id_);
    };
    api->Init();
    return api;
  }

  static int Subscribe(CThostFtdcMdApi* api, std::vector<std::string> codes) {
    std::vector<char*> pointers;
    for (std::string& code : codes) pointers.push_back(code.data());
    return api->SubscribeMarketData(pointers.data(), static_cast<int>(pointers.size()));
  }

  int request_id_ = 0;
};

TEST_F(MdApiTest, GoodLoginGivesTradingDayAndTicksOfListedContractsOnly) {
  RunningSimulator simulator(Options());
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  CThostFtdcMdApi* raw = api.get();
  std::string day_before_login = "unset";
  std::string day_at_login;
  spi.on_login = [&](CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info) {
    day_at_login = raw->GetTradingDay();
    if (info->ErrorID == 0) Subscribe(raw, {"rb2106", "zz9999", "IF2106"});
  };
  ASSERT_TRUE(spi.WaitForLine("login 1 0 last"));
  ASSERT_TRUE(spi.WaitForLine("sub IF2106 0 last"));
  EXPECT_EQ(day_at_login, "20210603");
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 20; }));

  std::vector<std::string> lines = spi.lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "connected");
  EXPECT_EQ(lines[1], "login 1 0 last");
  EXPECT_EQ(lines[2], "sub rb2106 0");
  EXPECT_EQ(lines[3], "sub zz9999 0");
  EXPECT_EQ(lines[4], "sub IF2106 0 last");
  int volume_rb = 0;
  for (const CThostFtdcDepthMarketDataField& tick : spi.ticks()) {
    std::string code = tick.InstrumentID;
    ASSERT_TRUE(code == "rb2106" || code == "IF2106") << code;
    EXPECT_STREQ(tick.TradingDay, "20210603");
    EXPECT_EQ(tick.ClosePrice, DBL_MAX);
    EXPECT_EQ(tick.SettlementPrice, DBL_MAX);
    EXPECT_LE(tick.LowestPrice, tick.LastPrice);
    EXPECT_GE(tick.HighestPrice, tick.LastPrice);
    EXPECT_LT(tick.BidPrice1, tick.AskPrice1);
    EXPECT_LE(tick.LowerLimitPrice, tick.LastPrice);
    EXPECT_GE(tick.UpperLimitPrice, tick.LastPrice);
    EXPECT_EQ(std::strlen(tick.UpdateTime), 8u);
    if (code == "rb2106") {
      EXPECT_GT(tick.Volume, volume_rb);
      volume_rb = tick.Volume;
    }
  }
  EXPECT_FALSE(spi.wrong_thread());
}

TEST_F(MdApiTest, RefusedLoginCarriesErrorThreeInGbk) {
  struct Case {
    bool refuse_all;
    const char* password;
  };
  for (Case c : {Case{false, "wrong"}, Case{true, "secret"}}) {
    request_id_ = 0;
    SimOptions options = Options();
    options.refuse_logins = c.refuse_all;
    RunningSimulator simulator(options);
    RecordingSpi spi;
    ApiPtr api = Start(spi, {simulator.front()}, c.password);
    ASSERT_TRUE(spi.WaitForLine("login 1 3 last")) << c.password;
    EXPECT_EQ(spi.last_error_text(), Utf8ToGbk("CTP:不合法的登录"));
    EXPECT_EQ(GbkToUtf8(spi.last_error_text()), "CTP:不合法的登录");
    EXPECT_STREQ(api->GetTradingDay(), "");
    // The front keeps the connection after a refusal.
    EXPECT_FALSE(spi.WaitForLine("disconnected 4097", 1, std::chrono::milliseconds(200)));
    EXPECT_EQ(simulator->Summary().refused_logins, 1u);
  }
}

TEST_F(MdApiTest, RequestsWithoutConnectionReturnNegative) {
  RecordingSpi spi;
  ApiPtr idle(CThostFtdcMdApi::CreateFtdcMdApi());
  CThostFtdcReqUserLoginField login{};
  EXPECT_LT(idle->ReqUserLogin(&login, 1), 0);
  EXPECT_LT(Subscribe(idle.get(), {"rb2106"}), 0);
  EXPECT_STREQ(idle->GetTradingDay(), "");

  std::string dead = "tcp://127.0.0.1:" + std::to_string(DeadPort());
  ApiPtr api = Start(spi, {dead});
  EXPECT_LT(api->ReqUserLogin(&login, 1), 0);
  EXPECT_LT(api->ReqUserLogin(nullptr, 1), 0);
  EXPECT_LT(api->SubscribeMarketData(nullptr, 1), 0);
  EXPECT_LT(Subscribe(api.get(), {}), 0);
  EXPECT_LT(api->UnSubscribeMarketData(nullptr, 0), 0);
  // With no front answering, every round of attempts ends in a read failure, again and again.
  EXPECT_TRUE(spi.WaitForLine("disconnected 4097", 2));
  for (const std::string& line : spi.lines()) EXPECT_NE(line, "connected");
}

TEST_F(MdApiTest, DroppedConnectionIsReportedAndReconnectedByItself) {
  RunningSimulator simulator(Options());
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  ASSERT_TRUE(spi.WaitForLine("login 1 0 last"));
  simulator->DropConnections();
  ASSERT_TRUE(spi.WaitForLine("disconnected 4097"));
  ASSERT_TRUE(spi.WaitForLine("connected", 2));
  ASSERT_TRUE(spi.WaitForLine("login 2 0 last"));
  std::vector<std::string> lines = spi.lines();
  std::vector<std::string> expected = {"connected", "login 1 0 last", "disconnected 4097", "connected",
                                       "login 2 0 last"};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(simulator->Summary().connections, 2u);
}

TEST_F(MdApiTest, FirstFrontDownSecondServes) {
  RunningSimulator simulator(Options());
  RecordingSpi spi;
  ApiPtr api = Start(spi, {"tcp://127.0.0.1:" + std::to_string(DeadPort()), "not an address", simulator.front()});
  ASSERT_TRUE(spi.WaitForLine("login 1 0 last"));
  EXPECT_EQ(spi.lines().front(), "connected");
}

TEST_F(MdApiTest, LostFrontMovesOnToTheNextFront) {
  SimOptions first_options = Options();
  first_options.drop_after_s = 0.3;
  RunningSimulator first(first_options);
  RunningSimulator second(Options());
  RecordingSpi spi;
  ApiPtr api = Start(spi, {first.front(), second.front()});
  ASSERT_TRUE(spi.WaitForLine("login 2 0 last"));
  EXPECT_EQ(first->Summary().logins, 1u);
  EXPECT_EQ(second->Summary().logins, 1u);
}

TEST_F(MdApiTest, SilentFrontIsDetectedByHeartbeat) {
  RunningSimulator simulator(Options());
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  ASSERT_TRUE(spi.WaitForLine("login 1 0 last"));
  simulator->SetHung(true);
  ASSERT_TRUE(spi.WaitForLine("disconnected " + std::to_string(kHeartbeatTimeout)));
  simulator->SetHung(false);
  ASSERT_TRUE(spi.WaitForLine("login 2 0 last"));
}

TEST_F(MdApiTest, IgnoredHeartbeatsWithoutTicksCountAsSilence) {
  SimOptions options = Options();
  options.ignore_heartbeats = true;
  RunningSimulator simulator(options);
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  ASSERT_TRUE(spi.WaitForLine("disconnected " + std::to_string(kHeartbeatTimeout)));
}

TEST_F(MdApiTest, ResetDuringLoginThenLoginSucceeds) {
  SimOptions options = Options();
  options.reset_logins = 1;
  RunningSimulator simulator(options);
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  ASSERT_TRUE(spi.WaitForLine("login 2 0 last"));
  std::vector<std::string> expected = {"connected", "disconnected 4097", "connected", "login 2 0 last"};
  EXPECT_EQ(spi.lines(), expected);
}

TEST_F(MdApiTest, DropAfterTicksSendsExactlyThatManyFirst) {
  SimOptions options = Options();
  options.drop_after_ticks = 7;
  RunningSimulator simulator(options);
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  CThostFtdcMdApi* raw = api.get();
  spi.on_login = [&](CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*) {
    Subscribe(raw, {"rb2106", "cu2107"});
  };
  ASSERT_TRUE(spi.WaitForLine("disconnected " + std::to_string(kReadFailure)));
  EXPECT_EQ(spi.ticks().size(), 7u);
  EXPECT_EQ(simulator->Summary().ticks_total, 7u);
  // Only one drop: after the reconnection ticks flow again.
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 12; }));
}

TEST_F(MdApiTest, UnsubscribedContractGetsNoMoreTicks) {
  RunningSimulator simulator(Options());
  RecordingSpi spi;
  ApiPtr api = Start(spi, {simulator.front()});
  CThostFtdcMdApi* raw = api.get();
  spi.on_login = [&](CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*) { Subscribe(raw, {"rb2106"}); };
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 3; }));
  std::vector<std::string> codes = {"rb2106"};
  char* pointers[] = {codes[0].data()};
  ASSERT_EQ(api->UnSubscribeMarketData(pointers, 1), 0);
  ASSERT_TRUE(spi.WaitForLine("unsub rb2106 0 last"));
  std::size_t after = spi.ticks().size();
  EXPECT_FALSE(spi.WaitFor([&](const auto&, const auto& ticks) { return ticks.size() > after; },
                           std::chrono::milliseconds(200)));
}

TEST_F(MdApiTest, ReleaseIsSafeFromACallbackAndWhileTicksFlow) {
  RunningSimulator simulator(Options());
  {
    RecordingSpi spi;
    ApiPtr api = Start(spi, {simulator.front()});
    CThostFtdcMdApi* raw = api.get();
    spi.on_login = [&](CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*) { Subscribe(raw, {"rb2106"}); };
    ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return !ticks.empty(); }));
    std::thread joiner([raw] { EXPECT_EQ(raw->Join(), 0); });
    api.reset();  // Release from the test thread while ticks arrive and another thread joins
    joiner.join();
  }
  RecordingSpi spi;
  CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
  api->RegisterSpi(&spi);
  std::string front = simulator.front();
  api->RegisterFront(front.data());
  spi.on_connected = [api] { api->Release(); };
  api->Init();
  ASSERT_TRUE(spi.WaitForLine("connected"));
  EXPECT_FALSE(spi.WaitForLine("disconnected 4097", 1, std::chrono::milliseconds(300)));
}

}  // namespace
