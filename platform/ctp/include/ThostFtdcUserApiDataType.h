// Data types of the CTP market-data interface. Names and widths follow the vendor's API so that the
// collector compiles against either.
#ifndef THOST_FTDC_USER_API_DATA_TYPE_H
#define THOST_FTDC_USER_API_DATA_TYPE_H

#ifndef QUOTELOOM_CTP_FAMILY
// The layout family of the vendor's releases these headers take: 60315 (6.3.15, classic), 60319
// (6.3.19_P1, multicast query), 60501 (6.5.1, 81-character codes), 60601 (6.6.1_P1, banding
// prices), 60711 (6.7.11 to 6.7.13, production flag). The SDK folders the build writes carry one
// family each, with the switch resolved.
#define QUOTELOOM_CTP_FAMILY 60711
#endif

typedef char TThostFtdcDateType[9];
typedef char TThostFtdcTimeType[9];
typedef char TThostFtdcExchangeIDType[9];
#if QUOTELOOM_CTP_FAMILY >= 60501
typedef char TThostFtdcInstrumentIDType[81];
typedef char TThostFtdcOldInstrumentIDType[31];
typedef char TThostFtdcExchangeInstIDType[81];
typedef char TThostFtdcOldExchangeInstIDType[31];
typedef char TThostFtdcIPAddressType[33];
typedef char TThostFtdcOldIPAddressType[16];
#else
typedef char TThostFtdcInstrumentIDType[31];
typedef char TThostFtdcExchangeInstIDType[31];
typedef char TThostFtdcIPAddressType[16];
#endif
typedef char TThostFtdcBrokerIDType[11];
typedef char TThostFtdcUserIDType[16];
typedef char TThostFtdcPasswordType[41];
typedef char TThostFtdcProductInfoType[11];
typedef char TThostFtdcProtocolInfoType[11];
typedef char TThostFtdcMacAddressType[21];
typedef char TThostFtdcLoginRemarkType[36];
typedef char TThostFtdcSystemNameType[41];
typedef char TThostFtdcOrderRefType[13];
typedef char TThostFtdcOrderSysIDType[21];
typedef char TThostFtdcErrorMsgType[81];
typedef char TThostFtdcLoginModeType;
#if QUOTELOOM_CTP_FAMILY >= 60601
typedef char TThostFtdcSysVersionType[41];
#endif
#if QUOTELOOM_CTP_FAMILY >= 60711
typedef char TThostFtdcReserveInfoType[1001];
#endif

typedef int TThostFtdcErrorIDType;
typedef int TThostFtdcFrontIDType;
typedef int TThostFtdcSessionIDType;
typedef int TThostFtdcVolumeType;
typedef int TThostFtdcMillisecType;
typedef int TThostFtdcIPPortType;
#if QUOTELOOM_CTP_FAMILY >= 60319
typedef int TThostFtdcInstallIDType;
typedef int TThostFtdcVolumeMultipleType;
#endif
#if QUOTELOOM_CTP_FAMILY >= 60711
typedef int TThostFtdcDRIdentityIDType;
#endif

typedef double TThostFtdcPriceType;
typedef double TThostFtdcLargeVolumeType;
typedef double TThostFtdcMoneyType;
typedef double TThostFtdcRatioType;

#endif
