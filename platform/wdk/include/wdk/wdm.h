// The kernel interface that drivers hosted by the kernel host program against: driver and device objects,
// IRPs with their stack locations and completion routines, plug and play, device interfaces, spin locks
// with a per-thread IRQL, events, pool memory with tags, object references, lists and counted strings.
// Names, types and semantics follow the platform's; everything is our own reduced version of it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "wdk/ntstatus.h"
#include "wincommon/access.h"
#include "wincommon/interlocked.h"
#include "wincommon/ioctl.h"
#include "wincommon/types.h"

using BOOLEAN = UCHAR;
using PBOOLEAN = BOOLEAN*;
using CCHAR = char;
using CSHORT = int16_t;
using SIZE_T = size_t;
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KPRIORITY = LONG;
using KPROCESSOR_MODE = CCHAR;
using ACCESS_MASK = ULONG;
using PULONG = ULONG*;
using PUCHAR = UCHAR*;
using PCHAR = CHAR*;
using PWCHAR = WCHAR*;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using PCSTR = const char*;
using PNTSTATUS = NTSTATUS*;
using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;

#define IN
#define OUT
#define OPTIONAL
#define NTAPI
#define DRIVER_DISPATCH_API

constexpr KPROCESSOR_MODE KernelMode = 0;
constexpr KPROCESSOR_MODE UserMode = 1;

constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;


union LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

// ---- Lists -------------------------------------------------------------------------------------------------

struct LIST_ENTRY {
  LIST_ENTRY* Flink;
  LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

#define CONTAINING_RECORD(address, type, field) \
  (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

inline void InitializeListHead(PLIST_ENTRY head) { head->Flink = head->Blink = head; }
inline bool IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head; }
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  PLIST_ENTRY next = entry->Flink, prev = entry->Blink;
  prev->Flink = next;
  next->Blink = prev;
  return next == prev;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink;
  RemoveEntryList(entry);
  return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Blink;
  RemoveEntryList(entry);
  return entry;
}
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY last = head->Blink;
  entry->Flink = head;
  entry->Blink = last;
  last->Flink = entry;
  head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY first = head->Flink;
  entry->Flink = first;
  entry->Blink = head;
  first->Blink = entry;
  head->Flink = entry;
}

// ---- Counted strings ---------------------------------------------------------------------------------------

struct UNICODE_STRING {
  USHORT Length;         // bytes, without a terminator
  USHORT MaximumLength;  // bytes of Buffer
  PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
// Frees a string whose buffer the kernel allocated (e.g. a symbolic link name).
void RtlFreeUnicodeString(PUNICODE_STRING string);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive);

inline void RtlZeroMemory(void* destination, SIZE_T length) {
  if (length) __builtin_memset(destination, 0, length);
}
inline void RtlCopyMemory(void* destination, const void* source, SIZE_T length) {
  if (length) __builtin_memcpy(destination, source, length);
}
inline void RtlMoveMemory(void* destination, const void* source, SIZE_T length) {
  if (length) __builtin_memmove(destination, source, length);
}

// ---- Pool --------------------------------------------------------------------------------------------------

enum POOL_TYPE { NonPagedPool = 0, PagedPool = 1, NonPagedPoolNx = 512 };

// A pool tag from its four characters as they lie in memory (and read in a pool dump): PoolTag("ZUzi").
constexpr ULONG PoolTag(const char (&text)[5]) {
  return static_cast<ULONG>(static_cast<UCHAR>(text[0])) | (static_cast<ULONG>(static_cast<UCHAR>(text[1])) << 8) |
         (static_cast<ULONG>(static_cast<UCHAR>(text[2])) << 16) |
         (static_cast<ULONG>(static_cast<UCHAR>(text[3])) << 24);
}

PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
PVOID ExAllocatePool(POOL_TYPE poolType, SIZE_T numberOfBytes);
// The tag must be the one the block was allocated with (else the kernel stops, as on a bad pool call).
void ExFreePoolWithTag(PVOID p, ULONG tag);
void ExFreePool(PVOID p);

