#include "core/tick_record.h"

void ClearTickRecord(TickRecord* record) { std::memset(static_cast<void*>(record), 0, sizeof(*record)); }
