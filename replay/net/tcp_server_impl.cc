#include "replay/net/tcp_server_impl.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

namespace {

using asio::ip::tcp;

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(10);
constexpr std::size_t kKeptWriteCapacity = 64 * 1024;

// The echo of a close already handled: such completions raise no event.
bool IsCloseEcho(const asio::error_code& ec) {
  return ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor;
}

}  // namespace

void SetKeepAlive(int fd, std::uint32_t timeMs, std::uint32_t intervalMs) {
  int on = (timeMs != 0 && intervalMs != 0) ? 1 : 0;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
  if (!on) return;
  int idle = static_cast<int>(std::max<std::uint32_t>(1, timeMs / 1000));
  int interval = static_cast<int>(std::max<std::uint32_t>(1, intervalMs / 1000));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
}

void CTcpServer::Impl::PostAccept() {
  outstandingAccepts.fetch_add(1, std::memory_order_relaxed);
  acceptor.async_accept(asio::bind_executor(
      acceptStrand, [this](const asio::error_code& ec, tcp::socket socket) { OnAccepted(ec, std::move(socket)); }));
}

void CTcpServer::Impl::OnAccepted(const asio::error_code& ec, tcp::socket socket) {
  if (accepting) {
    if (!ec || IsCloseEcho(ec)) {
      PostAccept();
    } else {
      // Out of descriptors and the like: try again shortly instead of spinning.
      auto timer = std::make_shared<asio::steady_timer>(io, kAcceptRetryDelay);
      outstandingAccepts.fetch_add(1, std::memory_order_relaxed);
      timer->async_wait(asio::bind_executor(acceptStrand, [this, timer](const asio::error_code&) {
        if (accepting) PostAccept();
        outstandingAccepts.fetch_sub(1, std::memory_order_release);
      }));
    }
  }
  if (!ec) Register(std::move(socket));
  outstandingAccepts.fetch_sub(1, std::memory_order_release);
}

void CTcpServer::Impl::Register(tcp::socket socket) {
  asio::error_code ec;
  const tcp::endpoint peer = socket.remote_endpoint(ec);
  const std::string peerAddress = ec ? std::string() : peer.address().to_string();
  const unsigned short peerPort = ec ? 0 : peer.port();
  std::shared_ptr<Connection> conn;
  ConnectionRefusal refusal = ConnectionRefusal::TooManyConnections;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    const std::size_t n = slots.size();
    const std::size_t openLimit = owner->maxOpenConnections_ != 0 ? std::min<std::size_t>(n, owner->maxOpenConnections_) : n;
    const auto fromPeer = perPeer.find(peerAddress);
    if (count < openLimit && owner->maxConnectionsPerPeer_ != 0 && fromPeer != perPeer.end() &&
        fromPeer->second >= owner->maxConnectionsPerPeer_) {
      refusal = ConnectionRefusal::TooManyFromPeer;
    } else if (count < openLimit) {
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t slot = (cursor + i) % n;
        if (slots[slot]) continue;
        conn = std::make_shared<Connection>(io, std::move(socket), static_cast<ConnectionId>(slot + 1),
                                            owner->socketBufferSize_);
        conn->peerAddress = peerAddress;
        conn->peerPort = peerPort;
        slots[slot] = conn;
        cursor = (slot + 1) % n;
        ++count;
        ++perPeer[peerAddress];
        break;
      }
    }
  }
  if (!conn) {
    // Told first, so that whoever sees the close can already see the refusal.
    if (owner->refusalHandler_) owner->refusalHandler_(refusal, peerAddress.c_str(), peerPort);
    asio::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    return;
  }
  SetKeepAlive(conn->socket.native_handle(), owner->keepAliveTime_, owner->keepAliveInterval_);
  conn->socket.set_option(tcp::no_delay(true), ec);
  if (owner->socketSendBufferSize_ != 0) {
    conn->socket.set_option(asio::socket_base::send_buffer_size(static_cast<int>(owner->socketSendBufferSize_)), ec);
  }
  asio::post(conn->strand, [this, conn] { Open(conn); });
}

void CTcpServer::Impl::Open(const std::shared_ptr<Connection>& conn) {
  if (conn->finished) return;
  if (listener->OnAccept(owner, conn->id, conn->socket.native_handle()) == EventResult::Error ||
      listener->OnHandShake(owner, conn->id) == EventResult::Error) {
    Finish(conn, false, SocketOperation::Close, 0);
    return;
  }
  conn->receiveContext = owner->NewReceiveContext();
  Read(conn);
}

void CTcpServer::Impl::Read(const std::shared_ptr<Connection>& conn) {
  conn->socket.async_read_some(
      asio::buffer(conn->readBuffer),
      asio::bind_executor(conn->strand, [this, conn](const asio::error_code& ec, std::size_t n) { OnRead(conn, ec, n); }));
}

void CTcpServer::Impl::OnRead(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t n) {
  if (conn->finished) return;
  if (ec == asio::error::eof) {
    Finish(conn, true, SocketOperation::Close, 0);
  } else if (IsCloseEcho(ec)) {
    Finish(conn, false, SocketOperation::Close, 0);
  } else if (ec) {
    Finish(conn, true, SocketOperation::Receive, ec.value());
  } else {
    const std::int64_t now = SteadyNowNs();
    conn->lastReceiveNs.store(now, std::memory_order_relaxed);
    int errorCode = 0;
    if (!owner->DeliverReceived(conn->id, conn->receiveContext.get(), conn->readBuffer.data(), n, &errorCode)) {
      Finish(conn, true, SocketOperation::Receive, errorCode);
    } else if (!conn->finished) {
      // A half-received pack is timed from its first bytes, so trickling bytes cannot keep it open.
      const bool partial = owner->PartialReceiveBytes(conn->receiveContext.get()) != 0;
      if (!partial) {
        conn->partialSinceNs.store(0, std::memory_order_relaxed);
      } else if (conn->partialSinceNs.load(std::memory_order_relaxed) == 0) {
        conn->partialSinceNs.store(now, std::memory_order_relaxed);
      }
      Read(conn);
    }
  }
}

