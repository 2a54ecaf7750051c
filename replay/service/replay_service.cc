#include "replay/service/replay_service.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstring>

#include "core/clock.h"
#include "core/gbk.h"
#include "core/log_sink.h"
#include "core/string_printf.h"
#include "queue/live_tick_relay.h"
#include "replay/service/replay_rules.h"

namespace {

constexpr std::uint32_t kConnectionTableSize = 10000;
constexpr std::uint64_t kReservedDescriptors = 128;
// Each accept in progress may hold a new client's descriptor until its handler has run, so they
// are few and counted against the descriptor limit as well.
constexpr std::uint32_t kAcceptsOutstanding = 16;

ReplayServiceOptions WithPort(unsigned short port) {
  ReplayServiceOptions options;
  options.port = port;
  return options;
}

}  // namespace

std::uint32_t MaxConnectionsForDescriptorLimit(std::uint64_t openFiles) {
  const std::uint64_t reserve = std::min(kReservedDescriptors, openFiles / 2) + kAcceptsOutstanding;
  const std::uint64_t room = openFiles > reserve ? openFiles - reserve : 1;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(room, 1, kConnectionTableSize));
}

std::uint32_t DefaultMaxConnections() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kConnectionTableSize;
  return MaxConnectionsForDescriptorLimit(limit.rlim_cur);
}

ReplayService::ReplayService(LiveTickRelay& relay, unsigned short port) : ReplayService(relay, WithPort(port)) {}

ReplayService::ReplayService(LiveTickRelay& relay, ReplayServiceOptions options)
    : options_(std::move(options)),
      shared_{relay, options_.clock ? *options_.clock : TheSystemClock(), options_.dataRoot, options_.sendQueueBytes},
      listener_(MakeHandlers()),
      server_(&listener_) {
  server_.SetRefusalHandler([this](ConnectionRefusal reason, const char* address, unsigned short port) {
    OnRefused(reason, address, port);
  });
}

ReplayService::~ReplayService() {
  StopReplayService();
  shared_.abandon.store(true, std::memory_order_release);
  std::lock_guard<std::mutex> lock(replayMutex_);
  for (auto& worker : workers_) worker->Join();
}

ReplayService::Listener::Handlers ReplayService::MakeHandlers() {
  Listener::Handlers h;
  h.onPrepareListen = [](ITcpServer*, SocketHandle) {
    AppendLine(LogTab::ClientConnections, "行情重播服务开启");
    return EventResult::Ok;
  };
  h.onAccept = [this](ITcpServer* sender, ConnectionId id, SocketHandle) { return OnAccept(sender, id); };
  h.onSend = [](ITcpServer*, ConnectionId, const std::uint8_t*, int) { return EventResult::Ok; };
  h.onReceive = [this](ITcpServer* sender, ConnectionId id, const std::uint8_t* data, int length) {
    return OnReceive(sender, id, data, length);
  };
  h.onClose = [this](ITcpServer*, ConnectionId id, SocketOperation operation, int errorCode) {
    return OnClose(id, operation, errorCode);
  };
  h.onShutdown = [](ITcpServer*) {
    AppendLine(LogTab::ClientConnections, "行情重播服务关闭");
    return EventResult::Ok;
  };
  return h;
}

void ReplayService::StartReplayService() {
  if (server_.GetState() != ServiceState::Stopped) return;
  server_.SetPackLimit(kReplayPackLimit);
  server_.SetPackFlag(kReplayPackFlag);
  server_.SetMaxOpenConnections(options_.maxConnections != 0 ? std::min(options_.maxConnections, kConnectionTableSize)
                                                             : DefaultMaxConnections());
  server_.SetMaxConnectionsPerPeer(options_.maxConnectionsPerPeer);
  server_.SetAcceptSocketCount(kAcceptsOutstanding);
  server_.SetIdleTimeout(options_.idleTimeoutMs);
  server_.SetMaxSendQueue(options_.sendQueueBytes);
  server_.SetSocketSendBufferSize(options_.socketSendBuffer);
  server_.Start(options_.bindAddress.c_str(), options_.port);
}

