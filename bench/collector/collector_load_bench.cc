// Drives the whole collector path (front simulator -> stand-in API -> intake with a thread per push
// -> writer with two open-append-close per tick) and prints what it sustains:
//   1. the file system's own limit: two open-append-close cycles of a 200-byte line, nothing else;
//   2. load: the simulator at --rate ticks/s for --seconds; stored ticks/s and writer queue depth
//      per second, quoteloomd's CPU time per tick beside the limit;
//   3. market rate: the simulator's default (two snapshots per second per listed contract) for
//      --market-seconds; tick-to-disk latency (median, p99) and quoteloomd's resident memory.
// The load runs with the metrics endpoint off and on (scraped once a second, as Prometheus would),
// alternating for --rounds rounds, and prints each round's difference, their median and the time of a
// scrape under load (1475 codes subscribed); then the journal off and on, alternating twice.
// With --pack-days it measures only the load without and with the day-close job packing finished
// days (found in the folder at start) during the whole window, alternating for --rounds rounds.
// When its output pipe closes, or it is interrupted or terminated, it stops its children first.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/command_line.h"
#include "storage/journal_writer.h"
#include "storage/trading_day.h"
#include "tests/support/child_process.h"
#include "tests/support/front_simulator.h"
#include "tests/support/http_get.h"
#include "tests/support/process_output.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

