#ifndef QUOTELOOM_DAEMON_DAEMON_LOG_PRESENTER_H
#define QUOTELOOM_DAEMON_DAEMON_LOG_PRESENTER_H

#include <cstdio>
#include <string>

#include "core/log_observer.h"

// quoteloomd's view of the log tabs: "[label] text" per line. The sampled tick lines of the
// "行情数据" tab are data and go to `ticks` (or nowhere when quiet); every other line is a status or
// connection message and goes to `messages`. Called on any appending thread.
class DaemonLogPresenter : public LogObserver {
 public:
  DaemonLogPresenter(std::FILE* messages, std::FILE* ticks, bool quietTicks)
      : messages_(messages), ticks_(ticks), quietTicks_(quietTicks) {}
  void OnLineAppended(LogTab tab, const std::string& line) override;
  void OnLinesRemoved(LogTab, std::size_t, std::size_t) override {}

  // True for a tick sample "CODE[last][high][low]"; the tab's stop-save notices are not.
  static bool IsTickSample(const std::string& line);

 private:
  std::FILE* const messages_;
  std::FILE* const ticks_;
  const bool quietTicks_;
};

#endif
