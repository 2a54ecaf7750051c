#include "platform/frontsim/fault_field.h"

namespace {

struct Named {
  std::string_view name;
  DepthDoubleField field;
};

#define QUOTELOOM_FIELD(name) {#name, &FrontDepthMarketData::name}
constexpr Named kFields[] = {
    QUOTELOOM_FIELD(LastPrice),       QUOTELOOM_FIELD(PreSettlementPrice), QUOTELOOM_FIELD(PreClosePrice),
    QUOTELOOM_FIELD(PreOpenInterest), QUOTELOOM_FIELD(OpenPrice),          QUOTELOOM_FIELD(HighestPrice),
    QUOTELOOM_FIELD(LowestPrice),     QUOTELOOM_FIELD(Turnover),           QUOTELOOM_FIELD(OpenInterest),
    QUOTELOOM_FIELD(ClosePrice),      QUOTELOOM_FIELD(SettlementPrice),    QUOTELOOM_FIELD(UpperLimitPrice),
    QUOTELOOM_FIELD(LowerLimitPrice), QUOTELOOM_FIELD(PreDelta),           QUOTELOOM_FIELD(CurrDelta),
    QUOTELOOM_FIELD(BidPrice1),       QUOTELOOM_FIELD(AskPrice1),          QUOTELOOM_FIELD(BidPrice2),
    QUOTELOOM_FIELD(AskPrice2),       QUOTELOOM_FIELD(BidPrice3),          QUOTELOOM_FIELD(AskPrice3),
    QUOTELOOM_FIELD(BidPrice4),       QUOTELOOM_FIELD(AskPrice4),          QUOTELOOM_FIELD(BidPrice5),
    QUOTELOOM_FIELD(AskPrice5),       QUOTELOOM_FIELD(AveragePrice),
};
#undef QUOTELOOM_FIELD

}  // namespace

const DepthDoubleField* FindFaultField(std::string_view name) {
  for (const Named& named : kFields) {
    if (named.name == name) return &named.field;
  }
  return nullptr;
}
