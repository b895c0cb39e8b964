#include "TavrinMac/values.h"

#include <cstdlib>
#include <cstring>

// ---- logs

logs* logs::init() {
  entryDate_ = alloc<NSDate>()->init();
  methodString_ = alloc<NSString>()->init();
  description_ = alloc<NSString>()->init();
  return this;
}

void logs::setNow(NSDate* date) { Assign(entryDate_, date); }
void logs::setMethodString(NSString* text) { Assign(methodString_, text); }
void logs::setDescription(NSString* text) { Assign(description_, text); }

void logs::dealloc() {
  Assign<NSDate>(entryDate_, nullptr);
  Assign<NSString>(methodString_, nullptr);
  Assign<NSString>(description_, nullptr);
  NSObject::dealloc();
}

// ---- DeviceIndex

DeviceIndex* DeviceIndex::init() {
  ipString_ = alloc<NSString>()->init();
  return this;
}

void DeviceIndex::setIpString(NSString* text) { Assign(ipString_, text); }

bool DeviceIndex::Matches(int16_t pid, int16_t vid, int16_t port, NSString* address) const {
  return pid_ == pid && vid_ == vid && portNo_ == port && ipString_ && ipString_->isEqualToString(address);
}

void DeviceIndex::dealloc() {
  Assign<NSString>(ipString_, nullptr);
  NSObject::dealloc();
}

// ---- ProductString

ProductString* ProductString::init() {
  productStr_ = alloc<NSString>()->init();
  prodIpAddress_ = alloc<NSString>()->init();
  return this;
}

void ProductString::setProdString(NSString* text) { Assign(productStr_, text); }
void ProductString::setIpAddress(NSString* text) { Assign(prodIpAddress_, text); }

void ProductString::dealloc() {
  Assign<NSString>(productStr_, nullptr);
  Assign<NSString>(prodIpAddress_, nullptr);
  NSObject::dealloc();
}

// ---- ConnectedClientsNode

ConnectedClientsNode* ConnectedClientsNode::init() {
  clientAddress_ = alloc<NSString>()->init();
  return this;
}

void ConnectedClientsNode::setClientAddres(NSString* text) { Assign(clientAddress_, text); }

void ConnectedClientsNode::dealloc() {
  Assign<NSString>(clientAddress_, nullptr);
  NSObject::dealloc();
}

// ---- ServerNode

ServerNode* ServerNode::init() {
  serverConfigString_ = alloc<NSString>()->init();
  recvIpAddres_ = alloc<NSString>()->init();
  clientsArray_ = alloc<NSMutableArray>()->init();
  return this;
}

void ServerNode::setConfigData(serverdata* data) {
  if (data == configData_) return;
  free(configData_);
  configData_ = data;
}

void ServerNode::setClientsArray(NSMutableArray* array) { Assign(clientsArray_, array); }

void ServerNode::addClientToArray(ConnectedClientsNode* client) {
  if (client) clientsArray_->addObject(client);
}

ConnectedClientsNode* ServerNode::getClientAtIndex(int index) const {
  if (!clientsArray_ || index < 0 || static_cast<NSUInteger>(index) >= clientsArray_->count()) return nullptr;
  return static_cast<ConnectedClientsNode*>(clientsArray_->objectAtIndex(index));
}

int ServerNode::clientsCount() const { return clientsArray_ ? static_cast<int>(clientsArray_->count()) : 0; }

void ServerNode::setMacAddr(const char* bytes) {
  if (bytes) memcpy(macAddr_, bytes, sizeof macAddr_);
}

void ServerNode::setRecvIpAddres(const char* buffer) {
  if (!buffer) return;
  NSString* text = alloc<NSString>()->initWithBytes_length(buffer, strnlen(buffer, 16));
  Assign(recvIpAddres_, text);
  text->release();
}

const char* ServerNode::recvIpAddres() const { return recvIpAddres_->UTF8String(); }

void ServerNode::setServerConfigString(NSString* text) { Assign(serverConfigString_, text); }

const char* ServerNode::serverConfigString() {
  const char* text = serverConfigString_ ? serverConfigString_->UTF8String() : "";
  CopyField(tempString_, text, strnlen(text, sizeof tempString_ - 1));
  return tempString_;
}

void ServerNode::setServerConfigNSString(NSString* text) { Assign(serverConfigNSString_, text); }

void ServerNode::dealloc() {
  Assign<NSMutableArray>(clientsArray_, nullptr);
  Assign<NSString>(recvIpAddres_, nullptr);
  Assign<NSString>(serverConfigString_, nullptr);
  Assign<NSString>(serverConfigNSString_, nullptr);
  free(configData_);
  configData_ = nullptr;
  NSObject::dealloc();
}

// ---- TableEntry

void TableEntry::setEntryDate(NSString* text) { Assign(entryDate_, text); }

void TableEntry::setDevName(NSString* name) {
  if (!name) return;
  Assign(devName_, name);  // keeps the bytes utfString_ points at
  utfString_ = devName_->UTF8String();
  NSData* bytes = alloc<NSData>()->initWithBytes_length(utfString_, strlen(utfString_));
  Assign(data_, bytes);
  bytes->release();
  CopyField(buffer_, utfString_, strlen(utfString_));
}

void TableEntry::dealloc() {
  Assign<NSString>(entryDate_, nullptr);
  Assign<NSString>(devName_, nullptr);
  Assign<NSData>(data_, nullptr);
  NSObject::dealloc();
}
