// The host side of the kernel stand-in: what the kernel host program (and tests) use to run drivers. One
// Kernel at a time per process; the Io*/Ob* functions of wdm.h reach it while it exists.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wdk/wdm.h"

namespace tavrin::wdk {

// ---- User processes --------------------------------------------------------------------------------------

// An event of a user process, referenced by a driver: setting the kernel object sets the process's event.
class UserEventSink {
 public:
  virtual ~UserEventSink() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
};

// The user process on whose behalf the current thread runs a request (the "process context" of the IRP).
class Requestor {
 public:
  virtual ~Requestor() = default;
  // Resolves a handle of that process that must name an event; STATUS_INVALID_HANDLE or
  // STATUS_OBJECT_TYPE_MISMATCH when it does not.
  virtual NTSTATUS ReferenceEvent(HANDLE handle, std::shared_ptr<UserEventSink>* sink) = 0;
  // Copies bytes from an address of that process; STATUS_ACCESS_VIOLATION when they are not readable.
  virtual NTSTATUS ReadMemory(uint64_t address, void* buffer, size_t length) = 0;
};

// Makes `requestor` the current thread's process context for its lifetime.
class ScopedRequestor {
 public:
  explicit ScopedRequestor(Requestor* requestor);
  ~ScopedRequestor();
  ScopedRequestor(const ScopedRequestor&) = delete;
  ScopedRequestor& operator=(const ScopedRequestor&) = delete;

 private:
  Requestor* previous_;
};
Requestor* CurrentRequestor();

// What a driver does to read a buffer that a user request points it at (an address inside a record), in
// the requesting process's context: there is no shared address space here. STATUS_ACCESS_VIOLATION when the
// range is not readable in that process or the thread runs no user request.
NTSTATUS ReadRequestorMemory(uint64_t address, void* buffer, size_t length);

// ---- Plug and play and device interfaces -------------------------------------------------------------------

struct DeviceInterfaceInfo {
  GUID interfaceClass;
  std::string path;  // user-mode form: "\\?\ROOT#VIZORIDO#0000#{d35f7840-...}"
  bool enabled;
};

struct DeviceNodeInfo {
  std::string instanceId;  // "ROOT\VIZORIDO\0000"
  std::vector<std::string> hardwareIds;
  std::string service;  // the function driver's service name, empty when none loaded
  bool started;
  std::vector<std::string> compatibleIds;
};

class InterfaceListener {
 public:
  virtual ~InterfaceListener() = default;
  // Called on the thread that enabled or disabled the interface; must not call back into the kernel.
  virtual void OnInterfaceChange(const GUID& interfaceClass, const std::string& path, bool arrival) = 0;
};

class Kernel {
 public:
  Kernel();
  // Removes every device node (children first), unloads the drivers and stops the plug-and-play worker.
  ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  static Kernel* Current();

  // Driver modules: the driver loaded on a device node whose hardware or compatible IDs include
  // `hardwareId` (compared case-insensitively; hardware IDs first). A service's entry runs once, when its first node needs it.
  void RegisterDriver(const std::string& hardwareId, const std::string& service, PDRIVER_INITIALIZE entry);

  // A root-enumerated node ("root\vizorido" gives "ROOT\VIZORIDO\0000"), started at once.
  NTSTATUS CreateRootDevice(const std::string& hardwareId);
  // Removes a root-enumerated node and its children (the caller makes sure no file is open on them).
  NTSTATUS RemoveRootDevice(const std::string& instanceId);
  // Waits until plug and play has handled every relations change requested so far.
  void WaitForPnpIdle();
  // The machine goes to sleep (any state above PowerSystemWorking) or wakes: every started device stack
  // gets the system power request, then the device power request (D3 asleep, D0 awake). Returns when done.
  void SetSystemPowerState(SYSTEM_POWER_STATE state);

  std::vector<DeviceNodeInfo> DeviceNodes();
  // The top of a node's device stack, referenced (ObDereferenceObject it); null when there is no such node.
  PDEVICE_OBJECT ReferenceDeviceStack(const std::string& instanceId);
  std::vector<DeviceInterfaceInfo> Interfaces(const GUID& interfaceClass, bool enabledOnly);
  void AddInterfaceListener(InterfaceListener* listener);
  void RemoveInterfaceListener(InterfaceListener* listener);

  // I/O on behalf of user mode (run under a ScopedRequestor). A file is opened on an enabled interface path.
  NTSTATUS OpenFile(const std::string& path, ACCESS_MASK access, PFILE_OBJECT* file);
  // METHOD_BUFFERED: out receives min(Information, outLength) bytes unless the status is an error.
  NTSTATUS DeviceControl(PFILE_OBJECT file, ULONG code, const void* in, ULONG inLength, void* out, ULONG outLength,
                         ULONG_PTR* information);
  // The process behind the file is gone (or closed its handle with requests still running): every device
  // control in flight on it is cancelled (IoCancelIrp) and later ones fail with STATUS_CANCELLED at once.
  // May run on any thread while DeviceControl runs on another; CloseFile follows once those have returned.
  void CancelFileIo(PFILE_OBJECT file);
  // Cleanup and close.
  void CloseFile(PFILE_OBJECT file);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// ---- Pool accounting (leak checks in tests) ----------------------------------------------------------------

// Blocks allocated and not yet freed: with a tag, or all of them.
size_t PoolBlocksOutstanding(ULONG tag);
size_t PoolBlocksOutstanding();
// Makes the next `count` allocations with `tag` fail (0 ends it); the second form only those of `size` bytes.
void FailPoolAllocations(ULONG tag, int count);
void FailPoolAllocationsOfSize(ULONG tag, size_t size, int count);

// ---- Debug output ------------------------------------------------------------------------------------------

// Where DbgPrint goes: by default nowhere, or stderr when TAVRIN_KDPRINT is set.
void SetDebugOutput(std::function<void(const std::string& text)> sink);

// A wide string from/to the 8-bit names the host side uses.
std::string Narrow(const WCHAR* text, size_t length);
std::u16string Widen(const std::string& text);

}  // namespace tavrin::wdk

namespace tavrin::wdk {
// Sockets of the stand-in TCP transport open now (leak checks in tests).
long TransportSocketsOpen();
// How many bytes a connection reads ahead at most in one go (256 KiB); taken by connections opened later.
// Tests make it small, so that receives often straddle two reads.
void SetTransportReadAhead(size_t bytes);
}  // namespace tavrin::wdk
