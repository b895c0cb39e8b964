// The rest of the kernel interface our bus driver programs against: fast mutexes and kernel mutexes,
// waits on several objects and on threads, timers and DPCs (run at DISPATCH_LEVEL on the stand-in's timer
// thread), work items (on its worker threads), system threads, cancel routines, MDLs, secure device
// creation, the version query, Zw registry reads from the sysroot's hive, power requests, interlocked
// operations and the plug-and-play structures of a bus driver. Names and semantics follow the platform's.
#pragma once
#include "wdk/wdm.h"

// ---- Interlocked ---------------------------------------------------------------------------------------

// InterlockedIncrement and the other LONG operations are the ones user mode has (wincommon/interlocked.h).
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// ---- Dispatcher objects beyond events ------------------------------------------------------------------

// Dispatcher header types of the objects below (events use their EVENT_TYPE).
constexpr UCHAR kDispatcherMutex = 2;
constexpr UCHAR kDispatcherThread = 6;
constexpr UCHAR kDispatcherTimer = 8;

struct KMUTEX {
  DISPATCHER_HEADER Header;  // SignalState 1 free, else held
  PVOID OwnerThread;
  LONG Recursion;
};
using PKMUTEX = KMUTEX*;
using PRKMUTEX = KMUTEX*;
void KeInitializeMutex(PRKMUTEX mutex, ULONG level);
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);

// A fast mutex: not recursive, taken at APC_LEVEL.
struct FAST_MUTEX {
  LONG Count;  // 1 free
  PVOID Owner;
  KEVENT Event;
  KIRQL OldIrql;
};
using PFAST_MUTEX = FAST_MUTEX*;
void ExInitializeFastMutex(PFAST_MUTEX mutex);
void ExAcquireFastMutex(PFAST_MUTEX mutex);
void ExReleaseFastMutex(PFAST_MUTEX mutex);

enum WAIT_TYPE { WaitAll = 0, WaitAny = 1 };
constexpr ULONG THREAD_WAIT_OBJECTS = 3;
struct KWAIT_BLOCK {
  PVOID Object;
};
using PKWAIT_BLOCK = KWAIT_BLOCK*;
// STATUS_WAIT_0 + index of the object that satisfied a WaitAny, STATUS_WAIT_0 for WaitAll, STATUS_TIMEOUT.
NTSTATUS KeWaitForMultipleObjects(ULONG count, PVOID objects[], WAIT_TYPE waitType, KWAIT_REASON waitReason,
                                  KPROCESSOR_MODE waitMode, BOOLEAN alertable, PLARGE_INTEGER timeout,
                                  PKWAIT_BLOCK waitBlockArray);
#define KeWaitForMutexObject KeWaitForSingleObject
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable, PLARGE_INTEGER interval);

// ---- Timers and DPCs -----------------------------------------------------------------------------------

struct KDPC;
using PKDPC = KDPC*;
using PKDEFERRED_ROUTINE = void (*)(PKDPC dpc, PVOID deferredContext, PVOID systemArgument1, PVOID systemArgument2);
struct KDPC {
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
  BOOLEAN Inserted;  // queued and not yet run
};
void KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE routine, PVOID context);
BOOLEAN KeInsertQueueDpc(PKDPC dpc, PVOID systemArgument1, PVOID systemArgument2);
BOOLEAN KeRemoveQueueDpc(PKDPC dpc);
// Waits until every DPC queued before the call has run.
void KeFlushQueuedDpcs();

enum TIMER_TYPE { NotificationTimer = 0, SynchronizationTimer = 1 };
struct KTIMER {
  DISPATCHER_HEADER Header;
  LONGLONG Due;  // steady-clock nanoseconds while inserted
  LONG Period;   // milliseconds, 0 one-shot
  PKDPC Dpc;
  BOOLEAN Inserted;
  UCHAR TimerType;
};
using PKTIMER = KTIMER*;
void KeInitializeTimer(PKTIMER timer);
void KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type);
// TRUE when the timer was already in the timer queue (it is then set anew).
BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc);
BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
BOOLEAN KeCancelTimer(PKTIMER timer);
BOOLEAN KeReadStateTimer(PKTIMER timer);

// ---- Work items ----------------------------------------------------------------------------------------

