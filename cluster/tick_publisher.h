#ifndef QUOTELOOM_CLUSTER_TICK_PUBLISHER_H
#define QUOTELOOM_CLUSTER_TICK_PUBLISHER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "cluster/cluster_settings.h"
#include "cluster/journal_follower.h"
#include "cluster/link_watch.h"
#include "cluster/nats_link.h"
#include "cluster/publish_state.h"
#include "cluster/publisher_counters.h"
#include "core/process_lock.h"

// quoteloom-publish's work: follows the collector's journals and publishes each record to JetStream
// as it is read, with acknowledgements kept in flight all the time (up to --max-pending). The state
// file advances over every batch whose records are all acknowledged; a refused message, a failed
// publish or acknowledgements that stop coming send it back to the last acknowledged position after
// a back-off, and the message ids make the second copies harmless. Run() on the main thread; the
// library's thread only marks acknowledgements in a ring of atomics.
class MetricsEndpoint;
class ServiceNotifier;

class TickPublisher {
 public:
  struct Options {
    std::string collectorName;  // the Quoteloom-Collector header
    std::string statePath;      // default: WORKDIR/quoteloom-publish.state
    std::string fromDay;        // publish again from this stored day on; empty: from the state
    std::size_t batchBytes = 4 << 20;
    int maxPending = 16384;
    int pollMilliseconds = 20;
    double exitWhenIdleSeconds = 0;  // > 0: end once everything is acknowledged and nothing new came for this long
    PublisherCounters* counters = nullptr;       // null: counted for nobody
    const ServiceNotifier* notifier = nullptr;  // null: no READY or watchdog pings
    const MetricsEndpoint* metrics = nullptr;   // null: nothing about metrics on the status lines
  };

  // The exit code of a folder without a journal.
  static constexpr int kExitNoJournal = 2;

  TickPublisher(const ClusterSettings& settings, Options options);

  // Exit code: 0 after `stop` was set (or the idle end), 1 when the state file cannot be used or
  // another publisher holds it, 2 when the folder has no journal, 3 when the connection settings
  // are refused.
  int Run(const std::atomic<bool>& stop);

 private:
  using Clock = std::chrono::steady_clock;

  // Publishes the batch's records; false when a publish failed.
  bool PublishBatch(const JournalFollower::Batch& batch);
  // Takes in the acknowledgements that came, moving the committed position over whole batches.
  void TakeAcknowledgements();
  // Gives up on every message in flight and goes back to the committed position.
  void StartOver(const std::string& why);
  std::uint64_t InFlight() const { return nextOrdinal_ - ackFront_; }
  void ReportFollowerEvents();
  const std::string& SubjectOf(const char* contract);
  void PrintStatus();
  void StatusIfDue();
  // At most once a second from the loop: the counters' gauges and the watchdog ping.
  void Heartbeat();
  static void OnAck(jsCtx* js, natsMsg* msg, jsPubAck* ack, jsPubAckErr* error, void* closure);

  const ClusterSettings& settings_;
  const Options options_;
  JournalFollower follower_;
  PublishState state_;
  ProcessLock stateLock_;  // held from the start of Run(): one publisher per state file
  JournalPosition committed_;
  std::map<std::string, std::string, std::less<>> subjects_;
  PublisherCounters ownCounters_;
  PublisherCounters& counters_;  // the caller's, or ownCounters_
  LinkWatch linkWatch_;
  Clock::time_point nextHeartbeat_{};

  // Messages in flight, by ordinal (one more per message, never reused). The library's thread stores
  // ordinal + 1 into acks_[ordinal % size] when the message is acknowledged; Run() walks ackFront_
  // over the acknowledged ones. A batch's end position is committed once ackFront_ passes its last
  // ordinal.
  std::uint64_t nextOrdinal_ = 0;
  std::uint64_t ackFront_ = 0;
  std::size_t ringSize_ = 0;
  std::unique_ptr<std::atomic<std::uint64_t>[]> acks_;
  std::deque<std::pair<std::uint64_t, JournalPosition>> checkpoints_;  // (ordinal after the batch, its end)
  Clock::time_point lastAckProgress_{};
  // Ordinals below this belong to messages given up on; their late answers are ignored.
  std::atomic<std::uint64_t> generationStart_{0};
  // Refusals and failures of messages of the current generation, from the library's thread.
  std::atomic<std::uint64_t> ackErrors_{0};

  std::uint64_t published_ = 0;
  std::uint64_t acknowledged_ = 0;
  std::uint64_t retries_ = 0;
  std::uint64_t skippedCodes_ = 0;
  std::string lastProblem_;
  JournalFollower::Counters seen_;
  Clock::time_point nextStatus_;
  // Last, so it is closed first: the library's thread uses the members above until it is.
  NatsLink link_;
};

#endif
