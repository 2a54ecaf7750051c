// quoteloomd's metrics and its messages to the service manager, with the front simulator and a
// unix datagram socket standing in for systemd.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/held_port.h"
#include "tests/support/file_text.h"
#include "tests/support/front_simulator.h"
#include "tests/support/http_get.h"
#include "tests/support/metrics_text.h"
#include "tests/support/process_output.h"
#include "tests/support/simulator_summary.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class CollectorMetricsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-metrics-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "xdg");
    notifyPath_ = (dir_ / "notify").string();
    notifyFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", notifyPath_.c_str());
    ASSERT_EQ(::bind(notifyFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }
  void TearDown() override {
    collector_.reset();
    simulator_.reset();
    ::close(notifyFd_);
    fs::remove_all(dir_);
  }

  void StartCollector(const std::string& frontAddress, const std::string& metrics) {
    std::ofstream(dir_ / "setting.ini") << SettingIniText(OneFront(frontAddress));
    collector_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUOTELOOMD, "--workdir", dir_.string(), "--replay", "off", "--status-seconds", "1",
                                 "--metrics", metrics},
        (dir_ / "quoteloomd.out").string(),
        std::vector<std::string>{"XDG_CONFIG_HOME=" + (dir_ / "xdg").string(), "NOTIFY_SOCKET=" + notifyPath_});
    ASSERT_TRUE(collector_->started());
  }

  // The port quoteloomd says it serves its metrics on, 0 when it did not say so in time.
  unsigned short MetricsPort() {
    unsigned short port = 0;
    WaitUntil(
        [&] {
          std::smatch m;
          const std::string out = collector_->Output();
          if (std::regex_search(out, m, std::regex("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"))) {
            port = static_cast<unsigned short>(std::stoi(m[1]));
          }
          return port != 0 || !collector_->Running();
        },
        10s);
    return port;
  }

  // Every datagram the collector sent to the fake manager so far.
  std::string Notifications() {
    pollfd p{notifyFd_, POLLIN, 0};
    char buffer[4096];
    while (::poll(&p, 1, 0) > 0) {
      const ssize_t n = ::recv(notifyFd_, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      notifications_.append(buffer, static_cast<std::size_t>(n)).append("\n--\n");
    }
    return notifications_;
  }

  fs::path dir_;
  std::string notifyPath_;
  int notifyFd_ = -1;
  std::string notifications_;
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collector_;
};

TEST_F(CollectorMetricsTest, MetricsCountWhatTheFrontSentAndTheManagerHearsReadyStatusAndWatchdog) {
  const std::string address = StartFrontSimulator(
      &simulator_, QUOTELOOM_FRONTSIM,
      {"--trading-day", "20240301", "--duration", "4", "--hostile-every", "40", "--summary", (dir_ / "summary.json").string()},
      (dir_ / "frontsim.out").string());
  ASSERT_FALSE(address.empty()) << simulator_->Output();
  StartCollector(address, "127.0.0.1:0");
  const unsigned short port = MetricsPort();
  ASSERT_NE(port, 0) << collector_->Output();
  ASSERT_TRUE(simulator_->Wait(40s));
  SimulatorSummary summary;
  ASSERT_TRUE(ParseSimulatorSummary(ReadText(dir_ / "summary.json"), &summary));
  ASSERT_GT(summary.total, 0u);

  std::string text;
  ASSERT_TRUE(WaitUntil(
      [&] {
        text = HttpBody(HttpGet(port, "/metrics"));
        return MetricValue(text, "quoteloom_ticks_written_total") == static_cast<double>(summary.total) &&
               MetricValue(text, "quoteloom_front_connected") == 0;
      },
      20s))
      << text;
  EXPECT_EQ(MetricValue(text, "quoteloom_ticks_accepted_total"), static_cast<double>(summary.total));
  EXPECT_EQ(MetricSum(text, "quoteloom_exchange_ticks_total"), static_cast<double>(summary.total));
  EXPECT_EQ(MetricSum(text, "quoteloom_ticks_refused_total"), static_cast<double>(summary.hostile));
  EXPECT_EQ(MetricValue(text, "quoteloom_ticks_received_total"), static_cast<double>(summary.total + summary.hostile));
  EXPECT_EQ(MetricValue(text, "quoteloom_subscriptions_answered_total"), 1475);
  EXPECT_EQ(MetricValue(text, "quoteloom_front_logins_total"), 1);
  EXPECT_GE(MetricSum(text, "quoteloom_front_disconnects_total"), 1);
  EXPECT_EQ(MetricValue(text, "quoteloom_writer_queue_depth"), 0);
  EXPECT_EQ(MetricValue(text, "quoteloom_lost_lines_total"), 0);
  EXPECT_GT(MetricValue(text, "quoteloom_process_threads"), 1);
  EXPECT_GT(MetricValue(text, "quoteloom_process_resident_memory_bytes"), 1 << 20);
  // The front is gone: healthy only when no exchange trades at this moment of the machine's clock.
  const double outside = MetricValue(text, "quoteloom_healthy{reason=\"outside_service_hours\"}");
  const double notLoggedIn = MetricValue(text, "quoteloom_healthy{reason=\"front_not_logged_in\"}");
  EXPECT_TRUE((outside == 1 && notLoggedIn == -1) || (outside == -1 && notLoggedIn == 0)) << text;

  ASSERT_TRUE(WaitUntil([&] { return Notifications().find("STATUS=contracts written") != std::string::npos; }, 10s))
      << Notifications();
  const std::string said = Notifications();
  EXPECT_EQ(said.find("READY=1\nSTATUS=collecting under "), 0u) << said;
  EXPECT_NE(said.find("WATCHDOG=1"), std::string::npos) << said;
  collector_->Signal(SIGTERM);
  ASSERT_TRUE(collector_->Wait(30s));
  EXPECT_TRUE(WIFEXITED(collector_->status()) && WEXITSTATUS(collector_->status()) == 0);
  EXPECT_NE(Notifications().find("STOPPING=1"), std::string::npos);
}

