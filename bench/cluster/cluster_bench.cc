// cluster_bench: prints quoteloom-publish's throughput into one JetStream node with file storage
// beside a bare libnats publisher of the same messages, and the lag from a record appended to a
// collector's journal to its line in the archive's time-stream file, at a steady rate through a
// three-node cluster (p50, p99, max).
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
using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const char* const kContracts[] = {"rb2405", "cu2404", "au2406", "m2405", "SR405",
                                  "TA405",  "IF2403", "sc2404", "ag2406", "i2405"};

// Ticks of the ten contracts whose volume `n` tells them apart, written now.
JournalEntry Tick(int n, std::int64_t writeTimeNs) {
  JournalEntry e = TestTick(kContracts[n % 10], n);
  e.writeTimeNs = writeTimeNs;
  return e;
}

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The sequence number the publisher's state file has reached (0 before it has one).
std::uint64_t AcknowledgedSequence(const fs::path& state) {
  const std::string text = ReadText(state);
  const auto at = text.find("\"sequence\":");
  return at == std::string::npos ? 0 : std::stoull(text.substr(at + 11));
}

std::vector<std::string> ServerArgs(const std::string& urls, const std::string& replicas) {
  return {"--servers", urls, "--replicas", replicas, "--status-seconds", "5"};
}

// Seconds of the bare libnats publisher over `journal` into a fresh node, from its start to its exit;
// `internal` gets its own figure (publishing only, after reading and preparing every message).
double BaselineRun(const fs::path& dir, const fs::path& journal, bool prepareFirst, double* internal) {
  NatsCluster node(dir, 1);
  fs::create_directories(dir);
  if (!node.Start()) return -1;
  const auto start = SteadyClock::now();
  std::vector<std::string> argv = {JETSTREAM_BASELINE, "--servers", node.Urls(), "--journal", journal.string()};
  if (prepareFirst) argv.push_back("--prepare-first");
  ChildProcess baseline(argv, (dir / "baseline.out").string());
  if (!baseline.Wait(300s)) return -1;
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  const std::string out = baseline.Output();
  const auto at = out.find(" s, ");  // "..., 4.123 s, 72000 messages/s"
  *internal = at == std::string::npos ? -1 : std::atof(out.c_str() + at + 4);
  if (out.find("NOT COMPLETE") != std::string::npos || out.find(" 0 failed") == std::string::npos) {
    std::printf("baseline did not finish: %s\n", out.c_str());
    return -1;
  }
  return seconds;
}

// Seconds of quoteloom-publish over the collector folder `work` into a fresh node, from its start
// to the state file holding the last record.
double PublisherRun(const fs::path& dir, const fs::path& work, int records) {
  NatsCluster node(dir, 1);
  fs::create_directories(dir);
  if (!node.Start()) return -1;
  const fs::path state = dir / "publish.state";
  std::vector<std::string> argv = {QUOTELOOM_PUBLISH, "--workdir", work.string(), "--metrics", "off",
                                   "--state", state.string()};
  for (const auto& a : ServerArgs(node.Urls(), "1")) argv.push_back(a);
  const auto start = SteadyClock::now();
  ChildProcess publisher(argv, (dir / "publish.out").string());
  const auto deadline = start + 300s;
  while (AcknowledgedSequence(state) < static_cast<std::uint64_t>(records) && SteadyClock::now() < deadline) {
    std::this_thread::sleep_for(2ms);
  }
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  publisher.Signal(SIGTERM);
  publisher.Wait(10s);
  return AcknowledgedSequence(state) >= static_cast<std::uint64_t>(records) ? seconds : -1;
}