namespace {

struct Args {
  double rate = 15000;
  int seconds = 60;
  int marketSeconds = 30;
  std::string metrics = "both";  // off, on or both
  int rounds = 3;                 // off-and-on rounds when both
  int packDays = 0;               // finished days to pack during the load; 0: no pack comparison
  int packRecords = 1000000;      // records of each
};

double Seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

// The simulators and collectors running now, for the signal handler: a slot holds a pid or 0.
constexpr int kChildSlots = 8;
volatile sig_atomic_t gChildren[kChildSlots] = {};

void RememberChild(pid_t pid) {
  for (volatile sig_atomic_t& slot : gChildren) {
    if (slot == 0) {
      slot = pid;
      return;
    }
  }
}

void ForgetChild(pid_t pid) {
  for (volatile sig_atomic_t& slot : gChildren) {
    if (slot == pid) slot = 0;
  }
}

// SIGPIPE (the reader of the figures went away), SIGINT, SIGTERM, SIGHUP: the children would run on
// for minutes and hold their files, so they are stopped, waited for a few seconds and killed if
// need be; then the bench ends by the same signal. Async-signal-safe calls only.
void StopChildrenAndDie(int signal) {
  for (const volatile sig_atomic_t& slot : gChildren) {
    if (slot > 0) ::kill(slot, SIGTERM);
  }
  for (int wait = 0; wait < 200; ++wait) {  // 10 s at most
    bool running = false;
    for (volatile sig_atomic_t& slot : gChildren) {
      if (slot > 0 && ::waitpid(slot, nullptr, WNOHANG) == 0) running = true;
      else slot = 0;
    }
    if (!running) break;
    const timespec pause{0, 50'000'000};
    ::nanosleep(&pause, nullptr);
  }
  for (const volatile sig_atomic_t& slot : gChildren) {
    if (slot > 0) ::kill(slot, SIGKILL);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Two open-append-close cycles of a 200-byte line per "tick", for ~2 s.
double MeasureFileLimit(const fs::path& dir, double* microsPerTick) {
  const std::string line(198, 'x');
  const std::string bytes = line + "\r\n";
  const std::string a = (dir / "limit-a.csv").string();
  const std::string b = (dir / "limit-b.csv").string();
  std::uint64_t ticks = 0;
  const auto start = Steady::now();
  while (Seconds(Steady::now() - start) < 2.0) {
    for (const std::string* path : {&a, &b}) {
      const int fd = ::open(path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
      ::close(fd);
    }
    ++ticks;
  }
  const double elapsed = Seconds(Steady::now() - start);
  fs::remove(a);
  fs::remove(b);
  *microsPerTick = elapsed * 1e6 / ticks;
  return ticks / elapsed;
}

// utime + stime of a process in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// One simulator and one quoteloomd in a fresh working directory.
class Rig {
 public:
  Rig(const fs::path& dir, std::vector<std::string> simulatorArgs, bool metrics = false, bool journal = true)
      : dir_(dir) {
    fs::create_directories(dir_ / "xdg");
    const FrontAccount account{.user = "bench", .password = "bench"};
    const std::string address = StartFrontSimulator(&simulator_, QUOTELOOM_FRONTSIM, simulatorArgs,
                                                    (dir_ / "frontsim.out").string(), account);
    if (simulator_) RememberChild(simulator_->pid());
    if (address.empty()) {
      std::fprintf(stderr, "the front simulator did not start\n");
      std::exit(1);
    }
    std::ofstream(dir_ / "setting.ini") << SettingIniText(OneFront(address), account) << "[Journal]\r\nenabled="
                                        << (journal ? "1" : "0") << "\r\n";
    collector_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUOTELOOMD, "--workdir", dir_.string(), "--replay", "off", "--status-seconds", "1",
                                 "--metrics", metrics ? "127.0.0.1:0" : "off"},
        (dir_ / "quoteloomd.out").string(), std::vector<std::string>{"XDG_CONFIG_HOME=" + (dir_ / "xdg").string()});
    RememberChild(collector_->pid());
  }
  ~Rig() {
    collector_->Signal(SIGTERM);
    collector_->Wait(120s);
    simulator_->Signal(SIGTERM);
    simulator_->Wait(10s);
    ForgetChild(collector_->pid());
    ForgetChild(simulator_->pid());
  }

  long long Written() const { return LastNumberAfter(collector_->Output(), "ticks written"); }
  std::string Output() const { return collector_->Output(); }
  long long QueueDepth() const { return LastNumberAfter(collector_->Output(), "writer queue"); }
  pid_t collectorPid() const { return collector_->pid(); }
  // The port of the metrics endpoint, 0 when it is off.
  unsigned short MetricsPort() const {
    std::smatch m;
    const std::string out = collector_->Output();
    return std::regex_search(out, m, std::regex("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"))
               ? static_cast<unsigned short>(std::stoi(m[1]))
               : 0;
  }
  bool WaitForFirstTicks() {
    return WaitUntil([&] { return Written() > 0; }, 60s);
  }
  // Stops the collector and returns (accepted, written) as it printed them.
  std::pair<long long, long long> Stop() {
    collector_->Signal(SIGTERM);
    collector_->Wait(300s);
    const std::string out = collector_->Output();
    return {LastNumberAfter(out, "accepted ticks"), LastNumberAfter(out, "written")};
  }

 private:
  fs::path dir_;
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collector_;
};

struct LoadResult {
  double rate = 0;
  double cpuMicros = 0;
  int packedBefore = 0;  // days the day-close job had packed when the window began
  int packedAfter = 0;   // and when it ended
  int packingSeconds = 0;     // the window's first seconds, while days were left to pack
  double packingRate = 0;     // ticks/s stored over them
};

// Days the day-close job has finished with, packed or failed, as its log lines say.
int DaysPackedOrFailed(const std::string& output) {
  static const std::regex done("pack(ed|ing) day [0-9]{8}[: ]");
  return static_cast<int>(std::distance(std::sregex_iterator(output.begin(), output.end(), done), std::sregex_iterator()));
}

// `days` journals of `records` ticks each (500 contracts, prices on a random walk), of trading days
// long before the current one and untouched for two days: finished days the day-close job packs as
// soon as quoteloomd starts.
void WriteFinishedDays(const fs::path& dir, int days, int records) {
  std::uint64_t random = 88172645463325252ull;
  const auto next = [&random] {
    random ^= random << 13;
    random ^= random >> 7;
    random ^= random << 17;
    return random;
  };
  for (int d = 0; d < days; ++d) {
    const std::string day = std::to_string(20240102 + d);
    JournalWriter journal(JournalSync::kNone, dir.string());
    TickRecord tick = ExampleRb2405Record();
    std::vector<double> prices(500, 3700);
    std::int64_t writeNs = 1704186000000000000LL + d * 86400000000000LL;
    for (int i = 0; i < records; ++i) {
      const std::uint64_t r = next();
      const int contract = static_cast<int>(r % prices.size());
      std::snprintf(tick.InstrumentID, sizeof tick.InstrumentID, "rb%04d", 2400 + contract);
      prices[contract] += static_cast<double>(static_cast<int>(r >> 20) % 3 - 1);
      tick.LastPrice = prices[contract];
      tick.AskPrice1 = tick.LastPrice + 1;
      tick.BidPrice1 = tick.LastPrice;
      tick.AskVolume1 = static_cast<int>(r >> 32) % 200 + 1;
      tick.BidVolume1 = static_cast<int>(r >> 40) % 200 + 1;
      tick.Volume += static_cast<int>(r >> 48) % 5;
      tick.UpdateMillisec = (i % 2) * 500;
      writeNs += 2000000;
      if (!journal.Append(day.c_str(), tick, writeNs, {})) std::abort();
    }
    journal.Close();
    const auto old = fs::file_time_type::clock::now() - 48h;
    fs::last_write_time(dir / "Journal" / (day + ".qtj"), old);
  }
}

// Milliseconds of one whole scrape of /metrics, -1 when it failed.
double ScrapeMs(unsigned short port) {
  const auto start = Steady::now();
  const std::string answer = HttpGet(port, "/metrics");
  const double ms = Seconds(Steady::now() - start) * 1e3;
  return answer.find("quoteloom_ticks_written_total") != std::string::npos ? ms : -1;
}

void PrintScrapes(std::vector<double> ms, const char* what) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  const long failed = std::count(ms.begin(), ms.end(), -1.0);
  std::printf("scrape of /metrics %s: %zu scrapes, median %.2f ms, p99 %.2f ms, max %.2f ms, failed %ld\n", what,
              ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(), failed);
}

LoadResult RunLoad(const fs::path& dir, const Args& args, double limitMicros, bool metrics, bool journal = true,
                   int packDays = 0) {
  std::printf("\n== load: simulator at %.0f ticks/s for %d s, metrics %s, journal %s, %d finished days to pack ==\n",
              args.rate, args.seconds, metrics ? "on (scraped each second)" : "off", journal ? "on" : "off", packDays);
  Rig rig(dir, {"--total-rate", std::to_string(args.rate), "--duration", std::to_string(args.seconds + 120)}, metrics,
          journal);
  if (!rig.WaitForFirstTicks()) {
    std::fprintf(stderr, "no tick was written within 60 s\n");
    std::exit(1);
  }
  std::this_thread::sleep_for(3s);  // past the subscription burst
  const int packedBefore = DaysPackedOrFailed(rig.Output());
  const long long startWritten = rig.Written();
  const double startCpu = CpuSeconds(rig.collectorPid());
  const auto start = Steady::now();
  long long lastWritten = startWritten;
  long long maxDepth = 0;
  std::vector<double> scrapes;
  int packingSeconds = 0;
  long long writtenWhilePacking = 0;
  std::printf("%6s %14s %12s %12s\n", "t [s]", "ticks written", "ticks/s", "queue depth");
  for (int t = 1; t <= args.seconds; ++t) {
    std::this_thread::sleep_until(start + std::chrono::seconds(t));
    if (metrics) scrapes.push_back(ScrapeMs(rig.MetricsPort()));
    const long long written = rig.Written();
    if (packDays > 0 && packingSeconds == t - 1 && DaysPackedOrFailed(rig.Output()) < packDays) {
      packingSeconds = t;
      writtenWhilePacking = written - startWritten;
    }
    const long long depth = rig.QueueDepth();
    maxDepth = std::max(maxDepth, depth);
    if (t % 5 == 0 || t == 1) std::printf("%6d %14lld %12lld %12lld\n", t, written, written - lastWritten, depth);
    lastWritten = written;
  }
  const double elapsed = Seconds(Steady::now() - start);
  const long long stored = rig.Written() - startWritten;
  const double cpu = CpuSeconds(rig.collectorPid()) - startCpu;
  const int packedAfter = DaysPackedOrFailed(rig.Output());
  std::vector<double> burst;
  if (metrics) {
    for (int i = 0; i < 200; ++i) burst.push_back(ScrapeMs(rig.MetricsPort()));
  }
  const auto [accepted, written] = rig.Stop();
  const double rate = stored / elapsed;
  const double cpuMicros = cpu * 1e6 / std::max(1LL, stored);
  std::printf("sustained: %.0f ticks/s stored in both files over %.0f s (max queue depth %lld)\n", rate, elapsed,
              maxDepth);
  std::printf("at stop: %lld accepted, %lld written\n", accepted, written);
  std::printf("cost per tick: %.1f us wall (1/rate), %.1f us CPU of quoteloomd; limit %.1f us -> ratio %.2f "
              "(wall) %.2f (CPU)\n",
              1e6 / rate, cpuMicros, limitMicros, (1e6 / rate) / limitMicros, cpuMicros / limitMicros);
  PrintScrapes(scrapes, "once a second during the load");
  PrintScrapes(burst, "back to back under load");
  const double packingRate = packingSeconds > 0 ? writtenWhilePacking / static_cast<double>(packingSeconds) : 0;
  if (packDays > 0) {
    const int failed = CountOf(rig.Output(), "packing day ");
    if (failed > 0) std::printf("%d packs FAILED: the figure below is not that of a whole pack\n", failed);
    std::printf("days packed: %d when the window began, %d when it ended; packing ran for the first %d s at %.0f "
                "ticks/s stored\n",
                packedBefore, packedAfter, packingSeconds, packingRate);
  }
  return {rate, cpuMicros, packedBefore, packedAfter, packingSeconds, packingRate};
}

// The load without a pack and with the day-close job packing throughout, alternating, so a slow
// phase of a shared machine favours neither. A round counts only when the pack outlasted its window.
void RunPackComparison(const fs::path& root, const Args& args, double limitMicros) {
  // Written once and flushed to disk before any load runs, so their writeback slows no window; each
  // round links them into its folder.
  const fs::path finished = root / "finished";
  fs::create_directories(finished);
  const auto start = Steady::now();
  WriteFinishedDays(finished, args.packDays, args.packRecords);
  ::sync();
  std::printf("\n(%d finished days of %d records written and flushed in %.1f s)\n", args.packDays, args.packRecords,
              Seconds(Steady::now() - start));
  std::vector<double> ratios;
  for (int round = 0; round < args.rounds; ++round) {
    const std::string n = std::to_string(round);
    const LoadResult without = RunLoad(root / ("pack-without-" + n), args, limitMicros, false);
    const fs::path dir = root / ("pack-with-" + n);
    fs::create_directories(dir / "Journal");
    for (const fs::directory_entry& day : fs::directory_iterator(finished / "Journal")) {
      fs::create_hard_link(day.path(), dir / "Journal" / day.path().filename());
    }
    const LoadResult with = RunLoad(dir, args, limitMicros, false, true, args.packDays);
    fs::remove_all(dir);
    if (with.packingSeconds < 5) {
      std::printf("round %d: packing ran for under 5 s of the window; not counted (raise --pack-days)\n", round + 1);
      continue;
    }
    ratios.push_back(100.0 * with.packingRate / without.rate);
    std::printf("\nround %d: %.0f ticks/s without a pack, %.0f while packing (%d s): %.1f%%\n", round + 1,
                without.rate, with.packingRate, with.packingSeconds, ratios.back());
  }
  if (ratios.empty()) return;
  std::sort(ratios.begin(), ratios.end());
  std::printf("\n== pack cost ==\nticks/s with a pack running, median of %zu rounds: %.1f%% of the figure without "
              "(target: at least 90%%)\n",
              ratios.size(), ratios[ratios.size() / 2]);
}

// Reads the lines appended to the per-contract files as inotify reports them and takes
// now - (UpdateTime, UpdateMillisec) of each: the tick's age when it reached its second file.
class LatencyProbe {
 public:
  explicit LatencyProbe(const fs::path& dayDir) : dir_(dayDir) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(fd_, dir_.c_str(), IN_MODIFY);
  }
  ~LatencyProbe() { ::close(fd_); }

