#ifndef QUOTELOOM_TESTS_SUPPORT_HTTP_GET_H
#define QUOTELOOM_TESTS_SUPPORT_HTTP_GET_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

// One HTTP/1.0 GET to 127.0.0.1:`port`, the whole answer (status line, headers, body) returned;
// empty when nothing came within `limit`. Enough for /metrics and Prometheus' query API.
inline std::string HttpGet(unsigned short port, const std::string& target,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      const auto deadline = std::chrono::steady_clock::now() + limit;
      char buffer[65536];
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  ::close(fd);
  return answer;
}

// The body of an HTTP answer (after the blank line), empty when there is none.
inline std::string HttpBody(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

#endif
