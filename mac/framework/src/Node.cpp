#include "PelkoFramework/Node.h"

#include <cstdlib>

namespace {

// The setter rule: retain the new object, release the old one, store the new one.
void Assign(NSString*& slot, NSString* value) {
  if (value) value->retain();
  if (slot) slot->release();
  slot = value;
}

}  // namespace

Node* Node::init() {
  children_ = alloc<NSMutableArray>()->init();
  itemName_ = alloc<NSString>()->init();
  ipAddress_ = alloc<NSString>()->init();
  prodString_ = alloc<NSString>()->init();
  // A whole zeroed record rather than a few bytes, so that a read of a fresh node stays in bounds.
  device_info_ = static_cast<__dev_info__*>(calloc(1, sizeof(__dev_info__)));
  return this;
}

void Node::setServerName(NSString* name) { Assign(itemName_, name); }
void Node::setServerIPAddress(NSString* address) { Assign(ipAddress_, address); }
void Node::setProductString(NSString* text) { Assign(prodString_, text); }

void Node::setDeviceInformation(__dev_info__* info) {
  if (info == device_info_) return;
  free(device_info_);  // the node owned the block it held
  device_info_ = info;
}

void Node::addChildNode(Node* child) {
  if (child) children_->addObject(child);
}

Node* Node::childAtIndexNode(int index) const {
  if (index < 0 || index >= childrenCount()) return nullptr;
  return static_cast<Node*>(children_->objectAtIndex(static_cast<NSUInteger>(index)));
}

int Node::childrenCount() const { return children_ ? static_cast<int>(children_->count()) : 0; }

void Node::replaceDeviceAtIndex(int index, Node* node) {
  if (!node || index < 0 || index >= childrenCount()) return;
  children_->replaceObjectAtIndex_withObject(static_cast<NSUInteger>(index), node);
}

void Node::removeDeviceAtIndex(int index) {
  if (index < 0 || index >= childrenCount()) return;
  children_->removeObjectAtIndex(static_cast<NSUInteger>(index));
}

int Node::sum() const {
  int total = itemName_ ? static_cast<int>(itemName_->length()) : 0;
  for (int i = 0; i < childrenCount(); ++i) total += childAtIndexNode(i)->sum();
  return total;
}

void Node::dealloc() {
  if (children_) children_->release();
  if (prodString_) prodString_->release();
  if (itemName_) itemName_->release();
  if (ipAddress_) ipAddress_->release();
  free(device_info_);
  NSObject::dealloc();
}
