#ifndef QUOTELOOM_CLUSTER_TICK_PUBLISHER_H
#define QUOTELOOM_CLUSTER_TICK_PUBLISHER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "cluster/link_watch.h"
#include "cluster/cluster_settings.h"
#include "cluster/nats_link.h"
#include "cluster/publish_state.h"
#include "cluster/publisher_counters.h"
#include "cluster/time_stream_follower.h"

// quoteloom-publish's work: follows the time-stream files, publishes each whole line to JetStream
// (asynchronously, a bounded number of acknowledgements pending) and advances the state file only
// over lines the stream has acknowledged. A failed or unanswered batch is read and published again
// after a back-off; the message ids make the second copy harmless. Run() on the main thread; the
// library's threads only count acknowledgement errors.
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
  };

  TickPublisher(const ClusterSettings& settings, Options options);

  // Exit code: 0 after `stop` was set (or the idle end), 1 when the state file cannot be used,
  // 3 when the connection settings are refused.
  int Run(const std::atomic<bool>& stop);

 private:
  bool PublishBatch(const TimeStreamFollower::Batch& batch);
  void DiscardPending();
  // Prints a file replaced or shortened under the follower and a change of day; notes a malformed line.
  void ReportFollowerEvents();
  const std::string& SubjectOf(std::string_view contract);
  // Bytes of the time-stream files after the acknowledged position.
  std::uint64_t BacklogBytes() const;
  void PrintStatus();
  void StatusIfDue();
  // At most once a second from the loop: the counters' gauges and the watchdog ping.
  void Heartbeat();
  static void OnAckError(jsCtx* js, jsPubAckErr* error, void* closure);

  const ClusterSettings& settings_;
  const Options options_;
  NatsLink link_;
  TimeStreamFollower follower_;
  PublishState state_;
  FollowPosition committed_;
  std::map<std::string, std::string, std::less<>> subjects_;
  PublisherCounters ownCounters_;
  PublisherCounters& counters_;  // the caller's, or ownCounters_
  LinkWatch linkWatch_;
  std::chrono::steady_clock::time_point nextHeartbeat_{};

  std::uint64_t published_ = 0;
  std::uint64_t acknowledged_ = 0;
  std::uint64_t retries_ = 0;
  std::string lastProblem_;
  TimeStreamFollower::Counters seen_;
  std::chrono::steady_clock::time_point nextStatus_;
  // Written by the library's threads, read by Run().
  std::atomic<std::uint64_t> ackErrors_{0};
};

#endif
