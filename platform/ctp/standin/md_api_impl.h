#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_MD_API_IMPL_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_MD_API_IMPL_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "ThostFtdcMdApi.h"
#include "platform/ctp/standin/callback_queue.h"
#include "platform/ctp/standin/front_link.h"

// The stand-in market-data API that talks to our front simulator. Requests may come from any thread;
// every callback runs on the one callback thread, in the order the front's messages arrived.
class MdApiImpl final : public CThostFtdcMdApi {
 public:
  MdApiImpl();

  void Release() override;
  void Init() override;
  int Join() override;
  const char* GetTradingDay() override;
  void RegisterFront(char* pszFrontAddress) override;
  void RegisterNameServer(char* pszNsAddress) override;
  void RegisterFensUserInfo(CThostFtdcFensUserInfoField* pFensUserInfo) override;
  void RegisterSpi(CThostFtdcMdSpi* pSpi) override;
  int SubscribeMarketData(char* ppInstrumentID[], int nCount) override;
  int UnSubscribeMarketData(char* ppInstrumentID[], int nCount) override;
  int SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) override;
  int UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) override;
  int ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID) override;
  int ReqUserLogout(CThostFtdcUserLogoutField* pUserLogout, int nRequestID) override;
#if QUOTELOOM_CTP_FAMILY >= 60319
  int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField* pQryMulticastInstrument,
                                int nRequestID) override;
#endif

 private:
  ~MdApiImpl();
  void RunCallbacks();
  void Deliver(MdEvent& event);
  int SendCodes(FrontMessageType type, char* codes[], int count);

  CallbackQueue queue_;
  FrontLink link_;
  std::atomic<CThostFtdcMdSpi*> spi_{nullptr};
  std::atomic<bool> released_{false};

  // Guarded by mutex_ (the state lock).
  std::mutex mutex_;
  std::condition_variable released_cv_;
  bool started_ = false;
  int joiners_ = 0;
  char trading_day_[9] = {};

  std::thread callback_thread_;
  // Set by Release when it runs on the callback thread: that thread then frees the instance itself.
  bool free_on_callback_thread_ = false;
};

#endif
