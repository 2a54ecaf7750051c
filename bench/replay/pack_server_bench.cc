// Load tool: the pack server alone with an echo listener and loopback clients sending 217-byte
// bodies, beside a minimal Asio reader of the same byte stream, plus one client fed by Send.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "bench/replay/bench_client.h"
#include "replay/net/pack_decoder.h"
#include "replay/net/tcp_pack_server.h"
#include "replay/net/tcp_server.h"

namespace {

constexpr std::uint16_t kFlag = 361;
constexpr std::size_t kBody = 217;
constexpr std::size_t kFrame = kPackHeaderSize + kBody;
constexpr int kClients = 4;
constexpr int kPerClient = 400000;
constexpr int kRuns = 5;  // each figure is the best of this many runs
constexpr int kToOneClient = 500000;

// Counts received bodies; echoes them back when asked.
class EchoListener : public ITcpServerListener {
 public:
  bool echo = false;

  // One counter per connection, each on its own cache line: a connection's events come one at a time.
  struct alignas(64) Counter {
    std::atomic<long long> n{0};
  };
  std::array<Counter, 64> received;

  long long Received() const {
    long long sum = 0;
    for (const Counter& c : received) sum += c.n.load(std::memory_order_relaxed);
    return sum;
  }
  void Reset() {
    for (Counter& c : received) c.n.store(0, std::memory_order_relaxed);
  }

  EventResult OnPrepareListen(ITcpServer*, SocketHandle) override { return EventResult::Ok; }
  EventResult OnAccept(ITcpServer*, ConnectionId, SocketHandle) override { return EventResult::Ok; }
  EventResult OnHandShake(ITcpServer*, ConnectionId id) override {
    std::lock_guard<std::mutex> lock(mutex);
    ids.push_back(id);
    accepted.notify_all();
    return EventResult::Ok;
  }
  EventResult OnSend(ITcpServer*, ConnectionId, const std::uint8_t*, int) override { return EventResult::Ok; }
  EventResult OnReceive(ITcpServer*, ConnectionId, int) override { return EventResult::Ok; }
  EventResult OnReceive(ITcpServer* sender, ConnectionId id, const std::uint8_t* data, int length) override {
    received[id % received.size()].n.fetch_add(1, std::memory_order_relaxed);
    if (echo) sender->Send(id, data, length);
    return EventResult::Ok;
  }
  EventResult OnClose(ITcpServer*, ConnectionId, SocketOperation, int) override { return EventResult::Ok; }
  EventResult OnShutdown(ITcpServer*) override { return EventResult::Ok; }

  std::mutex mutex;
  std::condition_variable accepted;
  std::vector<ConnectionId> ids;
};

std::vector<std::uint8_t> Frames(int count) {
  std::vector<std::uint8_t> frame(kFrame, 0x5A);
  WritePackHeader(kFlag, kBody, frame.data());
  std::vector<std::uint8_t> all;
  all.reserve(frame.size() * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) all.insert(all.end(), frame.begin(), frame.end());
  return all;
}

// Each client sends its frames in one stream; when `readBack`, it also reads as many frames back.
double RunClients(unsigned short port, bool readBack, const std::function<bool()>& serverDone) {
  const std::vector<std::uint8_t> stream = Frames(kPerClient);
  std::vector<int> fds;
  for (int i = 0; i < kClients; ++i) fds.push_back(bench::ConnectLoopback(port));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int fd : fds) {
    threads.emplace_back([&, fd] {
      std::thread reader;
      if (readBack) reader = std::thread([&, fd] {
        if (!bench::ReadBytes(fd, stream.size())) failures++;
      });
      if (!bench::SendAll(fd, stream.data(), stream.size())) failures++;
      if (reader.joinable()) reader.join();
    });
  }
  for (auto& t : threads) t.join();
  while (!serverDone() && bench::Seconds(start) < 30) std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double seconds = bench::Seconds(start);
  for (int fd : fds) ::close(fd);
  if (failures) std::printf("  (%d client failures)\n", failures.load());
  return seconds;
}

