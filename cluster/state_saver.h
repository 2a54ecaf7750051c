#ifndef QUOTELOOM_CLUSTER_STATE_SAVER_H
#define QUOTELOOM_CLUSTER_STATE_SAVER_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "cluster/publish_state.h"

// Writes the newest position handed to it on a thread of its own, so a slow flush of the disk never
// holds up publishing; positions posted while a write is under way are folded into the next one.
// Post and TakeError from the publisher thread; the saver thread alone writes the file.
class StateSaver {
 public:
  explicit StateSaver(const PublishState& state);
  // Writes the last position posted, then ends the thread.
  ~StateSaver();
  StateSaver(const StateSaver&) = delete;
  StateSaver& operator=(const StateSaver&) = delete;

  void Post(const JournalPosition& position);
  // The last failed write's message, once; empty when all went well.
  std::string TakeError();

 private:
  void Run();

  const PublishState& state_;
  std::mutex mutex_;  // guards the four members below
  std::condition_variable wake_;
  JournalPosition pending_;
  bool hasPending_ = false;
  bool stop_ = false;
  std::string error_;
  std::thread thread_;  // started last, joined by the destructor
};

#endif
