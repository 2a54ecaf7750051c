#include "cluster/tick_id_set.h"

TickId TickIdSet::Stored(const TickId& id) {
  return id.high == 0 && id.low == 0 ? TickId{0, 1} : id;
}

std::size_t TickIdSet::Slot(const TickId& id) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = static_cast<std::size_t>(id.low ^ (id.high >> 7)) & mask;
  while (!(slots_[i] == TickId{}) && !(slots_[i] == id)) i = (i + 1) & mask;
  return i;
}

bool TickIdSet::Contains(const TickId& id) const {
  if (slots_.empty()) return false;
  const TickId key = Stored(id);
  return slots_[Slot(key)] == key;
}

bool TickIdSet::Insert(const TickId& id) {
  if ((size_ + 1) * 2 > slots_.size()) Grow();
  const TickId key = Stored(id);
  const std::size_t i = Slot(key);
  if (slots_[i] == key) return false;
  slots_[i] = key;
  ++size_;
  return true;
}

void TickIdSet::Grow() {
  std::vector<TickId> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, TickId{});
  for (const TickId& id : old) {
    if (!(id == TickId{})) slots_[Slot(id)] = id;
  }
}