// ---- IRQL and spin locks -----------------------------------------------------------------------------------

KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
void KeLowerIrql(KIRQL newIrql);
void KeInitializeSpinLock(PKSPIN_LOCK spinLock);
void KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql);
void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock);
void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock);

// Stops the kernel host with a message: the stand-in's bug check.
[[noreturn]] void KeBugCheckEx(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4);
constexpr ULONG IRQL_NOT_LESS_OR_EQUAL = 0x0A;
constexpr ULONG BAD_POOL_CALLER = 0xC2;
constexpr ULONG MULTIPLE_IRP_COMPLETE_REQUESTS = 0x44;
constexpr ULONG NO_MORE_IRP_STACK_LOCATIONS = 0x35;
constexpr ULONG INVALID_OBJECT_REFERENCE = 0x18;

// ---- Dispatcher objects ------------------------------------------------------------------------------------

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum KWAIT_REASON { Executive = 0, UserRequest = 6 };

struct DISPATCHER_HEADER {
  UCHAR Type;  // the EVENT_TYPE, or a type private to the object manager
  UCHAR Reserved[3];
  LONG SignalState;
};

struct KEVENT {
  DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// Returns the previous signal state.
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
void KeClearEvent(PRKEVENT event);
LONG KeResetEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);
// Waits for an event. A null timeout waits forever; a negative one is relative, in 100 ns units; zero only
// tests. STATUS_SUCCESS or STATUS_TIMEOUT. Waiting (timeout not zero) above APC_LEVEL stops the kernel.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout);

// ---- Objects -----------------------------------------------------------------------------------------------

struct OBJECT_TYPE;
using POBJECT_TYPE = OBJECT_TYPE*;
extern POBJECT_TYPE* ExEventObjectType;
extern POBJECT_TYPE* IoFileObjectType;

struct OBJECT_HANDLE_INFORMATION {
  ULONG HandleAttributes;
  ACCESS_MASK GrantedAccess;
};
using POBJECT_HANDLE_INFORMATION = OBJECT_HANDLE_INFORMATION*;

// Resolves a handle to a referenced object. With UserMode the handle belongs to the process whose request
// is being handled on this thread (an event of that process: setting the object sets the process's event).
NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK desiredAccess, POBJECT_TYPE objectType,
                                   KPROCESSOR_MODE accessMode, PVOID* object,
                                   POBJECT_HANDLE_INFORMATION handleInformation);
// For objects made by the kernel (device objects, referenced events).
void ObReferenceObject(PVOID object);
void ObDereferenceObject(PVOID object);
#define ObfReferenceObject ObReferenceObject
#define ObfDereferenceObject ObDereferenceObject

// ---- Driver, device and file objects -----------------------------------------------------------------------

struct DRIVER_OBJECT;
struct DEVICE_OBJECT;
struct IRP;
struct FILE_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PIRP = IRP*;
using PFILE_OBJECT = FILE_OBJECT*;

using PDRIVER_INITIALIZE = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
using PDRIVER_ADD_DEVICE = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject);
using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT driverObject);
using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
using DRIVER_INITIALIZE = NTSTATUS(PDRIVER_OBJECT, PUNICODE_STRING);
using DRIVER_ADD_DEVICE = NTSTATUS(PDRIVER_OBJECT, PDEVICE_OBJECT);
using DRIVER_DISPATCH = NTSTATUS(PDEVICE_OBJECT, PIRP);
using DRIVER_UNLOAD = void(PDRIVER_OBJECT);
using IO_COMPLETION_ROUTINE = NTSTATUS(PDEVICE_OBJECT, PIRP, PVOID);

