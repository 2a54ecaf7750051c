#include "tools/data/progress_line.h"

#include <unistd.h>

ProgressLine::ProgressLine(std::string task, std::size_t days, std::FILE* stream)
    : task_(std::move(task)), days_(days), stream_(stream), terminal_(::isatty(fileno(stream)) == 1) {}

ProgressLine::~ProgressLine() {
  if (line_shown_) std::fputc('\n', stream_);
}

void ProgressLine::ClearLine() {
  if (line_shown_) {
    std::fputs("\r\033[K", stream_);
    line_shown_ = false;
  }
}

void ProgressLine::DayDone(std::size_t index, int day, const std::string& detail) {
  if (terminal_) {
    ClearLine();
    const int width = 30;
    const int filled = static_cast<int>((index + 1) * width / (days_ == 0 ? 1 : days_));
    std::fprintf(stream_, "%s [%.*s%*s] %zu/%zu days, %d: %s", task_.c_str(), filled,
                 "##############################", width - filled, "", index + 1, days_, day, detail.c_str());
    line_shown_ = true;
  } else if (days_ > 1) {
    std::fprintf(stream_, "%s: %zu/%zu days, %d: %s\n", task_.c_str(), index + 1, days_, day, detail.c_str());
  }
  std::fflush(stream_);
}

void ProgressLine::Message(const std::string& text) {
  ClearLine();
  std::fprintf(stream_, "%s\n", text.c_str());
  std::fflush(stream_);
}
