#ifndef QUOTELOOM_CLUSTER_NATS_LINK_H
#define QUOTELOOM_CLUSTER_NATS_LINK_H

#include <nats/nats.h>

#include <string>

#include "cluster/cluster_settings.h"

// One connection to the cluster and its JetStream context. The library reconnects on its own
// (without limit, backing off to 5 s between rounds); a connection it gives up on is made again by
// the owner with Reconnect(). The owner polls Connected() and StateText(). The owning thread only;
// the library's threads note problems for TakeProblem().
class NatsLink {
 public:
  explicit NatsLink(const ClusterSettings& settings);
  ~NatsLink();
  NatsLink(const NatsLink&) = delete;
  NatsLink& operator=(const NatsLink&) = delete;

  // Before Open: how many asynchronous publishes may wait for their acknowledgement, and who hears
  // of every answer, acknowledgement or failure (called on the library's thread; it destroys the message).
  void SetPublishAsync(int maxPending, jsPubAckHandler onAnswer, void* closure);

  // Sets up the options and starts connecting; a cluster that cannot be reached yet is tried again
  // in the background (`*reachable` false). False only for settings the library refuses.
  bool Open(bool* reachable, std::string* error);
  bool Connected() const;
  // True when the library has given up on the connection (a refused login, for example).
  bool Closed() const;
  // After Closed(): a new connection with the same settings; the owner drops its subscriptions first.
  bool Reconnect(std::string* error);
  // The last error the library reported on its own threads (a refused login, a lost server), once;
  // shared by every link of the process.
  std::string TakeProblem();
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
  // The settings as library options; with `retryInBackground` a connect that reaches no server
  // returns at once and goes on trying.
  natsStatus MakeOptions(natsOptions** out, bool retryInBackground) const;
  bool Connect(bool* reachable, std::string* error);
  static void OnConnectionEvent(natsConnection* connection, void* closure);
  static void OnAsyncError(natsConnection* connection, natsSubscription*, natsStatus status, void* closure);

  const ClusterSettings& settings_;
  natsOptions* options_ = nullptr;
  natsConnection* connection_ = nullptr;
  jsCtx* js_ = nullptr;
  int maxPending_ = 4096;
  jsPubAckHandler onAnswer_ = nullptr;
  void* onAnswerClosure_ = nullptr;
};

#endif
