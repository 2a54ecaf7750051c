#include "plotmire/tick_file_follower.h"

#include <QFile>
#include <QFileInfo>

#include "plotmire/tick_line_parser.h"

namespace {

constexpr int64_t kReadBlock = 4 << 20;
// A line longer than this is not a tick line; it is counted as malformed rather than buffered.
constexpr size_t kMaxLineLength = 64 << 10;

}  // namespace

TickFileFollower::TickFileFollower(QString path) : path_(std::move(path)) {}

void TickFileFollower::Reset() {
  offset_ = 0;
  partial_.clear();
  partial_overlong_ = false;
  lines_ = 0;
  malformed_ = 0;
  first_malformed_line_ = 0;
  first_malformed_reason_.clear();
}

TickFileFollower::PollResult TickFileFollower::Poll() {
  PollResult result;
  QFileInfo info(path_);
  if (!info.exists()) {
    error_text_.clear();
    result.status = Status::kMissing;
    return result;
  }
  QFile file(path_);
  if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
    error_text_ = info.isDir() ? QStringLiteral("it is a folder") : file.errorString();
    result.status = Status::kUnreadable;
    return result;
  }
  error_text_.clear();
  result.status = Status::kRead;
  const int64_t size = file.size();
  if (size < offset_) {
    Reset();
    result.status = Status::kRestarted;
  }
  if (!file.seek(offset_)) {
    error_text_ = file.errorString();
    result.status = Status::kUnreadable;
    return result;
  }
  std::vector<char> block;
  while (offset_ < size) {
    block.resize(static_cast<size_t>(std::min(kReadBlock, size - offset_)));
    const int64_t got = file.read(block.data(), static_cast<int64_t>(block.size()));
    if (got <= 0) break;
    offset_ += got;
    TakeLines(block.data(), got, &result.ticks);
  }
  return result;
}

void TickFileFollower::TakeLines(const char* data, int64_t size, std::vector<ChartTick>* out) {
  std::string_view rest(data, static_cast<size_t>(size));
  while (!rest.empty()) {
    const size_t newline = rest.find('\n');
    if (newline == std::string_view::npos) {
      if (partial_overlong_ || partial_.size() + rest.size() > kMaxLineLength) {
        // No tick line is this long: forget its bytes, count it once its end arrives.
        partial_overlong_ = true;
        partial_.clear();
      } else {
        partial_.append(rest);
      }
      return;
    }
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline + 1);
    if (partial_overlong_) {
      partial_overlong_ = false;
      TakeLine(std::string_view(), out, "line too long");
    } else if (partial_.empty()) {
      TakeLine(line, out);
    } else {
      partial_.append(line);
      TakeLine(partial_, out);
      partial_.clear();
    }
  }
}

void TickFileFollower::TakeLine(std::string_view line, std::vector<ChartTick>* out,
                                const char* known_fault) {
  ++lines_;
  std::string reason;
  if (known_fault != nullptr) {
    reason = known_fault;
  } else if (line.empty() || line == "\r") {
    return;  // a blank line carries nothing and harms nothing
  } else if (line.size() > kMaxLineLength) {
    reason = "line too long";
  } else {
    ChartTick tick;
    if (ParseTickLine(line, &tick, &reason)) {
      out->push_back(std::move(tick));
      return;
    }
  }
  ++malformed_;
  if (first_malformed_line_ == 0) {
    first_malformed_line_ = lines_;
    first_malformed_reason_ = reason;
  }
}
