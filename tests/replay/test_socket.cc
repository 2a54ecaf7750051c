#include "tests/replay/test_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "replay/net/pack_decoder.h"

namespace {

sockaddr_in Loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

TestSocket::~TestSocket() { Close(); }

bool TestSocket::Connect(unsigned short port, const char* from, int receiveBuffer) {
  Close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
  if (from != nullptr) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from, &source.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof(source)) != 0) {
      Close();
      return false;
    }
  }
  const sockaddr_in address = Loopback(port);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    Close();
    return false;
  }
  return true;
}

bool TestSocket::Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> TestSocket::Read(std::size_t n, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::uint8_t> bytes(n);
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, RemainingMs(deadline)) <= 0) return std::nullopt;
    const ssize_t r = ::recv(fd_, bytes.data() + got, n - got, 0);
    if (r <= 0) return std::nullopt;
    got += static_cast<std::size_t>(r);
  }
  return bytes;
}

bool TestSocket::WaitClosed(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, RemainingMs(deadline)) <= 0) return false;
    std::uint8_t chunk[4096];
    const ssize_t r = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (r <= 0) return true;
  }
}

bool TestSocket::Quiet(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 0;
}

void TestSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::vector<std::uint8_t> Pack(std::uint32_t flag, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> bytes(kPackHeaderSize);
  WritePackHeader(flag, static_cast<std::uint32_t>(body.size()), bytes.data());
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TempDir::TempDir() {
  char pattern[] = "/tmp/quoteloom-replay-test-XXXXXX";
  path_ = ::mkdtemp(pattern);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& relative, const std::string& content) const {
  const std::filesystem::path file = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

unsigned short UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}
