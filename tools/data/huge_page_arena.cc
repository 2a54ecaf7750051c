#include "tools/data/huge_page_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

HugePageArena::~HugePageArena() {
  for (const auto& [region, size] : regions_) ::munmap(region, size);
}

void* HugePageArena::Allocate(std::size_t bytes) {
  bytes = (bytes + 15) & ~std::size_t{15};
  if (static_cast<std::size_t>(end_ - next_) < bytes) {
    const std::size_t size = std::max(kRegionSize, bytes);
    void* region = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) throw std::bad_alloc();
    // Only a hint: without transparent huge pages the region is plain memory.
    ::madvise(region, size, MADV_HUGEPAGE);
    regions_.emplace_back(region, size);
    next_ = static_cast<char*>(region);
    end_ = next_ + size;
  }
  void* out = next_;
  next_ += bytes;
  return out;
}
