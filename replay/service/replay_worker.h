#ifndef QUOTELOOM_REPLAY_SERVICE_REPLAY_WORKER_H
#define QUOTELOOM_REPLAY_SERVICE_REPLAY_WORKER_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "replay/service/replay_job.h"

// Creates a thread as pthread_create does; tests put a refusing one in its place.
using ReplayThreadCreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// The one replay thread of one connection: runs the replays that the connection asks for, one
// after the other. A newer request has already stopped the running replay (through the shared
// generation), so the thread moves on to it within milliseconds. The thread ends when it has
// nothing left to run. Driven by network threads under the service's replay lock; Join by the
// service only.
class ReplayWorker {
 public:
  ReplayWorker(ReplayShared& shared, ConnectionId client);
  ~ReplayWorker();
  ReplayWorker(const ReplayWorker&) = delete;
  ReplayWorker& operator=(const ReplayWorker&) = delete;

  // Starts the thread on its first replay; on failure returns the system's error code and nothing
  // runs. On success `publish` runs before the replay can begin (it makes the request the active one).
  int Start(ActiveRequest request, std::uint64_t generation, ReplayThreadCreateFn create,
            const std::function<void()>& publish);
  // Queues the next replay for the running thread and runs `publish` before it can begin; false,
  // and nothing done, when the thread takes no more work.
  bool Submit(ActiveRequest request, std::uint64_t generation, const std::function<void()>& publish);
  // The connection closed: the running replay stops and nothing queued runs.
  void ClientGone();

  ConnectionId client() const { return client_; }
  bool gone() const { return clientGone_.load(std::memory_order_acquire); }
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  // Waits for the thread to end (at once when it has finished).
  void Join();

 private:
  struct Next {
    ActiveRequest request;
    std::uint64_t generation;
  };

  static void* ThreadMain(void* self);
  void Loop();

  ReplayShared& shared_;
  const ConnectionId client_;
  std::atomic<bool> clientGone_{false};  // set by the connection's close
  std::atomic<bool> finished_{false};    // set by the thread as its last act
  pthread_t thread_{};
  bool started_ = false;  // the service's thread only
  bool joined_ = false;   // the service's thread only

  std::mutex mutex_;
  std::optional<Next> next_;  // guarded by mutex_
  bool ending_ = false;       // guarded by mutex_: the thread takes no more work
};

#endif
