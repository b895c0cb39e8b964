// TavrinMac's small value classes: a log line, a device of the device tables, a fetched product string, a
// server and a connected client of the server manager, a device-table row; and the parsed configuration
// of one server. Object setters retain the new value before releasing the old one, so setting the value
// already held is safe.
#pragma once
#include <cstdint>

#include "cocoa/Foundation.h"

// One entry of a server's connection table.
struct conn_table {
  int32_t port_no;
  char client_ip[20];
};

// A server's configuration as parsed from the text of a command 4 reply. Every text field is
// NUL-terminated; values longer than their field are cut.
struct serverdata {
  char server_model[30];
  char fw_version[10];
  char hw_version[10];
  char server_name[20];
  char ip_address[20];
  char net_mask[20];
  char gate_way[20];
  char ip_config;
  char mac_addr[20];
  char password[20];
  char enable;
  uint32_t serial_no;
  ::conn_table conn_table[16];
};

// Copies text into a char array field, cut to fit with its terminator.
template <size_t N>
void CopyField(char (&field)[N], const char* text, size_t length) {
  size_t n = length < N - 1 ? length : N - 1;
  for (size_t i = 0; i < n; ++i) field[i] = text[i];
  field[n] = 0;
}

// One line of a log table.
class logs : public NSObject {
 public:
  logs* init();  // dated now, empty texts
  int sno() const { return sno_; }
  void setSno(int value) { sno_ = value; }
  NSDate* entryDate() const { return entryDate_; }
  void setNow(NSDate* date);
  NSString* methodString() const { return methodString_; }
  void setMethodString(NSString* text);
  // The message text (the Cocoa description of the object is its own: this is the line's text).
  NSString* description() override { return description_; }
  void setDescription(NSString* text);
  const char* className() const override { return "logs"; }

 protected:
  void dealloc() override;

 private:
  int sno_ = 0;
  NSDate* entryDate_ = nullptr;
  NSString* methodString_ = nullptr;
  NSString* description_ = nullptr;
};

// One USB device of a server in the device tables: seen (indexStatus 0) or connected by this Mac (1).
class DeviceIndex : public NSObject {
 public:
  DeviceIndex* init();
  int16_t pidIs() const { return pid_; }
  void setPid(int16_t value) { pid_ = value; }
  int16_t vidIs() const { return vid_; }
  void setVid(int16_t value) { vid_ = value; }
  int16_t portNoIs() const { return portNo_; }
  void setPortNo(int16_t value) { portNo_ = value; }
  int indexIs() const { return index_; }
  void setIndex(int value) { index_ = value; }
  NSString* ipString() const { return ipString_; }
  void setIpString(NSString* text);
  char indexStatus() const { return indexStatus_; }
  void setIndexStatus(char value) { indexStatus_ = value; }
  // The same device: product, vendor and port numbers as 16-bit values, and the address text.
  bool Matches(int16_t pid, int16_t vid, int16_t port, NSString* address) const;
  const char* className() const override { return "DeviceIndex"; }

 protected:
  void dealloc() override;

 private:
  int16_t pid_ = 0, vid_ = 0, portNo_ = 0;
  int index_ = 0;
  NSString* ipString_ = nullptr;
  char indexStatus_ = 0;
};

// The product string of the device on one port of one server.
class ProductString : public NSObject {
 public:
  ProductString* init();
  uint16_t getPortNum() const { return portnum_; }
  void setPortNum(uint16_t value) { portnum_ = value; }
  NSString* getProductString() const { return productStr_; }
  void setProdString(NSString* text);
  NSString* getIpAddress() const { return prodIpAddress_; }
  void setIpAddress(NSString* text);
  char getStringStatus() const { return prodStatus_; }
  void setStringStatus(char value) { prodStatus_ = value; }
  const char* className() const override { return "ProductString"; }

 protected:
  void dealloc() override;

 private:
  uint16_t portnum_ = 0;
  NSString* productStr_ = nullptr;
  NSString* prodIpAddress_ = nullptr;
  char prodStatus_ = 0;
};

