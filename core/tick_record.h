#ifndef QUOTELOOM_CORE_TICK_RECORD_H
#define QUOTELOOM_CORE_TICK_RECORD_H

#include <cstddef>
#include <cstring>

// One tick as it travels between threads: the classic layout of the vendor's depth-market-data
// record (6.3.x: same fields, order and alignment) followed by Filled, whatever SDK the collector is
// built with. The writer queue carries it and the stored lines come from it. A plain value; any
// thread may copy it.
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
  // When the tick reached the collector, in the record's last four bytes so the queue element keeps
  // its size: the low 32 bits of its Unix time in milliseconds, 0 when not known. Read it with
  // TickArrivalNs.
  unsigned int ArrivalMs;
};

// Stamps `record` with the Unix time (nanoseconds; 0: not known) at which its tick arrived.
void SetTickArrival(TickRecord* record, long long unixNanoseconds);
// The arrival stamped on `record` as Unix time in nanoseconds (millisecond resolution), given a
// reading taken after it (the writer's, within 24 days of it); 0 when none was stamped.
long long TickArrivalNs(const TickRecord& record, long long laterUnixNanoseconds);

// Prices above this mark the vendor's "not set" and become -1 in the four sanitised fields.
inline constexpr double kUnsetPriceBound = 1.79e300;

// Clears `record` to all zero bytes, the state a consumer checks Filled against.
void ClearTickRecord(TickRecord* record);

namespace tick_record_detail {

inline void SanitisePrice(double* price) {
  if (*price > kUnsetPriceBound) *price = -1.0;
}

// Bounded copy that always terminates and also stops at the source's width, since vendor text
// need not be terminated.
template <std::size_t D, std::size_t S>
void CopyText(char (&dst)[D], const char (&src)[S]) {
  const std::size_t n = strnlen(src, S < D ? S : D - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace tick_record_detail

// Replaces ClosePrice, OpenPrice, HighestPrice and LowestPrice above 1.79e300 by -1.0, in that order.
template <typename Depth>
void SanitiseDepthPrices(Depth* data) {
  tick_record_detail::SanitisePrice(&data->ClosePrice);
  tick_record_detail::SanitisePrice(&data->OpenPrice);
  tick_record_detail::SanitisePrice(&data->HighestPrice);
  tick_record_detail::SanitisePrice(&data->LowestPrice);
}

// Sanitises `data` (a CThostFtdcDepthMarketDataField of any vendor release) in place, then fills
// `out` (cleared to zero first) from it by field name, with Filled = 1. The code comes from the
// release's InstrumentID (the wide one from 6.5.1 on); ExchangeID and ExchangeInstID repeat it, cut
// to their widths. A code longer than 30 characters would be cut: the intake refuses such ticks first.
template <typename Depth>
void BuildTickRecord(Depth* data, TickRecord* out) {
  using tick_record_detail::CopyText;
  SanitiseDepthPrices(data);
  ClearTickRecord(out);

  CopyText(out->TradingDay, data->TradingDay);
  CopyText(out->InstrumentID, data->InstrumentID);
  CopyText(out->ExchangeID, data->InstrumentID);
  CopyText(out->ExchangeInstID, data->InstrumentID);
  CopyText(out->UpdateTime, data->UpdateTime);
  CopyText(out->ActionDay, data->ActionDay);

  out->LastPrice = data->LastPrice;
  out->PreSettlementPrice = data->PreSettlementPrice;
  out->PreClosePrice = data->PreClosePrice;
  out->PreOpenInterest = data->PreOpenInterest;
  out->OpenPrice = data->OpenPrice;
  out->HighestPrice = data->HighestPrice;
  out->LowestPrice = data->LowestPrice;
  out->Volume = data->Volume;
  out->Turnover = data->Turnover;
  out->OpenInterest = data->OpenInterest;
  out->ClosePrice = data->ClosePrice;
  out->SettlementPrice = data->SettlementPrice;
  out->UpperLimitPrice = data->UpperLimitPrice;
  out->LowerLimitPrice = data->LowerLimitPrice;
  out->PreDelta = data->PreDelta;
  out->CurrDelta = data->CurrDelta;
  out->UpdateMillisec = data->UpdateMillisec;
  out->BidPrice1 = data->BidPrice1;
  out->BidVolume1 = data->BidVolume1;
  out->AskPrice1 = data->AskPrice1;
  out->AskVolume1 = data->AskVolume1;
  out->BidPrice2 = data->BidPrice2;
  out->BidVolume2 = data->BidVolume2;
  out->AskPrice2 = data->AskPrice2;
  out->AskVolume2 = data->AskVolume2;
  out->BidPrice3 = data->BidPrice3;
  out->BidVolume3 = data->BidVolume3;
  out->AskPrice3 = data->AskPrice3;
  out->AskVolume3 = data->AskVolume3;
  out->BidPrice4 = data->BidPrice4;
  out->BidVolume4 = data->BidVolume4;
  out->AskPrice4 = data->AskPrice4;
  out->AskVolume4 = data->AskVolume4;
  out->BidPrice5 = data->BidPrice5;
  out->BidVolume5 = data->BidVolume5;
  out->AskPrice5 = data->AskPrice5;
  out->AskVolume5 = data->AskVolume5;
  out->AveragePrice = data->AveragePrice;
  out->Filled = 1;
}

// The classic layout, which the stored lines and the queue element size rely on.
static_assert(sizeof(TickRecord) == 416);
static_assert(offsetof(TickRecord, InstrumentID) == 9);
static_assert(offsetof(TickRecord, ExchangeID) == 40);
static_assert(offsetof(TickRecord, ExchangeInstID) == 49);
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
static_assert(offsetof(TickRecord, ArrivalMs) == 412);

#endif