enum WORK_QUEUE_TYPE { CriticalWorkQueue = 0, DelayedWorkQueue = 1, HyperCriticalWorkQueue = 2 };
struct IO_WORKITEM;
using PIO_WORKITEM = IO_WORKITEM*;
using PIO_WORKITEM_ROUTINE = void (*)(PDEVICE_OBJECT deviceObject, PVOID context);
PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject);  // keeps the device referenced
void IoFreeWorkItem(PIO_WORKITEM item);
void IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE queueType, PVOID context);

// ---- System threads ------------------------------------------------------------------------------------

struct OBJECT_ATTRIBUTES;
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;
using PKSTART_ROUTINE = void (*)(PVOID startContext);
struct KTHREAD;
using PKTHREAD = KTHREAD*;
using PETHREAD = KTHREAD*;
struct CLIENT_ID {
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
};
extern POBJECT_TYPE* PsThreadType;
constexpr ACCESS_MASK THREAD_ALL_ACCESS = 0x1FFFFF;
constexpr KPRIORITY LOW_REALTIME_PRIORITY = 16;
constexpr KPRIORITY HIGH_PRIORITY = 31;
// The handle is a kernel handle (ZwClose it); waiting on the referenced thread object ends when it ends.
NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG desiredAccess, POBJECT_ATTRIBUTES objectAttributes,
                              HANDLE processHandle, CLIENT_ID* clientId, PKSTART_ROUTINE startRoutine,
                              PVOID startContext);
NTSTATUS PsTerminateSystemThread(NTSTATUS exitStatus);  // returns to the thread's start, which then ends
PKTHREAD KeGetCurrentThread();
KPRIORITY KeSetPriorityThread(PKTHREAD thread, KPRIORITY priority);
KPRIORITY KeQueryPriorityThread(PKTHREAD thread);
NTSTATUS ZwClose(HANDLE handle);

// ---- Cancel --------------------------------------------------------------------------------------------

using PDRIVER_CANCEL = void (*)(PDEVICE_OBJECT deviceObject, PIRP irp);
PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine);
void IoAcquireCancelSpinLock(PKIRQL irql);
void IoReleaseCancelSpinLock(KIRQL irql);
BOOLEAN IoCancelIrp(PIRP irp);
// Makes a finished IRP of the caller's own ready for another use.
void IoReuseIrp(PIRP irp, NTSTATUS status);

// ---- Requests the I/O manager builds -------------------------------------------------------------------

PIRP IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject, PVOID buffer, ULONG length,
                                  PLARGE_INTEGER startingOffset, PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock);
PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject);
NTSTATUS IoCreateDeviceSecure(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING deviceName,
                              DEVICE_TYPE deviceType, ULONG deviceCharacteristics, BOOLEAN exclusive,
                              PCUNICODE_STRING defaultSddlString, const GUID* deviceClassGuid,
                              PDEVICE_OBJECT* deviceObject);

// ---- MDLs (plain mappings: the stand-in shares one address space) ---------------------------------------

struct MDL {
  MDL* Next;
  PVOID StartVa;
  ULONG ByteCount;
  BOOLEAN Locked;
};
using PMDL = MDL*;
enum LOCK_OPERATION { IoReadAccess = 0, IoWriteAccess = 1, IoModifyAccess = 2 };
enum MM_PAGE_PRIORITY { LowPagePriority = 0, NormalPagePriority = 16, HighPagePriority = 32 };
PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN chargeQuota, PIRP irp);
void IoFreeMdl(PMDL mdl);
void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE accessMode, LOCK_OPERATION operation);
void MmUnlockPages(PMDL mdl);
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, MM_PAGE_PRIORITY priority);
inline ULONG MmGetMdlByteCount(PMDL mdl) { return mdl->ByteCount; }

// ---- Version -------------------------------------------------------------------------------------------

struct RTL_OSVERSIONINFOW {
  ULONG dwOSVersionInfoSize;
  ULONG dwMajorVersion;
  ULONG dwMinorVersion;
  ULONG dwBuildNumber;
  ULONG dwPlatformId;
  WCHAR szCSDVersion[128];
};
struct RTL_OSVERSIONINFOEXW {
  ULONG dwOSVersionInfoSize;
  ULONG dwMajorVersion;
  ULONG dwMinorVersion;
  ULONG dwBuildNumber;
  ULONG dwPlatformId;
  WCHAR szCSDVersion[128];
  USHORT wServicePackMajor;
  USHORT wServicePackMinor;
  USHORT wSuiteMask;
  UCHAR wProductType;
  UCHAR wReserved;
};
using PRTL_OSVERSIONINFOW = RTL_OSVERSIONINFOW*;
NTSTATUS RtlGetVersion(PRTL_OSVERSIONINFOW versionInformation);

