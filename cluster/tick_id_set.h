#ifndef QUOTELOOM_CLUSTER_TICK_ID_SET_H
#define QUOTELOOM_CLUSTER_TICK_ID_SET_H

#include <cstddef>
#include <vector>

#include "cluster/tick_id.h"

// A compact set of tick ids: open addressing over a flat array, 16 bytes a slot at most half full,
// so a day of ten million ticks takes about 320 MB. One owning thread.
class TickIdSet {
 public:
  bool Contains(const TickId& id) const;
  // False when the id was already there.
  bool Insert(const TickId& id);
  std::size_t size() const { return size_; }

 private:
  static TickId Stored(const TickId& id);  // the all-zero id marks an empty slot
  std::size_t Slot(const TickId& id) const;
  void Grow();

  std::vector<TickId> slots_;
  std::size_t size_ = 0;
};

#endif
