// The collection classes the programs use: CList (ordered, positions stay valid until their element is
// removed), CArray (growable array) and CMapPtrToPtr. The block-size arguments are accepted for the
// callers' sake; allocation is per element.
#pragma once
#include <cassert>
#include <unordered_map>
#include <utility>
#include <vector>

#include "win32/types.h"

// An opaque place in a CList; null means "none" / "past the end".
struct __POSITION {};
using POSITION = __POSITION*;

template <class TYPE, class ARG_TYPE = const TYPE&>
class CList {
 public:
  explicit CList(int blockSize = 10) { (void)blockSize; }
  ~CList() { RemoveAll(); }
  CList(const CList&) = delete;
  CList& operator=(const CList&) = delete;

  int GetCount() const { return count_; }
  int GetSize() const { return count_; }
  BOOL IsEmpty() const { return count_ == 0; }

  TYPE& GetHead() { assert(head_); return head_->value; }
  const TYPE& GetHead() const { assert(head_); return head_->value; }
  TYPE& GetTail() { assert(tail_); return tail_->value; }
  const TYPE& GetTail() const { assert(tail_); return tail_->value; }

  TYPE RemoveHead() {
    assert(head_);
    TYPE value = std::move(head_->value);
    Unlink(head_);
    return value;
  }
  TYPE RemoveTail() {
    assert(tail_);
    TYPE value = std::move(tail_->value);
    Unlink(tail_);
    return value;
  }

  POSITION AddHead(ARG_TYPE value) { return InsertBefore(GetHeadPosition(), value); }
  POSITION AddTail(ARG_TYPE value) { return InsertAfter(GetTailPosition(), value); }

  // Inserts before/after the element at position (null: at the head/tail).
  POSITION InsertBefore(POSITION position, ARG_TYPE value) {
    Node* next = position ? AsNode(position) : head_;
    Node* node = new Node{value, next ? next->prev : tail_, next};
    Link(node);
    return AsPosition(node);
  }
  POSITION InsertAfter(POSITION position, ARG_TYPE value) {
    Node* prev = position ? AsNode(position) : tail_;
    Node* node = new Node{value, prev, prev ? prev->next : head_};
    Link(node);
    return AsPosition(node);
  }

  void RemoveAll() {
    while (head_) Unlink(head_);
  }

  POSITION GetHeadPosition() const { return AsPosition(head_); }
  POSITION GetTailPosition() const { return AsPosition(tail_); }

  // Returns the element at position and moves position to the next one (null after the last).
  TYPE& GetNext(POSITION& position) {
    Node* node = AsNode(position);
    position = AsPosition(node->next);
    return node->value;
  }
  const TYPE& GetNext(POSITION& position) const {
    Node* node = AsNode(position);
    position = AsPosition(node->next);
    return node->value;
  }
  TYPE& GetPrev(POSITION& position) {
    Node* node = AsNode(position);
    position = AsPosition(node->prev);
    return node->value;
  }
  const TYPE& GetPrev(POSITION& position) const {
    Node* node = AsNode(position);
    position = AsPosition(node->prev);
    return node->value;
  }

  TYPE& GetAt(POSITION position) { return AsNode(position)->value; }
  const TYPE& GetAt(POSITION position) const { return AsNode(position)->value; }
  void SetAt(POSITION position, ARG_TYPE value) { AsNode(position)->value = value; }
  void RemoveAt(POSITION position) { Unlink(AsNode(position)); }

  // The position of the first element equal to value after startAfter (null: from the head), or null.
  POSITION Find(ARG_TYPE value, POSITION startAfter = nullptr) const {
    for (Node* node = startAfter ? AsNode(startAfter)->next : head_; node; node = node->next) {
      if (node->value == value) return AsPosition(node);
    }
    return nullptr;
  }
  // The position of the index-th element (0 = head), or null.
  POSITION FindIndex(int index) const {
    if (index < 0) return nullptr;
    Node* node = head_;
    while (node && index-- > 0) node = node->next;
    return AsPosition(node);
  }

 private:
  struct Node : __POSITION {
    Node(ARG_TYPE v, Node* p, Node* n) : value(v), prev(p), next(n) {}
    TYPE value;
    Node* prev;
    Node* next;
  };

  static Node* AsNode(POSITION position) {
    assert(position);
    return static_cast<Node*>(position);
  }
  static POSITION AsPosition(Node* node) { return node; }

  void Link(Node* node) {
    if (node->prev) node->prev->next = node; else head_ = node;
    if (node->next) node->next->prev = node; else tail_ = node;
    ++count_;
  }
  void Unlink(Node* node) {
    if (node->prev) node->prev->next = node->next; else head_ = node->next;
    if (node->next) node->next->prev = node->prev; else tail_ = node->prev;
    --count_;
    delete node;
  }

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
};

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
 public:
  int GetSize() const { return static_cast<int>(items_.size()); }
  int GetCount() const { return GetSize(); }
  BOOL IsEmpty() const { return items_.empty(); }
  int GetUpperBound() const { return GetSize() - 1; }
  void SetSize(int newSize, int growBy = -1) {
    (void)growBy;
    items_.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0);
  }
  int Add(ARG_TYPE value) {
    items_.push_back(value);
    return GetUpperBound();
  }
  TYPE& GetAt(int index) { return items_.at(static_cast<size_t>(index)); }
  const TYPE& GetAt(int index) const { return items_.at(static_cast<size_t>(index)); }
  void SetAt(int index, ARG_TYPE value) { items_.at(static_cast<size_t>(index)) = value; }
  TYPE& operator[](int index) { return GetAt(index); }
  const TYPE& operator[](int index) const { return GetAt(index); }
  TYPE* GetData() { return items_.data(); }
  void InsertAt(int index, ARG_TYPE value, int count = 1) {
    items_.insert(items_.begin() + index, static_cast<size_t>(count), value);
  }
  void RemoveAt(int index, int count = 1) {
    items_.erase(items_.begin() + index, items_.begin() + index + count);
  }
  void RemoveAll() { items_.clear(); }

 private:
  std::vector<TYPE> items_;
};

class CMapPtrToPtr {
 public:
  explicit CMapPtrToPtr(int blockSize = 10) { (void)blockSize; }
  int GetCount() const { return static_cast<int>(map_.size()); }
  BOOL IsEmpty() const { return map_.empty(); }
  BOOL Lookup(void* key, void*& value) const {
    auto it = map_.find(key);
    if (it == map_.end()) return FALSE;
    value = it->second;
    return TRUE;
  }
  void SetAt(void* key, void* value) { map_[key] = value; }
  void*& operator[](void* key) { return map_[key]; }
  BOOL RemoveKey(void* key) { return map_.erase(key) ? TRUE : FALSE; }
  void RemoveAll() { map_.clear(); }

 private:
  std::unordered_map<void*, void*> map_;
};
