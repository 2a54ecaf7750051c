#ifndef QUOTELOOM_CORE_LOG_TAB_H
#define QUOTELOOM_CORE_LOG_TAB_H

// The five log tabs every component writes to; the window lays them out in shell/log_tab_layout.h.
enum class LogTab : int {
  MarketData = 0,         // 行情数据: tick samples and stop-save notices
  ClientConnections = 1,  // 客户端连接: replay service events
  Subscriptions = 2,      // 订阅合约: one line per subscribed contract
  NetworkLog = 3,         // 断网日志: front connected / disconnected
  CtpLog = 4,             // CTP日志: connection, login and subscription events
};

inline constexpr int kLogTabCount = 5;

// The tab's label as both programs show it (UTF-8).
const char* LogTabLabel(LogTab tab);

#endif
