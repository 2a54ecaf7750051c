// The shipped scrape configuration and alert rules in a real Prometheus: the front simulator,
// quoteloomd on a fake clock inside a night session, a publisher, a one-node JetStream with an
// archive, and Prometheus on loopback scraping them every second; the test asks Prometheus' HTTP
// query API what it saw.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/front_simulator.h"
#include "tests/support/http_get.h"
#include "tests/support/metrics_text.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
// Thursday 21:10: the night session of SHFE, INE, DCE and CZCE. The fake clock runs at real speed.
constexpr const char* kNight = "2024-03-07 21:10:00";
constexpr int kScrapeSeconds = 1;
// The silence alert's tick-age threshold and for: time in this test (60 s each when shipped).
constexpr int kSilentSeconds = 3;
constexpr int kForSeconds = 3;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "the shipped file no longer holds '" << from << "'";
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string UrlEncoded(const std::string& text) {
  std::string out;
  char hex[4];
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

unsigned short MetricsPortOf(ChildProcess& program) {
  unsigned short port = 0;
  WaitUntil(
      [&] {
        std::smatch m;
        const std::string out = program.Output();
        if (std::regex_search(out, m, std::regex("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"))) {
          port = static_cast<unsigned short>(std::stoi(m[1]));
        }
        return port != 0 || !program.Running();
      },
      15s);
  return port;
}

class PrometheusEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A sanitizer build's programs must accept the clock library loaded ahead of them.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0:detect_leaks=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
  }
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-prometheus-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "collector" / "xdg");
  }
  void TearDown() override {
    prometheus_.reset();
    archive_.reset();
    publisher_.reset();
    collector_.reset();
    simulator_.reset();
    node_.reset();
    fs::remove_all(dir_);
  }

  // The shipped files with the test's ports, a one-second scrape and the short silence alert.
  void WritePrometheusFiles(unsigned short collector, unsigned short publisher, unsigned short archive) {
    std::string config = ReadText(fs::path(QUOTELOOM_SOURCE_DIR) / "packaging/prometheus/prometheus.yml");
    config = config.substr(0, config.find("  # The morning audit"));  // no node exporter here
    config = Replaced(config, "scrape_interval: 15s", "scrape_interval: " + std::to_string(kScrapeSeconds) + "s");
    config = Replaced(config, "evaluation_interval: 15s", "evaluation_interval: 1s");
    config = Replaced(config, "127.0.0.1:9470", "127.0.0.1:" + std::to_string(collector));
    config = Replaced(config, "127.0.0.1:9471", "127.0.0.1:" + std::to_string(publisher));
    config = Replaced(config, "127.0.0.1:9472", "127.0.0.1:" + std::to_string(archive));
    std::ofstream(dir_ / "prometheus.yml") << config;
    std::string rules = ReadText(fs::path(QUOTELOOM_SOURCE_DIR) / "packaging/prometheus/quoteloom-alerts.yml");
    rules = Replaced(rules, "quoteloom_exchange_last_tick_age_seconds > 60\n        for: 60s",
                     "quoteloom_exchange_last_tick_age_seconds > " + std::to_string(kSilentSeconds) +
                         "\n        for: " + std::to_string(kForSeconds) + "s");
    std::ofstream(dir_ / "quoteloom-alerts.yml") << rules;
  }

  void StartPrometheus() {
    prometheusPort_ = static_cast<unsigned short>(FreeLoopbackPort());
    prometheus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{PROMETHEUS_PROGRAM, "--config.file=" + (dir_ / "prometheus.yml").string(),
                                 "--storage.tsdb.path=" + (dir_ / "tsdb").string(),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort_)},
        (dir_ / "prometheus.out").string());
    ASSERT_TRUE(WaitUntil([&] { return HttpGet(prometheusPort_, "/-/ready", 2s).find(" 200 ") != std::string::npos; },
                          30s))
        << prometheus_->Output();
  }

  // The value of a PromQL expression with one result, -1 when there is none.
  double Query(const std::string& expression) {
    const nlohmann::json answer = nlohmann::json::parse(
        HttpBody(HttpGet(prometheusPort_, "/api/v1/query?query=" + UrlEncoded(expression))), nullptr, false);
    if (!answer.is_object() || answer.value("status", "") != "success") return -1;
    const auto& result = answer["data"]["result"];
    if (!result.is_array() || result.size() != 1) return -1;
    return std::stod(result[0]["value"][1].get<std::string>());
  }

  // The state of the alert for `exchange`: "pending", "firing" or empty.
  std::string AlertState(const std::string& name, const std::string& exchange) {
    const nlohmann::json answer =
        nlohmann::json::parse(HttpBody(HttpGet(prometheusPort_, "/api/v1/alerts")), nullptr, false);
    if (!answer.is_object() || !answer.contains("data")) return "";
    for (const auto& alert : answer["data"]["alerts"]) {
      if (alert["labels"].value("alertname", "") == name && alert["labels"].value("exchange", "") == exchange) {
        return alert.value("state", "");
      }
    }
    return "";
  }

  fs::path dir_;
  unsigned short prometheusPort_ = 0;
  std::unique_ptr<NatsCluster> node_;
  std::unique_ptr<ChildProcess> simulator_, collector_, publisher_, archive_, prometheus_;
};

