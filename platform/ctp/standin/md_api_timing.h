#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_MD_API_TIMING_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_MD_API_TIMING_H

// The stand-in API's timing, in milliseconds. Read once per API instance from the environment:
// QUOTELOOM_CTP_RECONNECT_MS, QUOTELOOM_CTP_HEARTBEAT_MS, QUOTELOOM_CTP_HEARTBEAT_TIMEOUT_MS,
// QUOTELOOM_CTP_CONNECT_TIMEOUT_MS (tests shorten them). Any thread.
struct MdApiTiming {
  int reconnect_ms = 3000;          // pause after a lost connection or a round of failed fronts
  int heartbeat_ms = 1000;          // how often the API sends a heartbeat
  int heartbeat_timeout_ms = 10000; // silence after which the front counts as lost
  int connect_timeout_ms = 3000;    // longest wait for one front to accept
};

MdApiTiming ReadMdApiTiming();

#endif
