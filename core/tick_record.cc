#include "core/tick_record.h"

#include <cstring>

// The record image must be the vendor's classic layout; a different SDK layout stops the build here.
#define QUOTELOOM_SAME_FIELD(name)                                                                         \
  static_assert(offsetof(TickRecord, name) == offsetof(CThostFtdcDepthMarketDataField, name) &&            \
                    sizeof(TickRecord::name) == sizeof(CThostFtdcDepthMarketDataField::name),              \
                "CThostFtdcDepthMarketDataField does not have the classic layout (field " #name ")")
QUOTELOOM_SAME_FIELD(TradingDay);
QUOTELOOM_SAME_FIELD(InstrumentID);
QUOTELOOM_SAME_FIELD(ExchangeID);
QUOTELOOM_SAME_FIELD(ExchangeInstID);
QUOTELOOM_SAME_FIELD(LastPrice);
QUOTELOOM_SAME_FIELD(PreSettlementPrice);
QUOTELOOM_SAME_FIELD(PreClosePrice);
QUOTELOOM_SAME_FIELD(PreOpenInterest);
QUOTELOOM_SAME_FIELD(OpenPrice);
QUOTELOOM_SAME_FIELD(HighestPrice);
QUOTELOOM_SAME_FIELD(LowestPrice);
QUOTELOOM_SAME_FIELD(Volume);
QUOTELOOM_SAME_FIELD(Turnover);
QUOTELOOM_SAME_FIELD(OpenInterest);
QUOTELOOM_SAME_FIELD(ClosePrice);
QUOTELOOM_SAME_FIELD(SettlementPrice);
QUOTELOOM_SAME_FIELD(UpperLimitPrice);
QUOTELOOM_SAME_FIELD(LowerLimitPrice);
QUOTELOOM_SAME_FIELD(PreDelta);
QUOTELOOM_SAME_FIELD(CurrDelta);
QUOTELOOM_SAME_FIELD(UpdateTime);
QUOTELOOM_SAME_FIELD(UpdateMillisec);
QUOTELOOM_SAME_FIELD(BidPrice1);
QUOTELOOM_SAME_FIELD(BidVolume1);
QUOTELOOM_SAME_FIELD(AskPrice1);
QUOTELOOM_SAME_FIELD(AskVolume1);
QUOTELOOM_SAME_FIELD(BidPrice5);
QUOTELOOM_SAME_FIELD(AskVolume5);
QUOTELOOM_SAME_FIELD(AveragePrice);
QUOTELOOM_SAME_FIELD(ActionDay);
#undef QUOTELOOM_SAME_FIELD
static_assert(sizeof(CThostFtdcDepthMarketDataField) == offsetof(TickRecord, Filled),
              "CThostFtdcDepthMarketDataField does not have the classic size of 408 bytes");

namespace {

void SanitisePrice(double* price) {
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

}  // namespace

void SanitiseDepthPrices(CThostFtdcDepthMarketDataField* data) {
  SanitisePrice(&data->ClosePrice);
  SanitisePrice(&data->OpenPrice);
  SanitisePrice(&data->HighestPrice);
  SanitisePrice(&data->LowestPrice);
}

void ClearTickRecord(TickRecord* record) { std::memset(static_cast<void*>(record), 0, sizeof(*record)); }

void BuildTickRecord(CThostFtdcDepthMarketDataField* data, TickRecord* out) {
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
