#ifndef QUOTELOOM_CORE_LOG_OBSERVER_H
#define QUOTELOOM_CORE_LOG_OBSERVER_H

#include <cstddef>
#include <string>

#include "core/log_tab.h"

// A presentation of the log tabs. The sink calls it on the appending thread, under the sink's lock,
// so it sees every change in store order; it must not block or call back into the sink.
class LogObserver {
 public:
  virtual ~LogObserver() = default;
  virtual void OnLineAppended(LogTab tab, const std::string& line) = 0;
  // Lines [first, first + count) of the tab were removed.
  virtual void OnLinesRemoved(LogTab tab, std::size_t first, std::size_t count) = 0;
};

#endif
