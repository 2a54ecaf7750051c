#ifndef QUOTELOOM_CORE_CONSOLE_LOG_PRESENTER_H
#define QUOTELOOM_CORE_CONSOLE_LOG_PRESENTER_H

#include <cstdio>

#include "core/log_observer.h"

// Shows the log tabs on a terminal: "[label] text" per line. Called on any appending thread.
class ConsoleLogPresenter : public LogObserver {
 public:
  explicit ConsoleLogPresenter(std::FILE* out = stdout) : out_(out) {}
  void OnLineAppended(LogTab tab, const std::string& line) override;
  void OnLinesRemoved(LogTab, std::size_t, std::size_t) override {}

 private:
  std::FILE* out_;
};

#endif
