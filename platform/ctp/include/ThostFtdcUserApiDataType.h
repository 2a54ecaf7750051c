// Data types of the CTP market-data interface, as the system uses them.
// Names and widths follow the vendor's API so that code compiles against either.
#ifndef THOST_FTDC_USER_API_DATA_TYPE_H
#define THOST_FTDC_USER_API_DATA_TYPE_H

typedef char TThostFtdcDateType[9];
typedef char TThostFtdcTimeType[9];
typedef char TThostFtdcInstrumentIDType[31];
typedef char TThostFtdcExchangeIDType[9];
typedef char TThostFtdcExchangeInstIDType[31];
typedef char TThostFtdcBrokerIDType[11];
typedef char TThostFtdcUserIDType[16];
typedef char TThostFtdcPasswordType[41];
typedef char TThostFtdcProductInfoType[11];
typedef char TThostFtdcProtocolInfoType[11];
typedef char TThostFtdcMacAddressType[21];
typedef char TThostFtdcIPAddressType[16];
typedef char TThostFtdcLoginRemarkType[36];
typedef char TThostFtdcSystemNameType[41];
typedef char TThostFtdcOrderRefType[13];
typedef char TThostFtdcErrorMsgType[81];

typedef int TThostFtdcErrorIDType;
typedef int TThostFtdcFrontIDType;
typedef int TThostFtdcSessionIDType;
typedef int TThostFtdcVolumeType;
typedef int TThostFtdcMillisecType;

typedef double TThostFtdcPriceType;
typedef double TThostFtdcLargeVolumeType;
typedef double TThostFtdcMoneyType;
typedef double TThostFtdcRatioType;

#endif
