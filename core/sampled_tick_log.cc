#include "core/sampled_tick_log.h"

#include "core/string_printf.h"

void SampledTickLog::OnTickAccepted(const TickRecord& record) {
  if (++sinceSample_ < kTicksPerSample) return;
  sinceSample_ = 0;
  sink_.AppendLine(LogTab::MarketData, StringPrintf("%s[%0.02lf][%0.02lf][%0.02lf]", record.InstrumentID,
                                                    record.LastPrice, record.HighestPrice, record.LowestPrice));
}
