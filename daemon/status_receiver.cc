#include "daemon/status_receiver.h"

void StatusReceiver::OnTickReport(const char* fileName, const char*, const char*, const char*, const char*) {
  if (files_.insert(fileName).second) contracts_.fetch_add(1, std::memory_order_relaxed);
  ticks_.fetch_add(1, std::memory_order_relaxed);
}
