#include "platform/ctp/standin/vendor_records.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies a text field; a text that does not fit fills `to` whole, unterminated.
template <std::size_t D, std::size_t S>
void Text(char (&to)[D], const char (&from)[S]) {
  std::memset(to, 0, D);
  std::memcpy(to, from, std::min(::strnlen(from, S), D));
}

}  // namespace

void ToVendor(const FrontRspInfo& in, CThostFtdcRspInfoField* out) {
  std::memset(out, 0, sizeof *out);
  out->ErrorID = in.ErrorID;
  Text(out->ErrorMsg, in.ErrorMsg);
}

void ToVendor(const FrontLoginReplyFields& in, CThostFtdcRspUserLoginField* out) {
  std::memset(out, 0, sizeof *out);
  Text(out->TradingDay, in.TradingDay);
  Text(out->LoginTime, in.LoginTime);
  Text(out->BrokerID, in.BrokerID);
  Text(out->UserID, in.UserID);
  Text(out->SystemName, in.SystemName);
  out->FrontID = in.FrontID;
  out->SessionID = in.SessionID;
  Text(out->MaxOrderRef, in.MaxOrderRef);
  Text(out->SHFETime, in.SHFETime);
  Text(out->DCETime, in.DCETime);
  Text(out->CZCETime, in.CZCETime);
  Text(out->FFEXTime, in.FFEXTime);
  Text(out->INETime, in.INETime);
}

void ToVendor(const FrontUserFields& in, CThostFtdcUserLogoutField* out) {
  std::memset(out, 0, sizeof *out);
  Text(out->BrokerID, in.BrokerID);
  Text(out->UserID, in.UserID);
}

void ToVendor(const FrontInstrument& in, CThostFtdcSpecificInstrumentField* out) {
  std::memset(out, 0, sizeof *out);
  Text(out->InstrumentID, in.InstrumentID);
}

void ToVendor(const FrontDepthMarketData& in, CThostFtdcDepthMarketDataField* out) {
  std::memset(out, 0, sizeof *out);
  Text(out->TradingDay, in.TradingDay);
  Text(out->InstrumentID, in.InstrumentID);
  Text(out->ExchangeID, in.ExchangeID);
  Text(out->ExchangeInstID, in.ExchangeInstID);
  out->LastPrice = in.LastPrice;
  out->PreSettlementPrice = in.PreSettlementPrice;
  out->PreClosePrice = in.PreClosePrice;
  out->PreOpenInterest = in.PreOpenInterest;
  out->OpenPrice = in.OpenPrice;
  out->HighestPrice = in.HighestPrice;
  out->LowestPrice = in.LowestPrice;
  out->Volume = in.Volume;
  out->Turnover = in.Turnover;
  out->OpenInterest = in.OpenInterest;
  out->ClosePrice = in.ClosePrice;
  out->SettlementPrice = in.SettlementPrice;
  out->UpperLimitPrice = in.UpperLimitPrice;
  out->LowerLimitPrice = in.LowerLimitPrice;
  out->PreDelta = in.PreDelta;
  out->CurrDelta = in.CurrDelta;
  Text(out->UpdateTime, in.UpdateTime);
  out->UpdateMillisec = in.UpdateMillisec;
  out->BidPrice1 = in.BidPrice1;
  out->BidVolume1 = in.BidVolume1;
  out->AskPrice1 = in.AskPrice1;
  out->AskVolume1 = in.AskVolume1;
  out->BidPrice2 = in.BidPrice2;
  out->BidVolume2 = in.BidVolume2;
  out->AskPrice2 = in.AskPrice2;
  out->AskVolume2 = in.AskVolume2;
  out->BidPrice3 = in.BidPrice3;
  out->BidVolume3 = in.BidVolume3;
  out->AskPrice3 = in.AskPrice3;
  out->AskVolume3 = in.AskVolume3;
  out->BidPrice4 = in.BidPrice4;
  out->BidVolume4 = in.BidVolume4;
  out->AskPrice4 = in.AskPrice4;
  out->AskVolume4 = in.AskVolume4;
  out->BidPrice5 = in.BidPrice5;
  out->BidVolume5 = in.BidVolume5;
  out->AskPrice5 = in.AskPrice5;
  out->AskVolume5 = in.AskVolume5;
  out->AveragePrice = in.AveragePrice;
  Text(out->ActionDay, in.ActionDay);
#if QUOTELOOM_CTP_FAMILY >= 60601
  out->BandingUpperPrice = in.BandingUpperPrice;
  out->BandingLowerPrice = in.BandingLowerPrice;
#endif
}

void ToWire(const CThostFtdcReqUserLoginField& in, FrontLoginFields* out) {
  *out = FrontLoginFields{};
  Text(out->TradingDay, in.TradingDay);
  Text(out->BrokerID, in.BrokerID);
  Text(out->UserID, in.UserID);
  Text(out->Password, in.Password);
  Text(out->UserProductInfo, in.UserProductInfo);
}

void ToWire(const CThostFtdcUserLogoutField& in, FrontUserFields* out) {
  *out = FrontUserFields{};
  Text(out->BrokerID, in.BrokerID);
  Text(out->UserID, in.UserID);
}
