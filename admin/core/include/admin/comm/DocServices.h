// Services over the document's lists that the communication threads and the panes use. Each takes the
// list and the lock that guards it, holds the lock for the whole search and update, and so never uses a
// position after the lock is left.
#pragma once
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "admin/DeviceEntry.h"
#include "admin/IndexedList.h"
#include "admin/comm/Discovery.h"
#include "mfc/collections.h"
#include "mfc/string.h"
#include "win32/sync.h"
#include "win32/winsock.h"
#include "zarnet/command.h"

// A device is one (server, port, vendor, product, release); the user interface and the answers find it by
// (server, port).
struct DeviceKeys {
  static std::string Key(const DeviceEntry& device) {
    return Key(device.ServerIp, device.PortNum, device.Vid, device.Pid, device.Rev);
  }
  static std::string Key(const char* serverIp, WORD port, WORD vid, WORD pid, WORD rev) {
    std::string key = Group(serverIp, port);
    const WORD numbers[3] = {vid, pid, rev};
    key.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
    return key;
  }
  static std::string Group(const DeviceEntry& device) { return Group(device.ServerIp, device.PortNum); }
  // Made without formatting or allocation, as keys are made for every entry of every datagram: a server's
  // address as its four bytes (13 bytes in a whole key, held inside the string), a text that is no address
  // as itself; the first byte tells the two apart.
  static std::string Group(const char* serverIp, WORD port) {
    char text[29] = {};
    std::memcpy(text, serverIp, strnlen(serverIp, 28));
    std::string key;
    const ULONG address = inet_addr(text);
    if (address != INADDR_NONE) {
      key.push_back('a');
      key.append(reinterpret_cast<const char*>(&address), sizeof address);
    } else {
      key.push_back('t');
      key.append(text);
      key.push_back('\0');
    }
    key.append(reinterpret_cast<const char*>(&port), sizeof port);
    return key;
  }
  // A datagram's look-ups are every device of one server: its keys lie within sixteen slots of each other,
  // so that those look-ups share their cache lines and pages.
  static size_t Hash(const std::string& key) {
    const std::string_view whole(key);
    const size_t server = std::min(whole.size(), key.empty() || key[0] == 'a' ? size_t{5} : key.find('\0') + 1);
    const size_t near = std::hash<std::string_view>{}(whole.substr(0, server));
    const size_t spread = std::hash<std::string_view>{}(whole.substr(server));
    return (near & ~size_t{15}) | (spread & 15);
  }
};
using DeviceList = IndexedList<DeviceEntry, DeviceKeys>;

// Sets ProductStringState of the first device of that server and port; FALSE when none is listed.
BOOL SetProductStringState(DeviceList& devices, CRITICAL_SECTION* lock, const CString& strIP, WORD wPort,
                           DWORD state);
// The same for the device with the key's server, port, vendor, product and release.
BOOL SetProductStringState(DeviceList& devices, CRITICAL_SECTION* lock, const DeviceEntry& key, DWORD state);
// Gives the device its product string (a malloc'ed, NUL-terminated copy of at most 255 bytes, owned by the
// entry from then on; null for an empty string) and state 2, but only while its state is 1. TRUE when the
// device is listed. The first form finds the first device of that server and port; the second the device
// with the key's server, port, vendor, product and release (the one the string was fetched for).
BOOL StoreProductString(DeviceList& devices, CRITICAL_SECTION* lock, const CString& strIP, WORD wPort,
                        const zarnet::iproduct_string* productString);
BOOL StoreProductString(DeviceList& devices, CRITICAL_SECTION* lock, const DeviceEntry& key,
                        const zarnet::iproduct_string* productString);
// FALSE while a device of that server is connecting, connected, or has its disconnect pending.
BOOL CanRemoveServer(DeviceList& devices, CRITICAL_SECTION* lock, const CString& strIP);
// Copies the first discovered server with that address text (the caller's thread owns the list).
BOOL FindDiscoveredServer(const ServerDiscoveryList& servers, const CString& strIP, ServerDiscoveryRecord* out);
// The device with the key's server, port, vendor, product and release; null when none. The caller holds
// the list's lock.
DeviceEntry* FindDeviceByIdentity(DeviceList& devices, const DeviceEntry& key);
// After the last failed try of the product-string thread: the device (found by server, port, vendor,
// product and release) is finished without a product string.
void MarkProductStringFailed(DeviceList& devices, CRITICAL_SECTION* lock, const DeviceEntry& request);
