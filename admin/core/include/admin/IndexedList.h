// A list in arrival order (the document's CList) with hash indexes beside it (FlatIndex), so that an entry
// is found by its key without a walk of the list. Positions stay valid until their entry is removed. Entries may be
// changed through the references the list hands out, but not in the fields their keys are made of.
#pragma once
#include <string>
#include <vector>

#include "admin/FlatIndex.h"
#include "mfc/collections.h"

// Keys::Key(entry) names one entry (or a few equal ones, first in arrival order first); Keys::Group(entry)
// names a set of entries found together. Keys::Hash(key), where given, places keys in the indexes.
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
    byKey_.Add(Keys::Key(entry), position);
    byGroup_.Add(Keys::Group(entry), position);
    return position;
  }
  void RemoveAt(POSITION position) {
    const T& entry = list_.GetAt(position);
    byKey_.Remove(Keys::Key(entry), position);
    byGroup_.Remove(Keys::Group(entry), position);
    list_.RemoveAt(position);
  }
  T RemoveHead() {
    T entry = list_.GetHead();
    RemoveAt(list_.GetHeadPosition());
    return entry;
  }
  void RemoveAll() {
    list_.RemoveAll();
    byKey_.Clear();
    byGroup_.Clear();
  }

  // The first entry (in arrival order) with the key, or null.
  POSITION Find(const std::string& key) const { return byKey_.First(key); }
  POSITION FindInGroup(const std::string& group) const { return byGroup_.First(group); }
  // Every entry of the group, in arrival order.
  std::vector<POSITION> Group(const std::string& group) const { return byGroup_.All(group); }

 private:
  static FlatIndex::Hasher HashOfKeys() {
    if constexpr (requires(const std::string& key) { Keys::Hash(key); })
      return &Keys::Hash;
    else
      return &FlatIndex::DefaultHash;
  }

  CList<T> list_;
  FlatIndex byKey_{HashOfKeys()};
  FlatIndex byGroup_{HashOfKeys()};
};
