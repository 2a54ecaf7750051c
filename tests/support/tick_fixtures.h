#ifndef QUOTELOOM_TESTS_SUPPORT_TICK_FIXTURES_H
#define QUOTELOOM_TESTS_SUPPORT_TICK_FIXTURES_H

#include <cstdio>
#include <cstring>

#include "ThostFtdcUserApiStruct.h"
#include "core/tick_record.h"

// The depth-market-data record of rb2405 used as the example line of the stored files.
inline CThostFtdcDepthMarketDataField ExampleRb2405Depth() {
  CThostFtdcDepthMarketDataField d;
  std::memset(&d, 0, sizeof(d));
  std::snprintf(d.TradingDay, sizeof(d.TradingDay), "20240301");
  std::snprintf(d.ActionDay, sizeof(d.ActionDay), "20240301");
  std::snprintf(d.InstrumentID, sizeof(d.InstrumentID), "rb2405");
  std::snprintf(d.UpdateTime, sizeof(d.UpdateTime), "09:05:07");
  d.UpdateMillisec = 500;
  d.LastPrice = 3725;
  d.Volume = 123456;
  d.HighestPrice = 3750;
  d.LowestPrice = 3700;
  d.OpenPrice = 3710;
  d.ClosePrice = -1;
  d.AveragePrice = 37251.2345;
  d.AskPrice1 = 3726;
  d.AskVolume1 = 15;
  d.BidPrice1 = 3725;
  d.BidVolume1 = 30;
  d.UpperLimitPrice = 3950;
  d.LowerLimitPrice = 3500;
  d.OpenInterest = 1654321;
  d.Turnover = 4598765432;
  d.PreClosePrice = 3720;
  d.PreOpenInterest = 1650000;
  d.PreSettlementPrice = 3722;
  return d;
}

inline TickRecord ExampleRb2405Record() {
  CThostFtdcDepthMarketDataField d = ExampleRb2405Depth();
  TickRecord r;
  BuildTickRecord(&d, &r);
  return r;
}

#endif
