// The client of the Mac kernel driver (IOKit class quorvelNHCI): open, requests, close.
#pragma once
#include <mutex>

#include "PelkoFramework/records.h"
#include "cocoa/Foundation.h"
#include "cocoa/IOKitLib.h"

// User-client selectors of the driver.
enum : unsigned int { kMyUserClientOpen = 0, kMyUserClientClose = 1, kMyUserClientRequest = 5 };

class deviceInterface : public NSObject {
 public:
  deviceInterface* init() { return this; }
  // Finds the first quorvelNHCI service and opens a user client of type 0 on it; 1 opened, 0 not.
  char OpenDriverInstance();
  // 1 when the close selector succeeded; the connection is closed in either case.
  char CloseDriverInstance();
  // Sends the 108-byte block (devReqStruct first) to the request selector; 1 accepted, 0 not.
  char SendRquest(void* request);
  void setInstalled(char value) { installed_ = value; }
  char isInstalled() const { return installed_; }

  const char* className() const override { return "deviceInterface"; }

 private:
  // The calls share the fields below (and the connection): one call at a time.
  std::mutex mutex_;
  mach_port_t masterPort_ = 0;
  kern_return_t result_ = 0;
  io_service_t serviceObject_ = 0;
  io_connect_t dataPort_ = 0;
  io_iterator_t iterator_ = 0;
  CFDictionaryRef classToMatch_ = nullptr;
  MySampleStruct retStruct_{};
  uint32_t reqStructSize_ = 0;
  uint32_t retStructSize_ = 0;
  char installed_ = 0;
};
