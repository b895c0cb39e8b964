// One item of the outline of servers and their devices: a server node holds its device nodes.
#pragma once
#include "PelkoFramework/records.h"
#include "cocoa/Foundation.h"

class Node : public NSObject {
 public:
  // Empty children, empty texts, and a zeroed device-record placeholder that dealloc frees.
  Node* init();

  void setServerName(NSString* name);
  NSString* itemName() const { return itemName_; }
  void setServerIPAddress(NSString* address);
  NSString* serverIPAddress() const { return ipAddress_; }
  void setProductString(NSString* text);
  NSString* productString() const { return prodString_; }
  // The node takes over the heap block (malloc'd, one __dev_info__) and frees the one it held.
  void setDeviceInformation(__dev_info__* info);
  __dev_info__* deviceInformation() const { return device_info_; }

  void setInfolen(int value) { infolen_ = value; }
  int infolen() const { return infolen_; }
  void setServerIndex(int value) { serverIndex_ = value; }
  int serverIndex() const { return serverIndex_; }
  void setDeviceIndex(int value) { deviceIndex_ = value; }
  int deviceIndex() const { return deviceIndex_; }
  void setDevIndex(int value) { devIndex_ = value; }
  int devIndex() const { return devIndex_; }
  void serialNumberIs(int value) { serialNumber_ = value; }
  int serialNumber() const { return serialNumber_; }
  void setDevice() { device_ = 1; }
  void setServer() { device_ = 0; }
  char isDevice() const { return device_; }
  void setStatus(int value) { Status_ = static_cast<signed char>(value & 0xFF); }
  int isConnected() const { return Status_; }

  void addChildNode(Node* child);
  // Null for an index outside the children.
  Node* childAtIndexNode(int index) const;
  int childrenCount() const;
  char expandableNode() const { return childrenCount() > 0 ? 1 : 0; }
  // Both do nothing for an index outside the children.
  void replaceDeviceAtIndex(int index, Node* node);
  void removeDeviceAtIndex(int index);
  // The length of the name plus the sum of every child.
  int sum() const;

  const char* className() const override { return "Node"; }

 protected:
  void dealloc() override;

 private:
  NSMutableArray* children_ = nullptr;
  NSString* itemName_ = nullptr;
  NSString* ipAddress_ = nullptr;
  NSString* prodString_ = nullptr;
  __dev_info__* device_info_ = nullptr;
  int infolen_ = 0;
  int serverIndex_ = 0;
  int deviceIndex_ = 0;
  int devIndex_ = 0;
  int serialNumber_ = 0;
  char device_ = 0;
  signed char Status_ = 0;
};
