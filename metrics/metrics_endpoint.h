#ifndef QUOTELOOM_METRICS_METRICS_ENDPOINT_H
#define QUOTELOOM_METRICS_METRICS_ENDPOINT_H

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace prometheus {
class Collectable;
}  // namespace prometheus

// Where a program serves its metrics: an IPv4 address and a port, or off.
struct MetricsAddress {
  bool off = false;
  std::string host;
  unsigned short port = 0;  // 0: a free port
};

// Reads "HOST:PORT" (dotted IPv4, port 0-65535) or "off"; false with a message on anything else.
bool ParseMetricsAddress(const std::string& text, MetricsAddress* address, std::string* error);

// The HTTP endpoint /metrics, served by a ScrapeServer on a thread of its own. Metrics come after
// the data: a port another program holds does not stop the program, the endpoint tries it again
// every `retryInterval` until it binds. Started and stopped by the owning thread; the collectables
// are read on the endpoint's thread.
class MetricsEndpoint {
 public:
  static constexpr std::chrono::milliseconds kRetryInterval{30000};
  // What the status and exit lines say while the address is still taken.
  static constexpr const char* kNotServedNote = "metrics not served";

  enum class Outcome {
    kOff,      // the address is `off`
    kServing,  // bound and serving
    kWaiting,  // the port is taken for now; tried again every retry interval
    kRefused,  // never servable here (not an address of this machine, a port it may not use)
  };

  explicit MetricsEndpoint(std::chrono::milliseconds retryInterval = kRetryInterval);
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Binds `address` and serves. kWaiting and kRefused come with the reason in plain words in
  // `error`; once a waiting endpoint binds, `bound` is called on the endpoint's thread with
  // "metrics on http://HOST:PORT/metrics". Runs once.
  Outcome Start(const MetricsAddress& address, std::string* error,
                std::function<void(const std::string&)> bound = nullptr);
  // Served at /metrics; before Start.
  void Register(std::shared_ptr<prometheus::Collectable> collectable);
  bool running() const { return port_.load(std::memory_order_acquire) != 0; }
  // The bound port while running, else 0.
  unsigned short port() const { return port_.load(std::memory_order_acquire); }
  // kNotServedNote while waiting for the address, else empty; from any thread.
  const char* StatusNote() const { return waiting_.load(std::memory_order_acquire) ? kNotServedNote : ""; }

 private:
  void Serve(int listenFd, const MetricsAddress& address, std::function<void(const std::string&)> bound);
  bool StopRequested(std::chrono::milliseconds wait) const;

  const std::chrono::milliseconds retryInterval_;
  std::vector<std::shared_ptr<prometheus::Collectable>> collectables_;  // fixed once started
  int stopFd_ = -1;
  std::thread thread_;
  // Written by the endpoint's thread (and Start), read by any thread.
  std::atomic<unsigned short> port_{0};
  std::atomic<bool> waiting_{false};
};

#endif
