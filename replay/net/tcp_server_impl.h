#ifndef QUOTELOOM_REPLAY_NET_TCP_SERVER_IMPL_H
#define QUOTELOOM_REPLAY_NET_TCP_SERVER_IMPL_H

// The Asio side of CTcpServer, private to replay_net.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "replay/net/tcp_server.h"

// Keep-alive on when both values are non-zero: the first probe after `timeMs` of silence, then one
// every `intervalMs` (whole seconds).
void SetKeepAlive(int fd, std::uint32_t timeMs, std::uint32_t intervalMs);

// The steady clock in nanoseconds, for the activity stamps of a connection.
inline std::int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One accepted connection. Fields below "strand only" are touched only on `strand`.
struct CTcpServer::Connection {
  Connection(asio::io_context& io, asio::ip::tcp::socket s, ConnectionId connectionId, std::size_t bufferSize)
      : socket(std::move(s)), strand(asio::make_strand(io)), id(connectionId), readBuffer(bufferSize) {}

  asio::ip::tcp::socket socket;
  asio::strand<asio::io_context::executor_type> strand;
  const ConnectionId id;
  std::string peerAddress;  // constant after registration
  unsigned short peerPort = 0;

  std::mutex sendMutex;
  std::vector<std::uint8_t> pending;  // guarded by sendMutex: queued, not yet written
  bool writing = false;               // guarded by sendMutex: a write is posted or in flight
  bool closing = false;               // guarded by sendMutex: no more sends accepted
  std::size_t queued = 0;             // guarded by sendMutex: bytes in pending and inflight

  // Activity stamps for the timeouts: written on the strand (or by a sender under sendMutex), read
  // by the sweep; relaxed, as a stale reading only moves a close by one sweep.
  std::atomic<std::int64_t> lastReceiveNs{SteadyNowNs()};
  std::atomic<std::int64_t> lastWriteNs{SteadyNowNs()};  // last write progress, or the queue's start
  std::atomic<std::int64_t> partialSinceNs{0};           // a pack received in part since; 0: none
  std::atomic<bool> held{false};                         // its owner serves it: never idle

  // Strand only.
  bool finished = false;
  std::vector<std::uint8_t> inflight;
  std::vector<std::uint8_t> readBuffer;
  std::unique_ptr<ReceiveContext> receiveContext;
};

// The I/O machinery of one run, from Start to the end of the stop sequence. Handlers capture a raw
// pointer: the workers are joined before it is released.
struct CTcpServer::Impl {
  Impl(CTcpServer* server, std::uint32_t slotCount)
      : owner(server), listener(server->listener_), acceptor(io), acceptStrand(asio::make_strand(io)),
        slots(slotCount) {}

  void PostAccept();
  void OnAccepted(const asio::error_code& ec, asio::ip::tcp::socket socket);
  void Register(asio::ip::tcp::socket socket);
  void Open(const std::shared_ptr<Connection>& conn);
  void Read(const std::shared_ptr<Connection>& conn);
  void OnRead(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t n);
  void Write(const std::shared_ptr<Connection>& conn);
  void OnWritten(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t n);
  // Ends the connection once: OnClose (when `raise`), socket shut down and closed, slot freed.
  void Finish(const std::shared_ptr<Connection>& conn, bool raise, SocketOperation op, int code);
  // Marks it closing at once and ends it on its strand with OnClose(op, code).
  void PostFinish(const std::shared_ptr<Connection>& conn, SocketOperation op = SocketOperation::Close, int code = 0);
  std::shared_ptr<Connection> Find(ConnectionId id) const;
  std::vector<std::shared_ptr<Connection>> Snapshot() const;
  void WaitUntilEmpty();
  // Every sweep period, on acceptStrand: closes the connections that timed out.
  void ArmSweep();
  void Sweep();

  CTcpServer* const owner;
  ITcpServerListener* const listener;
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor;  // used on acceptStrand once the workers run
  asio::strand<asio::io_context::executor_type> acceptStrand;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  std::vector<std::thread> workers;
  std::atomic<std::uint32_t> outstandingAccepts{0};
  bool accepting = false;  // acceptStrand only
  std::string listenAddress;
  unsigned short listenPort = 0;

  mutable std::mutex tableMutex;
  std::condition_variable tableEmptied;
  std::vector<std::shared_ptr<Connection>> slots;  // guarded by tableMutex
  std::size_t cursor = 0;                          // guarded by tableMutex
  std::size_t count = 0;                           // guarded by tableMutex
  std::map<std::string, std::uint32_t> perPeer;    // guarded by tableMutex: open connections by address
  asio::steady_timer sweepTimer{io};               // acceptStrand only
};

#endif
