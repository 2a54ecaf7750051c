#ifndef QUOTELOOM_TOOLS_REPLAY_CLIENT_REPLAY_CLIENT_H
#define QUOTELOOM_TOOLS_REPLAY_CLIENT_REPLAY_CLIENT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "replay/protocol/replay_message.h"

// A blocking client of the replay service over IPv4: connect, read the greeting, send requests,
// read tick messages. One thread.
class ReplayClient {
 public:
  enum class ReadStatus { Message, Timeout, Closed, Error, BadFrame };

  ReplayClient() = default;
  ~ReplayClient();
  ReplayClient(const ReplayClient&) = delete;
  ReplayClient& operator=(const ReplayClient&) = delete;

  // False with a message in `error` (refused, unknown host, ...).
  bool Connect(const std::string& host, unsigned short port, std::string* error);
  // Reads one pack of the replay protocol (flag 361, a 217-byte body) within `timeoutMs`.
  ReadStatus Read(ReplayMessage* out, int timeoutMs);
  // The first pack must be the all-zero greeting; false with a message otherwise.
  bool ExpectGreeting(int timeoutMs, std::string* error);
  bool Send(const ReplayMessageBytes& body);
  void Close();

 private:
  int fd_ = -1;
  std::vector<std::uint8_t> buffer_;  // bytes read, not yet handed out
};

// "HOST" or "HOST:PORT" (default port 7777); nullopt when the port is not 1-65535.
std::optional<std::pair<std::string, unsigned short>> ParseHostPort(std::string_view text);

// One tick message as a CSV line (no line break): contract, trading day, action day, update time,
// milliseconds, then the prices and volumes in the order of a stored tick line.
std::string FormatTickCsv(const ReplayMessage& message);

#endif
