#include "platform/frontsim/listen_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int ListenTcp(const std::string& host, unsigned short port, unsigned short* bound_port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    *error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
    return -1;
  }
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int one = 1;
  bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
            ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
  int failure = errno;
  ::freeaddrinfo(found);
  if (!ok) {
    *error = "cannot listen on " + host + ":" + service + ": " + std::strerror(failure);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  *bound_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return fd;
}
