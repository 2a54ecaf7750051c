#include "marketdata/md_spi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/gbk.h"
#include "core/sampled_tick_log.h"
#include "queue/ring_queue_api_inter.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_md_api.h"
#include "tests/support/log_watch.h"

namespace {

using Lines = std::vector<std::string>;

CThostFtdcRspInfoField RspInfo(int id, const std::string& utf8Message) {
  CThostFtdcRspInfoField info;
  std::memset(&info, 0, sizeof(info));
  info.ErrorID = id;
  std::snprintf(info.ErrorMsg, sizeof(info.ErrorMsg), "%s", Utf8ToGbk(utf8Message).c_str());
  return info;
}

class MdSpiTest : public ::testing::Test {
 protected:
  MdSpiTest() : queue_(static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi())) {
    queue_->InitQueue(16);
    std::snprintf(account_.BrokerID, sizeof(account_.BrokerID), "9999");
    std::snprintf(account_.UserID, sizeof(account_.UserID), "000001");
    std::snprintf(account_.Password, sizeof(account_.Password), "secret");
  }

  CMdSpi MakeSpi(CThostFtdcMdApi* api) { return CMdSpi(api, account_, windows_, *queue_, relay_, clock_, tickLog_); }

  std::unique_ptr<CTRingQueueApi_inter> queue_;
  AccountSettings account_;
  StopSaveWindows windows_;
  LiveTickRelay relay_;
  FakeClock clock_;
  SampledTickLog tickLog_;
  FakeMdApi api_;
  LogWatch log_;
  CThostFtdcRspUserLoginField answer_{};
};

TEST_F(MdSpiTest, EachConnectionLogsAndSendsALoginWithTheNextRequestId) {
  CMdSpi spi = MakeSpi(&api_);
  spi.OnFrontConnected();
  spi.OnFrontConnected();

  ASSERT_EQ(api_.logins.size(), 2u);
  EXPECT_EQ(api_.logins[0].requestId, 1);
  EXPECT_EQ(api_.logins[1].requestId, 2);
  EXPECT_EQ(api_.logins[0].broker, "9999");
  EXPECT_EQ(api_.logins[0].user, "000001");
  EXPECT_EQ(api_.logins[0].password, "secret");
  EXPECT_EQ(log_.NewLines(LogTab::NetworkLog), (Lines{"行情连接成功", "行情连接成功"}));
  EXPECT_EQ(log_.NewLines(LogTab::CtpLog),
            (Lines{"行情连接成功", "发送行情用户登录请求", "行情连接成功", "发送行情用户登录请求"}));
}

TEST_F(MdSpiTest, WithoutAnApiNothingIsRequested) {
  CMdSpi spi = MakeSpi(nullptr);
  spi.OnFrontConnected();
  spi.OnRspUserLogin(&answer_, nullptr, 1, true);
  EXPECT_EQ(log_.NewLines(LogTab::CtpLog), (Lines{"行情连接成功"}));
  EXPECT_TRUE(log_.NewLines(LogTab::Subscriptions).empty());
}

TEST_F(MdSpiTest, DisconnectionIsLoggedInBothPanesWithTheReason) {
  CMdSpi spi = MakeSpi(&api_);
  spi.OnFrontDisconnected(8);
  EXPECT_EQ(log_.NewLines(LogTab::NetworkLog), (Lines{"行情连接断开[8]"}));
  EXPECT_EQ(log_.NewLines(LogTab::CtpLog), (Lines{"行情连接断开[8]"}));
}

TEST_F(MdSpiTest, TheFrontStateFollowsConnectionLoginAndCloseWithTheClockOfEachChange) {
  CMdSpi spi = MakeSpi(&api_);
  EXPECT_EQ(spi.frontStatus().state, CMdSpi::FrontState::kConnecting);
  EXPECT_EQ(spi.frontStatus().sinceHhmmss, -1);
  clock_.SetTime(20, 59, 1);
  spi.OnFrontConnected();
  EXPECT_EQ(spi.frontStatus().state, CMdSpi::FrontState::kConnected);
  EXPECT_EQ(spi.frontStatus().sinceHhmmss, 205901);
  CThostFtdcRspInfoField refused = RspInfo(3, "不合法的登录");
  spi.OnRspUserLogin(&answer_, &refused, 1, true);
  EXPECT_EQ(spi.frontStatus().state, CMdSpi::FrontState::kConnected) << "a refused login is no login";
  clock_.SetTime(20, 59, 2);
  CThostFtdcRspInfoField ok = RspInfo(0, "");
  spi.OnRspUserLogin(&answer_, &ok, 2, true);
  EXPECT_EQ(spi.frontStatus().state, CMdSpi::FrontState::kLoggedIn);
  EXPECT_EQ(spi.frontStatus().sinceHhmmss, 205902);
  clock_.SetTime(0, 5, 0);
  spi.OnFrontDisconnected(0x1001);
  EXPECT_EQ(spi.frontStatus().state, CMdSpi::FrontState::kClosed);
  EXPECT_EQ(spi.frontStatus().sinceHhmmss, 500);
  EXPECT_EQ(spi.lastTickSteadyNs(), 0) << "no tick taken";
}

