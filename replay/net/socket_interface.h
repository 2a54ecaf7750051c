#ifndef QUOTELOOM_REPLAY_NET_SOCKET_INTERFACE_H
#define QUOTELOOM_REPLAY_NET_SOCKET_INTERFACE_H

#include <cstdint>
#include <functional>

#include "replay/net/socket_types.h"

// The native handle of a socket, as OnPrepareListen and OnAccept pass it.
using SocketHandle = int;

// Operations on a server of many connections. Start and Stop from one controlling thread (never a
// worker thread); Send, PeerAddress and the queries from any thread. Settings only while stopped.
class IComplexSocket {
 public:
  virtual ~IComplexSocket() = default;

  virtual bool Start(const char* bindAddress, unsigned short port) = 0;
  // Closes every connection and the listening socket; true if the server was running.
  virtual bool Stop() = 0;
  // Queues the bytes for the connection; false if it does not exist, is closing or the length is bad.
  virtual bool Send(ConnectionId id, const std::uint8_t* data, int length) = 0;
  // Asks for the connection to be closed; its OnClose reports (Close, 0).
  virtual bool Disconnect(ConnectionId id) = 0;
  // Bytes queued for the connection and not yet written; -1 when it does not exist or is closing.
  virtual std::int64_t QueuedSendBytes(ConnectionId id) const = 0;
  // A held connection is never closed for being idle: its owner is serving it. Half-sent packs and
  // stalled sends still time out. False when the connection does not exist.
  virtual bool HoldOpen(ConnectionId id, bool held) = 0;

  virtual bool HasStarted() const = 0;
  virtual ServiceState GetState() const = 0;
  virtual std::uint32_t GetConnectionCount() const = 0;
  // The remote address (dotted text, NUL-terminated, `addressLength` in: buffer size, out: text
  // length + 1) and port of a connection.
  virtual bool PeerAddress(ConnectionId id, char* address, int& addressLength, unsigned short& port) const = 0;
  // The code and text of the last failure of Start or Stop.
  virtual SocketError LastError() const = 0;
  virtual const char* LastErrorText() const = 0;

  virtual void SetMaxConnectionCount(std::uint32_t count) = 0;
  virtual void SetWorkerThreadCount(std::uint32_t count) = 0;
  virtual void SetFreeSocketObjLockTime(std::uint32_t milliseconds) = 0;
  virtual void SetFreeSocketObjPool(std::uint32_t count) = 0;
  virtual void SetFreeSocketObjHold(std::uint32_t count) = 0;
  virtual void SetFreeBufferObjPool(std::uint32_t count) = 0;
  virtual void SetFreeBufferObjHold(std::uint32_t count) = 0;
  virtual std::uint32_t GetMaxConnectionCount() const = 0;
  virtual std::uint32_t GetWorkerThreadCount() const = 0;
};

class IServer : public IComplexSocket {
 public:
  // The bound address and port (the port the system chose when 0 was asked for).
  virtual bool ListenAddress(char* address, int& addressLength, unsigned short& port) const = 0;
};

class ITcpServer : public IServer {
 public:
  virtual void SetAcceptSocketCount(std::uint32_t count) = 0;
  virtual void SetSocketBufferSize(std::uint32_t bytes) = 0;
  virtual void SetSocketListenQueue(std::uint32_t backlog) = 0;
  virtual void SetKeepAliveTime(std::uint32_t milliseconds) = 0;
  virtual void SetKeepAliveInterval(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t GetAcceptSocketCount() const = 0;
  virtual std::uint32_t GetSocketBufferSize() const = 0;
  virtual std::uint32_t GetKeepAliveTime() const = 0;
  virtual std::uint32_t GetKeepAliveInterval() const = 0;

  // Limits against a flood of clients. 0 switches each one off.
  // Connections open at once (below the table size, to keep descriptors for the rest of the process).
  virtual void SetMaxOpenConnections(std::uint32_t count) = 0;
  // Connections open at once from one remote address.
  virtual void SetMaxConnectionsPerPeer(std::uint32_t count) = 0;
  // A connection is closed with OnClose(Receive, 110) when nothing arrived for this long and it is
  // not held, or a pack stayed half-received this long; with OnClose(Send, 110) when bytes were
  // queued for it and none could be written for this long.
  virtual void SetIdleTimeout(std::uint32_t milliseconds) = 0;
  // Bytes queued for one connection at most: a Send beyond it returns false (errno ENOBUFS).
  virtual void SetMaxSendQueue(std::uint32_t bytes) = 0;
  // The system's send buffer of every accepted socket (SO_SNDBUF), so that a client that does not
  // read also makes the system hold little for it; 0 leaves the system's own sizing.
  virtual void SetSocketSendBufferSize(std::uint32_t bytes) = 0;
  virtual std::uint32_t GetSocketSendBufferSize() const = 0;
  // Told of every connection closed at once by the limits above, on a worker thread.
  using RefusalHandler = std::function<void(ConnectionRefusal reason, const char* peerAddress, unsigned short peerPort)>;
  virtual void SetRefusalHandler(RefusalHandler handler) = 0;
  virtual std::uint32_t GetMaxOpenConnections() const = 0;
  virtual std::uint32_t GetMaxConnectionsPerPeer() const = 0;
  virtual std::uint32_t GetIdleTimeout() const = 0;
  virtual std::uint32_t GetMaxSendQueue() const = 0;
};

// The pack settings of a pack-framed socket; both take effect at the next start.
class IPackSocket {
 public:
  virtual ~IPackSocket() = default;
  virtual void SetPackLimit(std::uint32_t maxPackSize) = 0;
  virtual void SetPackFlag(std::uint16_t flag) = 0;
  virtual std::uint32_t GetPackLimit() const = 0;
  virtual std::uint16_t GetPackFlag() const = 0;
};

// Events of one connection. Raised on worker threads; one connection's events come one at a time.
template <class TSender>
class ISocketListenerT {
 public:
  virtual EventResult OnHandShake(TSender* sender, ConnectionId id) = 0;
  virtual EventResult OnSend(TSender* sender, ConnectionId id, const std::uint8_t* data, int length) = 0;
  // The length-only receive notification; a pack server never raises it.
  virtual EventResult OnReceive(TSender* sender, ConnectionId id, int length) = 0;
  virtual EventResult OnReceive(TSender* sender, ConnectionId id, const std::uint8_t* data, int length) = 0;
  virtual EventResult OnClose(TSender* sender, ConnectionId id, SocketOperation operation, int errorCode) = 0;
  virtual ~ISocketListenerT() = default;
};

template <class TSender>
class IComplexSocketListenerT : public ISocketListenerT<TSender> {
 public:
  // Raised on the thread that stops the server, after every OnClose the stop caused.
  virtual EventResult OnShutdown(TSender* sender) = 0;
};

template <class TSender>
class IServerListenerT : public IComplexSocketListenerT<TSender> {
 public:
  // Raised on the thread that starts the server, after the bind and before listening.
  virtual EventResult OnPrepareListen(TSender* sender, SocketHandle listenSocket) = 0;
  virtual EventResult OnAccept(TSender* sender, ConnectionId id, SocketHandle client) = 0;
};

class ITcpServerListener : public IServerListenerT<ITcpServer> {};

#endif
