// Records exchanged with the CTP market-data interface, in the layout family that
// ThostFtdcUserApiDataType.h selects. From 6.5.1 on the 31-character code fields stay in place as
// reserve1/reserve2 and the 81-character ones are appended; a user of the records goes by field name.
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
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldIPAddressType reserve1;
#else
  TThostFtdcIPAddressType ClientIPAddress;
#endif
  TThostFtdcLoginRemarkType LoginRemark;
  TThostFtdcIPPortType ClientIPPort;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcIPAddressType ClientIPAddress;
#endif
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
#if QUOTELOOM_CTP_FAMILY >= 60601
  TThostFtdcSysVersionType SysVersion;
  TThostFtdcTimeType GFEXTime;
#endif
#if QUOTELOOM_CTP_FAMILY >= 60711
  TThostFtdcDRIdentityIDType LoginDRIdentityID;
  TThostFtdcDRIdentityIDType UserDRIdentityID;
  TThostFtdcTimeType LastLoginTime;
  TThostFtdcReserveInfoType ReserveInfo;
#endif
};

struct CThostFtdcUserLogoutField {
  TThostFtdcBrokerIDType BrokerID;
  TThostFtdcUserIDType UserID;
};

struct CThostFtdcFensUserInfoField {
  TThostFtdcBrokerIDType BrokerID;
  TThostFtdcUserIDType UserID;
  TThostFtdcLoginModeType LoginMode;
};

struct CThostFtdcRspInfoField {
  TThostFtdcErrorIDType ErrorID;
  TThostFtdcErrorMsgType ErrorMsg;
};

struct CThostFtdcSpecificInstrumentField {
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldInstrumentIDType reserve1;
#endif
  TThostFtdcInstrumentIDType InstrumentID;
};

struct CThostFtdcDepthMarketDataField {
  TThostFtdcDateType TradingDay;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldInstrumentIDType reserve1;
#else
  TThostFtdcInstrumentIDType InstrumentID;
#endif
  TThostFtdcExchangeIDType ExchangeID;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldExchangeInstIDType reserve2;
#else
  TThostFtdcExchangeInstIDType ExchangeInstID;
#endif
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
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcInstrumentIDType InstrumentID;
  TThostFtdcExchangeInstIDType ExchangeInstID;
#endif
#if QUOTELOOM_CTP_FAMILY >= 60601
  TThostFtdcPriceType BandingUpperPrice;
  TThostFtdcPriceType BandingLowerPrice;
#endif
};

struct CThostFtdcForQuoteRspField {
  TThostFtdcDateType TradingDay;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldInstrumentIDType reserve1;
#else
  TThostFtdcInstrumentIDType InstrumentID;
#endif
  TThostFtdcOrderSysIDType ForQuoteSysID;
  TThostFtdcTimeType ForQuoteTime;
  TThostFtdcDateType ActionDay;
  TThostFtdcExchangeIDType ExchangeID;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcInstrumentIDType InstrumentID;
#endif
};

#if QUOTELOOM_CTP_FAMILY >= 60319
struct CThostFtdcQryMulticastInstrumentField {
  TThostFtdcInstallIDType TopicID;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldInstrumentIDType reserve1;
  TThostFtdcInstrumentIDType InstrumentID;
#else
  TThostFtdcInstrumentIDType InstrumentID;
#endif
};

struct CThostFtdcMulticastInstrumentField {
  TThostFtdcInstallIDType TopicID;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcOldInstrumentIDType reserve1;
#else
  TThostFtdcInstrumentIDType InstrumentID;
#endif
  TThostFtdcInstallIDType InstrumentNo;
  TThostFtdcPriceType CodePrice;
  TThostFtdcVolumeMultipleType VolumeMultiple;
  TThostFtdcPriceType PriceTick;
#if QUOTELOOM_CTP_FAMILY >= 60501
  TThostFtdcInstrumentIDType InstrumentID;
#endif
};
#endif

#endif
