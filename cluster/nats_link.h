#ifndef QUOTELOOM_CLUSTER_NATS_LINK_H
#define QUOTELOOM_CLUSTER_NATS_LINK_H

#include <nats/nats.h>

#include <atomic>
#include <string>

#include "cluster/cluster_settings.h"

// One connection to the cluster and its JetStream context. The library reconnects on its own
// (without limit, backing off to 5 s between rounds); the owner polls Connected() and StateText().
// Open, EnsureStream and js() on the owning thread; the state is written by the library's threads.
class NatsLink {
 public:
  explicit NatsLink(const ClusterSettings& settings);
  ~NatsLink();
  NatsLink(const NatsLink&) = delete;
  NatsLink& operator=(const NatsLink&) = delete;

  // Before Open: how many asynchronous publishes may wait for their acknowledgement, and who hears
  // of the ones that failed (called on the library's threads).
  void SetPublishAsync(int maxPending, jsPubAckErrHandler onError, void* closure);

  // Sets up the options and starts connecting; a cluster that cannot be reached yet is tried again
  // in the background (`*reachable` false). False only for settings the library refuses.
  bool Open(bool* reachable, std::string* error);
  bool Connected() const;
  // "connected nats://...", "connecting", "reconnecting" or "closed".
  std::string StateText() const;

  // Creates the stream when missing (subjects PREFIX.>, file storage, the settings' replicas,
  // duplicate window and retention). False with a message while JetStream cannot answer.
  bool EnsureStream(std::string* error);

  jsCtx* js() { return js_; }
  natsConnection* connection() { return connection_; }
  const ClusterSettings& settings() const { return settings_; }

  // The library's last error as text.
  static std::string LastError(natsStatus status);

 private:
  const ClusterSettings& settings_;
  natsOptions* options_ = nullptr;
  natsConnection* connection_ = nullptr;
  jsCtx* js_ = nullptr;
  int maxPending_ = 4096;
  jsPubAckErrHandler onAckError_ = nullptr;
  void* onAckErrorClosure_ = nullptr;
};

#endif
