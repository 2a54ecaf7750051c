#include "core/sampled_tick_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TickRecord Tick(const char* code, double last) {
  TickRecord record;
  ClearTickRecord(&record);
  std::snprintf(record.InstrumentID, sizeof(record.InstrumentID), "%s", code);
  record.LastPrice = last;
  record.HighestPrice = 3750;
  record.LowestPrice = -1.0;  // a sanitised price prints as it is stored
  return record;
}

TEST(SampledTickLogTest, EveryTwelfthTickOfAnyContractWritesOneSampleLine) {
  LogSink sink;
  SampledTickLog log(sink);
  for (int i = 1; i <= 11; ++i) log.OnTickAccepted(Tick(i % 2 ? "rb2405" : "IF2406", i));
  EXPECT_EQ(sink.LineCount(LogTab::MarketData), 0u);
  log.OnTickAccepted(Tick("rb2405", 3725.004));
  EXPECT_EQ(sink.Lines(LogTab::MarketData), std::vector<std::string>{"rb2405[3725.00][3750.00][-1.00]"});
  for (int i = 13; i <= 35; ++i) log.OnTickAccepted(Tick("IF2406", i));
  EXPECT_EQ(sink.LineCount(LogTab::MarketData), 2u);
  log.OnTickAccepted(Tick("IF2406", 36));
  ASSERT_EQ(sink.LineCount(LogTab::MarketData), 3u);
  EXPECT_EQ(sink.Lines(LogTab::MarketData).back(), "IF2406[36.00][3750.00][-1.00]");
  for (LogTab other : {LogTab::ClientConnections, LogTab::Subscriptions, LogTab::NetworkLog, LogTab::CtpLog}) {
    EXPECT_EQ(sink.LineCount(other), 0u);
  }
}

}  // namespace
