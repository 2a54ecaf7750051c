#include "storage/packed_segment_ahead.h"

#include <algorithm>

PackedSegmentAhead::PackedSegmentAhead(const PackedDayLayout& layout, std::vector<bool> skipped, std::uint64_t first,
                                       std::uint64_t end, unsigned threads)
    : layout_(layout),
      skipped_(std::move(skipped)),
      first_(first),
      end_(std::max(first, end)),
      threads_(std::max(threads, 1u)) {
  for (unsigned i = 0; i <= threads_; ++i) slots_.push_back(std::make_unique<Slot>());
  for (unsigned w = 0; w < threads_; ++w) workers_.emplace_back(&PackedSegmentAhead::Run, this, w);
}

PackedSegmentAhead::~PackedSegmentAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : workers_) t.join();
}

unsigned PackedSegmentAhead::ThreadsFor(const PackedDayLayout& layout) {
  const bool cores = std::thread::hardware_concurrency() >= 2;
  return cores && layout.header.segmentSlots <= kPackedSegmentSlots ? 2 : 1;
}

// Worker w decodes segments first_ + w, first_ + w + threads_, ...; segment s goes into slot s %
// slots_.size() once the reader has taken the segment that slot held before.
void PackedSegmentAhead::Run(unsigned worker) {
  PackedSegmentLoader loader;
  const std::uint64_t ring = slots_.size();
  for (std::uint64_t s = first_ + worker; s < end_; s += threads_) {
    Slot& slot = *slots_[s % ring];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // The slot's earlier segment s - ring is free once the reader has moved past it.
      changed_.wait(lock, [&] { return stop_ || s > failedAt_ || s - first_ < taken_ + ring - 1; });
      if (stop_ || s > failedAt_) return;
    }
    std::string error;
    const bool ok = loader.Load(layout_, s, skipped_, &slot.segment, &error);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.error = ok ? std::string() : (error.empty() ? layout_.name + ": segment not decoded" : error);
      slot.filled = s + 1;
      if (!ok) failedAt_ = std::min(failedAt_, s);
    }
    changed_.notify_all();
    if (!ok) return;
  }
}

const PackedSegment* PackedSegmentAhead::Next(std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::uint64_t s = first_ + taken_;
  if (s >= end_ || s > failedAt_) return nullptr;  // the end, or past a damaged segment told before
  Slot& slot = *slots_[s % slots_.size()];
  ++taken_;  // the segment before s is free now
  changed_.notify_all();
  // Every segment up to the first damaged one is decoded: the wait ends.
  changed_.wait(lock, [&] { return slot.filled == s + 1; });
  if (!slot.error.empty()) {
    *error = slot.error;
    return nullptr;
  }
  return &slot.segment;
}
