// Load tool: 1,000 clients connected to the replay service at once, each reading its greeting,
// then all closed; checks that every accept was closed and that no descriptor leaked.
#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/replay/bench_client.h"
#include "core/log_sink.h"
#include "queue/live_tick_relay.h"
#include "replay/service/replay_service.h"

namespace {

constexpr int kClients = 1000;

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count - 1;  // the directory itself
}

int CountLines(const char* prefix) {
  int count = 0;
  for (const std::string& line : TheLogSink().Lines(LogTab::ClientConnections))
    if (line.rfind(prefix, 0) == 0) ++count;
  return count;
}

}  // namespace

int main() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  LiveTickRelay relay;
  ReplayServiceOptions options;
  options.port = 0;
  options.bindAddress = "127.0.0.1";
  options.maxConnectionsPerPeer = 0;  // every client comes from 127.0.0.1
  ReplayService service(relay, options);

  const int fdsBefore = OpenDescriptors();
  service.StartReplayService();
  unsigned short port = 0;
  if (!service.ListenAddress(nullptr, &port)) {
    std::printf("the service did not start\n");
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) {
    const int fd = bench::ConnectLoopback(port);
    if (fd < 0) break;
    clients.push_back(fd);
  }
  int greeted = 0;
  for (int fd : clients)
    if (bench::ReadBytes(fd, 221)) ++greeted;
  const double connectSeconds = bench::Seconds(start);

  const auto closeStart = std::chrono::steady_clock::now();
  for (int fd : clients) ::close(fd);
  while (CountLines("OnClose ") < static_cast<int>(clients.size()) && bench::Seconds(closeStart) < 30)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double closeSeconds = bench::Seconds(closeStart);
  service.StopReplayService();
  const int fdsAfter = OpenDescriptors();

  const int accepts = CountLines("OnAccept ");
  const int closes = CountLines("OnClose ");
  std::printf("%zu clients connected at once, %d greetings read in %.3f s\n", clients.size(), greeted, connectSeconds);
  std::printf("all closed in %.3f s: %d OnAccept, %d OnClose\n", closeSeconds, accepts, closes);
  std::printf("descriptors before start %d, after stop %d\n", fdsBefore, fdsAfter);
  const bool ok = static_cast<int>(clients.size()) == kClients && greeted == kClients && accepts == kClients &&
                  closes == kClients && fdsBefore == fdsAfter;
  std::printf("%s\n", ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}
