#ifndef QUOTELOOM_TESTS_SUPPORT_LOG_WATCH_H
#define QUOTELOOM_TESTS_SUPPORT_LOG_WATCH_H

#include <array>
#include <string>
#include <vector>

#include "core/log_sink.h"

// The lines a test added to the process-wide log sink since the watch was made.
class LogWatch {
 public:
  LogWatch() {
    for (int i = 0; i < kLogTabCount; ++i) start_[i] = TheLogSink().LineCount(static_cast<LogTab>(i));
  }
  std::vector<std::string> NewLines(LogTab tab) const {
    std::vector<std::string> all = TheLogSink().Lines(tab);
    const std::size_t from = start_[static_cast<int>(tab)];
    return from < all.size() ? std::vector<std::string>(all.begin() + from, all.end()) : std::vector<std::string>{};
  }

 private:
  std::array<std::size_t, kLogTabCount> start_{};
};

#endif
