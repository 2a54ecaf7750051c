#include "replay/net/tcp_server.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <future>
#include <system_error>

#include "replay/net/tcp_server_impl.h"

namespace {

using asio::ip::tcp;

constexpr std::uint32_t kMaxWorkerThreads = 500;
constexpr auto kStopPollInterval = std::chrono::milliseconds(10);

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

// Set on each worker thread: Start and Stop refuse to run there, as they would wait for themselves.
thread_local const CTcpServer* tWorkerOwner = nullptr;

}  // namespace

CTcpServer::CTcpServer(ITcpServerListener* listener) : listener_(listener) {}

CTcpServer::~CTcpServer() { Stop(); }

std::uint32_t CTcpServer::DefaultWorkerThreadCount() {
  const std::uint32_t processors = std::max(1u, std::thread::hardware_concurrency());
  return std::min(2 * processors + 2, kMaxWorkerThreads);
}

std::uint32_t CTcpServer::DefaultSocketBufferSize() {
  const long page = sysconf(_SC_PAGESIZE);
  return page >= 64 ? static_cast<std::uint32_t>(page) : 4096;
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
    raw->ArmSweep();
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
        impl->sweepTimer.cancel();
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
  const std::size_t unit = headLength + bodyLength;
  if (maxSendQueue_ != 0 && conn->queued + unit > maxSendQueue_) {
    errno = ENOBUFS;
    return false;
  }
  // A stalled send is timed from the moment something waits to be written.
  if (conn->queued == 0) conn->lastWriteNs.store(SteadyNowNs(), std::memory_order_relaxed);
  conn->queued += unit;
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

std::int64_t CTcpServer::QueuedSendBytes(ConnectionId id) const {
  std::shared_ptr<Impl> impl = CurrentImpl();
  std::shared_ptr<Connection> conn = impl ? impl->Find(id) : nullptr;
  if (!conn) return -1;
  std::lock_guard<std::mutex> lock(conn->sendMutex);
  return conn->closing ? -1 : static_cast<std::int64_t>(conn->queued);
}

bool CTcpServer::HoldOpen(ConnectionId id, bool held) {
  std::shared_ptr<Impl> impl = CurrentImpl();
  std::shared_ptr<Connection> conn = impl ? impl->Find(id) : nullptr;
  if (!conn) return false;
  // Released: the idle time counts from now, not from the client's last request.
  if (!held) conn->lastReceiveNs.store(SteadyNowNs(), std::memory_order_relaxed);
  conn->held.store(held, std::memory_order_relaxed);
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
