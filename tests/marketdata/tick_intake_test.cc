#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "marketdata/md_spi.h"
#include "queue/ring_queue_api_inter.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_md_api.h"
#include "tests/support/log_watch.h"
#include "tests/support/tick_fixtures.h"

namespace {

using Lines = std::vector<std::string>;

// The log channel as the intake sees it: the codes of the ticks reported, in order.
class RecordingTickLog : public TickLogChannel {
 public:
  void OnTickAccepted(const TickRecord& record) override { codes.emplace_back(record.InstrumentID); }
  std::vector<std::string> codes;
};

class TickIntakeTest : public ::testing::Test {
 protected:
  TickIntakeTest()
      : queue_(static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi())),
        spi_(&api_, account_, windows_, *queue_, relay_, clock_, tickLog_) {
    queue_->InitQueue(256);
    windows_.Set(0.03, 0.084, 0, 0);  // setting.ini with 300 and 840 in window 1, window 2 missing
    clock_.Set(FakeClock::At(2024, 3, 1, 6, 10, 0, 0));
    LogIn();
  }

  // A successful login for trading day 20240301: the universe from sc2403 to TS2603 is subscribed.
  void LogIn() {
    api_.tradingDay = "20240301";
    CThostFtdcRspUserLoginField answer{};
    spi_.OnRspUserLogin(&answer, nullptr, 1, true);
  }

  void Tick(const char* contract = "rb2405") {
    CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
    std::snprintf(d.InstrumentID, sizeof(d.InstrumentID), "%s", contract);
    spi_.OnRtnDepthMarketData(&d);
  }
  std::vector<TickRecord> Drain() {
    std::vector<TickRecord> out;
    for (;;) {
      TickRecord r;
      ClearTickRecord(&r);
      queue_->Pop(&r);
      if (r.Filled != 1) return out;
      out.push_back(r);
    }
  }

  std::unique_ptr<CTRingQueueApi_inter> queue_;
  FakeMdApi api_;
  AccountSettings account_;
  StopSaveWindows windows_;
  LiveTickRelay relay_;
  FakeClock clock_;
  RecordingTickLog tickLog_;
  CMdSpi spi_;
};

TEST_F(TickIntakeTest, AnAcceptedTickIsSanitisedAndQueued) {
  CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
  d.ClosePrice = 1.7976931348623157e308;
  d.SettlementPrice = 1.7976931348623157e308;
  spi_.OnRtnDepthMarketData(&d);
  spi_.OnRtnDepthMarketData(nullptr);

  const auto records = Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].InstrumentID, "rb2405");
  EXPECT_STREQ(records[0].ExchangeID, "rb2405");
  EXPECT_EQ(records[0].ClosePrice, -1.0);
  EXPECT_EQ(records[0].SettlementPrice, 1.7976931348623157e308);
  EXPECT_EQ(records[0].Filled, 1);
  EXPECT_EQ(spi_.ticksAccepted(), 1u);
}

TEST_F(TickIntakeTest, StopSaveWindowBoundsAreStrictAndUseTheMultipliedClock) {
  struct Case {
    int hour, minute;
    double begin1, end1, begin2, end2;
    bool accepted;
  };
  const Case cases[] = {
      {3, 0, 0.03, 0.084, 0, 0, false},  // 300 * 0.0001 lies just above 0.03
      {8, 40, 0.03, 0.084, 0, 0, true},  // 840 * 0.0001 equals 0.084
      {2, 59, 0.03, 0.084, 0, 0, true},
      {5, 0, 0.03, 0.084, 0, 0, false},
      {16, 0, 0.03, 0.084, 0.153, 0.204, false},
      {20, 40, 0.03, 0.084, 0.153, 0.204, true},
      {23, 30, 0.23, 0.02, 0, 0, true},  // a window across midnight never applies
      {1, 0, 0.23, 0.02, 0, 0, true},
      {0, 0, 0, 0, 0, 0, true},  // missing keys: both windows empty
  };
  for (const auto& c : cases) {
    windows_.Set(c.begin1, c.end1, c.begin2, c.end2);
    clock_.SetTime(c.hour, c.minute);
    const auto before = spi_.ticksAccepted();
    Tick();
    EXPECT_EQ(spi_.ticksAccepted() - before, c.accepted ? 1u : 0u) << c.hour << ":" << c.minute;
    EXPECT_EQ(Drain().size(), c.accepted ? 1u : 0u) << c.hour << ":" << c.minute;
  }
}

