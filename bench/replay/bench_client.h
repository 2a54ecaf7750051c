#ifndef QUOTELOOM_BENCH_REPLAY_BENCH_CLIENT_H
#define QUOTELOOM_BENCH_REPLAY_BENCH_CLIENT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// Blocking loopback sockets for the load tools; every call gives up after a few seconds.
namespace bench {

inline int ConnectLoopback(unsigned short port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return fd;
}

inline bool SendAll(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Reads and discards exactly `n` bytes; false on a close, an error or 10 s without data.
inline bool ReadBytes(int fd, std::size_t n) {
  std::vector<std::uint8_t> buffer(65536);
  while (n > 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return false;
    const ssize_t got = ::recv(fd, buffer.data(), std::min(buffer.size(), n), 0);
    if (got <= 0) return false;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace bench

#endif
