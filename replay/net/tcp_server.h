#ifndef QUOTELOOM_REPLAY_NET_TCP_SERVER_H
#define QUOTELOOM_REPLAY_NET_TCP_SERVER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <mutex>

#include "replay/net/socket_interface.h"

// A TCP server of many connections on one io_context run by a pool of worker threads, with a
// strand per connection so that one connection's events come one at a time and in order.
// Start/Stop: one controlling thread, never a worker thread. Send and the queries: any thread.
class CTcpServer : public ITcpServer {
 public:
  explicit CTcpServer(ITcpServerListener* listener);
  ~CTcpServer() override;
  CTcpServer(const CTcpServer&) = delete;
  CTcpServer& operator=(const CTcpServer&) = delete;

  bool Start(const char* bindAddress, unsigned short port) override;
  bool Stop() override;
  bool Send(ConnectionId id, const std::uint8_t* data, int length) override;
  bool Disconnect(ConnectionId id) override;
  std::int64_t QueuedSendBytes(ConnectionId id) const override;
  bool HoldOpen(ConnectionId id, bool held) override;

  bool HasStarted() const override;
  ServiceState GetState() const override;
  std::uint32_t GetConnectionCount() const override;
  bool PeerAddress(ConnectionId id, char* address, int& addressLength, unsigned short& port) const override;
  bool ListenAddress(char* address, int& addressLength, unsigned short& port) const override;
  SocketError LastError() const override;
  const char* LastErrorText() const override;

  void SetMaxConnectionCount(std::uint32_t count) override { maxConnectionCount_ = count; }
  void SetWorkerThreadCount(std::uint32_t count) override { workerThreadCount_ = count; }
  void SetFreeSocketObjLockTime(std::uint32_t ms) override { freeSocketObjLockTime_ = ms; }
  void SetFreeSocketObjPool(std::uint32_t count) override { freeSocketObjPool_ = count; }
  void SetFreeSocketObjHold(std::uint32_t count) override { freeSocketObjHold_ = count; }
  void SetFreeBufferObjPool(std::uint32_t count) override { freeBufferObjPool_ = count; }
  void SetFreeBufferObjHold(std::uint32_t count) override { freeBufferObjHold_ = count; }
  void SetAcceptSocketCount(std::uint32_t count) override { acceptSocketCount_ = count; }
  void SetSocketBufferSize(std::uint32_t bytes) override { socketBufferSize_ = bytes; }
  void SetSocketListenQueue(std::uint32_t backlog) override { socketListenQueue_ = backlog; }
  void SetKeepAliveTime(std::uint32_t ms) override { keepAliveTime_ = ms; }
  void SetKeepAliveInterval(std::uint32_t ms) override { keepAliveInterval_ = ms; }
  std::uint32_t GetMaxConnectionCount() const override { return maxConnectionCount_; }
  std::uint32_t GetWorkerThreadCount() const override { return workerThreadCount_; }
  std::uint32_t GetAcceptSocketCount() const override { return acceptSocketCount_; }
  std::uint32_t GetSocketBufferSize() const override { return socketBufferSize_; }
  std::uint32_t GetKeepAliveTime() const override { return keepAliveTime_; }
  std::uint32_t GetKeepAliveInterval() const override { return keepAliveInterval_; }
  void SetMaxOpenConnections(std::uint32_t count) override { maxOpenConnections_ = count; }
  void SetMaxConnectionsPerPeer(std::uint32_t count) override { maxConnectionsPerPeer_ = count; }
  void SetIdleTimeout(std::uint32_t ms) override { idleTimeout_ = ms; }
  void SetMaxSendQueue(std::uint32_t bytes) override { maxSendQueue_ = bytes; }
  void SetSocketSendBufferSize(std::uint32_t bytes) override { socketSendBufferSize_ = bytes; }
  std::uint32_t GetSocketSendBufferSize() const override { return socketSendBufferSize_; }
  void SetRefusalHandler(RefusalHandler handler) override { refusalHandler_ = std::move(handler); }
  std::uint32_t GetMaxOpenConnections() const override { return maxOpenConnections_; }
  std::uint32_t GetMaxConnectionsPerPeer() const override { return maxConnectionsPerPeer_; }
  std::uint32_t GetIdleTimeout() const override { return idleTimeout_; }
  std::uint32_t GetMaxSendQueue() const override { return maxSendQueue_; }

  static std::uint32_t DefaultWorkerThreadCount();
  // The system page size: the bytes asked for by each read.
  static std::uint32_t DefaultSocketBufferSize();

 protected:
  // Per-connection receive state of a layer above, such as a pack decoder.
  class ReceiveContext {
   public:
    virtual ~ReceiveContext() = default;
  };

  // Created for each connection before it starts reading; null hands raw bytes to OnReceive.
  virtual std::unique_ptr<ReceiveContext> NewReceiveContext() { return nullptr; }
  // Every completed read, on the connection's strand. False closes the connection with
  // OnClose(Receive, *errorCode).
  virtual bool DeliverReceived(ConnectionId id, ReceiveContext* context, const std::uint8_t* data,
                               std::size_t length, int* errorCode);
  // Bytes of an incomplete unit held by the context (a half-received pack); 0 for raw bytes.
  virtual std::size_t PartialReceiveBytes(const ReceiveContext*) const { return 0; }
  // The settings' ranges; a layer above adds its own.
  virtual bool CheckParams() const;

  // Queues `head` and `body` as one unit after everything already queued for the connection.
  bool SendUnit(ConnectionId id, const std::uint8_t* head, std::size_t headLength,
                const std::uint8_t* body, std::size_t bodyLength);

  ITcpServerListener* listener() const { return listener_; }

 private:
  struct Impl;
  struct Connection;

  SocketError StartRunning(const char* bindAddress, unsigned short port);
  void RunStopSequence();
  void SetLastError(SocketError code) { lastError_.store(code, std::memory_order_relaxed); }
  std::shared_ptr<Impl> CurrentImpl() const;

  ITcpServerListener* const listener_;

  // Settings: written by the controlling thread while stopped.
  std::uint32_t maxConnectionCount_ = 10000;
  std::uint32_t workerThreadCount_ = DefaultWorkerThreadCount();
  std::uint32_t acceptSocketCount_ = 300;
  std::uint32_t socketListenQueue_ = 2147483647u;
  std::uint32_t socketBufferSize_ = DefaultSocketBufferSize();
  std::uint32_t keepAliveTime_ = 30000;
  std::uint32_t keepAliveInterval_ = 10000;
  std::uint32_t freeSocketObjPool_ = 150;
  std::uint32_t freeSocketObjHold_ = 600;
  std::uint32_t freeBufferObjPool_ = 300;
  std::uint32_t freeBufferObjHold_ = 1200;
  std::uint32_t freeSocketObjLockTime_ = 10000;
  std::uint32_t maxOpenConnections_ = 0;
  std::uint32_t maxConnectionsPerPeer_ = 0;
  std::uint32_t idleTimeout_ = 0;
  std::uint32_t maxSendQueue_ = 0;
  std::uint32_t socketSendBufferSize_ = 0;
  RefusalHandler refusalHandler_;

  std::mutex controlMutex_;  // serialises Start and Stop
  std::atomic<ServiceState> state_{ServiceState::Stopped};
  std::atomic<SocketError> lastError_{SocketError::Ok};
  // The I/O machinery of one run: replaced by the controlling thread, read by any thread.
  mutable std::mutex implMutex_;
  std::shared_ptr<Impl> impl_;  // guarded by implMutex_
};

#endif
