#include "platform/ctp/standin/md_api_timing.h"

#include <cstdlib>

namespace {

// Keeps the default for a missing, malformed or non-positive value.
void ReadMillis(const char* name, int* value) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return;
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (*end != '\0' || parsed <= 0 || parsed > 3600 * 1000) return;
  *value = static_cast<int>(parsed);
}

}  // namespace

MdApiTiming ReadMdApiTiming() {
  MdApiTiming timing;
  ReadMillis("QUOTELOOM_CTP_RECONNECT_MS", &timing.reconnect_ms);
  ReadMillis("QUOTELOOM_CTP_HEARTBEAT_MS", &timing.heartbeat_ms);
  ReadMillis("QUOTELOOM_CTP_HEARTBEAT_TIMEOUT_MS", &timing.heartbeat_timeout_ms);
  ReadMillis("QUOTELOOM_CTP_CONNECT_TIMEOUT_MS", &timing.connect_timeout_ms);
  return timing;
}
