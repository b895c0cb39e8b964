#include "PelkoFramework/deviceInterface.h"

#include <cstdio>
#include <cstring>

char deviceInterface::OpenDriverInstance() {
  std::lock_guard lock(mutex_);
  reqStructSize_ = kDriverRequestSize;
  retStructSize_ = sizeof(MySampleStruct);
  result_ = IOMasterPort(MACH_PORT_NULL, &masterPort_);
  if (result_ != KERN_SUCCESS) {
    printf("IOMasterPort Error\n");
    return 0;
  }
  classToMatch_ = IOServiceMatching("quorvelNHCI");
  if (!classToMatch_) {
    printf("IOServiceMatching() Error\n");
    return 0;
  }
  result_ = IOServiceGetMatchingServices(masterPort_, classToMatch_, &iterator_);
  classToMatch_ = nullptr;  // consumed by the call
  if (result_ != KERN_SUCCESS) {
    printf("IOServiceGetMatchingServices() Error\n");
    return 0;
  }
  printf("IOServiceGetMatchingServices success\n");
  serviceObject_ = IOIteratorNext(iterator_);
  IOObjectRelease(iterator_);
  iterator_ = 0;
  dataPort_ = IO_OBJECT_NULL;
  if (serviceObject_) {
    result_ = IOServiceOpen(serviceObject_, mach_task_self(), 0, &dataPort_);
    if (result_ == KERN_SUCCESS) printf("IOServiceOpen Succes\n");
    IOObjectRelease(serviceObject_);
    serviceObject_ = 0;
  }
  result_ = IOConnectMethodScalarIScalarO(dataPort_, kMyUserClientOpen, 0, 0);
  if (result_ == KERN_SUCCESS) {
    printf("kMyUserClientOpen Success\n");
    return 1;
  }
  printf("kMyUserClientOpen Error\n");
  IOServiceClose(dataPort_);
  dataPort_ = IO_OBJECT_NULL;
  return 0;
}

char deviceInterface::CloseDriverInstance() {
  std::lock_guard lock(mutex_);
  result_ = IOConnectMethodScalarIScalarO(dataPort_, kMyUserClientClose, 0, 0);
  const bool ok = result_ == KERN_SUCCESS;
  printf(ok ? "kMyUserClientClose success\n" : "kMyUserClientClose Error\n");
  IOServiceClose(dataPort_);
  dataPort_ = IO_OBJECT_NULL;
  return ok ? 1 : 0;
}

char deviceInterface::SendRquest(void* request) {
  if (!request) return 0;
  std::lock_guard lock(mutex_);
  // Each call offers the whole reply area again (a short reply must not shrink the next one).
  reqStructSize_ = kDriverRequestSize;
  retStructSize_ = sizeof(MySampleStruct);
  result_ = IOConnectMethodStructureIStructureO(dataPort_, kMyUserClientRequest, reqStructSize_, &retStructSize_,
                                                request, &retStruct_);
  devReqStruct fields;
  memcpy(&fields, request, sizeof fields);
  char ip[sizeof fields.ip + 1] = {};
  memcpy(ip, fields.ip, sizeof fields.ip);
  printf("SentRequest : ReqType-> %d, Index-> %d, ip-> %s, portnumber-> %d\n", fields.ReqType, fields.Index, ip,
         fields.device_info.portnum);
  if (result_ != KERN_SUCCESS) return 0;
  printf("Ret: %s %dSuccess\n", ip, fields.device_info.portnum);
  return 1;
}
