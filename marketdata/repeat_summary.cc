#include "marketdata/repeat_summary.h"

std::string RepeatSummary::Occur(const std::string& line, std::int64_t now) {
  if (line != line_) {
    line_ = line;
    count_ = 1;
    unwritten_ = 0;
    written_at_ = now;
    return line;
  }
  ++count_;
  ++unwritten_;
  if (now - written_at_ < interval_) return {};
  written_at_ = now;
  unwritten_ = 0;
  return line + "（重复，共" + std::to_string(count_) + "次）";
}

std::string RepeatSummary::Recover() {
  std::string text;
  if (unwritten_ > 0) text = line_ + "（共" + std::to_string(count_) + "次，已恢复）";
  line_.clear();
  count_ = unwritten_ = 0;
  return text;
}
