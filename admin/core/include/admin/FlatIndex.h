// Keys to the positions of list entries, in one open-addressed table: a key's slot holds the key, its hash
// and its first position side by side, so that a lookup reads about one cache line, where a node-based map
// reads its bucket, the node before and the node. The presence listener looks up every entry of every
// datagram, mostly in a table that the rest of the process has pushed out of the cache since.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mfc/collections.h"

class FlatIndex {
 public:
  using Hasher = size_t (*)(const std::string& key);
  static size_t DefaultHash(const std::string& key) { return std::hash<std::string>{}(key); }
  explicit FlatIndex(Hasher hash = &DefaultHash) : hash_(hash) {}

  // The first position added under `key` and still there, or null.
  POSITION First(const std::string& key) const {
    const Slot* slot = Find(key);
    return slot ? slot->first : nullptr;
  }
  // Every position under `key`, in the order added.
  std::vector<POSITION> All(const std::string& key) const {
    const Slot* slot = Find(key);
    if (!slot) return {};
    std::vector<POSITION> all{slot->first};
    all.insert(all.end(), slot->more.begin(), slot->more.end());
    return all;
  }
  void Add(const std::string& key, POSITION position) {
    if (2 * (used_ + 1) > slots_.size()) Grow();
    const size_t hash = Hash(key);
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      Slot& slot = slots_[i];
      if (!slot.first) {
        slot = Slot{hash, key, position, {}};
        ++used_;
        return;
      }
      if (slot.hash == hash && slot.key == key) {
        slot.more.push_back(position);
        return;
      }
    }
  }
  void Remove(const std::string& key, POSITION position) {
    Slot* slot = const_cast<Slot*>(Find(key));
    if (!slot) return;
    if (slot->first != position) {
      for (auto it = slot->more.begin(); it != slot->more.end(); ++it) {
        if (*it != position) continue;
        slot->more.erase(it);
        break;
      }
      return;
    }
    if (!slot->more.empty()) {
      slot->first = slot->more.front();
      slot->more.erase(slot->more.begin());
      return;
    }
    Vacate(static_cast<size_t>(slot - slots_.data()));
  }
  void Clear() {
    slots_.clear();
    used_ = 0;
  }

 private:
  struct Slot {
    size_t hash = 0;
    std::string key;
    POSITION first = nullptr;  // null: the slot is free
    std::vector<POSITION> more;  // later positions under the same key
  };

  size_t Hash(const std::string& key) const { return hash_(key); }
  size_t Mask() const { return slots_.size() - 1; }

  const Slot* Find(const std::string& key) const {
    if (slots_.empty()) return nullptr;
    const size_t hash = Hash(key);
    for (size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = slots_[i];
      if (!slot.first) return nullptr;
      if (slot.hash == hash && slot.key == key) return &slot;
    }
  }

  // Frees a slot and moves back the slots after it that a probe would no longer reach (no tombstones).
  void Vacate(size_t hole) {
    slots_[hole] = Slot{};
    --used_;
    for (size_t i = (hole + 1) & Mask(); slots_[i].first; i = (i + 1) & Mask()) {
      const size_t home = slots_[i].hash & Mask();
      // The slot stays where it is when its home lies cyclically in (hole, i].
      const bool reachable = hole < i ? (home > hole && home <= i) : (home > hole || home <= i);
      if (reachable) continue;
      slots_[hole] = std::move(slots_[i]);
      slots_[i] = Slot{};
      hole = i;
    }
  }

  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 16 : 2 * old.size(), Slot{});
    for (Slot& slot : old) {
      if (!slot.first) continue;
      size_t i = slot.hash & Mask();
      while (slots_[i].first) i = (i + 1) & Mask();
      slots_[i] = std::move(slot);
    }
  }

  Hasher hash_;
  std::vector<Slot> slots_;  // a power of two, at most half used
  size_t used_ = 0;
};
