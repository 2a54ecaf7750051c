#include "queue/live_tick_relay.h"

#include <cstring>

namespace {

using Words = std::array<std::uint64_t, 4>;

Words Pack(const char* text, std::size_t maxChars) {
  Words words{};
  char bytes[sizeof(Words)] = {};
  std::size_t n = strnlen(text, maxChars);
  std::memcpy(bytes, text, n);
  std::memcpy(words.data(), bytes, sizeof(bytes));
  return words;
}

}  // namespace

void LiveTickRelay::Select(const char* contract) {
  const Words words = Pack(contract, kContractSize - 1);
  std::lock_guard<std::mutex> lock(select_mutex_);
  const std::uint32_t seq = sequence_.load(std::memory_order_relaxed);
  sequence_.store(seq + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (std::size_t i = 0; i < kWords; ++i) contract_[i].store(words[i], std::memory_order_relaxed);
  sequence_.store(seq + 2, std::memory_order_release);
  reset_.store(true, std::memory_order_release);
  active_.store(true, std::memory_order_release);
}

void LiveTickRelay::EndForwarding() { active_.store(false, std::memory_order_release); }

bool LiveTickRelay::Matches(const char* instrument) const {
  if (strnlen(instrument, sizeof(TickRecord::InstrumentID)) > kContractSize - 1) return false;
  const Words wanted = Pack(instrument, kContractSize - 1);
  const std::uint32_t before = sequence_.load(std::memory_order_acquire);
  if (before & 1u) return false;
  Words seen;
  for (std::size_t i = 0; i < kWords; ++i) seen[i] = contract_[i].load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (sequence_.load(std::memory_order_relaxed) != before) return false;
  return seen == wanted;
}

void LiveTickRelay::Forward(const TickRecord& record) {
  if (!active_.load(std::memory_order_acquire)) return;
  if (!Matches(record.InstrumentID)) return;
  std::lock_guard<std::mutex> lock(buffer_mutex_);
  if (reset_.exchange(false, std::memory_order_acq_rel)) buffer_.clear();
  buffer_.push_back(record);
}

void LiveTickRelay::Empty() {
  std::lock_guard<std::mutex> lock(buffer_mutex_);
  buffer_.clear();
}

bool LiveTickRelay::Take(TickRecord* out) {
  std::lock_guard<std::mutex> lock(buffer_mutex_);
  if (buffer_.empty()) return false;
  *out = buffer_.front();
  buffer_.pop_front();
  return true;
}

std::string LiveTickRelay::SelectedContract() const {
  Words words;
  for (std::size_t i = 0; i < kWords; ++i) words[i] = contract_[i].load(std::memory_order_relaxed);
  char bytes[sizeof(Words) + 1] = {};
  std::memcpy(bytes, words.data(), sizeof(Words));
  return std::string(bytes);
}

std::size_t LiveTickRelay::BufferSize() const {
  std::lock_guard<std::mutex> lock(buffer_mutex_);
  return buffer_.size();
}
