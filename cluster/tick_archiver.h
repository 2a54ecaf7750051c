#ifndef QUOTELOOM_CLUSTER_TICK_ARCHIVER_H
#define QUOTELOOM_CLUSTER_TICK_ARCHIVER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <functional>
#include <string>

#include "cluster/link_watch.h"
#include "cluster/archive_counters.h"
#include "cluster/archive_writer.h"
#include "cluster/cluster_settings.h"
#include "cluster/history_uploader.h"
#include "cluster/nats_link.h"
#include "core/process_lock.h"

// quoteloom-archive's work: a durable pull consumer of the stream whose messages go through the
// archive writer; a message is acknowledged once its record and lines are in their files (or it is a
// tick already held), terminated when its body is not a whole tick record of its subject, and handed
// back for a later try when a file cannot be written. Run() on the main thread.
class MetricsEndpoint;
class ServiceNotifier;

class TickArchiver {
 public:
  struct Options {
    std::string durable = "quoteloom-archive";
    int batch = 256;
    std::size_t maxDaysHeld = 3;
    ArchiveCounters* counters = nullptr;        // null: counted for nobody
    const ServiceNotifier* notifier = nullptr;  // null: no READY or watchdog pings
    const MetricsEndpoint* metrics = nullptr;   // null: nothing about metrics on the status lines
    bool shareHistory = true;                   // put the folder's packed days into the history bucket
    HistoryUploader::Options history;
    std::function<void()> folderHeld;           // called once the folder is held, before the first message
  };

  TickArchiver(const ClusterSettings& settings, Options options);
  ~TickArchiver();

  // Exit code: 0 after `stop` was set, 1 when another program works in the folder, 3 when the
  // connection settings are refused.
  int Run(const std::atomic<bool>& stop);

 private:
  bool Subscribe(std::string* error);
  // False when a file could not be written: the rest of the batch goes back to the stream.
  bool Handle(natsMsg* msg);
  void PrintStatus();
  // At most once a second from the loop: the counters, the consumer's info and the watchdog ping.
  void Heartbeat();

  const ClusterSettings& settings_;
  const Options options_;
  ProcessLock folderLock_;  // held from the start of Run(): one archive or collector per folder
  NatsLink link_;
  ArchiveWriter writer_;
  natsSubscription* subscription_ = nullptr;

  std::uint64_t taken_ = 0;
  std::uint64_t badBodies_ = 0;
  std::uint64_t pending_ = 0;
  std::int64_t lagMilliseconds_ = 0;
  std::string lastProblem_;
  ArchiveCounters ownCounters_;
  ArchiveCounters& counters_;  // the caller's, or ownCounters_
  std::unique_ptr<HistoryUploader> uploader_;  // while Run() holds the folder
  LinkWatch linkWatch_;
  std::chrono::steady_clock::time_point nextHeartbeat_{};
};

#endif
