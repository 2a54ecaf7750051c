#include "cluster/state_saver.h"

StateSaver::StateSaver(const PublishState& state) : state_(state), thread_([this] { Run(); }) {}

StateSaver::~StateSaver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void StateSaver::Post(const JournalPosition& position) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = position;
    hasPending_ = true;
  }
  wake_.notify_one();
}

std::string StateSaver::TakeError() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string error;
  error.swap(error_);
  return error;
}

void StateSaver::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return hasPending_ || stop_; });
    if (!hasPending_) return;
    const JournalPosition position = pending_;
    hasPending_ = false;
    lock.unlock();
    std::string error;
    const bool saved = state_.Save(position, &error);
    lock.lock();
    if (!saved) error_ = error;
  }
}
