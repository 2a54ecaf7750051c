#include "platform/ctp/standin/callback_queue.h"

void CallbackQueue::Push(std::vector<MdEvent>& events) {
  if (events.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) {
      pending_.fetch_add(events.size(), std::memory_order_relaxed);
      events_.insert(events_.end(), events.begin(), events.end());
    }
  }
  events.clear();
  ready_.notify_one();
}

bool CallbackQueue::Take(std::deque<MdEvent>* batch) {
  batch->clear();
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait(lock, [this] { return closed_ || !events_.empty(); });
  if (closed_) return false;
  batch->swap(events_);
  return true;
}

void CallbackQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    events_.clear();
  }
  ready_.notify_all();
}
