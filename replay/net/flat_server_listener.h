#ifndef QUOTELOOM_REPLAY_NET_FLAT_SERVER_LISTENER_H
#define QUOTELOOM_REPLAY_NET_FLAT_SERVER_LISTENER_H

#include <cstdint>
#include <functional>
#include <utility>

#include "replay/net/socket_interface.h"

// A listener made of one optional handler per event, so that an owner can serve a server without
// deriving from the listener interface. An event without a handler yields Ignore. Handlers are set
// before the server starts and are then called on the threads of the events they serve.
// `kSocketKind` tags the kind of server the listener is paired with (4: the pack-framed TCP server).
template <class TSender, class TListener, int kSocketKind>
class CFlatServerListenerT : public TListener {
 public:
  struct Handlers {
    std::function<EventResult(TSender*, ConnectionId)> onHandShake;
    std::function<EventResult(TSender*, ConnectionId, const std::uint8_t*, int)> onSend;
    std::function<EventResult(TSender*, ConnectionId, int)> onReceiveLength;
    std::function<EventResult(TSender*, ConnectionId, const std::uint8_t*, int)> onReceive;
    std::function<EventResult(TSender*, ConnectionId, SocketOperation, int)> onClose;
    std::function<EventResult(TSender*)> onShutdown;
    std::function<EventResult(TSender*, SocketHandle)> onPrepareListen;
    std::function<EventResult(TSender*, ConnectionId, SocketHandle)> onAccept;
  };

  static constexpr int kKind = kSocketKind;

  CFlatServerListenerT() = default;
  explicit CFlatServerListenerT(Handlers handlers) : handlers_(std::move(handlers)) {}

  Handlers& handlers() { return handlers_; }

  EventResult OnHandShake(TSender* sender, ConnectionId id) override {
    return Call(handlers_.onHandShake, sender, id);
  }
  EventResult OnSend(TSender* sender, ConnectionId id, const std::uint8_t* data, int length) override {
    return Call(handlers_.onSend, sender, id, data, length);
  }
  EventResult OnReceive(TSender* sender, ConnectionId id, int length) override {
    return Call(handlers_.onReceiveLength, sender, id, length);
  }
  EventResult OnReceive(TSender* sender, ConnectionId id, const std::uint8_t* data, int length) override {
    return Call(handlers_.onReceive, sender, id, data, length);
  }
  EventResult OnClose(TSender* sender, ConnectionId id, SocketOperation operation, int errorCode) override {
    return Call(handlers_.onClose, sender, id, operation, errorCode);
  }
  EventResult OnShutdown(TSender* sender) override { return Call(handlers_.onShutdown, sender); }
  EventResult OnPrepareListen(TSender* sender, SocketHandle listenSocket) override {
    return Call(handlers_.onPrepareListen, sender, listenSocket);
  }
  EventResult OnAccept(TSender* sender, ConnectionId id, SocketHandle client) override {
    return Call(handlers_.onAccept, sender, id, client);
  }

 private:
  template <class F, class... Args>
  static EventResult Call(const F& handler, Args... args) {
    return handler ? handler(args...) : EventResult::Ignore;
  }

  Handlers handlers_;
};

#endif
