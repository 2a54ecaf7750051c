#ifndef QUOTELOOM_METRICS_SCRAPE_SERVER_H
#define QUOTELOOM_METRICS_SCRAPE_SERVER_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "metrics/http_request_head.h"

namespace prometheus {
class Collectable;
}  // namespace prometheus

// Answers GET /metrics on a listening socket from one thread with one epoll set, so a client that
// holds a connection costs a few bytes, not a thread a scrape must wait for. At most
// kMaxConnections at once: a new one pushes out the oldest still sending its request. Each has
// kTimeout to send its request and again to take the answer. Every other path answers 404.
// Runs on the endpoint's thread; the collectables are read there.
class ScrapeServer {
 public:
  static constexpr int kMaxConnections = 64;
  static constexpr std::chrono::milliseconds kTimeout{3000};

  using Collectables = std::vector<std::shared_ptr<prometheus::Collectable>>;

  // Takes the non-blocking listening socket `listenFd`; the collectables must outlive Run.
  ScrapeServer(int listenFd, const Collectables& collectables);
  ~ScrapeServer();
  ScrapeServer(const ScrapeServer&) = delete;
  ScrapeServer& operator=(const ScrapeServer&) = delete;

  // Serves until `stopFd` becomes readable; false when the epoll set cannot be made.
  bool Run(int stopFd);

 private:
  using Clock = std::chrono::steady_clock;

  struct Connection {
    std::uint64_t order = 0;  // accept order: the lowest is pushed out first
    Clock::time_point deadline;
    HttpRequestHead head;
    std::string answer;  // empty while the request is read
    std::size_t sent = 0;
  };

  void AcceptSome();
  void MakeRoom();
  void Read(int fd, Connection& c);
  void Answer(int fd, Connection& c);
  void Write(int fd, Connection& c);
  void Close(int fd);
  void CloseExpired();
  std::string Response(const HttpRequestHead& head) const;

  const int listenFd_;
  const Collectables& collectables_;
  int epollFd_ = -1;
  std::uint64_t accepted_ = 0;
  Clock::time_point acceptPausedUntil_;  // out of descriptors: the listening socket rests a moment
  std::unordered_map<int, Connection> connections_;
};

#endif
