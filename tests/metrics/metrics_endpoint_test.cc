#include "metrics/metrics_endpoint.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "metrics/callback_collectable.h"
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
  ASSERT_TRUE(endpoint.Start({false, "127.0.0.1", 0}, &error)) << error;
  const unsigned short port = endpoint.port();
  ASSERT_NE(port, 0);
  const std::string first = HttpGet(port, "/metrics");
  EXPECT_NE(first.find("200 OK"), std::string::npos) << first;
  EXPECT_NE(first.find("# TYPE quoteloom_test_scrapes_total counter"), std::string::npos) << first;
  EXPECT_NE(first.find("quoteloom_test_scrapes_total 1\n"), std::string::npos) << first;
  EXPECT_NE(HttpGet(port, "/metrics").find("quoteloom_test_scrapes_total 2\n"), std::string::npos);
}

TEST(MetricsEndpointTest, APortInUseIsAnErrorNotASilentStart) {
  const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(holder, 4), 0);
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const unsigned short port = ntohs(address.sin_port);

  MetricsEndpoint endpoint;
  std::string error;
  EXPECT_FALSE(endpoint.Start({false, "127.0.0.1", port}, &error));
  EXPECT_FALSE(endpoint.running());
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << error;
  ::close(holder);
}

TEST(MetricsEndpointTest, OffStartsNothing) {
  MetricsEndpoint endpoint;
  std::string error;
  EXPECT_TRUE(endpoint.Start({true, "", 0}, &error));
  EXPECT_FALSE(endpoint.running());
  EXPECT_EQ(endpoint.port(), 0);
}

// Clients that connect and send nothing hold the endpoint's threads only until the request
// timeout: a scrape behind 20 of them waits about 20 / kThreads timeouts, well inside the 10 s
// Prometheus gives a scrape, instead of forever.
TEST(MetricsEndpointTest, IdleConnectionsDelayAScrapeOnlyUntilTheirTimeout) {
  std::atomic<int> scrapes{0};
  MetricsEndpoint endpoint;
  endpoint.Register(CountingCollectable(&scrapes));
  std::string error;
  ASSERT_TRUE(endpoint.Start({false, "127.0.0.1", 0}, &error)) << error;
  const unsigned short port = endpoint.port();
  std::vector<int> idle;
  for (int i = 0; i < 20; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    idle.push_back(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string answer = HttpGet(port, "/metrics", std::chrono::seconds(60));
  const auto waited = std::chrono::steady_clock::now() - start;
  for (int fd : idle) ::close(fd);
  EXPECT_NE(answer.find("quoteloom_test_scrapes_total 1\n"), std::string::npos) << answer;
  EXPECT_LT(waited, std::chrono::seconds(10));
}

}  // namespace
