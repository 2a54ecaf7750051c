#include "metrics/metrics_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "core/errno_text.h"
#include "metrics/scrape_server.h"

bool ParseMetricsAddress(const std::string& text, MetricsAddress* address, std::string* error) {
  if (text == "off") {
    *address = MetricsAddress{true, "", 0};
    return true;
  }
  const std::size_t colon = text.rfind(':');
  const std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
  in_addr parsed{};
  if (host.empty() || inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
    *error = "--metrics takes HOST:PORT with an IPv4 address such as 127.0.0.1:9470, or off, not '" + text + "'";
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || errno != 0 || number < 0 || number > 65535) {
    *error = "--metrics takes a port from 0 to 65535, not '" + port + "'";
    return false;
  }
  *address = MetricsAddress{false, host, static_cast<unsigned short>(number)};
  return true;
}

namespace {

// A non-blocking listening socket on `address`, or -1 with errno set.
int Listen(const MetricsAddress& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));  // a restart need not wait out TIME_WAIT
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(address.port);
  ::inet_pton(AF_INET, address.host.c_str(), &where.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof(where)) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

unsigned short BoundPort(int fd) {
  sockaddr_in bound{};
  socklen_t length = sizeof(bound);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
  return ntohs(bound.sin_port);
}

// Whether trying again later can succeed: another program holds the port, or the machine is short
// of descriptors or buffers for now. An address the machine does not have never will.
bool PassingFailure(int error) { return error != EADDRNOTAVAIL && error != EACCES && error != EPERM && error != EINVAL; }

std::string Reason(int error, unsigned short port) {
  switch (error) {
    case EADDRINUSE:
      return "the port is in use by another program";
    case EADDRNOTAVAIL:
      return "that is not an address of this machine";
    case EACCES:
    case EPERM:
      return "this program may not use port " + std::to_string(port);
    default:
      return ErrnoText(error);
  }
}

std::string Interval(std::chrono::milliseconds interval) {
  return interval.count() % 1000 == 0 ? std::to_string(interval.count() / 1000) + " s"
                                      : std::to_string(interval.count()) + " ms";
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(std::chrono::milliseconds retryInterval) : retryInterval_(retryInterval) {}

MetricsEndpoint::~MetricsEndpoint() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof(one));
    thread_.join();
  }
  if (stopFd_ >= 0) ::close(stopFd_);
}

MetricsEndpoint::Outcome MetricsEndpoint::Start(const MetricsAddress& address, std::string* error,
                                                std::function<void(const std::string&)> bound) {
  if (address.off) return Outcome::kOff;
  if (thread_.joinable()) return running() ? Outcome::kServing : Outcome::kWaiting;
  const std::string where = address.host + ":" + std::to_string(address.port);
  const int listenFd = Listen(address);
  const int listenError = errno;
  if (listenFd < 0 && !PassingFailure(listenError)) {
    *error = "cannot serve metrics on " + where + ": " + Reason(listenError, address.port);
    return Outcome::kRefused;
  }
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    *error = "cannot serve metrics on " + where + ": " + ErrnoText(errno);
    if (listenFd >= 0) ::close(listenFd);
    return Outcome::kRefused;
  }
  if (listenFd < 0) {
    *error = "metrics not served on " + where + ": " + Reason(listenError, address.port) + "; trying again every " +
             Interval(retryInterval_);
    waiting_.store(true, std::memory_order_release);
  } else {
    port_.store(BoundPort(listenFd), std::memory_order_release);
  }
  thread_ = std::thread(&MetricsEndpoint::Serve, this, listenFd, address, std::move(bound));
  return listenFd < 0 ? Outcome::kWaiting : Outcome::kServing;
}

void MetricsEndpoint::Register(std::shared_ptr<prometheus::Collectable> collectable) {
  if (!thread_.joinable()) collectables_.push_back(std::move(collectable));
}

void MetricsEndpoint::Serve(int listenFd, const MetricsAddress& address,
                            std::function<void(const std::string&)> bound) {
  while (listenFd < 0) {
    if (StopRequested(retryInterval_)) return;
    listenFd = Listen(address);
    if (listenFd < 0) continue;  // said once at the start; the status lines keep saying it
    port_.store(BoundPort(listenFd), std::memory_order_release);
    waiting_.store(false, std::memory_order_release);
    if (bound) bound("metrics on http://" + address.host + ":" + std::to_string(port()) + "/metrics");
  }
  ScrapeServer(listenFd, collectables_).Run(stopFd_);
}

bool MetricsEndpoint::StopRequested(std::chrono::milliseconds wait) const {
  pollfd stop{stopFd_, POLLIN, 0};
  return ::poll(&stop, 1, static_cast<int>(wait.count())) > 0;
}