// A second collector on the machine with the same metrics address must not lose its day: it
// collects, says once why metrics are not served, notes it on every status line and the exit line,
// and takes the port once it is free.
TEST_F(CollectorMetricsTest, AMetricsPortInUseCostsNoTickAndIsTakenOnceFree) {
  std::string where;
  const int holder = HoldFreeLoopbackPort(&where);
  ASSERT_GE(holder, 0);
  const std::string address = StartFrontSimulator(&simulator_, QUOTELOOM_FRONTSIM, {"--total-rate", "200", "--duration", "300"},
                                                  (dir_ / "frontsim.out").string());
  ASSERT_FALSE(address.empty()) << simulator_->Output();
  const std::string said = "metrics not served on " + where + ": the port is in use by another program; trying again every 30 s";

  StartCollector(address, where);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string out = collector_->Output();
        return LastNumberAfter(out, "ticks written") > 0 && CountOf(out, "[status]") >= 3;
      },
      60s))
      << collector_->Output();
  EXPECT_NE(Notifications().find("READY=1"), std::string::npos);
  collector_->Signal(SIGTERM);
  ASSERT_TRUE(collector_->Wait(30s));
  EXPECT_TRUE(WIFEXITED(collector_->status()) && WEXITSTATUS(collector_->status()) == 0);
  std::string out = collector_->Output();
  EXPECT_EQ(CountOf(out, said), 1) << out;
  EXPECT_EQ(out.find("CivetServer"), std::string::npos) << out;
  const std::regex noted("\\[status\\][^\\n]*, metrics not served\\n");
  const auto notedLines = std::distance(std::sregex_iterator(out.begin(), out.end(), noted), std::sregex_iterator());
  EXPECT_EQ(notedLines, CountOf(out, "[status]")) << "every status line says it\n" << out;
  const std::regex exitLine("quoteloomd: accepted ticks [^\n]*, metrics not served\n");
  EXPECT_TRUE(std::regex_search(out, exitLine)) << "the exit line says it too\n" << out;

  // Started again while the port is still held; the port comes free within the retry interval.
  StartCollector(address, where);
  ASSERT_TRUE(WaitUntil([&] { return collector_->Output().find(said) != std::string::npos; }, 20s)) << collector_->Output();
  ::close(holder);
  // The fake manager's socket is drained meanwhile, as the manager would: a full one holds the status loop.
  ASSERT_TRUE(WaitUntil(
      [&] {
        Notifications();
        return collector_->Output().find("metrics on http://" + where + "/metrics") != std::string::npos;
      },
      45s))
      << collector_->Output();
  const std::string text = HttpBody(HttpGet(static_cast<unsigned short>(std::stoi(where.substr(where.rfind(':') + 1))), "/metrics"));
  EXPECT_GT(MetricValue(text, "quoteloom_ticks_written_total"), 0) << text;
  const std::size_t servedAt = collector_->Output().size();
  ASSERT_TRUE(WaitUntil(
      [&] {
        Notifications();
        return CountOf(collector_->Output().substr(servedAt), "[status]") >= 2;
      },
      10s))
      << collector_->Output();
  collector_->Signal(SIGTERM);
  ASSERT_TRUE(collector_->Wait(30s));
  out = collector_->Output();
  EXPECT_EQ(out.substr(servedAt).find("metrics not served"), std::string::npos) << out;
  EXPECT_EQ(CountOf(out, said), 1) << out;
}

// An address this machine can never serve ends the collector before it collects, with exit 2.
TEST_F(CollectorMetricsTest, AMetricsAddressThatCanNeverBeServedEndsTheCollectorWithExit2) {
  const struct {
    const char* address;
    const char* message;
  } cases[] = {
      {"192.0.2.1:9470", "cannot serve metrics on 192.0.2.1:9470: that is not an address of this machine"},
      {"127.0.0.1:70000", "--metrics takes a port from 0 to 65535"},
  };
  for (const auto& c : cases) {
    StartCollector("127.0.0.1:1", c.address);
    ASSERT_TRUE(collector_->Wait(10s)) << collector_->Output();
    EXPECT_TRUE(WIFEXITED(collector_->status()) && WEXITSTATUS(collector_->status()) == 2) << c.address;
    EXPECT_NE(collector_->Output().find(c.message), std::string::npos) << collector_->Output();
    EXPECT_EQ(Notifications().find("READY=1"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "DataTimeStream"));
  }
}

}  // namespace
