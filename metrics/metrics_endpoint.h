#ifndef QUOTELOOM_METRICS_METRICS_ENDPOINT_H
#define QUOTELOOM_METRICS_METRICS_ENDPOINT_H

#include <memory>
#include <vector>
#include <string>

namespace prometheus {
class Collectable;
class Exposer;
}  // namespace prometheus

// Where a program serves its metrics: an IPv4 address and a port, or off.
struct MetricsAddress {
  bool off = false;
  std::string host;
  unsigned short port = 0;  // 0: a free port
};

// Reads "HOST:PORT" (dotted IPv4, port 0-65535) or "off"; false with a message on anything else.
bool ParseMetricsAddress(const std::string& text, MetricsAddress* address, std::string* error);

// The HTTP endpoint /metrics on its own small pool of threads. A client that holds a connection
// without sending a whole request loses it after kRequestTimeoutMs, and at most kThreads scrapes
// are served at once; further connections wait in the listen queue. Started and stopped by the
// owning thread; the collectables are read on the endpoint's threads.
class MetricsEndpoint {
 public:
  static constexpr int kThreads = 8;
  static constexpr int kRequestTimeoutMs = 1000;

  MetricsEndpoint();
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Binds and starts serving; false with a message (a port in use, a bad address). An `off`
  // address starts nothing and succeeds.
  bool Start(const MetricsAddress& address, std::string* error);
  // Served at /metrics while the endpoint runs; the endpoint keeps it alive.
  void Register(std::shared_ptr<prometheus::Collectable> collectable);
  bool running() const { return exposer_ != nullptr; }
  // The bound port while running, else 0.
  unsigned short port() const;

 private:
  std::unique_ptr<prometheus::Exposer> exposer_;
  std::vector<std::shared_ptr<prometheus::Collectable>> collectables_;
};

#endif
