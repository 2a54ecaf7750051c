// The CTP market-data interface: the callback class the system implements and the API class it
// calls, with the virtual functions in the vendor's slot order of the selected layout family.
#ifndef THOST_FTDC_MD_API_H
#define THOST_FTDC_MD_API_H

#include "ThostFtdcUserApiStruct.h"

#if defined(_WIN32)
#ifdef LIB_MD_API_EXPORT
#define MD_API_EXPORT __declspec(dllexport)
#else
#define MD_API_EXPORT __declspec(dllimport)
#endif
#else
#define MD_API_EXPORT __attribute__((visibility("default")))
#endif

// Implemented by the user of the API; every callback arrives on the API's own callback thread.
class CThostFtdcMdSpi {
 public:
  virtual void OnFrontConnected() {}
  virtual void OnFrontDisconnected(int nReason) { (void)nReason; }
  virtual void OnHeartBeatWarning(int nTimeLapse) { (void)nTimeLapse; }
  virtual void OnRspUserLogin(CThostFtdcRspUserLoginField* pRspUserLogin, CThostFtdcRspInfoField* pRspInfo,
                              int nRequestID, bool bIsLast) {
    (void)pRspUserLogin, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
  virtual void OnRspUserLogout(CThostFtdcUserLogoutField* pUserLogout, CThostFtdcRspInfoField* pRspInfo,
                               int nRequestID, bool bIsLast) {
    (void)pUserLogout, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
#if QUOTELOOM_CTP_FAMILY >= 60319
  virtual void OnRspQryMulticastInstrument(CThostFtdcMulticastInstrumentField* pMulticastInstrument,
                                           CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    (void)pMulticastInstrument, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
#endif
  virtual void OnRspError(CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
  virtual void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                  CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    (void)pSpecificInstrument, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
  virtual void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                    CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    (void)pSpecificInstrument, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
  virtual void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                   CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    (void)pSpecificInstrument, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
  virtual void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                     CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    (void)pSpecificInstrument, (void)pRspInfo, (void)nRequestID, (void)bIsLast;
  }
  virtual void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* pDepthMarketData) { (void)pDepthMarketData; }
  virtual void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* pForQuoteRsp) { (void)pForQuoteRsp; }
};

// Created by CreateFtdcMdApi and never deleted by its user; any thread may call the request functions.
class MD_API_EXPORT CThostFtdcMdApi {
 public:
#if QUOTELOOM_CTP_FAMILY >= 60711
  // bIsProductionMode: true reaches production fronts, false the evaluation environment.
  static CThostFtdcMdApi* CreateFtdcMdApi(const char* pszFlowPath = "", const bool bIsUsingUdp = false,
                                          const bool bIsMulticast = false, bool bIsProductionMode = true);
#else
  static CThostFtdcMdApi* CreateFtdcMdApi(const char* pszFlowPath = "", const bool bIsUsingUdp = false,
                                          const bool bIsMulticast = false);
#endif
  static const char* GetApiVersion();

  virtual void Release() = 0;
  virtual void Init() = 0;
  virtual int Join() = 0;
  virtual const char* GetTradingDay() = 0;
  virtual void RegisterFront(char* pszFrontAddress) = 0;
  virtual void RegisterNameServer(char* pszNsAddress) = 0;
  virtual void RegisterFensUserInfo(CThostFtdcFensUserInfoField* pFensUserInfo) = 0;
  virtual void RegisterSpi(CThostFtdcMdSpi* pSpi) = 0;
  virtual int SubscribeMarketData(char* ppInstrumentID[], int nCount) = 0;
  virtual int UnSubscribeMarketData(char* ppInstrumentID[], int nCount) = 0;
  virtual int SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) = 0;
  virtual int UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) = 0;
  virtual int ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID) = 0;
  virtual int ReqUserLogout(CThostFtdcUserLogoutField* pUserLogout, int nRequestID) = 0;
#if QUOTELOOM_CTP_FAMILY >= 60319
  virtual int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField* pQryMulticastInstrument,
                                        int nRequestID) = 0;
#endif

 protected:
  ~CThostFtdcMdApi() {}
};

#endif
