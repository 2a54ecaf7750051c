// cluster_bench: prints quoteloom-publish's throughput into one JetStream node with file storage,
// and the lag from a line appended to a collector's time-stream file to the same line in the
// archive's, at a steady rate through a three-node cluster (p50, p99, max).
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const char* const kContracts[] = {"rb2405", "cu2404", "au2406", "m2405", "SR405",
                                  "TA405",  "IF2403", "sc2404", "ag2406", "i2405"};

std::string NowStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char stamp[16];
  std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &t);
  return stamp;
}

// A tick line whose volume `n` tells it apart.
std::string Line(int n, const std::string& stamp) { return TestTickLine(kContracts[n % 10], n, stamp); }

void AppendLine(const fs::path& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, line.data(), line.size()) < 0) std::perror("write");
  ::close(fd);
}

std::uint64_t AcknowledgedOffset(const fs::path& state) {
  const std::string text = ReadText(state);
  const auto at = text.find("\"offset\":");
  return at == std::string::npos ? 0 : std::stoull(text.substr(at + 9));
}

std::vector<std::string> ServerArgs(const std::string& urls, const std::string& replicas) {
  return {"--servers", urls, "--replicas", replicas, "--status-seconds", "5"};
}

void Throughput(const fs::path& dir, int lines) {
  NatsCluster node(dir / "one", 1);
  fs::create_directories(dir / "one");
  if (!node.Start()) {
    std::printf("throughput: nats-server did not start\n");
    return;
  }
  const fs::path work = dir / "collector";
  fs::create_directories(work / "DataTimeStream");
  const std::string stamp = NowStamp();
  std::string text;
  for (int i = 0; i < lines; ++i) text += Line(i, stamp);
  AppendText(work / "DataTimeStream" / "20240301.csv", text);
  const fs::path state = work / "quoteloom-publish.state";

  std::vector<std::string> argv = {QUOTELOOM_PUBLISH, "--workdir", work.string(), "--metrics", "127.0.0.1:0"};
  for (const auto& a : ServerArgs(node.Urls(), "1")) argv.push_back(a);
  const auto start = Clock::now();
  ChildProcess publisher(argv, (dir / "publish-throughput.out").string());
  WaitUntil([&] { return AcknowledgedOffset(state) >= text.size(); }, 300s);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const bool done = AcknowledgedOffset(state) >= text.size();
  std::printf("publisher throughput: %d lines (%.1f MB) acknowledged by one JetStream node (file storage) in %.2f s: "
              "%.0f lines/s%s\n",
              lines, text.size() / 1e6, seconds, lines / seconds, done ? "" : " (NOT FINISHED)");
}

