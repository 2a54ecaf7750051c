// Load tool: 100 clients ask the replay service for a year of one busy contract, half of them never
// reading. Prints the service's memory (resident set of this process) idle and at its peak, the
// threads at their peak and what the clients received. Target: peak within 32 MiB of idle.
//
//   replay_memory_bench [--seconds N] [--lines-per-day N] [--days N] [--clients N]
//
// The stored files are one generated day linked under every day of the year, so the disk holds
// one day's worth while the service reads a year's.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/replay/bench_client.h"
#include "core/log_sink.h"
#include "queue/live_tick_relay.h"
#include "replay/protocol/replay_message.h"
#include "replay/service/replay_rules.h"
#include "replay/service/replay_service.h"

namespace fs = std::filesystem;

namespace {

struct Settings {
  int seconds = 20;
  int linesPerDay = 20000;
  int days = 365;
  int clients = 100;
};

long StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  const std::size_t length = std::strlen(name);
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, length, name) == 0) return std::atol(line.c_str() + length);
  return 0;
}

long ResidentKiB() { return StatusField("VmRSS:"); }
long Threads() { return StatusField("Threads:"); }

// A day of a busy contract: a header and `lines` ticks, each with its own time and price.
void WriteDay(const fs::path& file, int lines) {
  std::ofstream out(file, std::ios::binary);
  out << "TradingDay,ActionDay,Exchange,UpdateTime,UpdateMillisec,LastPrice,Volume,HighestPrice,LowestPrice,"
         "OpenPrice,ClosePrice,AveragePrice,AskPrice1,AskVolume1,BidPrice1,BidVolume1,UpperLimitPrice,"
         "LowerLimitPrice,OpenInterest,Turnover,PreClosePrice,PreOpenInterest,PreSettlementPrice\r\n";
  char line[512];
  for (int i = 0; i < lines; ++i) {
    const int second = 9 * 3600 + i / 2;
    const double price = 3700 + (i % 97) - 48;
    std::snprintf(line, sizeof(line),
                  "20250102,20250102,SHFE,%02d:%02d:%02d,%d,%.1f,%d,3760,3640,3700,0,%.2f,%.1f,%d,%.1f,%d,3950,3450,"
                  "1654321,%.0f,3698,1650000,3699\r\n",
                  second / 3600, second / 60 % 60, second % 60, (i % 2) * 500, price, 100000 + i, price + 0.25,
                  price + 1, 10 + i % 30, price - 1, 12 + i % 25, 4.5e9 + i * 37000.0);
    out << line;
  }
}

// Data/<day>/Tick/rb2505.csv for `days` days from 20250102, all links to one file.
int StoreYear(const fs::path& root, const Settings& settings, int* lastDay) {
  const fs::path first = root / "day.csv";
  WriteDay(first, settings.linesPerDay);
  int day = 20250102;
  for (int i = 0; i < settings.days; ++i, day = NextReplayDay(day)) {
    const fs::path dir = root / "Data" / std::to_string(day) / "Tick";
    fs::create_directories(dir);
    fs::create_hard_link(first, dir / "rb2505.csv");
    *lastDay = day;
  }
  return settings.days;
}

struct Client {
  int fd = -1;
  bool reads = false;
  long long bytes = 0;
};

