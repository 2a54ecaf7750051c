#include "cluster/cluster_metrics.h"

#include <sys/statvfs.h>

namespace {

template <typename T>
double Load(const std::atomic<T>& value) {
  return static_cast<double>(value.load(std::memory_order_relaxed));
}

bool Stalled(bool hasWork, std::int64_t lastProgress, std::int64_t now) {
  return hasWork && now - lastProgress >= std::chrono::nanoseconds(kClusterStallAfter).count();
}

void AddHealth(const ClusterHealth& h, SampleSet& s) {
  s.Gauge("quoteloom_healthy", "1 when the program works as it should; the reason says why or why not",
          h.healthy ? 1 : 0, {{"reason", h.reason}});
}

}  // namespace

ClusterHealth JudgePublisher(const PublisherCounters& c, std::int64_t now) {
  if (!c.connected.load(std::memory_order_relaxed)) return {false, "disconnected"};
  const bool hasWork = c.backlogBytes.load(std::memory_order_relaxed) > 0;
  if (Stalled(hasWork, c.lastAcknowledgedAt.load(std::memory_order_relaxed), now)) return {false, "stalled"};
  return {true, "ok"};
}

ClusterHealth JudgeArchive(const ArchiveCounters& c, std::int64_t now) {
  if (!c.connected.load(std::memory_order_relaxed)) return {false, "disconnected"};
  const bool hasWork = c.consumerPending.load(std::memory_order_relaxed) > 0;
  if (Stalled(hasWork, c.lastHandledAt.load(std::memory_order_relaxed), now)) return {false, "stalled"};
  return {true, "ok"};
}

void AddPublisherSamples(const PublisherCounters& c, SampleSet& s) {
  const std::int64_t now = PublisherCounters::NowNanos();
  AddHealth(JudgePublisher(c, now), s);
  s.Counter("quoteloom_publish_lines_read_total", "Whole journal records read (the names keep their first word: a record is a tick line)", Load(c.linesRead));
  s.Counter("quoteloom_publish_lines_published_total", "Ticks sent to JetStream, again after a retry",
            Load(c.published));
  s.Counter("quoteloom_publish_lines_acknowledged_total", "Ticks the stream acknowledged", Load(c.acknowledged));
  s.Counter("quoteloom_publish_malformed_lines_total", "Journal records skipped: a failed checksum or a code the collector refuses",
            Load(c.malformed));
  s.Counter("quoteloom_publish_retries_total", "Batches read and published again after a failure", Load(c.retries));
  s.Counter("quoteloom_publish_refused_files_total", "Journals not followed (a link, a pipe or a foreign file); not in the backlog",
            Load(c.refusedFiles));
  s.Gauge("quoteloom_publish_pending_acks", "Published ticks waiting for their acknowledgement", Load(c.pending));
  const std::uint64_t backlog = c.backlogBytes.load(std::memory_order_relaxed);
  s.Gauge("quoteloom_publish_behind_bytes", "Bytes of the followed journals after the acknowledged position",
          static_cast<double>(backlog));
  const std::int64_t caughtUp = c.caughtUpAt.load(std::memory_order_relaxed);
  s.Gauge("quoteloom_publish_behind_seconds", "Seconds since the publisher last had everything acknowledged",
          backlog > 0 && now > caughtUp ? static_cast<double>(now - caughtUp) / 1e9 : 0);
  s.Gauge("quoteloom_cluster_connected", "1 while connected to the NATS cluster", Load(c.connected));
  s.Counter("quoteloom_cluster_reconnects_total", "Connections to the NATS cluster made again after a loss",
            Load(c.reconnects));
}

void AddArchiveSamples(const ArchiveCounters& c, const std::string& folder, SampleSet& s) {
  AddHealth(JudgeArchive(c, ArchiveCounters::NowNanos()), s);
  s.Counter("quoteloom_archive_messages_taken_total", "Messages fetched from the stream", Load(c.taken));
  s.Counter("quoteloom_archive_messages_stored_total", "Messages whose tick was written to the archive",
            Load(c.stored));
  s.Counter("quoteloom_archive_duplicates_skipped_total", "Messages of a tick the archive already holds",
            Load(c.duplicates));
  s.Counter("quoteloom_archive_refused_bodies_total", "Messages that are not a whole tick record of their subject",
            Load(c.refusedBodies));
  s.Counter("quoteloom_archive_append_failures_total", "Failed appends to an archive file", Load(c.appendFailures));
  s.Counter("quoteloom_archive_history_days_put_total", "Packed days put into the cluster's history bucket",
            Load(c.historyDaysPut));
  s.Counter("quoteloom_archive_history_put_failures_total",
            "Packed days that could not be read, compared with the bucket or put into it (each try)",
            Load(c.historyFailures));
  s.Gauge("quoteloom_archive_history_days_shared", "Packed days of the folder the history bucket holds as they are",
          Load(c.historyDaysHeld));
  if (c.consumerInfoKnown.load(std::memory_order_relaxed)) {
    s.Gauge("quoteloom_archive_consumer_pending_messages", "Messages of the stream not yet delivered to the archive",
            Load(c.consumerPending));
    s.Gauge("quoteloom_archive_consumer_ack_pending_messages", "Messages delivered and not yet acknowledged",
            Load(c.consumerAckPending));
  }
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) == 0) {
    s.Gauge("quoteloom_archive_filesystem_free_bytes", "Bytes free to the archive on its folder's filesystem",
            static_cast<double>(fs.f_bavail) * fs.f_frsize);
    s.Gauge("quoteloom_archive_filesystem_size_bytes", "Size of the archive folder's filesystem",
            static_cast<double>(fs.f_blocks) * fs.f_frsize);
  }
  s.Gauge("quoteloom_cluster_connected", "1 while connected to the NATS cluster", Load(c.connected));
  s.Counter("quoteloom_cluster_reconnects_total", "Connections to the NATS cluster made again after a loss",
            Load(c.reconnects));
}
