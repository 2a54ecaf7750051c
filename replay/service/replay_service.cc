#include "replay/service/replay_service.h"

#include "core/clock.h"
#include "core/gbk.h"
#include "core/log_sink.h"
#include "queue/live_tick_relay.h"
#include "replay/service/replay_rules.h"

ReplayService::ReplayService(LiveTickRelay& relay, unsigned short port)
    : ReplayService(relay, ReplayServiceOptions{port, "0.0.0.0", "Data", nullptr}) {}

ReplayService::ReplayService(LiveTickRelay& relay, ReplayServiceOptions options)
    : options_(std::move(options)),
      shared_{relay, options_.clock ? *options_.clock : TheSystemClock(), options_.dataRoot},
      listener_(MakeHandlers()),
      server_(&listener_) {}

ReplayService::~ReplayService() {
  StopReplayService();
  shared_.abandon.store(true, std::memory_order_release);
  std::lock_guard<std::mutex> lock(replayMutex_);
  for (ReplayThread& replay : replays_) replay.thread.join();
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
  server_.Start(options_.bindAddress.c_str(), options_.port);
}

void ReplayService::StopReplayService() {
  if (server_.GetState() == ServiceState::Stopped) return;
  server_.Stop();
}

bool ReplayService::running() const { return server_.GetState() == ServiceState::Started; }

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
    StartReplay(sender, id, ActiveRequest{sender, id, request.instrument, request.beginTime, request.endTime});
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
  AppendLineF(LogTab::ClientConnections, "OnClose 客户端断开(%u)[Operation:%d][ErrorCode:%d]", id,
              static_cast<int>(operation), errorCode);
  return EventResult::Ok;
}

void ReplayService::StartReplay(ITcpServer*, ConnectionId, ActiveRequest request) {
  std::lock_guard<std::mutex> lock(replayMutex_);
  JoinFinishedReplays();
  shared_.relay.Select(request.contract.c_str());
  activeRequest_ = request;
  shared_.livePhase.store(true, std::memory_order_release);
  // The replay in progress sees the new number and ends at its next message.
  const std::uint64_t generation = shared_.generation.fetch_add(1, std::memory_order_acq_rel) + 1;
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto job = std::make_unique<ReplayJob>(shared_, std::move(request), generation);
  replays_.push_back(ReplayThread{std::thread([job = std::move(job), done] {
                                    job->Run();
                                    done->store(true, std::memory_order_release);
                                  }),
                                  done});
}

void ReplayService::JoinFinishedReplays() {
  for (auto it = replays_.begin(); it != replays_.end();) {
    if (it->done->load(std::memory_order_acquire)) {
      it->thread.join();
      it = replays_.erase(it);
    } else {
      ++it;
    }
  }
}

std::size_t ReplayService::RunningReplays() const {
  std::lock_guard<std::mutex> lock(replayMutex_);
  std::size_t running = 0;
  for (const ReplayThread& replay : replays_)
    if (!replay.done->load(std::memory_order_acquire)) ++running;
  return running;
}

std::optional<ActiveRequest> ReplayService::activeRequest() const {
  std::lock_guard<std::mutex> lock(replayMutex_);
  return activeRequest_;
}
