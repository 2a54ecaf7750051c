#ifndef QUOTELOOM_STORAGE_PACKED_SEGMENT_AHEAD_H
#define QUOTELOOM_STORAGE_PACKED_SEGMENT_AHEAD_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/packed_segment_loader.h"

// Decodes a packed day's segments ahead of a one-pass reader on threads of its own, each segment whole, so
// the reader only copies records out. Created, read and destroyed by one reading thread; its threads stop at
// the last segment, the first damaged one, or destruction, and hold at most one segment each beside the one
// being read.
class PackedSegmentAhead {
 public:
  // Segments [first, end) of `layout` (kept alive and unchanged by the caller), without the blocks of the
  // contracts marked in `skipped`, on `threads` threads (at least one).
  PackedSegmentAhead(const PackedDayLayout& layout, std::vector<bool> skipped, std::uint64_t first, std::uint64_t end,
                     unsigned threads);
  ~PackedSegmentAhead();
  PackedSegmentAhead(const PackedSegmentAhead&) = delete;
  PackedSegmentAhead& operator=(const PackedSegmentAhead&) = delete;

  // The next segment in order, the caller's until the next call; null after the last one, or at a damaged one
  // with `error` set.
  const PackedSegment* Next(std::string* error);

  // Threads worth running for `layout`: two where there are cores for them and the segments are of the
  // packer's size, else one, so a file of huge segments cannot make the reader hold many.
  static unsigned ThreadsFor(const PackedDayLayout& layout);

 private:
  struct Slot {
    PackedSegment segment;
    std::uint64_t filled = 0;  // 1 + the segment number it holds, 0 while it holds none
    std::string error;         // set when that segment could not be decoded
  };

  void Run(unsigned worker);

  const PackedDayLayout& layout_;
  const std::vector<bool> skipped_;
  const std::uint64_t first_;
  const std::uint64_t end_;
  const unsigned threads_;
  std::vector<std::unique_ptr<Slot>> slots_;  // threads_ + 1: a segment per thread and the one read
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  std::uint64_t taken_ = 0;              // segments handed out; the one before taken_ may still be read
  std::uint64_t failedAt_ = UINT64_MAX;  // the first segment that could not be decoded
  bool stop_ = false;
};

#endif
