// A list in arrival order (the document's CList) with hash indexes beside it, so that an entry is found by
// its key without a walk of the list. Positions stay valid until their entry is removed. Entries may be
// changed through the references the list hands out, but not in the fields their keys are made of.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "mfc/collections.h"

// Keys::Key(entry) names one entry (or a few equal ones, first in arrival order first); Keys::Group(entry)
// names a set of entries found together.
template <class T, class Keys>
class IndexedList {
 public:
  explicit IndexedList(int blockSize = 10) : list_(blockSize) {}
  IndexedList(const IndexedList&) = delete;
  IndexedList& operator=(const IndexedList&) = delete;

  int GetCount() const { return list_.GetCount(); }
  bool IsEmpty() const { return list_.IsEmpty(); }
  POSITION GetHeadPosition() const { return list_.GetHeadPosition(); }
  T& GetNext(POSITION& position) { return list_.GetNext(position); }
  const T& GetNext(POSITION& position) const { return list_.GetNext(position); }
  T& GetAt(POSITION position) { return list_.GetAt(position); }
  const T& GetAt(POSITION position) const { return list_.GetAt(position); }
  POSITION FindIndex(int index) const { return list_.FindIndex(index); }
  T& GetHead() { return list_.GetHead(); }
  T& GetTail() { return list_.GetTail(); }

  POSITION AddTail(const T& entry) {
    POSITION position = list_.AddTail(entry);
    byKey_[Keys::Key(entry)].push_back(position);
    byGroup_[Keys::Group(entry)].push_back(position);
    return position;
  }
  void RemoveAt(POSITION position) {
    const T& entry = list_.GetAt(position);
    Unindex(byKey_, Keys::Key(entry), position);
    Unindex(byGroup_, Keys::Group(entry), position);
    list_.RemoveAt(position);
  }
  T RemoveHead() {
    T entry = list_.GetHead();
    RemoveAt(list_.GetHeadPosition());
    return entry;
  }
  void RemoveAll() {
    list_.RemoveAll();
    byKey_.clear();
    byGroup_.clear();
  }

  // The first entry (in arrival order) with the key, or null.
  POSITION Find(const std::string& key) const { return First(byKey_, key); }
  POSITION FindInGroup(const std::string& group) const { return First(byGroup_, group); }
  // Every entry of the group, in arrival order.
  std::vector<POSITION> Group(const std::string& group) const {
    auto found = byGroup_.find(group);
    return found == byGroup_.end() ? std::vector<POSITION>{} : found->second;
  }

 private:
  using Index = std::unordered_map<std::string, std::vector<POSITION>>;
  static POSITION First(const Index& index, const std::string& key) {
    auto found = index.find(key);
    return found == index.end() || found->second.empty() ? nullptr : found->second.front();
  }
  static void Unindex(Index& index, const std::string& key, POSITION position) {
    auto found = index.find(key);
    if (found == index.end()) return;
    std::vector<POSITION>& positions = found->second;
    for (auto it = positions.begin(); it != positions.end(); ++it) {
      if (*it != position) continue;
      positions.erase(it);
      break;
    }
    if (positions.empty()) index.erase(found);
  }

  CList<T> list_;
  Index byKey_;
  Index byGroup_;
};
