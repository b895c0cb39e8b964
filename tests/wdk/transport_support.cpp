#include "transport_support.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

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

int ListenOnLoopback(sockaddr_in* at, int receiveBuffer) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0) ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  *at = {};
  at->sin_family = AF_INET;
  at->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *at;
  if (::bind(listener, reinterpret_cast<sockaddr*>(at), sizeof *at) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(at), &length) != 0 || ::listen(listener, 4) != 0) {
    ::close(listener);
    return -1;
  }
  return listener;
}

Connected::Connected() {
  sockaddr_in at;
  listener_ = ListenOnLoopback(&at, 64 * 1024);  // the peer takes little at a time, so a large send fills the socket
  EXPECT_GE(listener_, 0);
  EXPECT_EQ(OpenTcp(TdiTransportAddress, sizeof(TA_IP_ADDRESS), &addressHandle_, &address_), STATUS_SUCCESS);
  EXPECT_EQ(OpenTcp(TdiConnectionContext, 8, &connectionHandle_, &connection), STATUS_SUCCESS);
  Pending associate;
  associate.Issue(connection, TDI_ASSOCIATE_ADDRESS,
                  [&](PIRP irp) { TdiSetParameters(irp, TDI_REQUEST_KERNEL_ASSOCIATE{addressHandle_, nullptr}); });
  EXPECT_EQ(associate.issued, STATUS_SUCCESS);
  TA_IP_ADDRESS remote = wdk_test::TransportAddress(at);
  TDI_CONNECTION_INFORMATION info{};
  info.RemoteAddressLength = sizeof remote;
  info.RemoteAddress = &remote;
  Pending connect;
  connect.Issue(connection, TDI_CONNECT,
                [&](PIRP irp) { TdiSetParameters(irp, TDI_REQUEST_KERNEL_CONNECT{0, &info, nullptr, nullptr}); });
  EXPECT_TRUE(connect.Wait(std::chrono::seconds(10)));
  EXPECT_EQ(connect.iosb.Status, STATUS_SUCCESS);
  peer = ::accept(listener_, nullptr, nullptr);
}

Connected::~Connected() {
  Pending disconnect;
  disconnect.Issue(connection, TDI_DISCONNECT, [](PIRP) {});
  disconnect.Wait(std::chrono::seconds(10));
  Pending disassociate;
  disassociate.Issue(connection, TDI_DISASSOCIATE_ADDRESS, [](PIRP) {});
  ObDereferenceObject(connection);
  ZwClose(connectionHandle_);
  ObDereferenceObject(address_);
  ZwClose(addressHandle_);
  if (peer >= 0) ::close(peer);
  ::close(listener_);
}

void SendOf(Pending& p, PFILE_OBJECT connection, std::vector<uint8_t>& data, PIO_COMPLETION_ROUTINE routine,
            PVOID context) {
  p.mdl = IoAllocateMdl(data.data(), static_cast<ULONG>(data.size()), FALSE, FALSE, nullptr);
  p.Issue(
      connection, TDI_SEND,
      [&](PIRP irp) {
        TdiSetParameters(irp, TDI_REQUEST_KERNEL_SEND{static_cast<ULONG>(data.size()), 0});
        irp->MdlAddress = p.mdl;
      },
      routine, context);
}

}  // namespace wdk_test
