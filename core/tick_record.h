#ifndef QUOTELOOM_CORE_TICK_RECORD_H
#define QUOTELOOM_CORE_TICK_RECORD_H

#include <cstddef>

#include "ThostFtdcUserApiStruct.h"

// One tick as it travels between threads: an image of the vendor's depth-market-data record
// (same fields, order and alignment) followed by Filled. A plain value; any thread may copy it.
struct TickRecord {
  char TradingDay[9];
  char InstrumentID[31];
  char ExchangeID[9];
  char ExchangeInstID[31];
  double LastPrice;
  double PreSettlementPrice;
  double PreClosePrice;
  double PreOpenInterest;
  double OpenPrice;
  double HighestPrice;
  double LowestPrice;
  int Volume;
  double Turnover;
  double OpenInterest;
  double ClosePrice;
  double SettlementPrice;
  double UpperLimitPrice;
  double LowerLimitPrice;
  double PreDelta;
  double CurrDelta;
  char UpdateTime[9];
  int UpdateMillisec;
  double BidPrice1;
  int BidVolume1;
  double AskPrice1;
  int AskVolume1;
  double BidPrice2;
  int BidVolume2;
  double AskPrice2;
  int AskVolume2;
  double BidPrice3;
  int BidVolume3;
  double AskPrice3;
  int AskVolume3;
  double BidPrice4;
  int BidVolume4;
  double AskPrice4;
  int AskVolume4;
  double BidPrice5;
  int BidVolume5;
  double AskPrice5;
  int AskVolume5;
  double AveragePrice;
  char ActionDay[9];
  // Starts at the end of the image (its size rounded to 8), as if the image were a member.
  alignas(8) int Filled;
};

// Prices above this mark the vendor's "not set" and become -1 in the four sanitised fields.
inline constexpr double kUnsetPriceBound = 1.79e300;

// Replaces ClosePrice, OpenPrice, HighestPrice and LowestPrice above 1.79e300 by -1.0, in that order.
void SanitiseDepthPrices(CThostFtdcDepthMarketDataField* data);

// Sanitises `data` in place, then fills `out` (cleared to zero first) from it with Filled = 1.
// ExchangeID and ExchangeInstID repeat InstrumentID, cut to their widths.
void BuildTickRecord(CThostFtdcDepthMarketDataField* data, TickRecord* out);

// Clears `record` to all zero bytes, the state a consumer checks Filled against.
void ClearTickRecord(TickRecord* record);

static_assert(sizeof(TickRecord) == 416);
static_assert(offsetof(TickRecord, LastPrice) == 80);
static_assert(offsetof(TickRecord, Volume) == 136);
static_assert(offsetof(TickRecord, Turnover) == 144);
static_assert(offsetof(TickRecord, UpdateTime) == 208);
static_assert(offsetof(TickRecord, UpdateMillisec) == 220);
static_assert(offsetof(TickRecord, BidPrice1) == 224);
static_assert(offsetof(TickRecord, AskVolume5) == 376);
static_assert(offsetof(TickRecord, AveragePrice) == 384);
static_assert(offsetof(TickRecord, ActionDay) == 392);
static_assert(offsetof(TickRecord, Filled) == 408);

#endif
