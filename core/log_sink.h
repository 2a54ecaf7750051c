#ifndef QUOTELOOM_CORE_LOG_SINK_H
#define QUOTELOOM_CORE_LOG_SINK_H

#include <array>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_observer.h"
#include "core/log_tab.h"

// The store of the five log tabs. Safe to call from any thread; a call returns once the line is
// stored and never waits for a user-interface thread.
class LogSink {
 public:
  static constexpr std::size_t kDefaultCap = 100000;

  // `cap` bounds each tab; the oldest lines go first.
  explicit LogSink(std::size_t cap = kDefaultCap);
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // Sets the bound of every tab; stored lines over it go at once, the oldest first.
  void SetCap(std::size_t cap);

  void AppendLine(LogTab tab, std::string_view text);
  // Deletes the tab's lines from index `keep` to the end, so the first `keep` lines stay.
  void Truncate(LogTab tab, std::size_t keep);

  std::vector<std::string> Lines(LogTab tab) const;
  std::size_t LineCount(LogTab tab) const;

  // Attaches a presentation and returns every stored line at that moment, so nothing is missed.
  std::array<std::vector<std::string>, kLogTabCount> Attach(LogObserver* observer);
  void Detach(LogObserver* observer);

 private:
  using Tab = std::deque<std::string>;

  void RemoveLines(LogTab tab, std::size_t first, std::size_t count);

  mutable std::mutex mutex_;
  // Guarded by mutex_.
  std::size_t cap_;
  std::array<Tab, kLogTabCount> tabs_;
  std::vector<LogObserver*> observers_;
};

// The process-wide sink through which every component logs.
LogSink& TheLogSink();

void AppendLine(LogTab tab, std::string_view text);
void AppendLineF(LogTab tab, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