void ReplayService::StopReplayService() {
  if (server_.GetState() == ServiceState::Stopped) return;
  server_.Stop();
}

bool ReplayService::running() const { return server_.GetState() == ServiceState::Started; }

std::uint32_t ReplayService::maxConnections() const { return running() ? server_.GetMaxOpenConnections() : 0; }

bool ReplayService::TakeRefusalLogTurn(RefusalKind kind, std::uint32_t* unlogged) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(refusalMutex_);
  RefusalLog& log = refusalLogs_[kind];
  if (log.last != std::chrono::steady_clock::time_point{} && now - log.last < std::chrono::seconds(1)) {
    ++log.unlogged;
    return false;
  }
  log.last = now;
  *unlogged = log.unlogged;
  log.unlogged = 0;
  return true;
}

void ReplayService::OnRefused(ConnectionRefusal reason, const char* address, unsigned short port) {
  const bool total = reason == ConnectionRefusal::TooManyConnections;
  refusedConnections_[total ? 0 : 1].fetch_add(1, std::memory_order_relaxed);
  std::uint32_t unlogged = 0;
  if (!TakeRefusalLogTurn(total ? kTooManyInTotal : kTooManyFromOneAddress, &unlogged)) return;
  const std::uint32_t limit = total ? server_.GetMaxOpenConnections() : server_.GetMaxConnectionsPerPeer();
  std::string line = StringPrintf("拒绝连接[%s:%u] %s[%u]", address, port, total ? "连接数已满" : "同一地址连接数已满", limit);
  if (unlogged != 0) line += StringPrintf(" (此前另拒绝%u个未记录)", unlogged);
  AppendLine(LogTab::ClientConnections, line);
}

bool ReplayService::ListenAddress(std::string* address, unsigned short* port) const {
  char text[64];
  int length = sizeof(text);
  unsigned short bound = 0;
  if (!server_.ListenAddress(text, length, bound)) return false;
  if (address) *address = text;
  if (port) *port = bound;
  return true;
}

EventResult ReplayService::OnAccept(ITcpServer* sender, ConnectionId id) {
  AppendLineF(LogTab::ClientConnections, "OnAccept 客户端连接(%u)", id);
  const ReplayMessageBytes greeting = EncodeReplayMessage(ZeroReplayMessage());
  return sender->Send(id, greeting.data(), static_cast<int>(greeting.size())) ? EventResult::Ok : EventResult::Error;
}

EventResult ReplayService::OnReceive(ITcpServer* sender, ConnectionId id, const std::uint8_t* data, int length) {
  ReplayRequest request;
  // A body shorter than a message is not a request: ignored.
  if (length < 0 || !DecodeReplayRequest(data, static_cast<std::size_t>(length), &request)) return EventResult::Ok;

  if (request.command == kReplayCommandStart) {
    const std::string instrument = GbkToUtf8(request.instrument);
    const std::string begin = GbkToUtf8(request.beginTime);
    const std::string end = GbkToUtf8(request.endTime);
    AppendLineF(LogTab::ClientConnections, "OnReceive(%u)[instrument:%s][begintime:%s][endtime:%s][Len%d]", id,
                instrument.c_str(), begin.c_str(), end.c_str(), length);
    if (!IsSafeContract(request.instrument)) {
      AppendLineF(LogTab::ClientConnections, "OnReceive(%u) 非法合约[%s]", id, instrument.c_str());
      return EventResult::Ok;
    }
    if (!IsReplayDate(request.beginTime) || !IsReplayDate(request.endTime)) {
      AppendLineF(LogTab::ClientConnections, "OnReceive(%u) 非法日期[%s][%s]", id, begin.c_str(), end.c_str());
      return EventResult::Ok;
    }
    StartReplay(ActiveRequest{sender, id, request.instrument, request.beginTime, request.endTime});
  } else if (request.command == kReplayCommandStop) {
    shared_.livePhase.store(false, std::memory_order_release);
    shared_.relay.EndForwarding();
    AppendLineF(LogTab::ClientConnections, "OnReceive(%u) 结束", id);
  }
  return EventResult::Ok;
}

