#ifndef QUOTELOOM_CLUSTER_HISTORY_UPLOADER_H
#define QUOTELOOM_CLUSTER_HISTORY_UPLOADER_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "cluster/archive_counters.h"
#include "cluster/cluster_settings.h"
#include "cluster/nats_link.h"
#include "objectstore/object_info.h"

// Puts every packed day of the archive's folder (History/<day>.qth, written only once packed and
// verified) that the history bucket does not hold with the same digest into it, on a connection
// of its own so a large day never holds up the ticks. Runs on its own thread between Start() and
// Stop(), both called by the archive's loop.
class HistoryUploader {
 public:
  struct Options {
    std::string bucket = "quoteloom-history";
    std::int64_t maxAgeSeconds = 0;  // 0: the bucket keeps every day
    std::chrono::milliseconds interval{60000};
    ObjectLimits limits;
    ArchiveCounters* counters = nullptr;  // null: counted for nobody
  };

  HistoryUploader(const ClusterSettings& settings, Options options);
  ~HistoryUploader();
  HistoryUploader(const HistoryUploader&) = delete;
  HistoryUploader& operator=(const HistoryUploader&) = delete;

  void Start();
  void Stop();

 private:
  // What a packed day looked like when the bucket last held it, so an unchanged file is not read again.
  struct FileKey {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNanos = 0;
    bool operator==(const FileKey&) const = default;
  };

  void Loop();
  // One look over History/.
  void Pass();
  // Puts one day when the bucket lacks it; false with the reason.
  bool ShareDay(int historyFd, const std::string& day, std::string* error);
  bool ShareFile(int fd, const std::string& day, std::string* error);
  // The first day (yyyymmdd) young enough for the bucket's age limit; 0 without a limit.
  int OldestDayKept() const;
  void Note(const std::string& day, const std::string& problem);
  bool Sleep(std::chrono::milliseconds duration);
  bool Stopping();

  const ClusterSettings& settings_;
  const Options options_;
  ArchiveCounters ownCounters_;
  ArchiveCounters& counters_;

  // The uploader's thread only.
  NatsLink link_;
  bool bucketReady_ = false;
  std::map<std::string, FileKey> held_;          // days the bucket holds as they are in the folder
  std::map<std::string, std::string> problems_;  // the last problem printed for each day

  std::thread thread_;
  std::mutex mutex_;  // guards stopping_
  std::condition_variable wake_;
  bool stopping_ = false;
};

#endif
