// The transport driver interface of "\Device\Tcp": address and connection objects opened with ZwCreateFile
// and extended attributes, and the internal device-control requests that associate, connect, send,
// receive, disconnect and register event handlers. The stand-in transport runs every connection on a
// network thread of its own over a POSIX TCP socket; connect, send, receive and disconnect requests are
// pended and completed from that thread (or, for sends and receives, from a thread that waits in the kernel
// for the connection's requests meanwhile), and the disconnect handler is called from there.
#pragma once
#include "wdk/ntddk.h"
#include "wincommon/access.h"  // access rights and share modes, as user mode has them

constexpr NTSTATUS STATUS_IO_TIMEOUT = MakeNtStatus(0xC00000B5);
constexpr NTSTATUS STATUS_INVALID_CONNECTION = MakeNtStatus(0xC0000140);
constexpr NTSTATUS STATUS_INVALID_ADDRESS = MakeNtStatus(0xC0000141);
constexpr NTSTATUS STATUS_CONNECTION_RESET = MakeNtStatus(0xC000020D);
constexpr NTSTATUS STATUS_CONNECTION_REFUSED = MakeNtStatus(0xC0000236);
constexpr NTSTATUS STATUS_CONNECTION_ABORTED = MakeNtStatus(0xC0000241);

constexpr UCHAR TDI_ASSOCIATE_ADDRESS = 0x01;
constexpr UCHAR TDI_DISASSOCIATE_ADDRESS = 0x02;
constexpr UCHAR TDI_CONNECT = 0x03;
constexpr UCHAR TDI_DISCONNECT = 0x06;
constexpr UCHAR TDI_SEND = 0x07;
constexpr UCHAR TDI_RECEIVE = 0x08;
constexpr UCHAR TDI_SET_EVENT_HANDLER = 0x0A;

constexpr ULONG TDI_RECEIVE_NORMAL = 0x20;
constexpr ULONG TDI_DISCONNECT_ABORT = 0x02;
constexpr ULONG TDI_DISCONNECT_RELEASE = 0x04;
constexpr LONG TDI_EVENT_DISCONNECT = 1;
constexpr USHORT TDI_ADDRESS_TYPE_IP = 2;
constexpr USHORT TDI_ADDRESS_LENGTH_IP = 14;

inline constexpr char TdiTransportAddress[] = "TransportAddress";
inline constexpr char TdiConnectionContext[] = "ConnectionContext";
inline constexpr int TDI_TRANSPORT_ADDRESS_LENGTH = 16;
inline constexpr int TDI_CONNECTION_CONTEXT_LENGTH = 17;

#pragma pack(push, 1)
struct TDI_ADDRESS_IP {
  USHORT sin_port;  // network order
  ULONG in_addr;    // network order
  UCHAR sin_zero[8];
};
struct TA_IP_ADDRESS {
  LONG TAAddressCount;
  struct {
    USHORT AddressLength;
    USHORT AddressType;
    TDI_ADDRESS_IP Address[1];
  } Address[1];
};
#pragma pack(pop)
static_assert(sizeof(TDI_ADDRESS_IP) == 14);
static_assert(sizeof(TA_IP_ADDRESS) == 22);

struct FILE_FULL_EA_INFORMATION {
  ULONG NextEntryOffset;
  UCHAR Flags;
  UCHAR EaNameLength;  // without the terminating zero
  USHORT EaValueLength;
  CHAR EaName[1];  // the name, its zero, then the value
};
using PFILE_FULL_EA_INFORMATION = FILE_FULL_EA_INFORMATION*;

struct TDI_CONNECTION_INFORMATION {
  LONG UserDataLength;
  PVOID UserData;
  LONG OptionsLength;
  PVOID Options;
  LONG RemoteAddressLength;
  PVOID RemoteAddress;
};
using PTDI_CONNECTION_INFORMATION = TDI_CONNECTION_INFORMATION*;

// Parameters of the requests, laid over the stack location's Parameters.
struct TDI_REQUEST_KERNEL_ASSOCIATE {
  HANDLE AddressHandle;
  PFILE_OBJECT AddressObject;
};
struct TDI_REQUEST_KERNEL {
  ULONG_PTR RequestFlags;
  PTDI_CONNECTION_INFORMATION RequestConnectionInformation;
  PTDI_CONNECTION_INFORMATION ReturnConnectionInformation;
  PVOID RequestSpecific;  // connect and disconnect: PLARGE_INTEGER time-out, relative
};
using TDI_REQUEST_KERNEL_CONNECT = TDI_REQUEST_KERNEL;
using TDI_REQUEST_KERNEL_DISCONNECT = TDI_REQUEST_KERNEL;
struct TDI_REQUEST_KERNEL_SEND {
  ULONG SendLength;
  ULONG SendFlags;
};
struct TDI_REQUEST_KERNEL_RECEIVE {
  ULONG ReceiveLength;
  ULONG ReceiveFlags;
};
struct TDI_REQUEST_KERNEL_SET_EVENT {
  LONG EventType;
  PVOID EventHandler;
  PVOID EventContext;
};

using PTDI_IND_DISCONNECT = NTSTATUS (*)(PVOID tdiEventContext, PVOID connectionContext, LONG disconnectDataLength,
                                         PVOID disconnectData, LONG disconnectInformationLength,
                                         PVOID disconnectInformation, ULONG disconnectFlags);

// Opens "\Device\Tcp" objects: an address (extended attribute "TransportAddress") or a connection endpoint
// ("ConnectionContext"). The handle is a kernel handle.
constexpr ULONG FILE_OPEN_IF = 3;
constexpr ACCESS_MASK FILE_READ_EA = 0x0008;
constexpr ACCESS_MASK FILE_WRITE_EA = 0x0010;
NTSTATUS ZwCreateFile(PHANDLE fileHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES objectAttributes,
                      PIO_STATUS_BLOCK ioStatusBlock, PLARGE_INTEGER allocationSize, ULONG fileAttributes,
                      ULONG shareAccess, ULONG createDisposition, ULONG createOptions, PVOID eaBuffer, ULONG eaLength);

// Fills the next stack location of an IRP for one TDI request (the TdiBuild* helpers).
inline void TdiBuildRequest(PIRP irp, PDEVICE_OBJECT device, PFILE_OBJECT file, UCHAR minor,
                            PIO_COMPLETION_ROUTINE routine, PVOID context) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  next->MinorFunction = minor;
  next->DeviceObject = device;
  next->FileObject = file;
  next->CompletionRoutine = nullptr;
  next->Context = nullptr;
  next->Control = 0;
  if (routine) IoSetCompletionRoutine(irp, routine, context, TRUE, TRUE, TRUE);
}
// The parameters of a request are copied in and out of the stack location's bytes (no type punning).
template <class Parameters>
void TdiSetParameters(PIRP irp, const Parameters& parameters) {
  static_assert(sizeof(Parameters) <= sizeof(IO_STACK_LOCATION::Parameters));
  __builtin_memcpy(&IoGetNextIrpStackLocation(irp)->Parameters, &parameters, sizeof parameters);
}
template <class Parameters>
Parameters TdiGetParameters(PIO_STACK_LOCATION stack) {
  static_assert(sizeof(Parameters) <= sizeof(IO_STACK_LOCATION::Parameters));
  Parameters parameters;
  __builtin_memcpy(&parameters, &stack->Parameters, sizeof parameters);
  return parameters;
}
