#include "storage/segment_buffer.h"

#include <sys/mman.h>

namespace {

constexpr std::size_t kHugePage = 2 << 20;

}  // namespace

SegmentBuffer::~SegmentBuffer() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

void* SegmentBuffer::Reserve(std::size_t bytes) {
  if (bytes <= size_ && data_ != nullptr) return data_;
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
  const std::size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) return nullptr;
  ::madvise(data, size, MADV_HUGEPAGE);  // a hint: plain pages where the kernel has none
  data_ = data;
  size_ = size;
  return data_;
}