void CTcpServer::Impl::Write(const std::shared_ptr<Connection>& conn) {
  if (conn->finished) return;
  {
    std::lock_guard<std::mutex> lock(conn->sendMutex);
    if (conn->pending.empty()) {
      conn->writing = false;
      return;
    }
    conn->inflight.swap(conn->pending);
  }
  asio::async_write(
      conn->socket, asio::buffer(conn->inflight),
      asio::bind_executor(conn->strand, [this, conn](const asio::error_code& ec, std::size_t n) { OnWritten(conn, ec, n); }));
}

void CTcpServer::Impl::OnWritten(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t n) {
  if (conn->finished) return;
  if (IsCloseEcho(ec)) {
    Finish(conn, false, SocketOperation::Close, 0);
    return;
  }
  if (ec) {
    Finish(conn, true, SocketOperation::Send, ec.value());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(conn->sendMutex);
    conn->queued -= std::min(conn->queued, n);
    conn->lastWriteNs.store(SteadyNowNs(), std::memory_order_relaxed);
  }
  listener->OnSend(owner, conn->id, conn->inflight.data(), static_cast<int>(n));
  conn->inflight.clear();
  // A burst for a slow client must not keep its buffer's size for the rest of the connection.
  if (conn->inflight.capacity() > kKeptWriteCapacity) conn->inflight.shrink_to_fit();
  Write(conn);
}

void CTcpServer::Impl::Finish(const std::shared_ptr<Connection>& conn, bool raise, SocketOperation op, int code) {
  if (conn->finished) return;
  conn->finished = true;
  {
    std::lock_guard<std::mutex> lock(conn->sendMutex);
    conn->closing = true;
    conn->pending.clear();
    conn->pending.shrink_to_fit();
    conn->queued = 0;
  }
  if (raise) listener->OnClose(owner, conn->id, op, code);
  asio::error_code ignored;
  conn->socket.shutdown(tcp::socket::shutdown_send, ignored);
  conn->socket.close(ignored);
  std::lock_guard<std::mutex> lock(tableMutex);
  auto& slot = slots[conn->id - 1];
  if (slot == conn) {
    slot.reset();
    const auto fromPeer = perPeer.find(conn->peerAddress);
    if (fromPeer != perPeer.end() && --fromPeer->second == 0) perPeer.erase(fromPeer);
    if (--count == 0) tableEmptied.notify_all();
  }
}

void CTcpServer::Impl::PostFinish(const std::shared_ptr<Connection>& conn, SocketOperation op, int code) {
  {
    std::lock_guard<std::mutex> lock(conn->sendMutex);
    conn->closing = true;
  }
  asio::post(conn->strand, [this, conn, op, code] { Finish(conn, true, op, code); });
}

std::shared_ptr<CTcpServer::Connection> CTcpServer::Impl::Find(ConnectionId id) const {
  std::lock_guard<std::mutex> lock(tableMutex);
  if (id == 0 || id > slots.size()) return nullptr;
  return slots[id - 1];
}

std::vector<std::shared_ptr<CTcpServer::Connection>> CTcpServer::Impl::Snapshot() const {
  std::lock_guard<std::mutex> lock(tableMutex);
  std::vector<std::shared_ptr<Connection>> live;
  live.reserve(count);
  for (const auto& slot : slots)
    if (slot) live.push_back(slot);
  return live;
}

void CTcpServer::Impl::WaitUntilEmpty() {
  std::unique_lock<std::mutex> lock(tableMutex);
  tableEmptied.wait(lock, [this] { return count == 0; });
}

void CTcpServer::Impl::ArmSweep() {
  const std::uint32_t timeout = owner->idleTimeout_;
  if (timeout == 0) return;
  const auto period = std::chrono::milliseconds(std::clamp<std::uint32_t>(timeout / 4, 5, 1000));
  sweepTimer.expires_after(period);
  sweepTimer.async_wait(asio::bind_executor(acceptStrand, [this](const asio::error_code& ec) {
    if (ec || !accepting) return;
    Sweep();
    ArmSweep();
  }));
}

void CTcpServer::Impl::Sweep() {
  const std::int64_t limit = static_cast<std::int64_t>(owner->idleTimeout_) * 1000000;
  const std::int64_t now = SteadyNowNs();
  for (const auto& conn : Snapshot()) {
    std::int64_t queued;
    {
      std::lock_guard<std::mutex> lock(conn->sendMutex);
      if (conn->closing) continue;
      queued = static_cast<std::int64_t>(conn->queued);
    }
    const std::int64_t partialSince = conn->partialSinceNs.load(std::memory_order_relaxed);
    if (queued > 0 && now - conn->lastWriteNs.load(std::memory_order_relaxed) > limit) {
      PostFinish(conn, SocketOperation::Send, kTimedOutErrorCode);
    } else if ((partialSince != 0 && now - partialSince > limit) ||
               (!conn->held.load(std::memory_order_relaxed) &&
                now - conn->lastReceiveNs.load(std::memory_order_relaxed) > limit)) {
      PostFinish(conn, SocketOperation::Receive, kTimedOutErrorCode);
    }
  }
}
