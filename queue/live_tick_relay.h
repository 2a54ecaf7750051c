#ifndef QUOTELOOM_QUEUE_LIVE_TICK_RELAY_H
#define QUOTELOOM_QUEUE_LIVE_TICK_RELAY_H

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "core/tick_record.h"

// Where the tick intake meets the replay service: the replay selection (which contract to forward,
// and whether to) and the live-tick buffer that the replay thread drains.
// Selection: written by replay network threads, read by the intake's callback thread without a lock
// (flags published with release, read with acquire). Buffer: any thread, under buffer_mutex_.
class LiveTickRelay {
 public:
  static constexpr std::size_t kContractSize = 31;

  // A start request: stores the contract (at most 30 characters), then sets the active and reset flags.
  void Select(const char* contract);
  // A stop request or a connection close: stop forwarding. The buffer is left as it is.
  void EndForwarding();

  // For every accepted tick (intake thread): appends a copy when forwarding is active and the
  // record's InstrumentID equals the selected contract; the first such record after a start
  // request empties the buffer before it is appended.
  void Forward(const TickRecord& record);

  // Empties the buffer (a connection close).
  void Empty();
  // Moves the oldest record into `out`; false, and `out` unchanged, when the buffer is empty.
  bool Take(TickRecord* out);

  bool active() const { return active_.load(std::memory_order_acquire); }
  bool resetPending() const { return reset_.load(std::memory_order_acquire); }
  std::string SelectedContract() const;
  std::size_t BufferSize() const;

 private:
  // Selected contract, NUL-terminated, in words under a sequence lock: a reader that overlaps a
  // writer sees an odd or changed sequence and treats the tick as not selected, so no tick is ever
  // compared against a half-written code.
  static constexpr std::size_t kWords = 4;
  bool Matches(const char* instrument) const;

  std::mutex select_mutex_;  // serialises writers of the selection only
  std::atomic<std::uint32_t> sequence_{0};
  std::array<std::atomic<std::uint64_t>, kWords> contract_{};
  std::atomic<bool> active_{false};
  std::atomic<bool> reset_{false};

  mutable std::mutex buffer_mutex_;
  std::deque<TickRecord> buffer_;  // guarded by buffer_mutex_
};

static_assert(LiveTickRelay::kContractSize <= 4 * sizeof(std::uint64_t));

#endif
