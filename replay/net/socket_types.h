#ifndef QUOTELOOM_REPLAY_NET_SOCKET_TYPES_H
#define QUOTELOOM_REPLAY_NET_SOCKET_TYPES_H

#include <cstdint>

// What every listener handler returns.
enum class EventResult : std::int32_t {
  Ok = 0,      // handled, carry on
  Ignore = 1,  // not handled, carry on
  Error = 2,   // close the connection (OnPrepareListen: abort the start)
};

// Names a connection from its OnAccept up to and including its OnClose; 1 to the connection count.
using ConnectionId = std::uint32_t;

// The operation that OnClose reports.
enum class SocketOperation : std::int32_t {
  Send = 3,     // a write failed
  Receive = 4,  // a read failed or the received data was refused
  Close = 5,    // closed without error, by the peer or by the server
};

enum class ServiceState : std::int32_t { Starting = 0, Started = 1, Stopping = 2, Stopped = 3 };

// The codes that LastError reports after a failed Start or Stop.
enum class SocketError : std::int32_t {
  Ok = 0,
  IllegalState = 1,
  InvalidParam = 2,
  SocketCreate = 3,
  SocketBind = 4,
  SocketPrepare = 5,
  SocketListen = 6,
  CpCreate = 7,
  WorkerThreadCreate = 8,
  DetectThreadCreate = 9,
  SocketAttachToCp = 10,
  ConnectServer = 11,
  Network = 12,
  DataProc = 13,
  DataSend = 14,
  SslEnvNotReady = 101,
};

const char* SocketErrorText(SocketError code);

// Why a new connection was closed at once, before any event: the server's limits on open connections.
enum class ConnectionRefusal : std::int32_t {
  TooManyConnections = 1,  // the total limit (or the connection table) is full
  TooManyFromPeer = 2,     // the remote address already holds its limit of connections
};

// The code that OnClose carries for a framing error or a refused body.
inline constexpr int kFramingErrorCode = 1223;

// The code that OnClose carries when a connection timed out: idle, a pack left half-sent, or a
// client that stopped reading what was queued for it.
inline constexpr int kTimedOutErrorCode = 110;  // ETIMEDOUT

#endif