constexpr UCHAR IRP_MJ_CREATE = 0x00;
constexpr UCHAR IRP_MJ_CLOSE = 0x02;
constexpr UCHAR IRP_MJ_READ = 0x03;
constexpr UCHAR IRP_MJ_WRITE = 0x04;
constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0E;
constexpr UCHAR IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;
constexpr UCHAR IRP_MJ_SHUTDOWN = 0x10;
constexpr UCHAR IRP_MJ_CLEANUP = 0x12;
constexpr UCHAR IRP_MJ_POWER = 0x16;
constexpr UCHAR IRP_MJ_SYSTEM_CONTROL = 0x17;
constexpr UCHAR IRP_MJ_PNP = 0x1B;
constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1B;

constexpr UCHAR IRP_MN_START_DEVICE = 0x00;
constexpr UCHAR IRP_MN_QUERY_REMOVE_DEVICE = 0x01;
constexpr UCHAR IRP_MN_REMOVE_DEVICE = 0x02;
constexpr UCHAR IRP_MN_CANCEL_REMOVE_DEVICE = 0x03;
constexpr UCHAR IRP_MN_STOP_DEVICE = 0x04;
constexpr UCHAR IRP_MN_QUERY_STOP_DEVICE = 0x05;
constexpr UCHAR IRP_MN_CANCEL_STOP_DEVICE = 0x06;
constexpr UCHAR IRP_MN_QUERY_DEVICE_RELATIONS = 0x07;
constexpr UCHAR IRP_MN_QUERY_INTERFACE = 0x08;
constexpr UCHAR IRP_MN_QUERY_CAPABILITIES = 0x09;
constexpr UCHAR IRP_MN_QUERY_RESOURCES = 0x0A;
constexpr UCHAR IRP_MN_QUERY_RESOURCE_REQUIREMENTS = 0x0B;
constexpr UCHAR IRP_MN_QUERY_DEVICE_TEXT = 0x0C;
constexpr UCHAR IRP_MN_FILTER_RESOURCE_REQUIREMENTS = 0x0D;
constexpr UCHAR IRP_MN_READ_CONFIG = 0x0F;
constexpr UCHAR IRP_MN_WRITE_CONFIG = 0x10;
constexpr UCHAR IRP_MN_EJECT = 0x11;
constexpr UCHAR IRP_MN_SET_LOCK = 0x12;
constexpr UCHAR IRP_MN_QUERY_ID = 0x13;
constexpr UCHAR IRP_MN_QUERY_PNP_DEVICE_STATE = 0x14;
constexpr UCHAR IRP_MN_QUERY_BUS_INFORMATION = 0x15;
constexpr UCHAR IRP_MN_DEVICE_USAGE_NOTIFICATION = 0x16;
constexpr UCHAR IRP_MN_SURPRISE_REMOVAL = 0x17;

enum DEVICE_RELATION_TYPE {
  BusRelations = 0,
  EjectionRelations = 1,
  PowerRelations = 2,
  RemovalRelations = 3,
  TargetDeviceRelation = 4,
};

enum BUS_QUERY_ID_TYPE {
  BusQueryDeviceID = 0,
  BusQueryHardwareIDs = 1,
  BusQueryCompatibleIDs = 2,
  BusQueryInstanceID = 3,
};

struct DEVICE_RELATIONS {
  ULONG Count;
  PDEVICE_OBJECT Objects[1];
};
using PDEVICE_RELATIONS = DEVICE_RELATIONS*;

// Device object flags.
constexpr ULONG DO_EXCLUSIVE = 0x00000008;
constexpr ULONG DO_BUFFERED_IO = 0x00000004;
constexpr ULONG DO_DIRECT_IO = 0x00000010;
constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;
constexpr ULONG DO_POWER_PAGABLE = 0x00002000;
constexpr ULONG DO_BUS_ENUMERATED_DEVICE = 0x00001000;
// Characteristics.
constexpr ULONG FILE_DEVICE_SECURE_OPEN = 0x00000100;
constexpr ULONG FILE_AUTOGENERATED_DEVICE_NAME = 0x00000080;

struct DRIVER_EXTENSION {
  PDRIVER_OBJECT DriverObject;
  PDRIVER_ADD_DEVICE AddDevice;
  ULONG Count;
  UNICODE_STRING ServiceKeyName;
};
using PDRIVER_EXTENSION = DRIVER_EXTENSION*;

