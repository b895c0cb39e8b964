// NSArray, NSMutableArray, NSDictionary, NSMutableDictionary.
#include <string>

#include "cocoa/Foundation.h"

namespace {

bool Same(id a, id b) { return a == b || (a && b && a->isEqual(b)); }

[[noreturn]] void Raise(const char* name, const std::string& reason) { throw NSException(name, reason); }

}  // namespace

// ---- NSArray

NSArray* NSArray::array() { return static_cast<NSArray*>(alloc<NSArray>()->init()->autorelease()); }

NSArray* NSArray::arrayWithArray(NSArray* other) {
  return static_cast<NSArray*>(alloc<NSArray>()->initWithArray(other)->autorelease());
}

NSArray* NSArray::initWithArray(NSArray* other) {
  if (other) {
    for (id object : other->objects_) object->retain();
    objects_ = other->objects_;
  }
  return this;
}

void NSArray::Check(NSUInteger index, NSUInteger limit) const {
  if (index >= limit)
    Raise("NSRangeException", "index " + std::to_string(index) + " beyond bounds [0 .. " +
                                  std::to_string(objects_.size()) + ")");
}

id NSArray::objectAtIndex(NSUInteger index) const {
  Check(index, objects_.size());
  return objects_[index];
}

NSUInteger NSArray::indexOfObject(id object) const {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (Same(objects_[i], object)) return i;
  return NSNotFound;
}

NSUInteger NSArray::indexOfObjectIdenticalTo(id object) const {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (objects_[i] == object) return i;
  return NSNotFound;
}

NSMutableArray* NSArray::mutableCopy() const {
  return alloc<NSMutableArray>()->initWithArray(const_cast<NSArray*>(this));
}

NSArray* NSArray::copy() const { return alloc<NSArray>()->initWithArray(const_cast<NSArray*>(this)); }

bool NSArray::isEqual(NSObject* other) {
  auto* a = dynamic_cast<NSArray*>(other);
  if (!a || a->objects_.size() != objects_.size()) return false;
  for (size_t i = 0; i < objects_.size(); ++i)
    if (!Same(objects_[i], a->objects_[i])) return false;
  return true;
}

NSString* NSArray::description() {
  std::string text = "(";
  for (size_t i = 0; i < objects_.size(); ++i) {
    text += i ? ", " : "";
    text += objects_[i]->description()->str();
  }
  return NSString::stringWithStd(text + ")");
}

void NSArray::dealloc() {
  std::vector<id> objects;
  objects.swap(objects_);
  for (id object : objects) object->release();
  NSObject::dealloc();
}

// ---- NSMutableArray

NSMutableArray* NSMutableArray::array() {
  return static_cast<NSMutableArray*>(alloc<NSMutableArray>()->init()->autorelease());
}
NSMutableArray* NSMutableArray::arrayWithCapacity(NSUInteger capacity) {
  return static_cast<NSMutableArray*>(alloc<NSMutableArray>()->initWithCapacity(capacity)->autorelease());
}
NSMutableArray* NSMutableArray::arrayWithArray(NSArray* other) {
  return static_cast<NSMutableArray*>(alloc<NSMutableArray>()->initWithArray(other)->autorelease());
}
NSMutableArray* NSMutableArray::initWithCapacity(NSUInteger capacity) {
  objects_.reserve(capacity < 4096 ? capacity : 4096);
  return this;
}
NSMutableArray* NSMutableArray::initWithArray(NSArray* other) {
  NSArray::initWithArray(other);
  return this;
}

void NSMutableArray::addObject(id object) {
  if (!object) Raise("NSInvalidArgumentException", "attempt to insert nil object");
  object->retain();
  objects_.push_back(object);
}

void NSMutableArray::insertObject_atIndex(id object, NSUInteger index) {
  if (!object) Raise("NSInvalidArgumentException", "attempt to insert nil object");
  Check(index, objects_.size() + 1);
  object->retain();
  objects_.insert(objects_.begin() + static_cast<long>(index), object);
}

void NSMutableArray::removeObjectAtIndex(NSUInteger index) {
  Check(index, objects_.size());
  id object = objects_[index];
  objects_.erase(objects_.begin() + static_cast<long>(index));
  object->release();
}

