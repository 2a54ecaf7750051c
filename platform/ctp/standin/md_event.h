#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_MD_EVENT_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_MD_EVENT_H

#include "ThostFtdcUserApiStruct.h"

// One callback waiting for the callback thread: made by the network thread, consumed once.
struct MdEvent {
  enum class Kind : unsigned char {
    kFrontConnected,
    kFrontDisconnected,
    kRspUserLogin,
    kRspUserLogout,
    kRspSubMarketData,
    kRspUnSubMarketData,
    kRtnDepthMarketData,
  };

  Kind kind = Kind::kFrontConnected;
  bool is_last = true;
  int number = 0;  // the reason of a disconnection, the request ID of an answer
  CThostFtdcRspInfoField info{};
  union {
    CThostFtdcRspUserLoginField login;
    CThostFtdcUserLogoutField logout;
    CThostFtdcSpecificInstrumentField instrument;
    CThostFtdcDepthMarketDataField depth;
  };

  MdEvent() : depth{} {}
};

#endif
