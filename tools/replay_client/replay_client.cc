#include "tools/replay_client/replay_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "core/gbk.h"
#include "replay/net/pack_decoder.h"

namespace {

std::string DoubleText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof(text), value);
  return std::string(text, result.ptr);
}

}  // namespace

ReplayClient::~ReplayClient() { Close(); }

bool ReplayClient::Connect(const std::string& host, unsigned short port, std::string* error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    *error = "cannot resolve " + host + ": " + gai_strerror(rc);
    return false;
  }
  int lastErrno = 0;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastErrno = errno;
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      fd_ = fd;
      break;
    }
    lastErrno = errno;
    ::close(fd);
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    *error = "cannot connect to " + host + ":" + std::to_string(port) + ": " + std::strerror(lastErrno);
    return false;
  }
  return true;
}

ReplayClient::ReadStatus ReplayClient::Read(ReplayMessage* out, int timeoutMs) {
  constexpr std::size_t kFrame = kPackHeaderSize + kReplayMessageSize;
  while (buffer_.size() < kFrame) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready == 0) return ReadStatus::Timeout;
    if (ready < 0) return errno == EINTR ? ReadStatus::Timeout : ReadStatus::Error;
    std::uint8_t chunk[8192];
    const ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (n == 0) return ReadStatus::Closed;
    if (n < 0) return errno == EINTR ? ReadStatus::Timeout : ReadStatus::Error;
    buffer_.insert(buffer_.end(), chunk, chunk + n);
  }
  std::uint8_t expected[kPackHeaderSize];
  WritePackHeader(kReplayPackFlag, kReplayMessageSize, expected);
  if (std::memcmp(buffer_.data(), expected, kPackHeaderSize) != 0) return ReadStatus::BadFrame;
  DecodeReplayMessage(buffer_.data() + kPackHeaderSize, kReplayMessageSize, out);
  buffer_.erase(buffer_.begin(), buffer_.begin() + kFrame);
  return ReadStatus::Message;
}

bool ReplayClient::ExpectGreeting(int timeoutMs, std::string* error) {
  ReplayMessage greeting;
  switch (Read(&greeting, timeoutMs)) {
    case ReadStatus::Message: {
      const ReplayMessageBytes bytes = EncodeReplayMessage(greeting);
      for (std::uint8_t b : bytes) {
        if (b != 0) {
          *error = "bad greeting: the first message is not all zero";
          return false;
        }
      }
      return true;
    }
    case ReadStatus::Timeout: *error = "bad greeting: none within the time allowed"; return false;
    case ReadStatus::Closed: *error = "bad greeting: the service closed the connection"; return false;
    case ReadStatus::BadFrame: *error = "bad greeting: not a replay pack"; return false;
    case ReadStatus::Error: break;
  }
  *error = std::string("bad greeting: ") + std::strerror(errno);
  return false;
}

bool ReplayClient::Send(const ReplayMessageBytes& body) {
  std::uint8_t frame[kPackHeaderSize + kReplayMessageSize];
  WritePackHeader(kReplayPackFlag, kReplayMessageSize, frame);
  std::memcpy(frame + kPackHeaderSize, body.data(), body.size());
  std::size_t sent = 0;
  while (sent < sizeof(frame)) {
    const ssize_t n = ::send(fd_, frame + sent, sizeof(frame) - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void ReplayClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
}

std::optional<std::pair<std::string, unsigned short>> ParseHostPort(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    if (text.empty()) return std::nullopt;
    return std::make_pair(std::string(text), kReplayDefaultPort);
  }
  const std::string_view portText = text.substr(colon + 1);
  unsigned port = 0;
  const auto result = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (colon == 0 || portText.empty() || result.ec != std::errc() || result.ptr != portText.data() + portText.size() ||
      port == 0 || port > 65535)
    return std::nullopt;
  return std::make_pair(std::string(text.substr(0, colon)), static_cast<unsigned short>(port));
}

std::string FormatTickCsv(const ReplayMessage& m) {
  std::string line = GbkToUtf8(ReplayText(m.InstrumentID));
  for (const char* text : {m.TradingDay, m.ActionDay, m.UpdateTime}) {
    line += ',';
    line += GbkToUtf8(std::string_view(text, strnlen(text, 9)));
  }
  const auto add = [&line](const std::string& field) {
    line += ',';
    line += field;
  };
  add(std::to_string(m.UpdateMillisec));
  add(DoubleText(m.LastPrice));
  add(std::to_string(m.Volume));
  for (double v : {m.HighestPrice, m.LowestPrice, m.OpenPrice, m.ClosePrice, m.AveragePrice, m.AskPrice1})
    add(DoubleText(v));
  add(std::to_string(m.AskVolume1));
  add(DoubleText(m.BidPrice1));
  add(std::to_string(m.BidVolume1));
  for (double v : {m.UpperLimitPrice, m.LowerLimitPrice, m.OpenInterest, m.Turnover, m.PreClosePrice,
                   m.PreOpenInterest, m.PreSettlementPrice})
    add(DoubleText(v));
  return line;
}
