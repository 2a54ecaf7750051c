#ifndef QUOTELOOM_TESTS_SUPPORT_FAKE_MD_API_H
#define QUOTELOOM_TESTS_SUPPORT_FAKE_MD_API_H

#include <string>
#include <vector>

#include "ThostFtdcMdApi.h"

// Records of some releases only; declaring them is harmless where they exist.
struct CThostFtdcQryMulticastInstrumentField;

// A market-data API that records what the collector asks of it. The test's thread plays the
// callback thread. The functions of some releases only are written without override, so the fake
// builds against every layout family.
class FakeMdApi : public CThostFtdcMdApi {
 public:
  struct Login {
    std::string broker, user, password;
    int requestId;
  };

  ~FakeMdApi() = default;

  void Release() override {}
  void Init() override { ++inits; }
  int Join() override { return 0; }
  const char* GetTradingDay() override { return tradingDay.c_str(); }
  void RegisterFront(char* address) override { fronts.emplace_back(address); }
  void RegisterNameServer(char*) override {}
  void RegisterFensUserInfo(CThostFtdcFensUserInfoField*) override {}
  void RegisterSpi(CThostFtdcMdSpi* spi) override { this->spi = spi; }
  int SubscribeMarketData(char* codes[], int count) override {
    counts.push_back(count);
    for (int i = 0; i < count; ++i) subscribed.emplace_back(codes[i]);
    return 0;
  }
  int UnSubscribeMarketData(char*[], int) override { return 0; }
  int SubscribeForQuoteRsp(char*[], int) override { return 0; }
  int UnSubscribeForQuoteRsp(char*[], int) override { return 0; }
  int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) { return 0; }
  int ReqUserLogin(CThostFtdcReqUserLoginField* f, int requestId) override {
    logins.push_back({f->BrokerID, f->UserID, f->Password, requestId});
    return 0;
  }
  int ReqUserLogout(CThostFtdcUserLogoutField*, int) override { return 0; }

  std::string tradingDay = "20210603";
  std::vector<std::string> fronts;
  std::vector<std::string> subscribed;
  std::vector<int> counts;
  std::vector<Login> logins;
  CThostFtdcMdSpi* spi = nullptr;
  int inits = 0;
};

#endif
