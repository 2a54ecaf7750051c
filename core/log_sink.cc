#include "core/log_sink.h"

#include <algorithm>
#include <cstdarg>

#include "core/string_printf.h"

LogSink::LogSink(std::size_t cap) : cap_(cap) {}

void LogSink::SetCap(std::size_t cap) {
  std::lock_guard<std::mutex> lock(mutex_);
  cap_ = cap;
  for (int i = 0; i < kLogTabCount; ++i) {
    if (tabs_[i].size() > cap_) RemoveLines(static_cast<LogTab>(i), 0, tabs_[i].size() - cap_);
  }
}

void LogSink::AppendLine(LogTab tab, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Tab& lines = tabs_[static_cast<int>(tab)];
  lines.emplace_back(text);
  for (LogObserver* observer : observers_) observer->OnLineAppended(tab, lines.back());
  if (lines.size() > cap_) RemoveLines(tab, 0, lines.size() - cap_);
}

void LogSink::Truncate(LogTab tab, std::size_t keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t count = tabs_[static_cast<int>(tab)].size();
  if (keep < count) RemoveLines(tab, keep, count - keep);
}

void LogSink::RemoveLines(LogTab tab, std::size_t first, std::size_t count) {
  Tab& lines = tabs_[static_cast<int>(tab)];
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
              lines.begin() + static_cast<std::ptrdiff_t>(first + count));
  for (LogObserver* observer : observers_) observer->OnLinesRemoved(tab, first, count);
}

std::vector<std::string> LogSink::Lines(LogTab tab) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Tab& lines = tabs_[static_cast<int>(tab)];
  return {lines.begin(), lines.end()};
}

std::size_t LogSink::LineCount(LogTab tab) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tabs_[static_cast<int>(tab)].size();
}

std::array<std::vector<std::string>, kLogTabCount> LogSink::Attach(LogObserver* observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observers_.push_back(observer);
  std::array<std::vector<std::string>, kLogTabCount> snapshot;
  for (int i = 0; i < kLogTabCount; ++i) snapshot[i].assign(tabs_[i].begin(), tabs_[i].end());
  return snapshot;
}

void LogSink::Detach(LogObserver* observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

LogSink& TheLogSink() {
  static LogSink* sink = new LogSink();  // never destroyed: threads may log while the process ends
  return *sink;
}

void AppendLine(LogTab tab, std::string_view text) { TheLogSink().AppendLine(tab, text); }

void AppendLineF(LogTab tab, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = StringPrintfV(format, args);
  va_end(args);
  TheLogSink().AppendLine(tab, line);
}
