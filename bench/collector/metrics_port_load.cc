// Holds the metrics port of a collecting quoteloomd the way a scanner would and prints what a
// scrape costs meanwhile: the front simulator sends --rate ticks/s, then for --seconds each
//   1. nothing but the scrapes (the baseline);
//   2. --idle connections that send nothing;
//   3. --slow connections that send one byte of an endless request head a second;
// with a scrape of /metrics once a second. Connections the collector closes are opened again after
// --reopen-ms, so the count stays up. Prints the scrape times and the ticks stored per second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/front_simulator.h"
#include "tests/support/http_get.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

namespace {

struct Args {
  double rate = 2000;
  int seconds = 20;
  int idle = 2000;
  int slow = 200;
  int reopenMs = 1000;
};

double Seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

int OpenTo(unsigned short port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// `count` connections held open until `stop`; a slow one sends the next byte of its head each second.
void HoldConnections(unsigned short port, int count, bool slow, int reopenMs, const std::atomic<bool>& stop,
                     std::atomic<long>* reopened) {
  struct Held {
    int fd = -1;
    std::size_t sent = 0;
    Steady::time_point reopenAt;
  };
  static const std::string head = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: ";
  std::vector<Held> held(static_cast<std::size_t>(count));
  for (Held& h : held) h.fd = OpenTo(port);
  auto nextByte = Steady::now() + 1s;
  std::vector<pollfd> polls;
  while (!stop.load()) {
    polls.clear();
    for (const Held& h : held) polls.push_back({h.fd, POLLIN, 0});
    ::poll(polls.data(), polls.size(), 50);
    const auto now = Steady::now();
    for (std::size_t i = 0; i < held.size(); ++i) {
      Held& h = held[i];
      if (h.fd >= 0 && (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char scratch[4096];
        if (::recv(h.fd, scratch, sizeof(scratch), 0) <= 0 && errno != EAGAIN) {
          ::close(h.fd);
          h = Held{-1, 0, now + std::chrono::milliseconds(reopenMs)};
        }
      }
      if (h.fd < 0 && now >= h.reopenAt) {
        h.fd = OpenTo(port);
        h.sent = 0;
        ++*reopened;
      }
    }
    if (slow && now >= nextByte) {
      nextByte += 1s;
      for (Held& h : held) {
        if (h.fd < 0) continue;
        const char byte = h.sent < head.size() ? head[h.sent] : 'x';
        if (::send(h.fd, &byte, 1, MSG_NOSIGNAL) == 1) ++h.sent;
      }
    }
  }
  for (const Held& h : held) {
    if (h.fd >= 0) ::close(h.fd);
  }
}

struct Phase {
  std::vector<double> scrapeMs;  // -1: no answer within 30 s
  double ticksPerSecond = 0;
  long reopened = 0;
};

// Scrapes once a second for `seconds` while `count` connections (slow or idle) are held.
Phase RunPhase(ChildProcess& collector, unsigned short port, const Args& args, int count, bool slow) {
  std::atomic<bool> stop{false};
  std::atomic<long> reopened{0};
  std::thread holder;
  if (count > 0) holder = std::thread(HoldConnections, port, count, slow, args.reopenMs, std::cref(stop), &reopened);
  std::this_thread::sleep_for(2s);  // every connection open (and the slow ones under way)
  Phase phase;
  const long long startWritten = LastNumberAfter(collector.Output(), "ticks written");
  const auto start = Steady::now();
  for (int t = 1; t <= args.seconds; ++t) {
    std::this_thread::sleep_until(start + std::chrono::seconds(t));
    const auto asked = Steady::now();
    const std::string answer = HttpGet(port, "/metrics", 30s);
    const bool ok = answer.find("quoteloom_ticks_written_total") != std::string::npos;
    phase.scrapeMs.push_back(ok ? Seconds(Steady::now() - asked) * 1e3 : -1);
  }
  const long long written = LastNumberAfter(collector.Output(), "ticks written");
  phase.ticksPerSecond = (written - startWritten) / Seconds(Steady::now() - start);
  stop.store(true);
  if (holder.joinable()) holder.join();
  phase.reopened = reopened.load();
  return phase;
}

void PrintPhase(const char* name, Phase phase) {
  std::vector<double> ms = phase.scrapeMs;
  std::sort(ms.begin(), ms.end());
  const long failed = std::count(ms.begin(), ms.end(), -1.0);
  std::printf("%-34s scrapes %zu, median %8.2f ms, max %8.2f ms, failed %ld; %7.0f ticks/s stored; %ld reopened\n",
              name, ms.size(), ms[ms.size() / 2], ms.back(), failed, phase.ticksPerSecond, phase.reopened);
  std::fflush(stdout);
}

bool ParseArgs(int argc, char** argv, Args* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (option == "--rate") args->rate = std::atof(value);
    else if (option == "--seconds") args->seconds = std::atoi(value);
    else if (option == "--idle") args->idle = std::atoi(value);
    else if (option == "--slow") args->slow = std::atoi(value);
    else if (option == "--reopen-ms") args->reopenMs = std::atoi(value);
    else return false;
  }
  return args->rate > 0 && args->seconds > 0 && args->idle >= 0 && args->slow >= 0 && args->reopenMs >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!ParseArgs(argc, argv, &args)) {
    std::fprintf(stderr,
                 "usage: metrics_port_load [--rate TICKS_PER_S] [--seconds N] [--idle N] [--slow N] [--reopen-ms N]\n");
    return argc > 1 && std::string(argv[1]) == "--help" ? 0 : 2;
  }
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  char pattern[] = "/tmp/quoteloom-metrics-load-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  fs::create_directories(dir / "xdg");
  const FrontAccount account{.user = "bench", .password = "bench"};
  std::unique_ptr<ChildProcess> simulator;
  const std::string front =
      StartFrontSimulator(&simulator, QUOTELOOM_FRONTSIM,
                          {"--total-rate", std::to_string(args.rate), "--duration", std::to_string(args.seconds * 4 + 120)},
                          (dir / "frontsim.out").string(), account);
  if (front.empty()) {
    std::fprintf(stderr, "the front simulator did not start\n");
    return 1;
  }
  std::ofstream(dir / "setting.ini") << SettingIniText(OneFront(front), account);
  ChildProcess collector({QUOTELOOMD, "--workdir", dir.string(), "--replay", "off", "--status-seconds", "1", "--metrics",
                          "127.0.0.1:0"},
                         (dir / "quoteloomd.out").string(), {"XDG_CONFIG_HOME=" + (dir / "xdg").string()});
  unsigned short port = 0;
  const bool ready = WaitUntil(
      [&] {
        std::smatch m;
        const std::string out = collector.Output();
        if (std::regex_search(out, m, std::regex("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"))) {
          port = static_cast<unsigned short>(std::stoi(m[1]));
        }
        return port != 0 && LastNumberAfter(out, "ticks written") > 0;
      },
      60s);
  int code = 0;
  if (!ready) {
    std::fprintf(stderr, "quoteloomd did not serve metrics and write ticks within 60 s:\n%s\n", collector.Output().c_str());
    code = 1;
  } else {
    std::printf("quoteloomd at %.0f ticks/s from the simulator, metrics on port %u, %d s a phase\n", args.rate, port,
                args.seconds);
    PrintPhase("baseline", RunPhase(collector, port, args, 0, false));
    PrintPhase((std::to_string(args.idle) + " idle connections").c_str(),
               RunPhase(collector, port, args, args.idle, false));
    PrintPhase((std::to_string(args.slow) + " senders of a byte a second").c_str(),
               RunPhase(collector, port, args, args.slow, true));
  }
  collector.Signal(SIGTERM);
  collector.Wait(60s);
  simulator->Signal(SIGTERM);
  simulator->Wait(10s);
  fs::remove_all(dir);
  return code;
}