// The least a reader can do with the same stream on as many threads: Asio reads, bytes counted,
// no framing, no strand.
double MinimalAsioReader() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  const unsigned short port = acceptor.local_endpoint().port();
  std::atomic<long long> bytes{0};
  std::vector<std::shared_ptr<asio::ip::tcp::socket>> sockets;
  std::function<void()> accept = [&] {
    acceptor.async_accept([&](const asio::error_code& ec, asio::ip::tcp::socket s) {
      if (ec) return;
      auto socket = std::make_shared<asio::ip::tcp::socket>(std::move(s));
      sockets.push_back(socket);
      auto buffer = std::make_shared<std::vector<std::uint8_t>>(4096);
      auto read = std::make_shared<std::function<void()>>();
      *read = [socket, buffer, read, &bytes] {
        socket->async_read_some(asio::buffer(*buffer), [socket, buffer, read, &bytes](const asio::error_code& e, std::size_t n) {
          if (e) {
            *read = nullptr;
            return;
          }
          bytes.fetch_add(static_cast<long long>(n), std::memory_order_relaxed);
          (*read)();
        });
      };
      (*read)();
      accept();
    });
  };
  accept();
  std::vector<std::thread> runners;
  for (std::uint32_t i = 0; i < CTcpServer::DefaultWorkerThreadCount(); ++i) runners.emplace_back([&] { io.run(); });
  const long long total = static_cast<long long>(kFrame) * kPerClient * kClients;
  const double seconds = RunClients(port, false, [&] { return bytes.load() >= total; });
  io.stop();
  for (std::thread& runner : runners) runner.join();
  return seconds;
}

}  // namespace

int main() {
  const double messages = static_cast<double>(kClients) * kPerClient;
  std::printf("pack server load: %d loopback clients x %d packs of %zu-byte bodies, %u worker threads\n", kClients,
              kPerClient, kBody, CTcpServer::DefaultWorkerThreadCount());

  double minimal = 1e9;
  for (int run = 0; run < kRuns; ++run) minimal = std::min(minimal, MinimalAsioReader());
  std::printf("minimal Asio reader     client->server %12.0f msg/s\n", messages / minimal);

  EchoListener listener;
  CTcpPackServerT<CTcpServer> server(&listener);
  server.SetPackLimit(4095);
  server.SetPackFlag(kFlag);
  if (!server.Start("127.0.0.1", 0)) {
    std::printf("start failed: %s\n", server.LastErrorText());
    return 1;
  }
  char address[32];
  int length = sizeof(address);
  unsigned short port = 0;
  server.ListenAddress(address, length, port);

  double receive = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    listener.Reset();
    receive = std::min(receive, RunClients(port, false, [&] { return listener.Received() >= messages; }));
  }
  std::printf("pack server             client->server %12.0f msg/s  (%.0f%% of the minimal reader; target 60%%)\n",
              messages / receive, 100.0 * minimal / receive);

  listener.echo = true;
  double echo = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    listener.Reset();
    echo = std::min(echo, RunClients(port, true, [&] { return listener.Received() >= messages; }));
  }
  std::printf("pack server echo        client->server %12.0f msg/s, server->client %12.0f msg/s\n",
              messages / echo, messages / echo);
  listener.echo = false;

  // One client, fed by Send from one thread as the replay thread does.
  {
    std::unique_lock<std::mutex> lock(listener.mutex);
    listener.ids.clear();
  }
  const int fd = bench::ConnectLoopback(port);
  ConnectionId id = 0;
  {
    std::unique_lock<std::mutex> lock(listener.mutex);
    listener.accepted.wait_for(lock, std::chrono::seconds(5), [&] { return !listener.ids.empty(); });
    id = listener.ids.empty() ? 0 : listener.ids.back();
  }
  std::uint8_t body[kBody];
  std::memset(body, 0x11, sizeof(body));
  const auto start = std::chrono::steady_clock::now();
  std::thread reader([&] {
    if (!bench::ReadBytes(fd, kFrame * static_cast<std::size_t>(kToOneClient))) std::printf("  (reader failed)\n");
  });
  int refused = 0;
  for (int i = 0; i < kToOneClient; ++i)
    if (!server.Send(id, body, static_cast<int>(kBody))) ++refused;
  reader.join();
  const double toOne = bench::Seconds(start);
  ::close(fd);
  std::printf("pack server to one client server->client %8.0f msg/s  (%d packs, %d refused; target 150000)\n",
              kToOneClient / toOne, kToOneClient, refused);
  server.Stop();
  return 0;
}
