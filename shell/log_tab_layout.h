#ifndef QUOTELOOM_SHELL_LOG_TAB_LAYOUT_H
#define QUOTELOOM_SHELL_LOG_TAB_LAYOUT_H

#include <array>

#include "core/log_tab.h"

// The window's log pane from left to right: which log tab each of its five tabs shows.
inline constexpr std::array<LogTab, kLogTabCount> kLogTabLayout = {
    LogTab::MarketData, LogTab::ClientConnections, LogTab::Subscriptions, LogTab::NetworkLog, LogTab::CtpLog,
};

#endif