// One computer connected to a server.
class ConnectedClientsNode : public NSObject {
 public:
  ConnectedClientsNode* init();
  int clientPortNum() const { return portNumber_; }
  void setClientPortNum(int value) { portNumber_ = value; }
  NSString* clientAddres() const { return clientAddress_; }
  void setClientAddres(NSString* text);
  const char* className() const override { return "ConnectedClientsNode"; }

 protected:
  void dealloc() override;

 private:
  int portNumber_ = 0;
  NSString* clientAddress_ = nullptr;
};

// One server found by the server manager's discovery.
class ServerNode : public NSObject {
 public:
  ServerNode* init();
  int devType() const { return devType_; }
  void setDevType(int value) { devType_ = value; }
  int passwordSet() const { return pwd_; }
  void setPwd(int value) { pwd_ = value; }
  int clientsChecked() const { return checked_; }
  void setClientChecked(int value) { checked_ = value; }
  int serverChecked() const { return serverChecked_; }
  void setServerChecked(int value) { serverChecked_ = value; }
  // The record is the server manager's; the node only points at it (and frees the one it holds when a
  // new one comes, or at its end).
  serverdata* getConfigurationData() const { return configData_; }
  void setConfigData(serverdata* data);
  NSMutableArray* getClientsArray() const { return clientsArray_; }
  void setClientsArray(NSMutableArray* array);
  void addClientToArray(ConnectedClientsNode* client);
  ConnectedClientsNode* getClientAtIndex(int index) const;
  // The number of clients in the array, whatever setClientCount: stored.
  int clientsCount() const;
  void setClientCount(int value) { clientsCount_ = value; }
  // Exactly six bytes, kept as they are (zero bytes and bytes above 0x7F included).
  void setMacAddr(const char* bytes);
  const unsigned char* macAddress() const { return macAddr_; }
  // From a 16-byte address buffer: the text up to its first NUL (at most 16 characters).
  void setRecvIpAddres(const char* buffer);
  const char* recvIpAddres() const;
  void setServerConfigString(NSString* text);
  // The configuration text, at most 998 bytes, in the node's own buffer.
  const char* serverConfigString();
  void setServerConfigNSString(NSString* text);
  NSString* serverConfigNSString() const { return serverConfigNSString_; }
  void setServerConfigCString(char* text) { serverConfigCString_ = text; }
  const char* className() const override { return "ServerNode"; }

 protected:
  void dealloc() override;

 private:
  int devType_ = 0;
  int clientsCount_ = 0;
  int checked_ = 0;
  int serverChecked_ = 0;
  int pwd_ = 0;
  NSString* serverConfigString_ = nullptr;
  unsigned char macAddr_[6] = {};
  NSString* recvIpAddres_ = nullptr;
  NSString* serverConfigNSString_ = nullptr;
  serverdata* configData_ = nullptr;
  NSMutableArray* clientsArray_ = nullptr;
  char* serverConfigCString_ = nullptr;
  char tempString_[999] = {};
};

// A device-table row; nothing in the program makes one, but it is a class of the program.
class TableEntry : public NSObject {
 public:
  TableEntry* init() { return this; }
  NSString* entryDate() const { return entryDate_; }
  void setEntryDate(NSString* text);
  // Keeps the name's bytes (cut to 39 and a terminator in the buffer).
  void setDevName(NSString* name);
  const char* showDevName() const { return buffer_; }
  NSData* nameData() const { return data_; }
  int indexNumber() const { return indexNumber_; }
  void setIndexNumber(int value) { indexNumber_ = value; }
  void showAll() {}
  BOOL removeDev(id) { return NO; }
  const char* className() const override { return "TableEntry"; }

 protected:
  void dealloc() override;

 private:
  NSString* entryDate_ = nullptr;
  NSString* devName_ = nullptr;
  char buffer_[40] = {};
  NSData* data_ = nullptr;
  const char* utfString_ = nullptr;
  int indexNumber_ = 0;
};

// The object setter rule: retain the new value, release the old one, store the new one.
template <class T>
void Assign(T*& slot, T* value) {
  if (value) value->retain();
  if (slot) slot->release();
  slot = value;
}