bool ParseSettings(int argc, char** argv, Settings* s) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (value <= 0) return false;
    if (name == "--seconds") s->seconds = value;
    else if (name == "--lines-per-day") s->linesPerDay = value;
    else if (name == "--days") s->days = value;
    else if (name == "--clients") s->clients = value;
    else return false;
  }
  return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseSettings(argc, argv, &settings)) {
    std::fprintf(stderr, "usage: replay_memory_bench [--seconds N] [--lines-per-day N] [--days N] [--clients N]\n");
    return 2;
  }
  char pattern[] = "/tmp/quoteloom-replay-memory-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);
  int lastDay = 0;
  std::fprintf(stderr, "generating %d days of %d lines ...\n", settings.days, settings.linesPerDay);
  StoreYear(root, settings, &lastDay);

  LiveTickRelay relay;
  ReplayServiceOptions options;
  options.port = 0;
  options.bindAddress = "127.0.0.1";
  options.dataRoot = (root / "Data").string();
  options.idleTimeoutMs = 5000;  // the non-readers that hold a replay are closed within the run
  options.maxConnectionsPerPeer = 0;
  ReplayService service(relay, options);
  service.StartReplayService();
  unsigned short port = 0;
  if (!service.ListenAddress(nullptr, &port)) {
    std::fprintf(stderr, "the service did not start\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long idleKiB = ResidentKiB();
  const long idleThreads = Threads();

  const ReplayMessageBytes request = EncodeReplayRequest(kReplayCommandStart, "rb2505", "20250102",
                                                         std::to_string(lastDay));
  std::uint8_t packed[kPackHeaderSize + kReplayMessageSize];
  WritePackHeader(kReplayPackFlag, kReplayMessageSize, packed);
  std::memcpy(packed + kPackHeaderSize, request.data(), request.size());

  std::vector<Client> clients(static_cast<std::size_t>(settings.clients));
  for (std::size_t i = 0; i < clients.size(); ++i) {
    clients[i].fd = bench::ConnectLoopback(port);
    clients[i].reads = i % 2 == 0;
    if (clients[i].fd >= 0) bench::SendAll(clients[i].fd, packed, sizeof(packed));
  }

  // Readers drain; every 200 ms one client, reader or not, asks again and takes the replay over.
  std::mt19937 random(7);
  long peakKiB = idleKiB;
  long peakThreads = idleThreads;
  std::vector<std::uint8_t> buffer(1 << 16);
  const auto start = std::chrono::steady_clock::now();
  auto nextRequest = start;
  while (bench::Seconds(start) < settings.seconds) {
    std::vector<pollfd> polls;
    std::vector<Client*> owners;
    for (Client& c : clients) {
      if (c.fd < 0 || !c.reads) continue;
      polls.push_back({c.fd, POLLIN, 0});
      owners.push_back(&c);
    }
    ::poll(polls.data(), polls.size(), 20);
    for (std::size_t i = 0; i < polls.size(); ++i) {
      if (!(polls[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t got = ::recv(polls[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (got > 0) owners[i]->bytes += got;
      if (got == 0) {
        ::close(owners[i]->fd);
        owners[i]->fd = -1;
      }
    }
    if (std::chrono::steady_clock::now() >= nextRequest) {
      Client& c = clients[random() % clients.size()];
      if (c.fd >= 0) bench::SendAll(c.fd, packed, sizeof(packed));
      nextRequest += std::chrono::milliseconds(200);
    }
    peakKiB = std::max(peakKiB, ResidentKiB());
    peakThreads = std::max(peakThreads, Threads());
  }

  long long received = 0;
  for (const Client& c : clients) received += c.bytes;
  int stalledClosed = 0;
  const std::vector<std::string> log = TheLogSink().Lines(LogTab::ClientConnections);
  for (const std::string& line : log)
    if (line.find("[Operation:3][ErrorCode:110]") != std::string::npos) ++stalledClosed;
  std::printf("clients %d (%d reading), %d days x %d lines, %d s\n", settings.clients, (settings.clients + 1) / 2,
              settings.days, settings.linesPerDay, settings.seconds);
  std::printf("resident memory: idle %.1f MiB, peak %.1f MiB, peak above idle %.1f MiB (target 32 MiB)\n",
              idleKiB / 1024.0, peakKiB / 1024.0, (peakKiB - idleKiB) / 1024.0);
  std::printf("threads: idle %ld, peak %ld\n", idleThreads, peakThreads);
  std::printf("received by the readers: %lld messages; non-readers closed for not reading: %d\n",
              received / static_cast<long long>(kPackHeaderSize + kReplayMessageSize), stalledClosed);
  std::printf("log lines stored on the client tab: %zu\n", log.size());
  for (Client& c : clients)
    if (c.fd >= 0) ::close(c.fd);
  service.StopReplayService();
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return peakKiB - idleKiB <= 32 * 1024 ? 0 : 1;
}
