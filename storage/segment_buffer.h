#ifndef QUOTELOOM_STORAGE_SEGMENT_BUFFER_H
#define QUOTELOOM_STORAGE_SEGMENT_BUFFER_H

#include <cstddef>

// Memory for a packed day's per-segment buffers (tens of megabytes), asked of the kernel in huge
// pages where it gives them: a fresh buffer then costs a few page faults instead of thousands. One
// thread.
class SegmentBuffer {
 public:
  SegmentBuffer() = default;
  ~SegmentBuffer();
  SegmentBuffer(const SegmentBuffer&) = delete;
  SegmentBuffer& operator=(const SegmentBuffer&) = delete;

  // At least `bytes`, the buffer kept for later calls that ask for less; what it held is lost when
  // it grows. Null when the memory cannot be had.
  void* Reserve(std::size_t bytes);

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

#endif
