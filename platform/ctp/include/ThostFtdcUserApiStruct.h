// Records exchanged with the CTP market-data interface (the classic layout).
#ifndef THOST_FTDC_USER_API_STRUCT_H
#define THOST_FTDC_USER_API_STRUCT_H

#include "ThostFtdcUserApiDataType.h"

struct CThostFtdcReqUserLoginField {
  TThostFtdcDateType TradingDay;
  TThostFtdcBrokerIDType BrokerID;
  TThostFtdcUserIDType UserID;
  TThostFtdcPasswordType Password;
  TThostFtdcProductInfoType UserProductInfo;
  TThostFtdcProductInfoType InterfaceProductInfo;
  TThostFtdcProtocolInfoType ProtocolInfo;
  TThostFtdcMacAddressType MacAddress;
  TThostFtdcPasswordType OneTimePassword;
  TThostFtdcIPAddressType ClientIPAddress;
  TThostFtdcLoginRemarkType LoginRemark;
};

struct CThostFtdcRspUserLoginField {
  TThostFtdcDateType TradingDay;
  TThostFtdcTimeType LoginTime;
  TThostFtdcBrokerIDType BrokerID;
  TThostFtdcUserIDType UserID;
  TThostFtdcSystemNameType SystemName;
  TThostFtdcFrontIDType FrontID;
  TThostFtdcSessionIDType SessionID;
  TThostFtdcOrderRefType MaxOrderRef;
  TThostFtdcTimeType SHFETime;
  TThostFtdcTimeType DCETime;
  TThostFtdcTimeType CZCETime;
  TThostFtdcTimeType FFEXTime;
  TThostFtdcTimeType INETime;
};

struct CThostFtdcUserLogoutField {
  TThostFtdcBrokerIDType BrokerID;
  TThostFtdcUserIDType UserID;
};

struct CThostFtdcRspInfoField {
  TThostFtdcErrorIDType ErrorID;
  TThostFtdcErrorMsgType ErrorMsg;
};

struct CThostFtdcSpecificInstrumentField {
  TThostFtdcInstrumentIDType InstrumentID;
};

struct CThostFtdcDepthMarketDataField {
  TThostFtdcDateType TradingDay;
  TThostFtdcInstrumentIDType InstrumentID;
  TThostFtdcExchangeIDType ExchangeID;
  TThostFtdcExchangeInstIDType ExchangeInstID;
  TThostFtdcPriceType LastPrice;
  TThostFtdcPriceType PreSettlementPrice;
  TThostFtdcPriceType PreClosePrice;
  TThostFtdcLargeVolumeType PreOpenInterest;
  TThostFtdcPriceType OpenPrice;
  TThostFtdcPriceType HighestPrice;
  TThostFtdcPriceType LowestPrice;
  TThostFtdcVolumeType Volume;
  TThostFtdcMoneyType Turnover;
  TThostFtdcLargeVolumeType OpenInterest;
  TThostFtdcPriceType ClosePrice;
  TThostFtdcPriceType SettlementPrice;
  TThostFtdcPriceType UpperLimitPrice;
  TThostFtdcPriceType LowerLimitPrice;
  TThostFtdcRatioType PreDelta;
  TThostFtdcRatioType CurrDelta;
  TThostFtdcTimeType UpdateTime;
  TThostFtdcMillisecType UpdateMillisec;
  TThostFtdcPriceType BidPrice1;
  TThostFtdcVolumeType BidVolume1;
  TThostFtdcPriceType AskPrice1;
  TThostFtdcVolumeType AskVolume1;
  TThostFtdcPriceType BidPrice2;
  TThostFtdcVolumeType BidVolume2;
  TThostFtdcPriceType AskPrice2;
  TThostFtdcVolumeType AskVolume2;
  TThostFtdcPriceType BidPrice3;
  TThostFtdcVolumeType BidVolume3;
  TThostFtdcPriceType AskPrice3;
  TThostFtdcVolumeType AskVolume3;
  TThostFtdcPriceType BidPrice4;
  TThostFtdcVolumeType BidVolume4;
  TThostFtdcPriceType AskPrice4;
  TThostFtdcVolumeType AskVolume4;
  TThostFtdcPriceType BidPrice5;
  TThostFtdcVolumeType BidVolume5;
  TThostFtdcPriceType AskPrice5;
  TThostFtdcVolumeType AskVolume5;
  TThostFtdcPriceType AveragePrice;
  TThostFtdcDateType ActionDay;
};

#endif