// ---- Object attributes and the Zw registry --------------------------------------------------------------

constexpr ULONG OBJ_CASE_INSENSITIVE = 0x40;
constexpr ULONG OBJ_KERNEL_HANDLE = 0x200;
struct OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES p, PUNICODE_STRING name, ULONG attributes, HANDLE root,
                                       PVOID security) {
  p->Length = sizeof(OBJECT_ATTRIBUTES);
  p->RootDirectory = root;
  p->ObjectName = name;
  p->Attributes = attributes;
  p->SecurityDescriptor = security;
  p->SecurityQualityOfService = nullptr;
}

constexpr ACCESS_MASK KEY_QUERY_VALUE_ACCESS = 0x0001;
enum KEY_VALUE_INFORMATION_CLASS { KeyValueBasicInformation = 0, KeyValueFullInformation = 1, KeyValuePartialInformation = 2 };
struct KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
};
using PKEY_VALUE_PARTIAL_INFORMATION = KEY_VALUE_PARTIAL_INFORMATION*;
// "\Registry\Machine\..." keys of the sysroot's hive.
NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess, POBJECT_ATTRIBUTES objectAttributes);
// STATUS_BUFFER_TOO_SMALL (with *resultLength the size needed) when the information does not fit.
NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, KEY_VALUE_INFORMATION_CLASS infoClass,
                         PVOID keyValueInformation, ULONG length, PULONG resultLength);

// ---- Power ---------------------------------------------------------------------------------------------

void PoStartNextPowerIrp(PIRP irp);
NTSTATUS PoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
POWER_STATE PoSetPowerState(PDEVICE_OBJECT deviceObject, POWER_STATE_TYPE type, POWER_STATE state);

// ---- Plug-and-play structures of a bus driver -----------------------------------------------------------

struct DEVICE_CAPABILITIES {
  USHORT Size;
  USHORT Version;
  ULONG DeviceD1 : 1;
  ULONG DeviceD2 : 1;
  ULONG LockSupported : 1;
  ULONG EjectSupported : 1;
  ULONG Removable : 1;
  ULONG DockDevice : 1;
  ULONG UniqueID : 1;
  ULONG SilentInstall : 1;
  ULONG RawDeviceOK : 1;
  ULONG SurpriseRemovalOK : 1;
  ULONG WakeFromD0 : 1;
  ULONG WakeFromD1 : 1;
  ULONG WakeFromD2 : 1;
  ULONG WakeFromD3 : 1;
  ULONG HardwareDisabled : 1;
  ULONG NonDynamic : 1;
  ULONG WarmEjectSupported : 1;
  ULONG NoDisplayInUI : 1;
  ULONG Reserved1 : 1;
  ULONG WakeFromInterrupt : 1;
  ULONG SecureDevice : 1;
  ULONG ChildOfVgaEnabledBridge : 1;
  ULONG DecodeIoOnBoot : 1;
  ULONG Reserved : 9;
  ULONG Address;
  ULONG UINumber;
  DEVICE_POWER_STATE DeviceState[PowerSystemMaximum];
  SYSTEM_POWER_STATE SystemWake;
  DEVICE_POWER_STATE DeviceWake;
  ULONG D1Latency;
  ULONG D2Latency;
  ULONG D3Latency;
};
using PDEVICE_CAPABILITIES = DEVICE_CAPABILITIES*;
static_assert(sizeof(DEVICE_CAPABILITIES) == 64);

struct PNP_BUS_INFORMATION {
  GUID BusTypeGuid;
  LONG LegacyBusType;
  ULONG BusNumber;
};
using PPNP_BUS_INFORMATION = PNP_BUS_INFORMATION*;
constexpr LONG PNPBus = 15;

using PINTERFACE_REFERENCE = void (*)(PVOID context);
using PINTERFACE_DEREFERENCE = void (*)(PVOID context);
struct INTERFACE {
  USHORT Size;
  USHORT Version;
  PVOID Context;
  PINTERFACE_REFERENCE InterfaceReference;
  PINTERFACE_DEREFERENCE InterfaceDereference;
};
using PINTERFACE = INTERFACE*;
static_assert(sizeof(INTERFACE) == 32);