struct DRIVER_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;  // the driver's devices, newest first, linked by NextDevice
  ULONG Flags;
  PDRIVER_EXTENSION DriverExtension;
  UNICODE_STRING DriverName;
  PDRIVER_INITIALIZE DriverInit;
  PDRIVER_UNLOAD DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

// What the object manager keeps per device besides the driver-visible fields.
struct DEVOBJ_EXTENSION {
  PDEVICE_OBJECT DeviceObject;
  PDEVICE_OBJECT AttachedTo;  // the device this one sits on, if any
  PVOID DeviceNode;           // set on a device that plug and play knows as a physical device
  LONG OpenCount;
  BOOLEAN DeletePending;
};
using PDEVOBJ_EXTENSION = DEVOBJ_EXTENSION*;

struct DEVICE_OBJECT {
  CSHORT Type;
  USHORT Size;
  LONG ReferenceCount;
  PDRIVER_OBJECT DriverObject;
  PDEVICE_OBJECT NextDevice;
  PDEVICE_OBJECT AttachedDevice;  // the device attached on top of this one
  PIRP CurrentIrp;
  ULONG Flags;
  ULONG Characteristics;
  PVOID DeviceExtension;
  DEVICE_TYPE DeviceType;
  CCHAR StackSize;
  ULONG AlignmentRequirement;
  PDEVOBJ_EXTENSION DeviceObjectExtension;
};

struct FILE_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PVOID FsContext;
  PVOID FsContext2;
  ACCESS_MASK DesiredAccess;
};

// ---- Power -------------------------------------------------------------------------------------------------

enum SYSTEM_POWER_STATE {
  PowerSystemUnspecified = 0,
  PowerSystemWorking = 1,
  PowerSystemSleeping1 = 2,
  PowerSystemSleeping2 = 3,
  PowerSystemSleeping3 = 4,
  PowerSystemHibernate = 5,
  PowerSystemShutdown = 6,
  PowerSystemMaximum = 7,
};
enum DEVICE_POWER_STATE {
  PowerDeviceUnspecified = 0,
  PowerDeviceD0 = 1,
  PowerDeviceD1 = 2,
  PowerDeviceD2 = 3,
  PowerDeviceD3 = 4,
  PowerDeviceMaximum = 5,
};
enum POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState = 1 };
union POWER_STATE {
  SYSTEM_POWER_STATE SystemState;
  DEVICE_POWER_STATE DeviceState;
};
enum POWER_ACTION { PowerActionNone = 0, PowerActionSleep = 2, PowerActionHibernate = 3, PowerActionShutdown = 4 };

constexpr UCHAR IRP_MN_WAIT_WAKE = 0x00;
constexpr UCHAR IRP_MN_POWER_SEQUENCE = 0x01;
constexpr UCHAR IRP_MN_SET_POWER = 0x02;
constexpr UCHAR IRP_MN_QUERY_POWER = 0x03;

enum DEVICE_TEXT_TYPE { DeviceTextDescription = 0, DeviceTextLocationInformation = 1 };

struct INTERFACE;
struct DEVICE_CAPABILITIES;

// ---- IRPs --------------------------------------------------------------------------------------------------

struct IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

constexpr UCHAR SL_PENDING_RETURNED = 0x01;
constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

