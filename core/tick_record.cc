#include "core/tick_record.h"

#include <cstdint>

void ClearTickRecord(TickRecord* record) { std::memset(static_cast<void*>(record), 0, sizeof(*record)); }

void SetTickArrival(TickRecord* record, long long unixNanoseconds) {
  if (unixNanoseconds == 0) {
    record->ArrivalMs = 0;
    return;
  }
  const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(unixNanoseconds / 1000000));
  // 0 means "not known": the one millisecond in 49.7 days that has these bits reads 1 ms later.
  record->ArrivalMs = low != 0 ? low : 1;
}

long long TickArrivalNs(const TickRecord& record, long long laterUnixNanoseconds) {
  if (record.ArrivalMs == 0 || laterUnixNanoseconds == 0) return 0;
  const long long laterMs = laterUnixNanoseconds / 1000000;
  // The distance back to the arrival, taken as signed: a clock stepped back between the two readings
  // gives an arrival just after the later reading rather than one 49 days before it.
  const auto behind = static_cast<std::int32_t>(static_cast<std::uint32_t>(laterMs) - record.ArrivalMs);
  return (laterMs - behind) * 1000000;
}