  void Poll() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof(buffer));
      if (n <= 0) return;
      const double now = NowMsOfDay();
      for (char* p = buffer; p < buffer + n;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        if (e->len > 0) ReadNewLines(e->name, now);
        p += sizeof(inotify_event) + e->len;
      }
    }
  }
  std::vector<double>& samples() { return samples_; }

 private:
  static double NowMsOfDay() {
    const ClockReading r = TheSystemClock().Now();
    return ((r.hour * 60.0 + r.minute) * 60.0 + r.second) * 1000.0 + r.millisecond;
  }
  void ReadNewLines(const std::string& name, double now) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::uint64_t& offset = offsets_[name];
    in.seekg(static_cast<std::streamoff>(offset));
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof()) break;  // an incomplete tail: read it with the next event
      offset += line.size() + 1;
      int h = 0, m = 0, s = 0, ms = 0;
      std::size_t field = 0, pos = 0;
      for (; field < 4 && pos != std::string::npos; ++field) pos = line.find(',', pos + 1);
      if (pos == std::string::npos || std::sscanf(line.c_str() + pos + 1, "%d:%d:%d,%d", &h, &m, &s, &ms) != 4) {
        continue;
      }
      double age = now - (((h * 60.0 + m) * 60.0 + s) * 1000.0 + ms);
      if (age < -43200000) age += 86400000;  // across midnight
      samples_.push_back(age);
    }
  }

  fs::path dir_;
  int fd_ = -1;
  std::map<std::string, std::uint64_t> offsets_;
  std::vector<double> samples_;
};

