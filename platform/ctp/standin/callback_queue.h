#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_CALLBACK_QUEUE_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_CALLBACK_QUEUE_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/ctp/standin/md_event.h"

// Events from the network thread to the callback thread, first in first out.
// Push from the network thread; Take and Delivered from the callback thread; Close from any thread.
class CallbackQueue {
 public:
  void Push(std::vector<MdEvent>& events);  // moves them all in and empties the vector
  // Waits for events and swaps them all into batch; false once closed (batch then empty).
  bool Take(std::deque<MdEvent>* batch);
  // The callback thread reports each delivered event, so pending() covers the batch in hand too.
  void Delivered() { pending_.fetch_sub(1, std::memory_order_relaxed); }
  std::size_t pending() const { return pending_.load(std::memory_order_relaxed); }
  void Close();

 private:
  std::mutex mutex_;  // guards events_ and closed_
  std::condition_variable ready_;
  std::deque<MdEvent> events_;
  bool closed_ = false;
  std::atomic<std::size_t> pending_{0};  // pushed and not yet delivered
};

#endif
