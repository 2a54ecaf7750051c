#include "metrics/scrape_server.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

namespace {

constexpr int kAcceptsPerRound = 16;  // then the connections already open are served
constexpr std::chrono::milliseconds kSweep{100};

std::string Reply(const char* status, const std::string& contentType, const std::string& body, bool withBody) {
  std::string reply = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + contentType +
                      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  if (withBody) reply += body;
  return reply;
}

}  // namespace

ScrapeServer::ScrapeServer(int listenFd, const Collectables& collectables)
    : listenFd_(listenFd), collectables_(collectables) {}

ScrapeServer::~ScrapeServer() {
  for (const auto& [fd, c] : connections_) ::close(fd);
  if (epollFd_ >= 0) ::close(epollFd_);
  ::close(listenFd_);
}

bool ScrapeServer::Run(int stopFd) {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) return false;
  epoll_event listen{EPOLLIN, {.fd = listenFd_}};
  epoll_event stop{EPOLLIN, {.fd = stopFd}};
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &listen) != 0 ||
      ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd, &stop) != 0) {
    return false;
  }
  epoll_event events[64];
  auto nextSweep = Clock::now() + kSweep;
  for (;;) {
    const int n = ::epoll_wait(epollFd_, events, 64, static_cast<int>(kSweep.count()));
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == stopFd) return true;
      if (fd == listenFd_) {
        AcceptSome();
        continue;
      }
      const auto it = connections_.find(fd);
      if (it == connections_.end()) continue;
      if (it->second.answer.empty()) {
        Read(fd, it->second);
      } else {
        Write(fd, it->second);
      }
    }
    if (Clock::now() >= nextSweep) {
      CloseExpired();
      nextSweep = Clock::now() + kSweep;
    }
  }
}

void ScrapeServer::AcceptSome() {
  for (int i = 0; i < kAcceptsPerRound; ++i) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        // Out of descriptors (or buffers): stop listening for a moment rather than spin on it.
        epoll_event none{0, {.fd = listenFd_}};
        ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &none);
        acceptPausedUntil_ = Clock::now() + kSweep;
      }
      return;
    }
    MakeRoom();
    epoll_event readable{EPOLLIN, {.fd = fd}};
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &readable) != 0) {
      ::close(fd);
      continue;
    }
    Connection& c = connections_[fd];
    c.order = accepted_++;
    c.deadline = Clock::now() + kTimeout;
    Read(fd, c);  // a scrape's request is usually there already
  }
}

// At the cap, the oldest connection still sending its request goes: a scraper sends its request at
// once, so only connections that hold the port without asking anything are pushed out.
void ScrapeServer::MakeRoom() {
  if (connections_.size() < static_cast<std::size_t>(kMaxConnections)) return;
  int oldest = -1;
  std::uint64_t order = UINT64_MAX;
  for (const auto& [fd, c] : connections_) {
    const bool reading = c.answer.empty();
    if (reading && c.order < order) {
      oldest = fd;
      order = c.order;
    }
  }
  if (oldest < 0) oldest = connections_.begin()->first;
  Close(oldest);
}

void ScrapeServer::Read(int fd, Connection& c) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n > 0) {
      if (c.head.Consume(buffer, static_cast<std::size_t>(n)) != HttpRequestHead::State::kNeedMore) {
        Answer(fd, c);
        return;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Close(fd);  // closed or failed before a whole request
    return;
  }
}

void ScrapeServer::Answer(int fd, Connection& c) {
  c.answer = Response(c.head);
  c.deadline = Clock::now() + kTimeout;
  epoll_event writable{EPOLLOUT, {.fd = fd}};
  ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &writable);
  Write(fd, c);
}

void ScrapeServer::Write(int fd, Connection& c) {
  while (c.sent < c.answer.size()) {
    const ssize_t n = ::send(fd, c.answer.data() + c.sent, c.answer.size() - c.sent, MSG_NOSIGNAL);
    if (n > 0) {
      c.sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Close(fd);
    return;
  }
  // Whatever else the client sent is read away first: closing on unread bytes would reset the
  // connection and could cost the client the answer.
  ::shutdown(fd, SHUT_WR);
  char scratch[4096];
  for (int i = 0; i < 16 && ::recv(fd, scratch, sizeof(scratch), 0) > 0; ++i) {
  }
  Close(fd);
}

void ScrapeServer::Close(int fd) {
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
  connections_.erase(fd);
}

void ScrapeServer::CloseExpired() {
  const auto now = Clock::now();
  std::vector<int> expired;
  for (const auto& [fd, c] : connections_) {
    if (now >= c.deadline) expired.push_back(fd);
  }
  for (int fd : expired) Close(fd);
  if (acceptPausedUntil_ != Clock::time_point() && now >= acceptPausedUntil_) {
    acceptPausedUntil_ = Clock::time_point();
    epoll_event listen{EPOLLIN, {.fd = listenFd_}};
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &listen);
  }
}

std::string ScrapeServer::Response(const HttpRequestHead& head) const {
  const std::string text = "text/plain; charset=utf-8";
  switch (head.state()) {
    case HttpRequestHead::State::kTooLarge:
      return Reply("431 Request Header Fields Too Large", text, "request head too large\n", true);
    case HttpRequestHead::State::kBad:
    case HttpRequestHead::State::kNeedMore:
      return Reply("400 Bad Request", text, "bad request\n", true);
    case HttpRequestHead::State::kComplete:
      break;
  }
  const bool withBody = head.method() != "HEAD";
  if (head.path() != "/metrics") return Reply("404 Not Found", text, "only /metrics is served here\n", withBody);
  if (head.method() != "GET" && head.method() != "HEAD") {
    return Reply("405 Method Not Allowed", text, "GET or HEAD only\n", withBody);
  }
  std::vector<prometheus::MetricFamily> families;
  for (const auto& collectable : collectables_) {
    std::vector<prometheus::MetricFamily> some = collectable->Collect();
    families.insert(families.end(), std::make_move_iterator(some.begin()), std::make_move_iterator(some.end()));
  }
  return Reply("200 OK", "text/plain; version=0.0.4; charset=utf-8", prometheus::TextSerializer().Serialize(families),
               withBody);
}
