#include "marketdata/tick_screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/log_sink.h"
#include "tests/support/tick_fixtures.h"

namespace {

using Verdict = TickScreen::Verdict;

// The code as a front of the release would put it: terminated when it fits, else filling the field.
void SetCode(CThostFtdcDepthMarketDataField* d, const std::string& code) {
  std::memset(d->InstrumentID, 0, sizeof(d->InstrumentID));
  std::memcpy(d->InstrumentID, code.data(), std::min(code.size(), sizeof(d->InstrumentID)));
}

struct CodeCase {
  std::string code;
  Verdict verdict;
};

TEST(TickScreenTest, TheCodeMustBeWholeSubscribedAndMadeOfExchangeCharacters) {
  TickScreen screen;
  screen.LoggedIn();
  for (const char* code : {"rb2405", "SR405C6000", "m2405-C-3000", "SP a2405&a2409", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"}) {
    screen.Subscribed(code);
  }
  const CodeCase cases[] = {
      {"rb2405", Verdict::kAccept},
      {"SR405C6000", Verdict::kAccept},
      {"m2405-C-3000", Verdict::kAccept},  // option series
      {"SP a2405&a2409", Verdict::kAccept},  // combination
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", Verdict::kAccept},  // 30 characters, what the record holds
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", Verdict::kCodeTooLong},
      {"", Verdict::kEmptyCode},
      {"../../../escaped", Verdict::kCodeCharacters},
      {"/etc/passwd", Verdict::kCodeCharacters},
      {"rb2405\\x", Verdict::kCodeCharacters},
      {"rb2405,x", Verdict::kCodeCharacters},
      {"rb2405\r\n", Verdict::kCodeCharacters},
      {"rb2405\t", Verdict::kCodeCharacters},
      {"\xC2\xDD\xCE\xC6" "2405", Verdict::kCodeCharacters},  // GBK
      {"RB2405", Verdict::kNotSubscribed},
      {"rb2406", Verdict::kNotSubscribed},
  };
  for (const CodeCase& c : cases) {
    CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
    SetCode(&d, c.code);
    EXPECT_EQ(screen.Check(d), c.verdict) << c.code;
  }
}

TEST(TickScreenTest, DaysAndUpdateTimeMustNotBreakTheLineButOddValuesPass) {
  TickScreen screen;
  screen.LoggedIn();
  screen.Subscribed("rb2405");
  const struct {
    const char* tradingDay;
    const char* actionDay;
    const char* updateTime;
    Verdict verdict;
  } cases[] = {
      {"20240301", "20240301", "99:99:99", Verdict::kAccept},
      {"", "", "", Verdict::kAccept},
      {"2024,301", "20240301", "09:00:00", Verdict::kTextField},
      {"20240301", "2024\r301", "09:00:00", Verdict::kTextField},
      {"20240301", "20240301", "09:00\x7F", Verdict::kTextField},
      {"20240301", "20240301", "09,00,00", Verdict::kTextField},
  };
  for (const auto& c : cases) {
    CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
    std::snprintf(d.TradingDay, sizeof(d.TradingDay), "%s", c.tradingDay);
    std::snprintf(d.ActionDay, sizeof(d.ActionDay), "%s", c.actionDay);
    std::snprintf(d.UpdateTime, sizeof(d.UpdateTime), "%s", c.updateTime);
    EXPECT_EQ(screen.Check(d), c.verdict) << c.tradingDay << " " << c.actionDay << " " << c.updateTime;
  }
}

TEST(TickScreenTest, NothingIsTakenOutsideALoggedInSession) {
  TickScreen screen;
  CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
  EXPECT_EQ(screen.Check(d), Verdict::kNotLoggedIn);
  screen.LoggedIn();
  screen.Subscribed("rb2405");
  EXPECT_EQ(screen.Check(d), Verdict::kAccept);
  screen.LoggedOut();
  EXPECT_EQ(screen.Check(d), Verdict::kNotLoggedIn);
  screen.LoggedIn();  // a new login subscribes afresh
  EXPECT_EQ(screen.Check(d), Verdict::kNotSubscribed);
}

TEST(TickScreenTest, RefusalsAreLoggedOncePerCodeAndLoggingIsBounded) {
  TickScreen screen;
  const std::size_t before = TheLogSink().LineCount(LogTab::CtpLog);
  CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
  for (std::size_t i = 0; i < TickScreen::kMaxLoggedCodes + 50; ++i) {
    std::snprintf(d.InstrumentID, sizeof(d.InstrumentID), "x%zu", i);
    screen.Refuse(d, Verdict::kNotSubscribed);
    screen.Refuse(d, Verdict::kNotSubscribed);
  }
  EXPECT_EQ(screen.refused(), 2 * (TickScreen::kMaxLoggedCodes + 50));
  EXPECT_EQ(TheLogSink().LineCount(LogTab::CtpLog) - before, TickScreen::kMaxLoggedCodes + 1);
}

}  // namespace
