#ifndef QUOTELOOM_TOOLS_DATA_CHUNKED_ARRAY_H
#define QUOTELOOM_TOOLS_DATA_CHUNKED_ARRAY_H

#include <cstddef>
#include <type_traits>
#include <vector>

#include "tools/data/huge_page_arena.h"

// An array that only grows, in chunks taken from an arena: what it holds never moves, and growing
// it copies nothing. For trivially copyable values. One thread.
template <typename T>
class ChunkedArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  static constexpr std::size_t kChunk = 4096;

  explicit ChunkedArray(HugePageArena* arena) : arena_(arena) {}

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const T& operator[](std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  const T& back() const { return (*this)[size_ - 1]; }
  void push_back(const T& value) {
    if (size_ % kChunk == 0 && size_ / kChunk == chunks_.size()) {
      chunks_.push_back(static_cast<T*>(arena_->Allocate(kChunk * sizeof(T))));
    }
    (*this)[size_++] = value;
  }
  // Lets go of the values (the arena keeps the memory until it goes).
  void clear() {
    std::vector<T*>().swap(chunks_);
    size_ = 0;
  }

 private:
  HugePageArena* arena_;
  std::vector<T*> chunks_;
  std::size_t size_ = 0;
};

#endif
