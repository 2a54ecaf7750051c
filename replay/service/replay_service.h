#ifndef QUOTELOOM_REPLAY_SERVICE_REPLAY_SERVICE_H
#define QUOTELOOM_REPLAY_SERVICE_REPLAY_SERVICE_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "replay/net/flat_server_listener.h"
#include "replay/net/flat_server_object.h"
#include "replay/net/tcp_pack_server.h"
#include "replay/net/tcp_server.h"
#include "replay/service/replay_job.h"
#include "replay/service/replay_worker.h"

class Clock;
class LiveTickRelay;

struct ReplayServiceOptions {
  static constexpr std::uint32_t kDefaultMaxConnectionsPerPeer = 64;
  static constexpr std::uint32_t kDefaultIdleTimeoutMs = 60000;
  static constexpr std::uint32_t kDefaultSendQueueBytes = 64 * 1024;
  static constexpr std::uint32_t kDefaultMaxReplayThreads = 16;
  static constexpr std::uint32_t kDefaultSocketSendBuffer = 64 * 1024;

  unsigned short port = 7777;        // 0: the system picks one (see ListenAddress)
  std::string bindAddress = "0.0.0.0";
  std::string dataRoot = "Data";     // holds yyyymmdd/Tick/<contract>.csv
  const Clock* clock = nullptr;      // null: the system clock
  // Connections open at once; 0: derived from the descriptor limit at each start.
  std::uint32_t maxConnections = 0;
  std::uint32_t maxConnectionsPerPeer = kDefaultMaxConnectionsPerPeer;  // 0: no limit
  // Idle connections, half-sent packs and clients that stop reading are closed after this; 0: never.
  std::uint32_t idleTimeoutMs = kDefaultIdleTimeoutMs;
  std::uint32_t sendQueueBytes = kDefaultSendQueueBytes;  // unsent bytes per client
  // The system's send buffer per client (doubled by the system): ample for one message a
  // millisecond, small for a client that does not read. 0: the system's own sizing.
  std::uint32_t socketSendBuffer = kDefaultSocketSendBuffer;
  std::uint32_t maxReplayThreads = kDefaultMaxReplayThreads;
  ReplayThreadCreateFn createThread = nullptr;  // null: pthread_create
};

// The connections a server may hold with the descriptor limit `openFiles`: the limit less a reserve
// for the writer's files, the fronts and the logs (128, or half of a small limit) and less the 16
// accepts kept in progress, at least 1 and at most 10000.
std::uint32_t MaxConnectionsForDescriptorLimit(std::uint64_t openFiles);
// The same for the process's current soft limit.
std::uint32_t DefaultMaxConnections();

// The replay service: a pack server whose clients ask for one contract over a range of days and
// get its stored ticks, then its live ticks. Start/Stop: the controlling thread (window or main);
// handlers run on the server's worker threads, each replay on a thread of its own.
class ReplayService {
 public:
  explicit ReplayService(LiveTickRelay& relay, unsigned short port = 7777);
  ReplayService(LiveTickRelay& relay, ReplayServiceOptions options);
  // Stops the server in order (connections closed, OnShutdown) and ends every replay thread.
  ~ReplayService();
  ReplayService(const ReplayService&) = delete;
  ReplayService& operator=(const ReplayService&) = delete;

  // Sets the pack limit 4095 and flag 361 and starts listening; a running service is left alone.
  void StartReplayService();
  // Closes every connection and stops listening; a stopped service is left alone.
  void StopReplayService();
  bool running() const;

  // The bound address and port while running.
  bool ListenAddress(std::string* address, unsigned short* port) const;
  bool livePhase() const { return shared_.livePhase.load(std::memory_order_acquire); }
  // Replay threads that have not ended yet.
  std::size_t RunningReplays() const;
  // Clients connected now.
  std::uint32_t connectionCount() const { return server_.GetConnectionCount(); }
  // Connections refused since start: too many in total (`perAddress` false) or from one address.
  std::uint64_t refusedConnections(bool perAddress) const {
    return refusedConnections_[perAddress ? 1 : 0].load(std::memory_order_relaxed);
  }
  // The limit of open connections of the running server (0 while stopped).
  std::uint32_t maxConnections() const;
  // A copy of the request of the latest replay, if any.
  std::optional<ActiveRequest> activeRequest() const;

 private:
  static constexpr int kPackServerKind = 4;
  using Listener = CFlatServerListenerT<ITcpServer, ITcpServerListener, kPackServerKind>;
  using Server = CFlatServerObjectT<CTcpPackServerT<CTcpServer>, ITcpServerListener, kPackServerKind>;

  Listener::Handlers MakeHandlers();
  EventResult OnAccept(ITcpServer* sender, ConnectionId id);
  EventResult OnReceive(ITcpServer* sender, ConnectionId id, const std::uint8_t* data, int length);
  EventResult OnClose(ConnectionId id, SocketOperation operation, int errorCode);
  void StartReplay(ActiveRequest request);
  void OnRefused(ConnectionRefusal reason, const char* address, unsigned short port);
  // Callers hold replayMutex_.
  void JoinFinishedReplays();
  ReplayWorker* WorkerOf(ConnectionId client);
  std::size_t AliveWorkers() const;

  const ReplayServiceOptions options_;
  ReplayShared shared_;
  Listener listener_;
  Server server_;

  mutable std::mutex replayMutex_;  // serialises start requests
  std::vector<std::unique_ptr<ReplayWorker>> workers_;  // guarded by replayMutex_
  std::optional<ActiveRequest> activeRequest_;         // guarded by replayMutex_

  // Refusals are logged at most once a second per kind, with the count not logged, so that a flood
  // cannot flood the log tab. True when this refusal may be logged; `unlogged` then holds the
  // refusals of its kind left out since the last logged one.
  enum RefusalKind { kTooManyInTotal, kTooManyFromOneAddress, kReplayThreadsFull, kRefusalKinds };
  bool TakeRefusalLogTurn(RefusalKind kind, std::uint32_t* unlogged);
  std::mutex refusalMutex_;
  struct RefusalLog {
    std::chrono::steady_clock::time_point last{};
    std::uint32_t unlogged = 0;
  };
  RefusalLog refusalLogs_[kRefusalKinds];  // guarded by refusalMutex_
  std::atomic<std::uint64_t> refusedConnections_[2] = {};  // too many in total, from one address; network threads count
};

#endif