void Lag(const fs::path& dir, int rate, int seconds) {
  NatsCluster cluster(dir / "three", 3);
  fs::create_directories(dir / "three");
  if (!cluster.Start()) {
    std::printf("lag: the cluster did not start\n");
    return;
  }
  const fs::path work = dir / "lagcollector";
  const fs::path archive = dir / "lagarchive";
  fs::create_directories(work / "DataTimeStream");
  std::vector<std::string> pubArgs = {QUOTELOOM_PUBLISH, "--workdir", work.string(), "--metrics", "127.0.0.1:0"};
  std::vector<std::string> arcArgs = {QUOTELOOM_ARCHIVE, "--workdir", archive.string(), "--metrics", "127.0.0.1:0"};
  for (const auto& a : ServerArgs(cluster.Urls(), "3")) {
    pubArgs.push_back(a);
    arcArgs.push_back(a);
  }
  ChildProcess publisher(pubArgs, (dir / "publish-lag.out").string());
  ChildProcess archiver(arcArgs, (dir / "archive-lag.out").string());

  // A first line, to let the stream and the consumer be created before timing starts.
  const std::string day = "20240301";
  const fs::path source = work / "DataTimeStream" / (day + ".csv");
  AppendLine(source, Line(1 << 30, NowStamp()));
  WaitUntil([&] { return fs::exists(archive / "DataTimeStream"); }, 30s);

  const int total = rate * seconds;
  std::vector<Clock::time_point> written(total), stored(total);
  std::vector<bool> seen(total, false);
  std::map<fs::path, std::uint64_t> offsets;
  std::string pending;
  int stored_count = 0;
  const auto readArchive = [&] {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(archive / "DataTimeStream", ec)) {
      std::uint64_t& offset = offsets[entry.path()];
      const std::uint64_t size = fs::file_size(entry.path(), ec);
      if (ec || size <= offset) continue;
      const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
      std::string bytes(size - offset, '\0');
      const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
      ::close(fd);
      if (n <= 0) continue;
      bytes.resize(static_cast<std::size_t>(n));
      const auto now = Clock::now();
      std::size_t at = 0;
      for (std::size_t lf = bytes.find('\n'); lf != std::string::npos; lf = bytes.find('\n', at)) {
        const std::string line = bytes.substr(at, lf - at);
        // The volume is the eighth field.
        std::size_t p = 0;
        for (int f = 0; f < 7 && p != std::string::npos; ++f) p = line.find(',', p + 1);
        const long long volume = p == std::string::npos ? -1 : std::atoll(line.c_str() + p + 1);
        if (volume >= 0 && volume < total && !seen[volume]) {
          seen[volume] = true;
          stored[volume] = now;
          ++stored_count;
        }
        at = lf + 1;
      }
      offset += at;
    }
  };

  const auto start = Clock::now();
  int next = 0;
  while (next < total) {
    const auto due = start + std::chrono::microseconds(1000000LL * next / rate);
    if (Clock::now() >= due) {
      const std::string stamp = NowStamp();
      while (next < total && Clock::now() >= start + std::chrono::microseconds(1000000LL * next / rate)) {
        AppendLine(source, Line(next, stamp));
        written[next] = Clock::now();
        ++next;
      }
    }
    readArchive();
    std::this_thread::sleep_for(500us);
  }
  const auto deadline = Clock::now() + 30s;
  while (stored_count < total && Clock::now() < deadline) {
    readArchive();
    std::this_thread::sleep_for(500us);
  }
  std::vector<double> lags;
  for (int i = 0; i < total; ++i) {
    if (seen[i]) lags.push_back(std::chrono::duration<double, std::milli>(stored[i] - written[i]).count());
  }
  std::sort(lags.begin(), lags.end());
  const auto pct = [&](double q) { return lags.empty() ? 0.0 : lags[std::min(lags.size() - 1, std::size_t(q * lags.size()))]; };
  std::printf("line-to-archive lag through three nodes (R3) at %d lines/s for %d s: %zu of %d lines arrived, "
              "p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              rate, seconds, lags.size(), total, pct(0.5), pct(0.99), lags.empty() ? 0.0 : lags.back());
  publisher.Signal(SIGTERM);
  archiver.Signal(SIGTERM);
  publisher.Wait(10s);
  archiver.Wait(10s);
}

}  // namespace

int main(int argc, char** argv) {
  int lines = 200000;
  int rate = 2000;
  int seconds = 10;
  CLI::App app{"Publisher throughput and line-to-archive lag through NATS JetStream.", "cluster_bench"};
  app.add_option("--lines", lines, "Lines for the throughput run")->capture_default_str()->check(CLI::Range(1, 10000000));
  app.add_option("--rate", rate, "Lines per second for the lag run")->capture_default_str()->check(CLI::Range(1, 100000));
  app.add_option("--seconds", seconds, "Length of the lag run")->capture_default_str()->check(CLI::Range(1, 3600));
  CLI11_PARSE(app, argc, argv);
  TempFolder dir;
  Throughput(dir.path(), lines);
  Lag(dir.path(), rate, seconds);
  return 0;
}
