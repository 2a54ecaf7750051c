#include "ThostFtdcMdApi.h"
#include "platform/ctp/standin/md_api_impl.h"

// Flow files, UDP, multicast and the environment belong to the vendor's transport; the stand-in
// talks only to the front simulator and ignores them.
#if QUOTELOOM_CTP_FAMILY >= 60711
CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool, bool) {
  return new MdApiImpl();
}
#else
CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool) { return new MdApiImpl(); }
#endif

// Names the layout family the stand-in was built for.
const char* CThostFtdcMdApi::GetApiVersion() {
#if QUOTELOOM_CTP_FAMILY >= 60711
  return "quoteloom stand-in 1.1, layout of 6.7.11";
#elif QUOTELOOM_CTP_FAMILY >= 60601
  return "quoteloom stand-in 1.1, layout of 6.6.1_P1";
#elif QUOTELOOM_CTP_FAMILY >= 60501
  return "quoteloom stand-in 1.1, layout of 6.5.1";
#elif QUOTELOOM_CTP_FAMILY >= 60319
  return "quoteloom stand-in 1.1, layout of 6.3.19_P1";
#else
  return "quoteloom stand-in 1.1, layout of 6.3.15";
#endif
}
