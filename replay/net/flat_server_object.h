#ifndef QUOTELOOM_REPLAY_NET_FLAT_SERVER_OBJECT_H
#define QUOTELOOM_REPLAY_NET_FLAT_SERVER_OBJECT_H

// The common base of the servers built for flat listeners, so an owner can hold any of them.
class CFlatServerObject {
 public:
  virtual ~CFlatServerObject() = default;
};

// A server of type TServer created for a flat listener (see flat_server_listener.h). Same thread
// rules as TServer. `kSocketKind` must match the listener's.
template <class TServer, class TListener, int kSocketKind>
class CFlatServerObjectT : public CFlatServerObject, public TServer {
 public:
  static constexpr int kKind = kSocketKind;

  explicit CFlatServerObjectT(TListener* listener) : TServer(listener) {}
};

#endif
