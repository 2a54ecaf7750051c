#ifndef QUOTELOOM_TESTS_SUPPORT_HELD_PORT_H
#define QUOTELOOM_TESTS_SUPPORT_HELD_PORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

// Listens on a free loopback port, so that a program asked to serve there finds it in use. Returns
// the socket (close it to free the port) and sets `address` to "127.0.0.1:PORT"; -1 on failure.
inline int HoldFreeLoopbackPort(std::string* address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(bound);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof(bound)) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  *address = "127.0.0.1:" + std::to_string(ntohs(bound.sin_port));
  return fd;
}

#endif
