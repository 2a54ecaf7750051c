#include "shell/market_data_tab.h"

void MarketDataTab::OnTickAccepted(const TickRecord& record) {
  if (++sinceTrim_ >= kTicksPerTrim) {
    sinceTrim_ = 0;
    sink_.Truncate(LogTab::MarketData, firstShown_.load(std::memory_order_acquire));
  }
  samples_.OnTickAccepted(record);
}