void RunMarketRate(const fs::path& dir, int seconds, bool metrics) {
  std::printf("\n== market rate: two snapshots per second per listed contract for %d s ==\n", seconds);
  char day[kTradingDaySize];
  ComputeTradingDay(TheSystemClock().Now(), day);
  fs::create_directories(dir / "Data" / day);
  LatencyProbe probe(dir / "Data" / day);
  Rig rig(dir, {"--duration", std::to_string(seconds + 120)}, metrics);
  if (!rig.WaitForFirstTicks()) {
    std::fprintf(stderr, "no tick was written within 60 s\n");
    std::exit(1);
  }
  probe.Poll();
  probe.samples().clear();
  const long long startWritten = rig.Written();
  const auto start = Steady::now();
  long maxRss = 0;
  while (Seconds(Steady::now() - start) < seconds) {
    probe.Poll();
    maxRss = std::max(maxRss, RssKiB(rig.collectorPid()));
    std::this_thread::sleep_for(1ms);
  }
  const double elapsed = Seconds(Steady::now() - start);
  const long long stored = rig.Written() - startWritten;
  const long rssEnd = RssKiB(rig.collectorPid());
  std::vector<double> scrapes;
  if (metrics) {
    for (int i = 0; i < 200; ++i) scrapes.push_back(ScrapeMs(rig.MetricsPort()));
  }
  rig.Stop();
  PrintScrapes(scrapes, "back to back at market rate (1475 codes subscribed)");
  std::vector<double>& s = probe.samples();
  std::sort(s.begin(), s.end());
  if (s.empty()) {
    std::printf("no latency samples\n");
    return;
  }
  std::printf("rate: %.0f ticks/s stored; latency samples: %zu\n", stored / elapsed, s.size());
  std::printf("tick-to-disk latency: median %.1f ms, p99 %.1f ms, max %.1f ms (ms resolution of UpdateMillisec)\n",
              s[s.size() / 2], s[s.size() * 99 / 100], s.back());
  std::printf("quoteloomd resident memory: %.1f MiB at the end, %.1f MiB at most\n", rssEnd / 1024.0,
              maxRss / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Args args;
  CommandLine commandLine("collector_load_bench",
                          "Drives quoteloomd against the front simulator and prints the rates, latency and memory\n"
                          "it sustains beside the file system's own limit.");
  commandLine.SetFooter({.failure = "the rig did not start or no tick was written"});
  CLI::App& app = commandLine.app();
  app.add_option("--rate", args.rate, "ticks per second of the load phases (default 15000)")
      ->check(CLI::Range(1.0, 1e6));
  app.add_option("--seconds", args.seconds, "seconds of each load phase; 0 skips them (default 60)")
      ->check(CLI::Range(0, 86400));
  app.add_option("--market-seconds", args.marketSeconds, "seconds at market rate; 0 skips it (default 30)")
      ->check(CLI::Range(0, 86400));
  app.add_option("--metrics", args.metrics, "off, on or both (default both)")->check(CLI::IsMember({"off", "on", "both"}));
  app.add_option("--rounds", args.rounds, "off-and-on rounds when --metrics both, or rounds of --pack-days (default 3)")
      ->check(CLI::Range(1, 100));
  app.add_option("--pack-days", args.packDays,
                 "measure only the load without and with the day-close job packing this many finished days")
      ->check(CLI::Range(0, 1000));
  app.add_option("--pack-records", args.packRecords, "records of each finished day (default 1000000)")
      ->check(CLI::Range(1, 100000000));
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return *exitCode;
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) ::signal(signal, StopChildrenAndDie);

  std::string pattern = (fs::temp_directory_path() / "quoteloom-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path root = pattern;

  double limitMicros = 0;
  const double limit = MeasureFileLimit(root, &limitMicros);
  std::printf("== machine limit: two open-append-close cycles of a 200-byte line ==\n");
  std::printf("%.0f ticks/s, %.1f us per tick\n", limit, limitMicros);

  if (args.packDays > 0) {
    if (args.seconds > 0) RunPackComparison(root, args, limitMicros);
    fs::remove_all(root);
    return 0;
  }
  if (args.seconds > 0) {
    // Off and on alternating, round after round, so a slow phase of a shared machine favours neither;
    // the median of the rounds' differences is the figure.
    std::vector<double> rateDiffs, cpuDiffs;
    const int rounds = args.metrics == "both" ? args.rounds : 1;
    if (args.metrics == "both") {
      // The run's first load is slow on a fresh machine state (file system caches, the first files
      // of every contract); a short one, not counted, keeps it out of the first round.
      Args warm = args;
      warm.seconds = std::min(args.seconds, 20);
      std::printf("\n(warm-up, not counted)");
      RunLoad(root / "warm-up", warm, limitMicros, false);
    }
    for (int round = 0; round < rounds; ++round) {
      const std::string n = std::to_string(round);
      LoadResult off, on;
      if (args.metrics != "on") off = RunLoad(root / ("load-off-" + n), args, limitMicros, false);
      if (args.metrics != "off") on = RunLoad(root / ("load-on-" + n), args, limitMicros, true);
      if (args.metrics == "both" && off.rate > 0 && off.cpuMicros > 0) {
        rateDiffs.push_back((on.rate / off.rate - 1) * 100);
        cpuDiffs.push_back((on.cpuMicros / off.cpuMicros - 1) * 100);
        std::printf("\nround %d: metrics on vs off: %+.2f%% ticks/s stored, %+.2f%% CPU per tick\n", round + 1,
                    rateDiffs.back(), cpuDiffs.back());
      }
    }
    if (!rateDiffs.empty()) {
      const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
      };
      std::printf("\nmetrics on vs off, median of %zu rounds: %+.2f%% ticks/s stored, %+.2f%% CPU per tick "
                  "(target: within 1%%)\n",
                  rateDiffs.size(), median(rateDiffs), median(cpuDiffs));
    }
    // The journal off and on twice, alternating, so a slow phase of a shared machine favours neither.
    double journalOff = 0, journalOn = 0;
    for (int round = 0; round < 2; ++round) {
      journalOff += RunLoad(root / ("journal-off-" + std::to_string(round)), args, limitMicros, false, false).rate;
      journalOn += RunLoad(root / ("journal-on-" + std::to_string(round)), args, limitMicros, false, true).rate;
    }
    std::printf("\n== journal cost ==\njournal off %.0f ticks/s, on %.0f ticks/s: %.1f%% of the figure without it\n",
                journalOff / 2, journalOn / 2, 100.0 * journalOn / journalOff);
  }
  if (args.marketSeconds > 0) RunMarketRate(root / "market", args.marketSeconds, args.metrics != "off");
  fs::remove_all(root);
  return 0;
}
