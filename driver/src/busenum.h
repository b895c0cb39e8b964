// pelkobus's own declarations: device extensions, driver-wide values, and the routines each source
// provides to the others.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "pelkobus/busenum.h"
#include "pelkobus/records.h"
#include "wdk/ntddk.h"
#include "wdk/tdi.h"
#include "wdk/wmilib.h"
#include "zarnet/negotiation.h"

namespace pelkobus {

// ---- Driver-wide values -------------------------------------------------------------------------------

inline const ULONG BUS_POOL_TAG = PoolTag("ZUzi");
inline const ULONG IRPW_TAG = PoolTag("IrpW");
inline const ULONG IRPR_TAG = PoolTag("IrpR");

struct Globals {
  UNICODE_STRING RegistryPath;
  ULONG MaxConfigDescCount = 0;
  ULONG MaxInterfaceCount = 0;
  ULONG MaxPipeCount = 0;
  ULONG MaxIrpContextCount = 0;
  ULONG AutoconnectDelay = 0;
  ULONG BusTraceMask = 0x40000;
  ULONG BusTraceLevel = 0x888888;
  LIST_ENTRY ServerList;
  FAST_MUTEX ServerListLock;
  PDEVICE_OBJECT ControlDevice = nullptr;
  std::atomic<uint32_t> NegotiationTimeoutMs{10000};
  std::atomic<uint32_t> PrinterRetryMs{5000};
  std::atomic<uint32_t> ConnectTimeoutMs{180000};
  std::atomic<uint32_t> IsochHoldBackMs{5};
  std::atomic<long> LiveChildren{0};
};
extern Globals g;

// Trace gating: a message is printed only when its bit is set in the word it belongs to.
#define TRACE_MASK(bit, ...)                                  \
  do {                                                        \
    if (::pelkobus::g.BusTraceMask & (bit)) DbgPrint(__VA_ARGS__); \
  } while (0)
#define TRACE_LEVEL(bit, ...)                                  \
  do {                                                         \
    if (::pelkobus::g.BusTraceLevel & (bit)) DbgPrint(__VA_ARGS__); \
  } while (0)
#define TRACE_DEVICE(common, bit, ...)                  \
  do {                                                  \
    if ((common)->DebugLevel & (bit)) DbgPrint(__VA_ARGS__); \
  } while (0)

constexpr NTSTATUS STATUS_NEGOTIATION_PENDING = 0x8000;

// ---- Extensions --------------------------------------------------------------------------------------

enum DEVICE_PNP_STATE : ULONG {
  NotStarted = 0,
  AccessPending = 1,
  Started = 2,
  StopPending = 3,
  Stopped = 4,
  RemovePending = 5,
  SurpriseRemovePending = 6,
  Deleted = 7,
};
enum QUEUE_STATE : ULONG { HoldRequests = 0, AllowRequests = 1, FailRequests = 2 };

struct COMMON_DEVICE_DATA {
  PDEVICE_OBJECT Self;
  UCHAR IsFDO;
  // Changed by plug and play, the sender's unplug and the start work item alike.
  std::atomic<ULONG> DevicePnPState;
  std::atomic<ULONG> PreviousPnPState;
  ULONG DebugLevel;
  ULONG SystemPowerState;
  ULONG PrevSystemPowerState;
  ULONG DevicePowerState;
  ULONG PrevDevicePowerState;
};

inline void SetNewPnpState(COMMON_DEVICE_DATA* c, ULONG state) {
  c->PreviousPnPState = c->DevicePnPState.load();
  c->DevicePnPState = state;
}
inline void RestorePreviousPnpState(COMMON_DEVICE_DATA* c) { c->DevicePnPState = c->PreviousPnPState.load(); }

struct BUS_WMI_STD_DATA {
  ULONG ErrorCount;
  ULONG DebugPrintLevel;
};

struct FDO_DEVICE_DATA {
  COMMON_DEVICE_DATA Common;
  ULONG PnpEventCode;
  PDEVICE_OBJECT UnderlyingPDO;
  PDEVICE_OBJECT NextLowerDriver;
  KEVENT RemoveEvent;
  KEVENT StopEvent;
  WMILIB_CONTEXT WmiLibInfo;
  BUS_WMI_STD_DATA StdBusData;
  ULONG QueueState;
  LIST_ENTRY PendingQueue;
  KSPIN_LOCK PendingQueueLock;
  LIST_ENTRY Link;  // in the server list
  ULONG ServerIpFdo;
  LONG OutstandingIO;
  LIST_ENTRY ListOfPDOs;
  ULONG NumPDOs;
  FAST_MUTEX Mutex;  // the child list and count
  // The control device's own.
  UNICODE_STRING InterfaceName;
  PKEVENT PnpEvent;
  PKEVENT hDevArRmRspEvent;
  LIST_ENTRY DeviceArRmReqsList;
  KSPIN_LOCK DeviceArRmReqsLock;
};

struct PDO_DEVICE_DATA;
struct SOCK_CONTEXT;

// Negotiation command: the message sent byte for byte and the reply area.
struct NEGCOMMAND {
  ULONG Index;
  LIST_ENTRY Link;      // in the negotiation pool
  LIST_ENTRY FbkLink;   // in the FBK's command list
  ULONG MessageLength;
  UCHAR CommandId;
  UCHAR Message[zarnet::kNegRecordMax];
  UCHAR Reply[zarnet::kNegRecordMax];
  ULONG ReplyLength;  // expected, then received
};

// Pool records (the request path of the next layer fills them in).
constexpr ULONG RFC_HEADER_SIZE = 56;
constexpr ULONG MAX_DATA_SIZE = 0x10000;
constexpr ULONG SEND_BUFFER_SIZE = RFC_HEADER_SIZE + MAX_DATA_SIZE;
constexpr ULONG MAX_CONFIGDESC_SIZE = 2048;
constexpr ULONG ISOPKT_DESC_SIZE = 4096;

struct PIPE;
struct ISOPKT;
struct IRP_CONTEXT {
  ULONG Index;
  LIST_ENTRY Link;      // free or used list
  LIST_ENTRY PipeLink;  // queued on a pipe
  LIST_ENTRY ExtraLink;
  UCHAR Header[RFC_HEADER_SIZE];
  PIRP Irp;
  PIPE* Pipe;
  ISOPKT* IsoPkt;
  ULONG CompletionState;
  UCHAR Local;
};
struct PIPE {
  ULONG Index;
  ULONG PortNum;
  ULONG InterfaceNumber;
  ULONG AlternateSetting;
  ULONG PipeNumber;
  ULONG SeqNo;
  PDO_DEVICE_DATA* Pdo;
  PVOID Endpoint;
  PVOID TransferList;
  LIST_ENTRY RequestQueue;
  LIST_ENTRY Link;
  LIST_ENTRY RingLink;
  LIST_ENTRY Head;
  LIST_ENTRY TypeLink;
  PVOID NextToSend;
  ULONG Counters[4];
  KDPC IsoDpc;
  KTIMER IsoTimer;
  UCHAR TimerSet;
  UCHAR Accumulate;
  LONGLONG DueTime;
};
struct CONFIGDESC {
  ULONG Index;
  LIST_ENTRY Link;
  ULONG Length;
  UCHAR Buffer[MAX_CONFIGDESC_SIZE];
};
struct ISOPKT {
  ULONG Index;
  LIST_ENTRY Link;
  ULONG DescLength;
  UCHAR Desc[ISOPKT_DESC_SIZE];
};
struct INTF {
  ULONG Index;
  LIST_ENTRY Link;
  uint64_t Handle;
  ULONG Number;
  LIST_ENTRY Lists[3];
};

// The child's send-scheduling block: what the request path of the next layer hangs its queues on.
constexpr int kTransferTypes = 4;
constexpr ULONG kMaxTransferListEntries = 10;
struct FBK {
  PDO_DEVICE_DATA* Pdo;
  SOCK_CONTEXT* SockContext;
  LIST_ENTRY NegCommands;
  PIPE* DefaultPipe;
  LIST_ENTRY TransferLists[kTransferTypes];
  ULONG TransferCounts[kTransferTypes];
};

// One send or receive record with its reusable IRP.
struct TDI_IRP_RECORD {
  PIRP Irp;
  KEVENT Event;
  PIO_COMPLETION_ROUTINE Routine;
  PIO_STATUS_BLOCK IoStatus;
  PDO_DEVICE_DATA* Pdo;
  PUCHAR Buffer;
  ULONG ulBufflen;
  ULONG Transferred;
  PMDL Mdl;
  UCHAR Synchronous;
  NTSTATUS Status;
  LIST_ENTRY Link;
  ULONG Tag;
};
constexpr ULONG RECV_BUFFER_SIZE = 10240;
constexpr int kIrpRecordsPerList = 10;

enum CONN_STATE : ULONG { ConnDisconnected = 0, ConnConnecting = 1, ConnConnected = 2, ConnDisconnecting = 3 };

struct SOCK_CONTEXT {
  ULONG ServerIp;   // network order
  USHORT DataPort;  // network order
  HANDLE AddressHandle;
  HANDLE ConnectionHandle;
  PFILE_OBJECT AddressObject;
  PFILE_OBJECT ConnectionObject;
  std::atomic<ULONG> ConnState;  // changed under the connect mutex, read anywhere
  LIST_ENTRY SendFree, SendBusy;
  LIST_ENTRY RecvFree, RecvBusy;
  KMUTEX ConnectMutex;
  KEVENT StartDone;
  KEVENT Spare[4];
  KEVENT kExitTdiRecvThread;
  NTSTATUS StartStatus;
  UCHAR Reserved;
  volatile LONG RecvThreadRunning;
  PETHREAD RecvThread;
  PDO_DEVICE_DATA* Pdo;
  ULONG Timeouts[3];
  FBK* Fbk;
};

// Where received bytes go once the response path exists; until then they are dropped.
using ResponseSink = void (*)(PDO_DEVICE_DATA* pdo, const UCHAR* data, ULONG length);

struct PDO_DEVICE_DATA {
  COMMON_DEVICE_DATA Common;
  ULONG PnpEventCode;
  FDO_DEVICE_DATA* ParentFdo;
  PUCHAR Ids;
  ULONG HardwareIdSize;
  ULONG TotalSize;
  LIST_ENTRY Link;
  std::atomic<UCHAR> Present;
  std::atomic<UCHAR> ReportedMissing;
  ULONG PortNum;
  volatile LONG InterfaceRefCount;
  ULONG ServerId;
  ULONG ServerIp;
  KSPIN_LOCK Lock;
  FBK* Fbk;
  SOCK_CONTEXT* SockContext;
  PVOID SendState;
  PVOID DescCache;
  PUCHAR TraceTable;
  ULONG TraceIndex;
  ResponseSink OnResponse;
  // Pools.
  PUCHAR SendBuffer;
  ULONG SendBufferCapacity;
  ULONG SendBufferFill;
  LIST_ENTRY IrpContextFree, IrpContextUsed;
  LIST_ENTRY PipeFree, PipeUsed;
  LIST_ENTRY ConfigDescFree, ConfigDescUsed;
  LIST_ENTRY IsoPktFree, IsoPktUsed;
  LIST_ENTRY IntfFree, IntfUsed;
  LIST_ENTRY NegCommandPool;
  BOOLEAN PoolsBuilt;
  DEVICE_ARRIVALREMOVAL_INFO* KeptRecord;
  UCHAR OldSystem;
  std::atomic<UCHAR> PortStatus;
  KTIMER PrinterTimer;
  LARGE_INTEGER PrinterDue;
  KDPC PrinterDpc;
  // A queued or running printer retry; destroy waits until it is done.
  volatile LONG RetryActive;
  KEVENT RetryIdle;
  std::atomic<UCHAR> SeenByPnp;  // listed in a bus-relations answer: its removal is plug and play's
};

inline FDO_DEVICE_DATA* FdoData(PDEVICE_OBJECT d) { return static_cast<FDO_DEVICE_DATA*>(d->DeviceExtension); }
inline PDO_DEVICE_DATA* PdoData(PDEVICE_OBJECT d) { return static_cast<PDO_DEVICE_DATA*>(d->DeviceExtension); }
inline COMMON_DEVICE_DATA* CommonData(PDEVICE_OBJECT d) { return static_cast<COMMON_DEVICE_DATA*>(d->DeviceExtension); }

std::u16string tavrin_widen(const char* text);  // an ASCII name as a wide string

// ---- Routines ----------------------------------------------------------------------------------------

// Entry and dispatch (entry.cpp).
void Bus_IncrementIoCount(FDO_DEVICE_DATA* fdo);
void Bus_DecrementIoCount(FDO_DEVICE_DATA* fdo);
NTSTATUS Bus_SendDownAndWait(PDEVICE_OBJECT lower, PIRP irp);
NTSTATUS Bus_WmiRegistration(FDO_DEVICE_DATA* fdo);
NTSTATUS Bus_WmiDeRegistration(FDO_DEVICE_DATA* fdo);
const char* PnPMinorFunctionString(UCHAR minor);
const char* DbgDeviceRelationString(ULONG type);
const char* DbgDeviceIDString(ULONG type);
const char* PowerMinorFunctionString(UCHAR minor);
const char* DbgSystemPowerString(ULONG state);
const char* DbgDevicePowerString(ULONG state);
const char* WMIMinorFunctionString(UCHAR minor);

// Bus devices (busfdo.cpp).
NTSTATUS Bus_AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
NTSTATUS Bus_FDO_PnP(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack, FDO_DEVICE_DATA* fdo);
NTSTATUS Bus_FDO_Power(FDO_DEVICE_DATA* fdo, PIRP irp);

// Control device (control.cpp).
NTSTATUS RedirectorCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS RedirectorIoCtl(PDEVICE_OBJECT device, PIRP irp);
void RedirectorCleanup(FDO_DEVICE_DATA* control);
NTSTATUS UpdateRspOfDeviceArRmReqsList(const DEVICE_ARRIVALREMOVAL_INFO* record);

// Child devices (child.cpp).
NTSTATUS Bus_PlugInDevice(DEVICE_ARRIVALREMOVAL_INFO* request, FDO_DEVICE_DATA* fdo);
NTSTATUS Bus_UnPlugDevice(DEVICE_ARRIVALREMOVAL_INFO* request, FDO_DEVICE_DATA* fdo);
NTSTATUS Bus_PDO_PnP(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack, PDO_DEVICE_DATA* pdo);
NTSTATUS Bus_PDO_Power(PDO_DEVICE_DATA* pdo, PIRP irp);
void Bus_DestroyPdo(PDEVICE_OBJECT device, PDO_DEVICE_DATA* pdo);
// Takes a child that still waits for access (a printer between retries) out of its parent's list; true
// when it did, and the caller then owns the child's destruction.
bool Bus_UnlinkWaitingChild(PDO_DEVICE_DATA* pdo);
void AnswerKeptRecord(PDO_DEVICE_DATA* pdo, uint32_t status);
void SetKeptRecord(PDO_DEVICE_DATA* pdo, const DEVICE_ARRIVALREMOVAL_INFO& request);
DEVICE_ARRIVALREMOVAL_INFO ReadKeptRecord(PDO_DEVICE_DATA* pdo);

// Negotiation and printer retry (negotiate.cpp).
NTSTATUS NegotiatePelkoDeviceAccess(PDO_DEVICE_DATA* pdo);
void PrinterTimerRoutine(PKDPC dpc, PVOID context, PVOID, PVOID);

// Pools (pools.cpp).
NTSTATUS AllocatePOOL(PDO_DEVICE_DATA* pdo);
void FreePOOL(PDO_DEVICE_DATA* pdo);
NTSTATUS GetPIPE(PDO_DEVICE_DATA* pdo, PIPE** pipe);
NTSTATUS AllocateIRPCONTEXT(PDO_DEVICE_DATA* pdo, IRP_CONTEXT** context);
void ReleaseIRPCONTEXT(PDO_DEVICE_DATA* pdo, IRP_CONTEXT* context);
NTSTATUS GetNEGCOMMAND(FBK* fbk, UCHAR id, NEGCOMMAND** command);

// Network (tdinet.cpp).
SOCK_CONTEXT* TdiNetwork_InitializeTdiContext(PDO_DEVICE_DATA* pdo);
void TdiNetwork_FreeTdiContext(SOCK_CONTEXT* sock);
void TdiNetwork_ThreadWorkItem(PDEVICE_OBJECT device, PVOID context);
NTSTATUS TdiNetwork_Reconnect(SOCK_CONTEXT* sock);
NTSTATUS TdiNetwork_Disconnect(SOCK_CONTEXT* sock);
// Disconnects and closes the handles of a connected socket; one that is not connected is left alone.
NTSTATUS TdiNetwork_CloseSocket(SOCK_CONTEXT* sock);
// Opens the handles again when a close took them (a sleep while a printer waits for access).
NTSTATUS TdiNetwork_ReopenSocket(SOCK_CONTEXT* sock);
// Closes the handles whatever the state: for a child that goes.
NTSTATUS TdiNetwork_ReleaseSocket(SOCK_CONTEXT* sock);
NTSTATUS TdiNetwork_CloseThreads(PDO_DEVICE_DATA* pdo);
NTSTATUS TdiNetwork_CleanupLists(PDO_DEVICE_DATA* pdo);
NTSTATUS TdiNetwork_DisconnectAllDevices(FDO_DEVICE_DATA* control);
NTSTATUS TdiNetwork_StartReceiving(SOCK_CONTEXT* sock);  // IssueInitRECVIRP, the thread, the handler
NTSTATUS CreateSendIrp(SOCK_CONTEXT* sock, TDI_IRP_RECORD** record);
NTSTATUS CreateRecvIrp(SOCK_CONTEXT* sock, TDI_IRP_RECORD** record);
NTSTATUS FreeSendIrp(TDI_IRP_RECORD* record);
NTSTATUS FreeRecvIrp(TDI_IRP_RECORD* record);
// One synchronous exchange of a negotiation step: the whole message out, then one whole reply record in,
// within the negotiation time-out.
NTSTATUS TdiNetwork_Exchange(SOCK_CONTEXT* sock, NEGCOMMAND* command);

// USB data path (usb_*.cpp): created with the child's default pipe (which it makes the FBK's), gone
// before the pools.
NTSTATUS UsbPath_Create(PDO_DEVICE_DATA* pdo, PIPE* defaultPipe);
void UsbPath_Destroy(PDO_DEVICE_DATA* pdo);
void UsbPath_ConnectionEnded(PDO_DEVICE_DATA* pdo);  // fails every queued request
void UsbPath_SendDone(PDO_DEVICE_DATA* pdo, ULONG transferred, NTSTATUS status);
NTSTATUS Bus_InternalCtl(PDEVICE_OBJECT device, PIRP irp);
// Starts one send of `length` bytes at `buffer`; its completion reports to UsbPath_SendDone.
NTSTATUS TdiNetwork_IssueSend(SOCK_CONTEXT* sock, PUCHAR buffer, ULONG length);

}  // namespace pelkobus