EventResult ReplayService::OnClose(ConnectionId id, SocketOperation operation, int errorCode) {
  shared_.livePhase.store(false, std::memory_order_release);
  shared_.relay.EndForwarding();
  shared_.relay.Empty();
  {
    std::lock_guard<std::mutex> lock(replayMutex_);
    for (auto& worker : workers_)
      if (worker->client() == id) worker->ClientGone();
  }
  AppendLineF(LogTab::ClientConnections, "OnClose 客户端断开(%u)[Operation:%d][ErrorCode:%d]", id,
              static_cast<int>(operation), errorCode);
  return EventResult::Ok;
}

void ReplayService::StartReplay(ActiveRequest request) {
  std::lock_guard<std::mutex> lock(replayMutex_);
  JoinFinishedReplays();
  const ConnectionId client = request.client;
  ReplayWorker* own = WorkerOf(client);
  if (own == nullptr && AliveWorkers() >= options_.maxReplayThreads) {
    std::uint32_t unlogged = 0;
    if (TakeRefusalLogTurn(kReplayThreadsFull, &unlogged)) {
      std::string line = StringPrintf("OnReceive(%u) 重播线程已满[%u]", client, options_.maxReplayThreads);
      if (unlogged != 0) line += StringPrintf(" (此前另拒绝%u个未记录)", unlogged);
      AppendLine(LogTab::ClientConnections, line);
    }
    return;
  }
  // Makes the request the active one; runs before its replay can begin. The replay in progress
  // sees the new number and stops at its next step.
  const std::uint64_t generation = shared_.generation.load(std::memory_order_acquire) + 1;
  const auto publish = [this, &request, generation] {
    // A client that only receives its replay is not idle; its replay lets go when it ends.
    request.server->HoldOpen(request.client, true);
    shared_.relay.Select(request.contract.c_str());
    activeRequest_ = request;
    shared_.livePhase.store(true, std::memory_order_release);
    shared_.generation.store(generation, std::memory_order_release);
  };
  // The connection's own thread takes the request once its replay has stopped.
  if (own != nullptr) {
    if (own->Submit(request, generation, publish)) return;
    // It was just ending, with nothing left to run: its end is a matter of moments.
    own->Join();
    workers_.erase(std::find_if(workers_.begin(), workers_.end(), [own](const auto& w) { return w.get() == own; }));
  }
  auto worker = std::make_unique<ReplayWorker>(shared_, client);
  const int error = worker->Start(request, generation, options_.createThread, publish);
  if (error != 0) {
    AppendLineF(LogTab::ClientConnections, "OnReceive(%u) 无法创建重播线程[%s]", client, std::strerror(error));
    return;
  }
  workers_.push_back(std::move(worker));
}

void ReplayService::JoinFinishedReplays() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->finished() || (*it)->gone()) {
      // A worker whose client left ends within milliseconds.
      (*it)->Join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

ReplayWorker* ReplayService::WorkerOf(ConnectionId client) {
  for (auto& worker : workers_)
    if (worker->client() == client && !worker->gone() && !worker->finished()) return worker.get();
  return nullptr;
}

std::size_t ReplayService::AliveWorkers() const {
  std::size_t alive = 0;
  for (const auto& worker : workers_)
    if (!worker->finished()) ++alive;
  return alive;
}

std::size_t ReplayService::RunningReplays() const {
  std::lock_guard<std::mutex> lock(replayMutex_);
  return AliveWorkers();
}

std::optional<ActiveRequest> ReplayService::activeRequest() const {
  std::lock_guard<std::mutex> lock(replayMutex_);
  return activeRequest_;
}
