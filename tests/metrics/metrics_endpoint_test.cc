#include "metrics/metrics_endpoint.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "metrics/callback_collectable.h"
#include "metrics/scrape_server.h"
#include "tests/support/http_get.h"

namespace {

TEST(MetricsAddressTest, TakesHostPortOrOff) {
  const struct {
    const char* text;
    bool ok;
    bool off;
    const char* host;
    unsigned short port;
  } cases[] = {
      {"127.0.0.1:9470", true, false, "127.0.0.1", 9470},
      {"0.0.0.0:0", true, false, "0.0.0.0", 0},
      {"off", true, true, "", 0},
      {"127.0.0.1", false, false, "", 0},
      {":9470", false, false, "", 0},
      {"localhost:9470", false, false, "", 0},
      {"127.0.0.1:65536", false, false, "", 0},
      {"127.0.0.1:-1", false, false, "", 0},
      {"127.0.0.1:94x", false, false, "", 0},
      {"127.0.0.1:", false, false, "", 0},
      {"", false, false, "", 0},
      {"OFF", false, false, "", 0},
  };
  for (const auto& c : cases) {
    MetricsAddress address;
    std::string error;
    ASSERT_EQ(ParseMetricsAddress(c.text, &address, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_NE(error.find("--metrics"), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(address.off, c.off) << c.text;
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
  }
}

// A connection to 127.0.0.1:`port`, -1 when it failed.
int Connect(unsigned short port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends `request` as it is and returns the whole answer (empty when none came within 10 s).
std::string Exchange(unsigned short port, const std::string& request) {
  const int fd = Connect(port);
  if (fd < 0) return "";
  std::string answer;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buffer[65536];
    for (pollfd p{fd, POLLIN, 0}; std::chrono::steady_clock::now() < deadline && ::poll(&p, 1, 100) >= 0;) {
      if (p.revents == 0) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return answer;
}

// A port that a listening socket of the test holds; the socket in *holder.
unsigned short HoldAPort(int* holder) {
  *holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(*holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(*holder, 4) != 0 ||
      ::getsockname(*holder, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

std::shared_ptr<CallbackCollectable> CountingCollectable(std::atomic<int>* scrapes) {
  return std::make_shared<CallbackCollectable>([scrapes](SampleSet& s) {
    s.Counter("quoteloom_test_scrapes_total", "Scrapes so far", ++*scrapes);
  });
}

TEST(MetricsEndpointTest, ServesTheCollectablesReadAtEachScrape) {
  std::atomic<int> scrapes{0};
  MetricsEndpoint endpoint;
  endpoint.Register(CountingCollectable(&scrapes));
  std::string error;
  ASSERT_EQ(endpoint.Start({false, "127.0.0.1", 0}, &error), MetricsEndpoint::Outcome::kServing) << error;
  const unsigned short port = endpoint.port();
  ASSERT_NE(port, 0);
  EXPECT_STREQ(endpoint.StatusNote(), "");
  const std::string first = HttpGet(port, "/metrics");
  EXPECT_NE(first.find("200 OK"), std::string::npos) << first;
  EXPECT_NE(first.find("# TYPE quoteloom_test_scrapes_total counter"), std::string::npos) << first;
  EXPECT_NE(first.find("quoteloom_test_scrapes_total 1\n"), std::string::npos) << first;
  EXPECT_NE(HttpGet(port, "/metrics").find("quoteloom_test_scrapes_total 2\n"), std::string::npos);
}

// Another program on the port does not stop the program: the endpoint says why in plain words,
// waits, and serves once the port is free, saying so once.
TEST(MetricsEndpointTest, APortInUseIsTriedAgainUntilItBinds) {
  int holder = -1;
  const unsigned short port = HoldAPort(&holder);
  ASSERT_NE(port, 0);
  std::atomic<int> scrapes{0};
  MetricsEndpoint endpoint(std::chrono::milliseconds(100));
  endpoint.Register(CountingCollectable(&scrapes));
  std::mutex mutex;
  std::vector<std::string> said;
  std::string error;
  const auto outcome = endpoint.Start({false, "127.0.0.1", port}, &error, [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    said.push_back(text);
  });
  ASSERT_EQ(outcome, MetricsEndpoint::Outcome::kWaiting) << error;
  EXPECT_EQ(error, "metrics not served on 127.0.0.1:" + std::to_string(port) +
                       ": the port is in use by another program; trying again every 100 ms");
  EXPECT_FALSE(endpoint.running());
  EXPECT_STREQ(endpoint.StatusNote(), "metrics not served");
  std::this_thread::sleep_for(std::chrono::milliseconds(350));  // a few tries while the port is held
  EXPECT_FALSE(endpoint.running());
  ::close(holder);

  for (int i = 0; i < 100 && !endpoint.running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(endpoint.running());
  EXPECT_EQ(endpoint.port(), port);
  EXPECT_STREQ(endpoint.StatusNote(), "");
  EXPECT_NE(HttpGet(port, "/metrics").find("quoteloom_test_scrapes_total 1\n"), std::string::npos);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(said, std::vector<std::string>{"metrics on http://127.0.0.1:" + std::to_string(port) + "/metrics"});
}

// An address this machine does not have can never be served: refused at once, nothing waits.
TEST(MetricsEndpointTest, AnAddressOfAnotherMachineIsRefused) {
  MetricsEndpoint endpoint(std::chrono::milliseconds(100));
  std::string error;
  EXPECT_EQ(endpoint.Start({false, "192.0.2.1", 9470}, &error), MetricsEndpoint::Outcome::kRefused);
  EXPECT_EQ(error, "cannot serve metrics on 192.0.2.1:9470: that is not an address of this machine");
  EXPECT_FALSE(endpoint.running());
  EXPECT_STREQ(endpoint.StatusNote(), "");
}

TEST(MetricsEndpointTest, OffStartsNothing) {
  MetricsEndpoint endpoint;
  std::string error;
  EXPECT_EQ(endpoint.Start({true, "", 0}, &error), MetricsEndpoint::Outcome::kOff);
  EXPECT_FALSE(endpoint.running());
  EXPECT_EQ(endpoint.port(), 0);
  EXPECT_STREQ(endpoint.StatusNote(), "");
}

TEST(MetricsEndpointTest, OnlyMetricsAnswersWithTheMetrics) {
  std::atomic<int> scrapes{0};
  MetricsEndpoint endpoint;
  endpoint.Register(CountingCollectable(&scrapes));
  std::string error;
  ASSERT_EQ(endpoint.Start({false, "127.0.0.1", 0}, &error), MetricsEndpoint::Outcome::kServing) << error;
  const struct {
    std::string request;
    const char* status;
    bool metrics;
  } cases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK\r\n", true},
      {"GET /metrics?scrape=1 HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK\r\n", true},
      {"GET /metrics HTTP/1.0\n\n", "HTTP/1.1 200 OK\r\n", true},
      {"HEAD /metrics HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK\r\n", false},
      {"GET /metricsX HTTP/1.0\r\n\r\n", "HTTP/1.1 404 ", false},
      {"GET /metrics/ HTTP/1.0\r\n\r\n", "HTTP/1.1 404 ", false},
      {"GET / HTTP/1.0\r\n\r\n", "HTTP/1.1 404 ", false},
      {"GET /metrics.json HTTP/1.0\r\n\r\n", "HTTP/1.1 404 ", false},
      {"POST /metrics HTTP/1.0\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 ", false},
      {"GET metrics HTTP/1.0\r\n\r\n", "HTTP/1.1 400 ", false},
      {"GET /metrics SPDY/3\r\n\r\n", "HTTP/1.1 400 ", false},
      {"\x16\x03\x01\x02\x01\x01\xfc\x03\x03\r\n\r\n", "HTTP/1.1 400 ", false},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", "HTTP/1.1 431 ", false},
  };
  for (const auto& c : cases) {
    const std::string answer = Exchange(endpoint.port(), c.request);
    EXPECT_EQ(answer.rfind(c.status, 0), 0u) << c.request.substr(0, 40) << "\n" << answer.substr(0, 200);
    EXPECT_EQ(answer.find("quoteloom_test_scrapes_total") != std::string::npos, c.metrics) << c.request.substr(0, 40);
  }
}

// Connections that send nothing, or a request head a byte at a time, hold no thread a scrape waits
// for: with 300 of them held (far over the cap) a scrape is answered at once, and a connection
// that never finishes its request is closed after the timeout.
TEST(MetricsEndpointTest, HeldConnectionsDoNotDelayAScrape) {
  std::atomic<int> scrapes{0};
  MetricsEndpoint endpoint;
  endpoint.Register(CountingCollectable(&scrapes));
  std::string error;
  ASSERT_EQ(endpoint.Start({false, "127.0.0.1", 0}, &error), MetricsEndpoint::Outcome::kServing) << error;
  const unsigned short port = endpoint.port();
  const int lingering = Connect(port);
  ASSERT_GE(lingering, 0);
  ASSERT_EQ(::send(lingering, "GET /met", 8, MSG_NOSIGNAL), 8);
  const std::string halfHead = "GET /metrics HTTP/1.1\r\nX-Slow: a";
  std::vector<int> held;
  for (int i = 0; i < 300; ++i) {
    const int fd = Connect(port);
    ASSERT_GE(fd, 0);
    if (i % 2 == 0) {
      ASSERT_EQ(::send(fd, halfHead.data(), halfHead.size(), MSG_NOSIGNAL), static_cast<ssize_t>(halfHead.size()));
    }
    held.push_back(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string answer = HttpGet(port, "/metrics", std::chrono::seconds(60));
  const auto waited = std::chrono::steady_clock::now() - start;
  for (int fd : held) ::close(fd);
  EXPECT_NE(answer.find("quoteloom_test_scrapes_total 1\n"), std::string::npos) << answer;
  // One thread per connection with any timeout of a second or more would take tens of seconds.
  EXPECT_LT(waited, std::chrono::seconds(3));

  // The half-sent request is pushed out or times out: either way the server closes it.
  pollfd p{lingering, POLLIN, 0};
  char byte;
  EXPECT_EQ(::poll(&p, 1, static_cast<int>(ScrapeServer::kTimeout.count()) + 5000), 1);
  EXPECT_LE(::recv(lingering, &byte, 1, 0), 0);
  ::close(lingering);
}

}  // namespace
