#ifndef QUOTELOOM_METRICS_HTTP_REQUEST_HEAD_H
#define QUOTELOOM_METRICS_HTTP_REQUEST_HEAD_H

#include <cstddef>
#include <string>

// The head of one HTTP request (request line and headers), fed bytes as they arrive: complete at
// the blank line after the headers, bad on a malformed request line, too large past kMaxBytes.
// Free of sockets, so it is tested on byte strings. Owned by one connection of one thread.
class HttpRequestHead {
 public:
  static constexpr std::size_t kMaxBytes = 8192;

  enum class State { kNeedMore, kComplete, kBad, kTooLarge };

  // Takes the next bytes; once the state is no longer kNeedMore, further bytes are ignored.
  State Consume(const char* data, std::size_t size);
  State state() const { return state_; }

  // Known once complete.
  const std::string& method() const { return method_; }
  // The request target without its query ("/metrics" of "/metrics?x=1").
  const std::string& path() const { return path_; }

 private:
  bool ParseRequestLine();

  std::string bytes_;
  State state_ = State::kNeedMore;
  std::string method_;
  std::string path_;
};

#endif
