#include "transport_support.h"

#include <cstring>

namespace wdk_test {

LARGE_INTEGER Relative(std::chrono::milliseconds ms) {
  LARGE_INTEGER t;
  t.QuadPart = -static_cast<LONGLONG>(ms.count()) * 10000;
  return t;
}

NTSTATUS OpenTcp(const char* eaName, size_t valueLength, HANDLE* handle, PFILE_OBJECT* file) {
  alignas(8) UCHAR ea[128] = {};
  auto* e = reinterpret_cast<PFILE_FULL_EA_INFORMATION>(ea);
  e->EaNameLength = static_cast<UCHAR>(std::strlen(eaName));
  e->EaValueLength = static_cast<USHORT>(valueLength);
  std::memcpy(e->EaName, eaName, e->EaNameLength + 1);
  static char16_t kTcp[] = u"\\Device\\Tcp";
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(kTcp));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK iosb{};
  NTSTATUS status = ZwCreateFile(handle, 0, &attributes, &iosb, nullptr, 0, 0, FILE_OPEN_IF, 0, ea, sizeof ea);
  if (!NT_SUCCESS(status)) return status;
  PVOID object = nullptr;
  status = ObReferenceObjectByHandle(*handle, 0, *IoFileObjectType, KernelMode, &object, nullptr);
  *file = static_cast<PFILE_OBJECT>(object);
  return status;
}

TA_IP_ADDRESS TransportAddress(const sockaddr_in& at) {
  TA_IP_ADDRESS remote{};
  remote.TAAddressCount = 1;
  remote.Address[0].AddressLength = TDI_ADDRESS_LENGTH_IP;
  remote.Address[0].AddressType = TDI_ADDRESS_TYPE_IP;
  remote.Address[0].Address[0].sin_port = at.sin_port;
  remote.Address[0].Address[0].in_addr = at.sin_addr.s_addr;
  return remote;
}

}  // namespace wdk_test
