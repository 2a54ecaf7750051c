#include "tools/data/record_line_pipe.h"

RecordLinePipe::RecordLinePipe(std::function<void(const Item&)> make) : make_(std::move(make)) {
  filling_.resize(kBatch);
  thread_ = std::thread([this] { Run(); });
}

RecordLinePipe::~RecordLinePipe() { Finish(); }

RecordLinePipe::Item& RecordLinePipe::Next() { return filling_[filled_]; }

void RecordLinePipe::Push() {
  if (++filled_ == filling_.size()) Send();
}

void RecordLinePipe::Send() {
  std::vector<Item> next;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return batches_.size() < kBatchesHeld; });
    filling_.resize(filled_);
    batches_.push_back(std::move(filling_));
    if (!spare_.empty()) {
      next = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  changed_.notify_all();
  next.resize(kBatch);
  filling_ = std::move(next);
  filled_ = 0;
}

void RecordLinePipe::Finish() {
  if (!thread_.joinable()) return;
  if (filled_ > 0) Send();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void RecordLinePipe::Run() {
  for (;;) {
    std::vector<Item> batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !batches_.empty() || done_; });
      if (batches_.empty()) return;
      batch = std::move(batches_.front());
      batches_.pop_front();
    }
    changed_.notify_all();
    for (const Item& item : batch) make_(item);
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.push_back(std::move(batch));
  }
}
