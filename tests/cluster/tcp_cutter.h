#ifndef QUOTELOOM_TESTS_CLUSTER_TCP_CUTTER_H
#define QUOTELOOM_TESTS_CLUSTER_TCP_CUTTER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

// A loopback TCP forwarder that a test can cut: while cut, it closes every forwarded connection and
// every new one at once, as a lost network would. Constructed, cut and destroyed on the test
// thread; the forwarding runs on its own thread.
class TcpCutter {
 public:
  explicit TcpCutter(int targetPort) : targetPort_(targetPort) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::listen(listen_, 16);
    socklen_t n = sizeof(a);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~TcpCutter() {
    stop_.store(true, std::memory_order_release);
    thread_.join();
    for (auto& [a, b] : pairs_) {
      ::close(a);
      ::close(b);
    }
    ::close(listen_);
  }

  int port() const { return port_; }
  void SetCut(bool cut) { cut_.store(cut, std::memory_order_release); }

 private:
  int Connect() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(targetPort_));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  void CloseAll() {
    for (auto& [a, b] : pairs_) {
      ::close(a);
      ::close(b);
    }
    pairs_.clear();
  }

  // Copies what one side has; false when that side closed or failed.
  static bool Pump(int from, int to) {
    char buffer[65536];
    const ssize_t n = ::read(from, buffer, sizeof(buffer));
    if (n <= 0) return false;
    for (ssize_t sent = 0; sent < n;) {
      const ssize_t w = ::write(to, buffer + sent, static_cast<std::size_t>(n - sent));
      if (w <= 0) return false;
      sent += w;
    }
    return true;
  }

  void Run() {
    while (!stop_.load(std::memory_order_acquire)) {
      if (cut_.load(std::memory_order_acquire)) CloseAll();
      std::vector<pollfd> fds{{listen_, POLLIN, 0}};
      for (auto& [a, b] : pairs_) {
        fds.push_back({a, POLLIN, 0});
        fds.push_back({b, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = cut_.load(std::memory_order_acquire) || client < 0 ? -1 : Connect();
        if (server < 0) {
          if (client >= 0) ::close(client);
        } else {
          pairs_.emplace_back(client, server);
        }
      }
      std::vector<std::pair<int, int>> alive;
      for (std::size_t i = 0; i < pairs_.size() && 2 * i + 2 < fds.size(); ++i) {
        const auto [a, b] = pairs_[i];
        const short ra = fds[1 + 2 * i].revents, rb = fds[2 + 2 * i].revents;
        bool ok = true;
        if (ra & (POLLIN | POLLHUP | POLLERR)) ok = Pump(a, b);
        if (ok && (rb & (POLLIN | POLLHUP | POLLERR))) ok = Pump(b, a);
        if (ok) {
          alive.emplace_back(a, b);
        } else {
          ::close(a);
          ::close(b);
        }
      }
      // Pairs accepted in this round had no poll entry yet.
      for (std::size_t i = (fds.size() - 1) / 2; i < pairs_.size(); ++i) alive.push_back(pairs_[i]);
      pairs_ = std::move(alive);
    }
  }

  const int targetPort_;
  int listen_ = -1;
  int port_ = 0;
  std::vector<std::pair<int, int>> pairs_;  // forwarding thread only
  std::atomic<bool> cut_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

#endif
