#include "core/log_tab.h"

const char* LogTabLabel(LogTab tab) {
  switch (tab) {
    case LogTab::MarketData: return "行情数据";
    case LogTab::ClientConnections: return "客户端连接";
    case LogTab::Subscriptions: return "订阅合约";
    case LogTab::NetworkLog: return "断网日志";
    case LogTab::CtpLog: return "CTP日志";
  }
  return "";
}