TEST_F(MdSpiTest, ASuccessfulLoginSubscribesTheWholeUniverseOneCodeAtATime) {
  CMdSpi spi = MakeSpi(&api_);
  CThostFtdcRspInfoField ok = RspInfo(0, "");
  spi.OnRspUserLogin(&answer_, &ok, 1, true);

  EXPECT_EQ(log_.NewLines(LogTab::CtpLog), (Lines{"行情登录成功[20210603]"}));
  EXPECT_EQ(spi.tradingDay(), 20210603);
  ASSERT_EQ(api_.subscribed.size(), 1475u);
  EXPECT_EQ(api_.counts, std::vector<int>(1475, 1));
  const Lines lines = log_.NewLines(LogTab::Subscriptions);
  ASSERT_EQ(lines.size(), 1475u);
  for (int i = 0; i < 1475; ++i) {
    ASSERT_EQ(api_.subscribed[i], spi.universe().code(i));
    ASSERT_EQ(lines[i], "[" + std::to_string(i) + "]合约名：[" + api_.subscribed[i] + "]");
  }
  EXPECT_EQ(lines.front(), "[0]合约名：[sc2106]");
  EXPECT_EQ(lines.back(), "[1474]合约名：[TS2306]");
}

TEST_F(MdSpiTest, LoginAnswersThatSubscribeNothing) {
  struct Case {
    const char* what;
    bool withInfo;
    int errorId;
    bool last;
    bool nullAnswer;
    Lines ctpLines;
  };
  const Case cases[] = {
      {"refused", true, 3, true, false, {"行情登录错误[3][CTP:不合法的登录]"}},
      {"refused, not last", true, 3, false, false, {"行情登录错误[3][CTP:不合法的登录]"}},
      {"not the last answer", false, 0, false, false, {}},
      {"no answer record", false, 0, true, true, {}},
  };
  for (const auto& c : cases) {
    FakeMdApi api;
    LogWatch log;
    CMdSpi spi = MakeSpi(&api);
    CThostFtdcRspInfoField info = RspInfo(c.errorId, "CTP:不合法的登录");
    spi.OnRspUserLogin(c.nullAnswer ? nullptr : &answer_, c.withInfo ? &info : nullptr, 1, c.last);
    EXPECT_EQ(log.NewLines(LogTab::CtpLog), c.ctpLines) << c.what;
    EXPECT_TRUE(api.subscribed.empty()) << c.what;
    EXPECT_TRUE(log.NewLines(LogTab::Subscriptions).empty()) << c.what;
    EXPECT_EQ(spi.tradingDay(), 0) << c.what;
  }
}

TEST_F(MdSpiTest, ASecondLoginSubscribesAgainForItsTradingDay) {
  CMdSpi spi = MakeSpi(&api_);
  spi.OnRspUserLogin(&answer_, nullptr, 1, true);
  api_.tradingDay = "20211231";
  spi.OnRspUserLogin(&answer_, nullptr, 2, true);
  ASSERT_EQ(api_.subscribed.size(), 2 * 1475u);
  EXPECT_EQ(api_.subscribed[1475], "sc2112");
  EXPECT_EQ(log_.NewLines(LogTab::Subscriptions).size(), 2 * 1475u);
}

TEST_F(MdSpiTest, SubscriptionAnswersSayWhetherTheyFailed) {
  CMdSpi spi = MakeSpi(&api_);
  CThostFtdcSpecificInstrumentField contract{};
  std::snprintf(contract.InstrumentID, sizeof(contract.InstrumentID), "rb2405");
  CThostFtdcRspInfoField ok = RspInfo(0, "");
  CThostFtdcRspInfoField bad = RspInfo(16, "CTP:找不到合约");

  spi.OnRspSubMarketData(&contract, nullptr, 1, true);
  spi.OnRspSubMarketData(&contract, &ok, 1, true);
  spi.OnRspSubMarketData(&contract, &bad, 1, true);
  spi.OnRspSubMarketData(nullptr, &ok, 1, true);
  spi.OnRspUnSubMarketData(&contract, nullptr, 1, true);
  spi.OnRspUnSubMarketData(nullptr, nullptr, 1, true);
  spi.OnRspError(&bad, 1, true);

  EXPECT_EQ(log_.NewLines(LogTab::CtpLog),
            (Lines{"订阅行情成功[rb2405]", "订阅行情成功[rb2405]", "订阅行情失败[rb2405][16][CTP:找不到合约]",
                   "反订阅行情成功[rb2405]"}));
}

}  // namespace
