#ifndef QUOTELOOM_REPLAY_SERVICE_REPLAY_SERVICE_H
#define QUOTELOOM_REPLAY_SERVICE_REPLAY_SERVICE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "replay/net/flat_server_listener.h"
#include "replay/net/flat_server_object.h"
#include "replay/net/tcp_pack_server.h"
#include "replay/net/tcp_server.h"
#include "replay/service/replay_job.h"

class Clock;
class LiveTickRelay;

struct ReplayServiceOptions {
  unsigned short port = 7777;        // 0: the system picks one (see ListenAddress)
  std::string bindAddress = "0.0.0.0";
  std::string dataRoot = "Data";     // holds yyyymmdd/Tick/<contract>.csv
  const Clock* clock = nullptr;      // null: the system clock
};

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
  // A copy of the request of the latest replay, if any.
  std::optional<ActiveRequest> activeRequest() const;

 private:
  static constexpr int kPackServerKind = 4;
  using Listener = CFlatServerListenerT<ITcpServer, ITcpServerListener, kPackServerKind>;
  using Server = CFlatServerObjectT<CTcpPackServerT<CTcpServer>, ITcpServerListener, kPackServerKind>;

  struct ReplayThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  Listener::Handlers MakeHandlers();
  EventResult OnAccept(ITcpServer* sender, ConnectionId id);
  EventResult OnReceive(ITcpServer* sender, ConnectionId id, const std::uint8_t* data, int length);
  EventResult OnClose(ConnectionId id, SocketOperation operation, int errorCode);
  void StartReplay(ITcpServer* sender, ConnectionId id, ActiveRequest request);
  void JoinFinishedReplays();  // callers hold replayMutex_

  const ReplayServiceOptions options_;
  ReplayShared shared_;
  Listener listener_;
  Server server_;

  mutable std::mutex replayMutex_;  // serialises start requests
  std::vector<ReplayThread> replays_;            // guarded by replayMutex_
  std::optional<ActiveRequest> activeRequest_;  // guarded by replayMutex_
};

#endif
