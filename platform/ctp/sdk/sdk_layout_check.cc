// Compiled against one SDK folder: the records the collector reads have the layout of the release
// the folder claims (QUOTELOOM_SDK_EXPECT, its family number), and its library loads and answers.
#include <cstddef>
#include <cstdio>

#include "ThostFtdcMdApi.h"

namespace {

template <typename Spi>
constexpr bool kHasMulticastCallback = requires { &Spi::OnRspQryMulticastInstrument; };

template <typename Api>
constexpr bool kHasEnvironmentFlag = requires { Api::CreateFtdcMdApi("", false, false, true); };

constexpr std::size_t kCodeOffset = offsetof(CThostFtdcDepthMarketDataField, InstrumentID);
constexpr std::size_t kDepthSize = sizeof(CThostFtdcDepthMarketDataField);

}  // namespace

#if QUOTELOOM_SDK_EXPECT >= 60501
static_assert(kCodeOffset == 401 && offsetof(CThostFtdcDepthMarketDataField, ExchangeInstID) == 482);
static_assert(offsetof(CThostFtdcDepthMarketDataField, reserve1) == 9);
static_assert(sizeof(CThostFtdcSpecificInstrumentField) == 112);
static_assert(offsetof(CThostFtdcReqUserLoginField, ClientIPAddress) >
              offsetof(CThostFtdcReqUserLoginField, ClientIPPort));
static_assert(sizeof(CThostFtdcReqUserLoginField::ClientIPAddress) == 33);
#else
static_assert(kCodeOffset == 9 && offsetof(CThostFtdcDepthMarketDataField, ExchangeInstID) == 49);
static_assert(sizeof(CThostFtdcSpecificInstrumentField) == 31);
#endif
#if QUOTELOOM_SDK_EXPECT >= 60601
static_assert(kDepthSize == 584 && offsetof(CThostFtdcDepthMarketDataField, BandingLowerPrice) == 576);
#elif QUOTELOOM_SDK_EXPECT >= 60501
static_assert(kDepthSize == 568);
#else
static_assert(kDepthSize == 408);
#endif
static_assert(offsetof(CThostFtdcDepthMarketDataField, ActionDay) == 392);
static_assert(sizeof(CThostFtdcRspInfoField) == 88);
static_assert(kHasMulticastCallback<CThostFtdcMdSpi> == (QUOTELOOM_SDK_EXPECT >= 60319));
static_assert(kHasEnvironmentFlag<CThostFtdcMdApi> == (QUOTELOOM_SDK_EXPECT >= 60711));

int main() {
  std::printf("CTP %s: InstrumentID at %zu, CThostFtdcDepthMarketDataField %zu bytes, multicast callback %s, "
              "production flag %s, library \"%s\"\n",
              QUOTELOOM_SDK_RELEASE, kCodeOffset, kDepthSize, kHasMulticastCallback<CThostFtdcMdSpi> ? "yes" : "no",
              kHasEnvironmentFlag<CThostFtdcMdApi> ? "yes" : "no", CThostFtdcMdApi::GetApiVersion());
  return 0;
}
