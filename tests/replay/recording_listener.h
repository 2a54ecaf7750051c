#ifndef QUOTELOOM_TESTS_REPLAY_RECORDING_LISTENER_H
#define QUOTELOOM_TESTS_REPLAY_RECORDING_LISTENER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "replay/net/socket_interface.h"

// Records every event of a server as a line ("accept 1", "close 1 4 1223", ...), with the results
// to return set per event. Any thread.
class RecordingListener : public ITcpServerListener {
 public:
  EventResult prepareResult = EventResult::Ok;
  EventResult acceptResult = EventResult::Ok;
  EventResult handshakeResult = EventResult::Ok;
  EventResult receiveResult = EventResult::Ok;
  bool echo = false;  // send every body back
  std::function<void(ITcpServer*, ConnectionId, SocketHandle)> onAccept;
  std::function<void(ITcpServer*, ConnectionId)> onReceive;

  EventResult OnPrepareListen(ITcpServer*, SocketHandle) override {
    Record("prepare");
    return prepareResult;
  }
  EventResult OnAccept(ITcpServer* sender, ConnectionId id, SocketHandle client) override {
    if (onAccept) onAccept(sender, id, client);
    Record("accept " + std::to_string(id));
    return acceptResult;
  }
  EventResult OnHandShake(ITcpServer*, ConnectionId id) override {
    Record("handshake " + std::to_string(id));
    return handshakeResult;
  }
  EventResult OnSend(ITcpServer*, ConnectionId id, const std::uint8_t*, int length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sentBytes_[id] += length;
    changed_.notify_all();
    return EventResult::Ok;
  }
  EventResult OnReceive(ITcpServer*, ConnectionId, int) override { return EventResult::Ok; }
  EventResult OnReceive(ITcpServer* sender, ConnectionId id, const std::uint8_t* data, int length) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bodies_[id].emplace_back(data, data + length);
    }
    if (echo) sender->Send(id, data, length);
    if (onReceive) onReceive(sender, id);
    Record("receive " + std::to_string(id) + " " + std::to_string(length));
    return receiveResult;
  }
  EventResult OnClose(ITcpServer*, ConnectionId id, SocketOperation op, int code) override {
    Record("close " + std::to_string(id) + " " + std::to_string(static_cast<int>(op)) + " " + std::to_string(code));
    return EventResult::Ok;
  }
  EventResult OnShutdown(ITcpServer*) override {
    Record("shutdown");
    return EventResult::Ok;
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
    bodies_.clear();
    sentBytes_.clear();
  }
  std::vector<std::string> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::string> EventsOf(ConnectionId id) const {
    const std::string suffix = " " + std::to_string(id);
    std::vector<std::string> mine;
    for (const std::string& e : events()) {
      const std::size_t space = e.find(' ');
      if (space != std::string::npos && e.compare(space, suffix.size(), suffix) == 0 &&
          (e.size() == space + suffix.size() || e[space + suffix.size()] == ' '))
        mine.push_back(e);
    }
    return mine;
  }
  std::vector<std::string> Bodies(ConnectionId id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = bodies_.find(id);
    return it == bodies_.end() ? std::vector<std::string>{} : it->second;
  }
  long long SentBytes(ConnectionId id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sentBytes_.find(id);
    return it == sentBytes_.end() ? 0 : it->second;
  }
  bool Has(const std::string& event) const {
    for (const std::string& e : events())
      if (e == event) return true;
    return false;
  }
  // Waits up to `timeoutMs` until `event` has been recorded.
  bool WaitFor(const std::string& event, int timeoutMs = 5000) const {
    return WaitUntil([&] { return HasLocked(event); }, timeoutMs);
  }
  bool WaitSent(ConnectionId id, long long bytes, int timeoutMs = 5000) const {
    return WaitUntil([&] { return sentBytes_.count(id) && sentBytes_.at(id) >= bytes; }, timeoutMs);
  }

 private:
  void Record(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  bool HasLocked(const std::string& event) const {
    for (const std::string& e : events_)
      if (e == event) return true;
    return false;
  }
  template <class Pred>
  bool WaitUntil(Pred pred, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> events_;
  std::map<ConnectionId, std::vector<std::string>> bodies_;
  std::map<ConnectionId, long long> sentBytes_;
};

#endif
