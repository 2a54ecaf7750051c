#include "replay/net/tcp_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <asio.hpp>

namespace {

using asio::ip::tcp;
using Strand = asio::strand<asio::io_context::executor_type>;

constexpr std::uint32_t kMaxWorkerThreads = 500;
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(10);
constexpr auto kStopPollInterval = std::chrono::milliseconds(10);

// The echo of a close already handled: such completions raise no event.
bool IsCloseEcho(const asio::error_code& ec) {
  return ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor;
}

void SetKeepAlive(int fd, std::uint32_t timeMs, std::uint32_t intervalMs) {
  int on = (timeMs != 0 && intervalMs != 0) ? 1 : 0;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
  if (!on) return;
  int idle = static_cast<int>(std::max<std::uint32_t>(1, timeMs / 1000));
  int interval = static_cast<int>(std::max<std::uint32_t>(1, intervalMs / 1000));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
}

bool CopyAddress(const std::string& text, char* address, int& addressLength) {
  const int needed = static_cast<int>(text.size()) + 1;
  if (address == nullptr || addressLength < needed) {
    addressLength = needed;
    return false;
  }
  std::memcpy(address, text.c_str(), static_cast<std::size_t>(needed));
  addressLength = needed;
  return true;
}

thread_local const CTcpServer* tWorkerOwner = nullptr;

}  // namespace

// One accepted connection. Fields below "strand only" are touched only on `strand`.
struct CTcpServer::Connection {
  Connection(asio::io_context& io, tcp::socket s, ConnectionId connectionId, std::size_t bufferSize)
      : socket(std::move(s)), strand(asio::make_strand(io)), id(connectionId), readBuffer(bufferSize) {}

  tcp::socket socket;
  Strand strand;
  const ConnectionId id;
  std::string peerAddress;  // constant after registration
  unsigned short peerPort = 0;

  std::mutex sendMutex;
  std::vector<std::uint8_t> pending;  // guarded by sendMutex: queued, not yet written
  bool writing = false;               // guarded by sendMutex: a write is posted or in flight
  bool closing = false;               // guarded by sendMutex: no more sends accepted

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
  void OnAccepted(const asio::error_code& ec, tcp::socket socket);
  void Register(tcp::socket socket);
  void Open(const std::shared_ptr<Connection>& conn);
  void Read(const std::shared_ptr<Connection>& conn);
  void OnRead(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t n);
  void Write(const std::shared_ptr<Connection>& conn);
  void OnWritten(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t n);
  // Ends the connection once: OnClose (when `raise`), socket shut down and closed, slot freed.
  void Finish(const std::shared_ptr<Connection>& conn, bool raise, SocketOperation op, int code);
  void PostFinish(const std::shared_ptr<Connection>& conn);
  std::shared_ptr<Connection> Find(ConnectionId id) const;
  std::vector<std::shared_ptr<Connection>> Snapshot() const;
  void WaitUntilEmpty();

  CTcpServer* const owner;
  ITcpServerListener* const listener;
  asio::io_context io;
  tcp::acceptor acceptor;  // used on acceptStrand once the workers run
  Strand acceptStrand;
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
};

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
  std::shared_ptr<Connection> conn;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    const std::size_t n = slots.size();
    for (std::size_t i = 0; count < n && i < n; ++i) {
      const std::size_t slot = (cursor + i) % n;
      if (slots[slot]) continue;
      conn = std::make_shared<Connection>(io, std::move(socket), static_cast<ConnectionId>(slot + 1),
                                          owner->socketBufferSize_);
      slots[slot] = conn;
      cursor = (slot + 1) % n;
      ++count;
      break;
    }
  }
  if (!conn) {
    asio::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    return;
  }
  asio::error_code ec;
  const tcp::endpoint peer = conn->socket.remote_endpoint(ec);
  if (!ec) {
    conn->peerAddress = peer.address().to_string();
    conn->peerPort = peer.port();
  }
  SetKeepAlive(conn->socket.native_handle(), owner->keepAliveTime_, owner->keepAliveInterval_);
  conn->socket.set_option(tcp::no_delay(true), ec);
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
    int errorCode = 0;
    if (!owner->DeliverReceived(conn->id, conn->receiveContext.get(), conn->readBuffer.data(), n, &errorCode)) {
      Finish(conn, true, SocketOperation::Receive, errorCode);
    } else if (!conn->finished) {
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
  listener->OnSend(owner, conn->id, conn->inflight.data(), static_cast<int>(n));
  conn->inflight.clear();
  Write(conn);
}