struct IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      ACCESS_MASK DesiredAccess;
      ULONG Options;
      USHORT ShareAccess;
    } Create;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Read;
    struct {
      ULONG Length;
      ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Write;
    struct {
      ULONG OutputBufferLength;
      ULONG InputBufferLength;
      ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct {
      DEVICE_RELATION_TYPE Type;
    } QueryDeviceRelations;
    struct {
      BUS_QUERY_ID_TYPE IdType;
    } QueryId;
    struct {
      const GUID* InterfaceType;
      USHORT Size;
      USHORT Version;
      INTERFACE* Interface;
      PVOID InterfaceSpecificData;
    } QueryInterface;
    struct {
      DEVICE_CAPABILITIES* Capabilities;
    } DeviceCapabilities;
    struct {
      DEVICE_TEXT_TYPE DeviceTextType;
      ULONG LocaleId;
    } QueryDeviceText;
    struct {
      ULONG SystemContext;
      POWER_STATE_TYPE Type;
      POWER_STATE State;
      POWER_ACTION ShutdownType;
    } Power;
    struct {
      ULONG_PTR ProviderId;
      PVOID DataPath;
      ULONG BufferSize;
      PVOID Buffer;
    } WMI;
    struct {
      PVOID Argument1;
      PVOID Argument2;
      PVOID Argument3;
      PVOID Argument4;
    } Others;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

struct IrpHostData;  // the I/O manager's own bookkeeping for IRPs it built

struct IRP {
  CSHORT Type;
  USHORT Size;
  ULONG Flags;
  union {
    PIRP MasterIrp;
    PVOID SystemBuffer;  // METHOD_BUFFERED: input in, output out
  } AssociatedIrp;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CCHAR StackCount;
  CCHAR CurrentLocation;  // StackCount + 1 before the first IoCallDriver; 1 in the lowest driver
  BOOLEAN Cancel;
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  PVOID UserBuffer;
  struct {
    struct {
      PVOID DriverContext[4];
      LIST_ENTRY ListEntry;
      PIO_STACK_LOCATION CurrentStackLocation;
      PFILE_OBJECT OriginalFileObject;
    } Overlay;
  } Tail;
  IrpHostData* HostData;
  struct MDL* MdlAddress;
  void (*CancelRoutine)(PDEVICE_OBJECT deviceObject, IRP* irp);
  KIRQL CancelIrql;
  IO_STACK_LOCATION* Stack;  // StackCount locations, index 0 is the lowest driver's
};

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) { return irp->Tail.Overlay.CurrentStackLocation; }
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) { return irp->Tail.Overlay.CurrentStackLocation - 1; }
inline void IoMarkIrpPending(PIRP irp) { IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED; }
inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
  irp->CurrentLocation++;
  irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  *next = *current;
  next->CompletionRoutine = nullptr;
  next->Context = nullptr;
  next->Control = 0;
}
inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN onSuccess,
                                   BOOLEAN onError, BOOLEAN onCancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->CompletionRoutine = routine;
  next->Context = context;
  next->Control = 0;
  if (onSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (onError) next->Control |= SL_INVOKE_ON_ERROR;
  if (onCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

constexpr CCHAR IO_NO_INCREMENT = 0;

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoFreeIrp(PIRP irp);
// Builds a synchronous I/O control request: METHOD_BUFFERED codes get a system buffer; on completion the
// output is copied back, *ioStatusBlock filled, the event set and the IRP freed.
PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject, PVOID inputBuffer,
                                   ULONG inputBufferLength, PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock);
NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
void IoCompleteRequest(PIRP irp, CCHAR priorityBoost);
#define IofCallDriver IoCallDriver
#define IofCompleteRequest IoCompleteRequest

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                        DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* deviceObject);
void IoDeleteDevice(PDEVICE_OBJECT deviceObject);
// Attaches source on top of the stack that target belongs to; returns the device it was attached to.
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT sourceDevice, PDEVICE_OBJECT targetDevice);
void IoDetachDevice(PDEVICE_OBJECT targetDevice);
// The top of the stack that device belongs to (referenced by the ...Reference form).
PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT deviceObject);
PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject);

// ---- Plug and play -----------------------------------------------------------------------------------------

// Asks plug and play to query the device's relations of that type again (asynchronously).
void IoInvalidateDeviceRelations(PDEVICE_OBJECT deviceObject, DEVICE_RELATION_TYPE type);
NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject, const GUID* interfaceClassGuid,
                                   PUNICODE_STRING referenceString, PUNICODE_STRING symbolicLinkName);
NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable);

// ---- Debug output ------------------------------------------------------------------------------------------

ULONG DbgPrint(PCSTR format, ...) __attribute__((format(printf, 1, 2)));
