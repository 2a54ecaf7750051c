#ifndef QUOTELOOM_TOOLS_DATA_HUGE_PAGE_ARENA_H
#define QUOTELOOM_TOOLS_DATA_HUGE_PAGE_ARENA_H

#include <cstddef>
#include <utility>
#include <vector>

// Memory for tables that grow by a few bytes per tick over a whole day, taken from big regions the
// kernel may back with huge pages: in 4 KiB pages, millions of ticks cost thousands of page faults.
// Nothing is given back before the arena goes. One thread.
class HugePageArena {
 public:
  static constexpr std::size_t kRegionSize = std::size_t{64} << 20;

  HugePageArena() = default;
  ~HugePageArena();
  HugePageArena(const HugePageArena&) = delete;
  HugePageArena& operator=(const HugePageArena&) = delete;

  // `bytes` aligned to 16; throws std::bad_alloc when the system has no more.
  void* Allocate(std::size_t bytes);

 private:
  std::vector<std::pair<void*, std::size_t>> regions_;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

#endif