void CTcpServer::Impl::Finish(const std::shared_ptr<Connection>& conn, bool raise, SocketOperation op, int code) {
  if (conn->finished) return;
  conn->finished = true;
  {
    std::lock_guard<std::mutex> lock(conn->sendMutex);
    conn->closing = true;
    conn->pending.clear();
  }
  if (raise) listener->OnClose(owner, conn->id, op, code);
  asio::error_code ignored;
  conn->socket.shutdown(tcp::socket::shutdown_send, ignored);
  conn->socket.close(ignored);
  std::lock_guard<std::mutex> lock(tableMutex);
  auto& slot = slots[conn->id - 1];
  if (slot == conn) {
    slot.reset();
    if (--count == 0) tableEmptied.notify_all();
  }
}

void CTcpServer::Impl::PostFinish(const std::shared_ptr<Connection>& conn) {
  {
    std::lock_guard<std::mutex> lock(conn->sendMutex);
    conn->closing = true;
  }
  asio::post(conn->strand, [this, conn] { Finish(conn, true, SocketOperation::Close, 0); });
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

CTcpServer::CTcpServer(ITcpServerListener* listener) : listener_(listener) {}

CTcpServer::~CTcpServer() { Stop(); }

std::uint32_t CTcpServer::DefaultWorkerThreadCount() {
  const std::uint32_t processors = std::max(1u, std::thread::hardware_concurrency());
  return std::min(2 * processors + 2, kMaxWorkerThreads);
}

bool CTcpServer::CheckParams() const {
  const auto keepAliveOk = [](std::uint32_t ms) { return ms == 0 || ms >= 1000; };
  return maxConnectionCount_ >= 1 && workerThreadCount_ >= 1 && workerThreadCount_ <= kMaxWorkerThreads &&
         acceptSocketCount_ >= 1 && socketListenQueue_ >= 1 && socketBufferSize_ >= 64 &&
         keepAliveOk(keepAliveTime_) && keepAliveOk(keepAliveInterval_) &&
         freeSocketObjHold_ >= freeSocketObjPool_ && freeBufferObjHold_ >= freeBufferObjPool_;
}

std::shared_ptr<CTcpServer::Impl> CTcpServer::CurrentImpl() const {
  std::lock_guard<std::mutex> lock(implMutex_);
  return impl_;
}

bool CTcpServer::Start(const char* bindAddress, unsigned short port) {
  if (!CheckParams()) {
    SetLastError(SocketError::InvalidParam);
    return false;
  }
  if (tWorkerOwner == this) {
    SetLastError(SocketError::IllegalState);
    return false;
  }
  std::lock_guard<std::mutex> lock(controlMutex_);
  if (state_.load(std::memory_order_acquire) != ServiceState::Stopped) {
    SetLastError(SocketError::IllegalState);
    return false;
  }
  state_.store(ServiceState::Starting, std::memory_order_release);
  const SocketError code = StartRunning(bindAddress, port);
  if (code != SocketError::Ok) {
    RunStopSequence();
    SetLastError(code);
    return false;
  }
  state_.store(ServiceState::Started, std::memory_order_release);
  SetLastError(SocketError::Ok);
  return true;
}

SocketError CTcpServer::StartRunning(const char* bindAddress, unsigned short port) {
  auto impl = std::make_shared<Impl>(this, maxConnectionCount_);
  {
    std::lock_guard<std::mutex> lock(implMutex_);
    impl_ = impl;
  }
  asio::error_code ec;
  impl->acceptor.open(tcp::v4(), ec);
  if (ec) return SocketError::SocketCreate;
  impl->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  SetKeepAlive(impl->acceptor.native_handle(), keepAliveTime_, keepAliveInterval_);

  const asio::ip::address_v4 address = asio::ip::make_address_v4(bindAddress ? bindAddress : "", ec);
  if (ec) return SocketError::SocketBind;
  impl->acceptor.bind(tcp::endpoint(address, port), ec);
  if (ec) return SocketError::SocketBind;
  const tcp::endpoint bound = impl->acceptor.local_endpoint(ec);
  impl->listenAddress = bound.address().to_string();
  impl->listenPort = bound.port();

  if (listener_->OnPrepareListen(this, impl->acceptor.native_handle()) == EventResult::Error)
    return SocketError::SocketPrepare;
  impl->acceptor.listen(static_cast<int>(std::min<std::uint32_t>(socketListenQueue_, INT_MAX)), ec);
  if (ec) return SocketError::SocketListen;

  impl->work.emplace(impl->io.get_executor());
  try {
    for (std::uint32_t i = 0; i < workerThreadCount_; ++i) {
      Impl* raw = impl.get();
      impl->workers.emplace_back([this, raw] {
        tWorkerOwner = this;
        raw->io.run();
      });
    }
  } catch (const std::system_error&) {
    return SocketError::WorkerThreadCreate;
  }
  const std::uint32_t accepts = acceptSocketCount_;
  Impl* raw = impl.get();
  asio::post(impl->acceptStrand, [raw, accepts] {
    raw->accepting = true;
    for (std::uint32_t i = 0; i < accepts; ++i) raw->PostAccept();
  });
  return SocketError::Ok;
}

bool CTcpServer::Stop() {
  if (tWorkerOwner == this) {
    SetLastError(SocketError::IllegalState);
    return false;
  }
  std::lock_guard<std::mutex> lock(controlMutex_);
  if (state_.load(std::memory_order_acquire) == ServiceState::Stopped) {
    SetLastError(SocketError::IllegalState);
    return false;
  }
  RunStopSequence();
  return true;
}

void CTcpServer::RunStopSequence() {
  state_.store(ServiceState::Stopping, std::memory_order_release);
  std::shared_ptr<Impl> impl = CurrentImpl();
  if (impl) {
    if (!impl->workers.empty()) {
      std::promise<void> closed;
      asio::post(impl->acceptStrand, [&impl, &closed] {
        impl->accepting = false;
        asio::error_code ignored;
        impl->acceptor.close(ignored);
        closed.set_value();
      });
      closed.get_future().wait();
      while (impl->outstandingAccepts.load(std::memory_order_acquire) != 0)
        std::this_thread::sleep_for(kStopPollInterval);
      for (const auto& conn : impl->Snapshot()) impl->PostFinish(conn);
      impl->WaitUntilEmpty();
      impl->work.reset();
      for (std::thread& worker : impl->workers) worker.join();
    } else {
      asio::error_code ignored;
      impl->acceptor.close(ignored);
    }
    std::lock_guard<std::mutex> lock(implMutex_);
    impl_.reset();
  }
  listener_->OnShutdown(this);
  impl.reset();
  state_.store(ServiceState::Stopped, std::memory_order_release);
}

bool CTcpServer::Send(ConnectionId id, const std::uint8_t* data, int length) {
  if (length <= 0 || data == nullptr) {
    errno = EINVAL;
    return false;
  }
  return SendUnit(id, nullptr, 0, data, static_cast<std::size_t>(length));
}

bool CTcpServer::SendUnit(ConnectionId id, const std::uint8_t* head, std::size_t headLength,
                          const std::uint8_t* body, std::size_t bodyLength) {
  std::shared_ptr<Impl> impl = CurrentImpl();
  if (!impl) return false;
  std::shared_ptr<Connection> conn = impl->Find(id);
  if (!conn) return false;
  std::lock_guard<std::mutex> lock(conn->sendMutex);
  if (conn->closing) return false;
  if (headLength > 0) conn->pending.insert(conn->pending.end(), head, head + headLength);
  conn->pending.insert(conn->pending.end(), body, body + bodyLength);
  if (!conn->writing) {
    conn->writing = true;
    Impl* raw = impl.get();
    asio::post(conn->strand, [raw, conn] { raw->Write(conn); });
  }
  return true;
}

bool CTcpServer::Disconnect(ConnectionId id) {
  std::shared_ptr<Impl> impl = CurrentImpl();
  if (!impl) return false;
  std::shared_ptr<Connection> conn = impl->Find(id);
  if (!conn) return false;
  impl->PostFinish(conn);
  return true;
}

bool CTcpServer::DeliverReceived(ConnectionId id, ReceiveContext*, const std::uint8_t* data, std::size_t length,
                                 int* errorCode) {
  if (listener_->OnReceive(this, id, data, static_cast<int>(length)) == EventResult::Error) {
    *errorCode = kFramingErrorCode;
    return false;
  }
  return true;
}

bool CTcpServer::HasStarted() const {
  const ServiceState state = state_.load(std::memory_order_acquire);
  return state == ServiceState::Started || state == ServiceState::Starting;
}

ServiceState CTcpServer::GetState() const { return state_.load(std::memory_order_acquire); }

std::uint32_t CTcpServer::GetConnectionCount() const {
  std::shared_ptr<Impl> impl = CurrentImpl();
  if (!impl) return 0;
  std::lock_guard<std::mutex> lock(impl->tableMutex);
  return static_cast<std::uint32_t>(impl->count);
}

bool CTcpServer::PeerAddress(ConnectionId id, char* address, int& addressLength, unsigned short& port) const {
  std::shared_ptr<Impl> impl = CurrentImpl();
  std::shared_ptr<Connection> conn = impl ? impl->Find(id) : nullptr;
  if (!conn) return false;
  port = conn->peerPort;
  return CopyAddress(conn->peerAddress, address, addressLength);
}

bool CTcpServer::ListenAddress(char* address, int& addressLength, unsigned short& port) const {
  std::shared_ptr<Impl> impl = CurrentImpl();
  if (!impl || impl->listenAddress.empty()) return false;
  port = impl->listenPort;
  return CopyAddress(impl->listenAddress, address, addressLength);
}

SocketError CTcpServer::LastError() const { return lastError_.load(std::memory_order_relaxed); }

const char* CTcpServer::LastErrorText() const { return SocketErrorText(LastError()); }