TEST_F(TickIntakeTest, TheNoticeIsWrittenOncePerStayInAWindow) {
  LogWatch log;
  clock_.SetTime(3, 30);
  for (int i = 0; i < 10; ++i) Tick();
  const Lines notice = {"当前时间0.0330 在禁止时间段[0.0300]~[0.0840] [0.0000]~[0.0000]内"};
  EXPECT_EQ(log.NewLines(LogTab::MarketData), notice);

  clock_.SetTime(9, 0);
  Tick();
  clock_.SetTime(3, 30);
  Tick();
  Tick();
  EXPECT_EQ(log.NewLines(LogTab::MarketData), (Lines{notice[0], notice[0]}));
  EXPECT_EQ(spi_.ticksAccepted(), 1u);
}

TEST_F(TickIntakeTest, EveryQueuedTickAndNoOtherReachesTheTickLogInOrder) {
  LogWatch log;
  clock_.SetTime(4, 0);
  for (int i = 0; i < 5; ++i) Tick();  // dropped in a stop-save window: only the notice is written
  clock_.SetTime(10, 0);
  Tick("IF2406");
  Tick("zz9999");  // never subscribed: refused
  Tick("rb2405");
  spi_.StopIntake();
  Tick("IF2406");  // after the stop: dropped

  EXPECT_EQ(tickLog_.codes, (Lines{"IF2406", "rb2405"}));
  EXPECT_EQ(Drain().size(), 2u);
  // The intake itself writes no tick line: what the tab shows of ticks is the channel's business.
  EXPECT_EQ(log.NewLines(LogTab::MarketData).size(), 1u);
}

TEST_F(TickIntakeTest, OnlyTheSelectedContractIsForwardedWhileAReplayIsActive) {
  relay_.Select("IF2406");
  relay_.EndForwarding();
  Tick("IF2406");
  EXPECT_EQ(relay_.BufferSize(), 0u);

  relay_.Select("IF2406");
  Tick("IF2407");
  Tick("if2406");  // never subscribed: refused, neither queued nor forwarded
  Tick("IF2406");
  Tick("IF2406");
  EXPECT_EQ(relay_.BufferSize(), 2u);
  relay_.Select("IF2406");  // a new request: the next IF2406 tick starts a fresh buffer
  Tick("IF2406");
  EXPECT_EQ(relay_.BufferSize(), 1u);
  TickRecord taken;
  ASSERT_TRUE(relay_.Take(&taken));
  EXPECT_STREQ(taken.InstrumentID, "IF2406");
  EXPECT_EQ(Drain().size(), 5u);  // every accepted tick went to the writer queue
  EXPECT_EQ(spi_.ticksRefused(), 1u);
}