void NSMutableArray::replaceObjectAtIndex_withObject(NSUInteger index, id object) {
  if (!object) Raise("NSInvalidArgumentException", "attempt to insert nil object");
  Check(index, objects_.size());
  object->retain();  // before the release: the object may be the one replaced
  id old = objects_[index];
  objects_[index] = object;
  old->release();
}

void NSMutableArray::removeLastObject() {
  if (objects_.empty()) Raise("NSRangeException", "removeLastObject on an empty array");
  removeObjectAtIndex(objects_.size() - 1);
}

void NSMutableArray::removeObject(id object) {
  std::vector<id> removed;
  for (size_t i = 0; i < objects_.size();) {
    if (Same(objects_[i], object)) {
      removed.push_back(objects_[i]);
      objects_.erase(objects_.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
  for (id r : removed) r->release();
}

void NSMutableArray::removeAllObjects() {
  std::vector<id> objects;
  objects.swap(objects_);
  for (id object : objects) object->release();
}

void NSMutableArray::addObjectsFromArray(NSArray* other) {
  if (!other) return;
  for (NSUInteger i = 0; i < other->count(); ++i) addObject(other->objectAtIndex(i));
}

// ---- NSDictionary

NSDictionary* NSDictionary::dictionary() {
  return static_cast<NSDictionary*>(alloc<NSDictionary>()->init()->autorelease());
}

id NSDictionary::objectForKey(id key) const {
  for (const auto& [k, v] : entries_)
    if (Same(k, key)) return v;
  return nullptr;
}

NSArray* NSDictionary::allKeys() const {
  NSMutableArray* keys = NSMutableArray::array();
  for (const auto& entry : entries_) keys->addObject(entry.first);
  return keys;
}

NSMutableDictionary* NSDictionary::mutableCopy() const {
  NSMutableDictionary* copy = alloc<NSMutableDictionary>()->init();
  copy->addEntriesFromDictionary(const_cast<NSDictionary*>(this));
  return copy;
}

bool NSDictionary::isEqual(NSObject* other) {
  auto* d = dynamic_cast<NSDictionary*>(other);
  if (!d || d->entries_.size() != entries_.size()) return false;
  for (const auto& [k, v] : entries_)
    if (!Same(d->objectForKey(k), v)) return false;
  return true;
}

NSString* NSDictionary::description() {
  std::string text = "{";
  for (const auto& [k, v] : entries_) text += k->description()->str() + " = " + v->description()->str() + "; ";
  return NSString::stringWithStd(text + "}");
}

void NSDictionary::dealloc() {
  std::vector<std::pair<id, id>> entries;
  entries.swap(entries_);
  for (auto& [k, v] : entries) {
    k->release();
    v->release();
  }
  NSObject::dealloc();
}

// ---- NSMutableDictionary

NSMutableDictionary* NSMutableDictionary::dictionary() {
  return static_cast<NSMutableDictionary*>(alloc<NSMutableDictionary>()->init()->autorelease());
}

NSMutableDictionary* NSMutableDictionary::dictionaryWithDictionary(NSDictionary* other) {
  NSMutableDictionary* d = dictionary();
  d->addEntriesFromDictionary(other);
  return d;
}

void NSMutableDictionary::setObject_forKey(id object, id key) {
  if (!object || !key) Raise("NSInvalidArgumentException", "attempt to insert nil key or value");
  object->retain();
  for (auto& entry : entries_) {
    if (Same(entry.first, key)) {
      entry.second->release();
      entry.second = object;
      return;
    }
  }
  key->retain();
  entries_.emplace_back(key, object);
}

void NSMutableDictionary::removeObjectForKey(id key) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (Same(entries_[i].first, key)) {
      auto entry = entries_[i];
      entries_.erase(entries_.begin() + static_cast<long>(i));
      entry.first->release();
      entry.second->release();
      return;
    }
  }
}

void NSMutableDictionary::removeAllObjects() {
  std::vector<std::pair<id, id>> entries;
  entries.swap(entries_);
  for (auto& [k, v] : entries) {
    k->release();
    v->release();
  }
}

void NSMutableDictionary::addEntriesFromDictionary(NSDictionary* other) {
  if (!other) return;
  for (const auto& [k, v] : other->entries()) setObject_forKey(v, k);
}
