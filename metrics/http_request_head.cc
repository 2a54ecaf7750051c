#include "metrics/http_request_head.h"

#include <algorithm>
#include <string_view>

HttpRequestHead::State HttpRequestHead::Consume(const char* data, std::size_t size) {
  if (state_ != State::kNeedMore) return state_;
  // The end of the head may straddle the previous bytes and these.
  const std::size_t from = bytes_.size() < 3 ? 0 : bytes_.size() - 3;
  bytes_.append(data, std::min(size, kMaxBytes + 4 - bytes_.size()));  // while needing more, size <= kMaxBytes
  std::size_t end = bytes_.find("\r\n\r\n", from);
  if (end == std::string::npos) end = bytes_.find("\n\n", from);
  if (end == std::string::npos || end > kMaxBytes) {
    if (bytes_.size() > kMaxBytes) state_ = State::kTooLarge;
    return state_;
  }
  state_ = ParseRequestLine() ? State::kComplete : State::kBad;
  bytes_.clear();
  bytes_.shrink_to_fit();
  return state_;
}

// METHOD SP TARGET SP HTTP/1.x, the target an absolute path.
bool HttpRequestHead::ParseRequestLine() {
  std::string_view line(bytes_);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  const bool token = !method.empty() && std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  const bool printable = std::all_of(target.begin(), target.end(), [](char c) { return c > ' ' && c < 0x7f; });
  if (!token || target.empty() || target.front() != '/' || !printable || (version != "HTTP/1.0" && version != "HTTP/1.1")) {
    return false;
  }
  method_ = std::string(method);
  path_ = std::string(target.substr(0, target.find('?')));
  return true;
}