// What a hostile or broken front may send: nothing of it reaches the queue, each tick is counted,
// and each contract code is logged once.
TEST_F(TickIntakeTest, TicksThatWouldEscapeTheFolderOrBreakALineAreRefusedCountedAndLoggedOnce) {
  struct Case {
    std::string code;
    void (*spoil)(CThostFtdcDepthMarketDataField*);
    std::string logged;  // the log line of the first such tick
  };
  const auto none = [](CThostFtdcDepthMarketDataField*) {};
  // The 34-character combination as the release's code field holds it: whole from 6.5.1 on, else
  // filling the 31 bytes without a terminator.
  const std::string longCode = "IF2406&IF2409&IF2412&IF2503&IF2506";
  const std::string heldLong = longCode.substr(0, sizeof(CThostFtdcDepthMarketDataField::InstrumentID));
  const Case cases[] = {
      {"../../../escaped", none, "拒收行情[../../../escaped]：合约代码含有字母、数字、空格、&、-以外的字符"},
      {"rb2405,x", none, "拒收行情[rb2405,x]：合约代码含有字母、数字、空格、&、-以外的字符"},
      {"rb2405\r\nrb2406", none, "拒收行情[rb2405\\x0D\\x0Arb2406]：合约代码含有字母、数字、空格、&、-以外的字符"},
      {"", none, "拒收行情[]：合约代码为空"},
      {longCode, none, "拒收行情[" + heldLong + "]：合约代码超过30个字符"},
      {"zz9999", none, "拒收行情[zz9999]：未订阅的合约"},
      {"rb2406", [](CThostFtdcDepthMarketDataField* d) { std::snprintf(d->UpdateTime, 9, "10:00,00"); },
       "拒收行情[rb2406]：日期或时间含有逗号或控制字符"},
      {"rb2407", [](CThostFtdcDepthMarketDataField* d) { d->ActionDay[4] = '\n'; },
       "拒收行情[rb2407]：日期或时间含有逗号或控制字符"},
      {"rb2408", [](CThostFtdcDepthMarketDataField* d) { d->TradingDay[0] = '\x01'; },
       "拒收行情[rb2408]：日期或时间含有逗号或控制字符"},
  };
  LogWatch all;
  std::uint64_t sent = 0;
  for (const Case& c : cases) {
    LogWatch log;
    for (int i = 0; i < 3; ++i) {
      CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
      std::memset(d.InstrumentID, 0, sizeof(d.InstrumentID));
      std::memcpy(d.InstrumentID, c.code.data(), std::min(c.code.size(), sizeof(d.InstrumentID)));
      c.spoil(&d);
      spi_.OnRtnDepthMarketData(&d);
      ++sent;
    }
    EXPECT_EQ(log.NewLines(LogTab::CtpLog), Lines{c.logged}) << c.logged;
  }
  EXPECT_EQ(spi_.ticksRefused(), sent);
  EXPECT_EQ(spi_.ticksAccepted(), 0u);
  EXPECT_TRUE(Drain().empty());
  EXPECT_TRUE(all.NewLines(LogTab::MarketData).empty());

  // Odd but harmless values are not judged.
  CThostFtdcDepthMarketDataField odd = ExampleRb2405Depth();
  std::snprintf(odd.UpdateTime, sizeof(odd.UpdateTime), "99:99:99");
  odd.LastPrice = -5;
  spi_.OnRtnDepthMarketData(&odd);
  const auto records = Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].UpdateTime, "99:99:99");
}

// The wide code field of 6.5.1 and later carries up to 80 characters, the classic one 31 without a
// terminator; the record holds 30. A longer code is refused rather than cut.
TEST_F(TickIntakeTest, ACodeLongerThanTheRecordHoldsIsRefusedNotCut) {
  CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
  std::memset(d.InstrumentID, 'A', sizeof(d.InstrumentID));  // filled to the last byte, unterminated
  spi_.OnRtnDepthMarketData(&d);
  if constexpr (sizeof(d.InstrumentID) > 32) {
    d.InstrumentID[31] = '\0';  // 31 characters
    spi_.OnRtnDepthMarketData(&d);
  } else {
    spi_.OnRtnDepthMarketData(&d);
  }
  EXPECT_EQ(spi_.ticksRefused(), 2u);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(TickIntakeTest, TicksBeforeALoginOrAfterTheConnectionWasLostAreRefused) {
  CMdSpi fresh(&api_, account_, windows_, *queue_, relay_, clock_, tickLog_);
  CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
  fresh.OnRtnDepthMarketData(&d);
  EXPECT_EQ(fresh.ticksRefused(), 1u);

  CThostFtdcRspUserLoginField answer{};
  fresh.OnRspUserLogin(&answer, nullptr, 1, true);
  fresh.OnRtnDepthMarketData(&d);
  EXPECT_EQ(fresh.ticksAccepted(), 1u);

  fresh.OnFrontDisconnected(0x1001);
  fresh.OnRtnDepthMarketData(&d);
  fresh.OnFrontConnected();
  fresh.OnRtnDepthMarketData(&d);
  EXPECT_EQ(fresh.ticksRefused(), 3u);
  fresh.OnRspUserLogin(&answer, nullptr, 2, true);
  fresh.OnRtnDepthMarketData(&d);
  EXPECT_EQ(fresh.ticksAccepted(), 2u);
  EXPECT_EQ(Drain().size(), 2u);
}

TEST_F(TickIntakeTest, NothingIsQueuedOnceTheIntakeIsStopped) {
  Tick();
  spi_.StopIntake();
  Tick();
  EXPECT_EQ(spi_.ticksAccepted(), 1u);
  EXPECT_EQ(Drain().size(), 1u);
}

}  // namespace