void Throughput(const fs::path& dir, int records) {
  const fs::path work = dir / "collector";
  std::vector<JournalEntry> ticks;
  const std::int64_t now = NowNs();
  for (int i = 0; i < records; ++i) ticks.push_back(Tick(i, now));
  AppendTicks(work, ticks);
  fs::path journal;
  for (const auto& entry : fs::directory_iterator(work / "Journal")) journal = entry.path();
  // Alternating rounds, each into a node of its own (no id is a duplicate), so a slow phase of the
  // machine favours neither; per round the publisher's rate against the bare publisher's, which reads
  // the journal and makes each message as it goes (both timed from their start, connection included,
  // to the last acknowledgement), and against the bare publisher's publishing alone (messages made
  // before its own clock starts, connection left out).
  std::vector<double> streamed, prepared;
  for (int round = 0; round < 3; ++round) {
    double bareRate = -1, preparedRate = -1, ownFigure = -1;
    // The bare publisher as the publisher is timed: from its start to the last acknowledgement.
    const double bareSeconds = BaselineRun(dir / ("baseline" + std::to_string(round)), journal, false, &ownFigure);
    if (bareSeconds > 0) bareRate = records / bareSeconds;
    BaselineRun(dir / ("prepared" + std::to_string(round)), journal, true, &preparedRate);
    const double p = PublisherRun(dir / ("publisher" + std::to_string(round)), work, records);
    const double rate = p > 0 ? records / p : 0;
    std::printf("round %d: quoteloom-publish %.0f ticks/s, bare libnats publisher %.0f ticks/s, its publishing "
                "alone %.0f ticks/s\n",
                round + 1, rate, bareRate, preparedRate);
    if (bareRate > 0) streamed.push_back(100.0 * rate / bareRate);
    if (preparedRate > 0) prepared.push_back(100.0 * rate / preparedRate);
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  std::printf("publisher throughput: %d ticks (%.1f MB of records) into one JetStream node (file storage), median "
              "of the rounds: %.1f%% of the bare libnats publisher (target: at least 90%%), %.1f%% of its "
              "publishing alone\n",
              records, records * kTickBodySize / 1e6, median(streamed), median(prepared));
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
  fs::create_directories(work / "Journal");
  std::vector<std::string> pubArgs = {QUOTELOOM_PUBLISH, "--workdir", work.string(), "--metrics", "127.0.0.1:0"};
  std::vector<std::string> arcArgs = {QUOTELOOM_ARCHIVE, "--workdir", archive.string(), "--metrics", "127.0.0.1:0"};
  for (const auto& a : ServerArgs(cluster.Urls(), "3")) {
    pubArgs.push_back(a);
    arcArgs.push_back(a);
  }
  ChildProcess publisher(pubArgs, (dir / "publish-lag.out").string());
  ChildProcess archiver(arcArgs, (dir / "archive-lag.out").string());

  // A first tick, to let the stream and the consumer be created before timing starts.
  JournalWriter source(JournalSync::kNone, work.string());
  const auto append = [&](int n) {
    const JournalEntry e = Tick(n, NowNs());
    ExactTickLines lines;
    BuildExactTickLines(e, &lines);
    source.Append(lines.day.c_str(), e.tick, e.writeTimeNs, SteadyClock::now());
  };
  append(1 << 30);
  WaitUntil([&] { return fs::exists(archive / "DataTimeStream"); }, 30s);

  const int total = rate * seconds;
  std::vector<SteadyClock::time_point> written(total), stored(total);
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
      const auto now = SteadyClock::now();
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

  const auto start = SteadyClock::now();
  int next = 0;
  while (next < total) {
    const auto due = start + std::chrono::microseconds(1000000LL * next / rate);
    if (SteadyClock::now() >= due) {
      while (next < total && SteadyClock::now() >= start + std::chrono::microseconds(1000000LL * next / rate)) {
        append(next);
        written[next] = SteadyClock::now();
        ++next;
      }
    }
    readArchive();
    std::this_thread::sleep_for(500us);
  }
  const auto deadline = SteadyClock::now() + 30s;
  while (stored_count < total && SteadyClock::now() < deadline) {
    readArchive();
    std::this_thread::sleep_for(500us);
  }
  std::vector<double> lags;
  for (int i = 0; i < total; ++i) {
    if (seen[i]) lags.push_back(std::chrono::duration<double, std::milli>(stored[i] - written[i]).count());
  }
  std::sort(lags.begin(), lags.end());
  const auto pct = [&](double q) { return lags.empty() ? 0.0 : lags[std::min(lags.size() - 1, std::size_t(q * lags.size()))]; };
  std::printf("tick-to-archive lag (journal record to archived line) through three nodes (R3) at %d ticks/s for %d s: %zu of %d ticks arrived, "
              "p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              rate, seconds, lags.size(), total, pct(0.5), pct(0.99), lags.empty() ? 0.0 : lags.back());
  publisher.Signal(SIGTERM);
  archiver.Signal(SIGTERM);
  publisher.Wait(10s);
  archiver.Wait(10s);
}

}  // namespace

int main(int argc, char** argv) {
  int lines = 300000;
  int rate = 2000;
  int seconds = 10;
  CLI::App app{"Publisher throughput beside a bare libnats publisher, and tick-to-archive lag through NATS JetStream.", "cluster_bench"};
  app.add_option("--lines", lines, "Ticks for the throughput run")->capture_default_str()->check(CLI::Range(1, 10000000));
  app.add_option("--rate", rate, "Ticks per second for the lag run")->capture_default_str()->check(CLI::Range(1, 100000));
  app.add_option("--seconds", seconds, "Length of the lag run")->capture_default_str()->check(CLI::Range(1, 3600));
  CLI11_PARSE(app, argc, argv);
  TempFolder dir;
  Throughput(dir.path(), lines);
  Lag(dir.path(), rate, seconds);
  return 0;
}