TEST_F(PrometheusEndToEndTest, CountsAgreeAndASilentExchangeInSessionFiresInTime) {
  ASSERT_TRUE(fs::exists(kFakeTimeLibrary)) << "scripts/install-deps installs faketime";
  node_ = std::make_unique<NatsCluster>(dir_, 1);
  ASSERT_TRUE(node_->Start());
  const fs::path work = dir_ / "collector";
  const std::string front = StartFrontSimulator(
      &simulator_, QUOTELOOM_FRONTSIM, {"--trading-day", "20240308", "--total-rate", "300", "--hang-after-seconds", "8"},
      (dir_ / "frontsim.out").string());
  ASSERT_FALSE(front.empty()) << simulator_->Output();
  std::ofstream(work / "setting.ini") << SettingIniText(OneFront(front));
  collector_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{QUOTELOOMD, "--workdir", work.string(), "--replay", "off", "--status-seconds", "1",
                               "--metrics", "127.0.0.1:0"},
      (dir_ / "quoteloomd.out").string(),
      std::vector<std::string>{"XDG_CONFIG_HOME=" + (work / "xdg").string(), "LD_PRELOAD=" + std::string(kFakeTimeLibrary),
                               "FAKETIME=@" + std::string(kNight)});
  const std::vector<std::string> cluster = {"--servers", node_->Urls(), "--status-seconds", "1", "--metrics",
                                            "127.0.0.1:0"};
  // The collector makes its journal's folder at start; a publisher on a folder without one ends.
  ASSERT_TRUE(WaitUntil([&] { return fs::is_directory(work / "Journal"); }, 30s)) << collector_->Output();
  std::vector<std::string> publish = {QUOTELOOM_PUBLISH, "--workdir", work.string()};
  publish.insert(publish.end(), cluster.begin(), cluster.end());
  publisher_ = std::make_unique<ChildProcess>(publish, (dir_ / "publish.out").string());
  std::vector<std::string> archive = {QUOTELOOM_ARCHIVE, "--workdir", (dir_ / "archive").string()};
  archive.insert(archive.end(), cluster.begin(), cluster.end());
  archive_ = std::make_unique<ChildProcess>(archive, (dir_ / "archive.out").string());
  const unsigned short collectorPort = MetricsPortOf(*collector_);
  const unsigned short publisherPort = MetricsPortOf(*publisher_);
  const unsigned short archivePort = MetricsPortOf(*archive_);
  ASSERT_NE(collectorPort, 0) << collector_->Output();
  ASSERT_NE(publisherPort, 0) << publisher_->Output();
  ASSERT_NE(archivePort, 0) << archive_->Output();
  WritePrometheusFiles(collectorPort, publisherPort, archivePort);
  StartPrometheus();

  // Ticks flow, then the front hangs: SHFE is in session on the collector's clock and goes silent.
  ASSERT_TRUE(WaitUntil([&] { return Query("quoteloom_exchange_ticks_total{exchange=\"SHFE\"}") > 0; }, 30s));
  EXPECT_EQ(Query("quoteloom_exchange_in_session{exchange=\"SHFE\"}"), 1);
  EXPECT_EQ(Query("quoteloom_exchange_in_session{exchange=\"CFFEX\"}"), 0);
  std::string state;
  ASSERT_TRUE(WaitUntil([&] { return (state = AlertState("QuoteloomExchangeSilentInSession", "SHFE")) == "firing"; },
                        60s))
      << state;
  // How long SHFE has been silent when the alert is seen firing, by the collector's own figure.
  const double silence =
      MetricValue(HttpBody(HttpGet(collectorPort, "/metrics")), "quoteloom_exchange_last_tick_age_seconds{exchange=\"SHFE\"}");
  std::printf("silence alert firing after %.1f s of silence (threshold %d s, for: %d s, scrape %d s)\n", silence,
              kSilentSeconds, kForSeconds, kScrapeSeconds);
  EXPECT_GE(silence, kSilentSeconds + kForSeconds);
  // Condition true after kSilentSeconds, then for: kForSeconds, two scrapes, one evaluation and this poll.
  EXPECT_LE(silence, kSilentSeconds + kForSeconds + 2 * kScrapeSeconds + 1 + 0.5);
  EXPECT_EQ(AlertState("QuoteloomExchangeSilentInSession", "CFFEX"), "");  // out of session: never

  // Everything the collector stored reaches the archive once; Prometheus holds the same figures.
  const std::string acknowledged = "quoteloom_publish_lines_acknowledged_total";
  const std::string stored = "quoteloom_archive_messages_stored_total";
  const std::string written = "quoteloom_ticks_written_total";
  ASSERT_TRUE(WaitUntil(
      [&] {
        const double w = MetricValue(HttpBody(HttpGet(collectorPort, "/metrics")), written);
        return w > 0 && Query(written) == w && Query(acknowledged) == w && Query(stored) == w;
      },
      30s))
      << Query(written) << " " << Query(acknowledged) << " " << Query(stored);
  EXPECT_EQ(Query(acknowledged), Query(stored));
  EXPECT_EQ(Query("quoteloom_healthy{job=\"quoteloom-publish\",reason=\"ok\"}"), 1);
  EXPECT_EQ(Query("quoteloom_healthy{job=\"quoteloom-archive\",reason=\"ok\"}"), 1);

  const double scraped = Query(written);
  collector_->Signal(SIGTERM);
  ASSERT_TRUE(collector_->Wait(30s));
  EXPECT_EQ(LastNumberAfter(collector_->Output(), "quoteloomd: accepted ticks \\d+, written"),
            static_cast<long long>(scraped))
      << collector_->Output();
  EXPECT_EQ(Query("last_over_time(" + written + "[5m])"), scraped);
}

}  // namespace
