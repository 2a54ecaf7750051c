#include "replay/service/replay_worker.h"

#include <utility>

ReplayWorker::ReplayWorker(ReplayShared& shared, ConnectionId client) : shared_(shared), client_(client) {}

ReplayWorker::~ReplayWorker() {
  ClientGone();
  Join();
}

int ReplayWorker::Start(ActiveRequest request, std::uint64_t generation, ReplayThreadCreateFn create,
                        const std::function<void()>& publish) {
  // Held until published: the new thread's first step waits for it.
  std::lock_guard<std::mutex> lock(mutex_);
  next_ = Next{std::move(request), generation};
  const int error = (create ? create : pthread_create)(&thread_, nullptr, &ReplayWorker::ThreadMain, this);
  if (error != 0) {
    next_.reset();
    ending_ = true;
    finished_.store(true, std::memory_order_release);
    return error;
  }
  started_ = true;
  publish();
  return 0;
}

bool ReplayWorker::Submit(ActiveRequest request, std::uint64_t generation, const std::function<void()>& publish) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ending_ || gone()) return false;
  next_ = Next{std::move(request), generation};
  publish();
  return true;
}

void ReplayWorker::ClientGone() {
  std::lock_guard<std::mutex> lock(mutex_);
  clientGone_.store(true, std::memory_order_release);
  next_.reset();
}

void ReplayWorker::Join() {
  if (started_ && !joined_) pthread_join(thread_, nullptr);
  joined_ = true;
}

void* ReplayWorker::ThreadMain(void* self) {
  static_cast<ReplayWorker*>(self)->Loop();
  return nullptr;
}

void ReplayWorker::Loop() {
  for (;;) {
    std::optional<Next> next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      next.swap(next_);
      if (!next) {
        ending_ = true;
        break;
      }
    }
    ReplayJob(shared_, std::move(next->request), next->generation, clientGone_).Run();
  }
  finished_.store(true, std::memory_order_release);
}
