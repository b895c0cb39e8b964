// Plug and play manager and the user-mode side of the I/O manager: device nodes and their drivers, bus
// relations, device interfaces with arrival/removal notices, and files opened on interface paths.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "internal.h"
#include "wdk/ntddk.h"

using namespace tavrin::wdk::internal;

namespace tavrin::wdk {
namespace {

Kernel* g_current = nullptr;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
bool EqualNoCase(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

std::string LowerGuid(const GUID& guid) {
  std::string text = GuidToString(guid);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A pool-allocated counted wide string, as drivers receive names from the kernel.
NTSTATUS MakePoolString(const std::string& text, PUNICODE_STRING out) {
  std::u16string wide = Widen(text);
  size_t bytes = (wide.size() + 1) * sizeof(WCHAR);
  auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, PoolTag("Strg")));
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(buffer, wide.c_str(), bytes);
  out->Buffer = buffer;
  out->Length = static_cast<USHORT>(wide.size() * sizeof(WCHAR));
  out->MaximumLength = static_cast<USHORT>(bytes);
  return STATUS_SUCCESS;
}

// Splits a NUL-separated, double-NUL-ended wide list.
std::vector<std::string> SplitMultiString(const WCHAR* list) {
  std::vector<std::string> out;
  while (list && *list) {
    size_t length = 0;
    while (list[length]) ++length;
    out.push_back(Narrow(list, length));
    list += length + 1;
  }
  return out;
}

struct HostFile {
  FILE_OBJECT file;          // first: a PFILE_OBJECT is the HostFile
  PDEVICE_OBJECT target;     // the top of the stack at open time, referenced
  PDEVICE_OBJECT physical;   // the interface's physical device, referenced
  std::mutex ioLock;         // guards the two below
  std::vector<PIRP> inFlight;  // device controls sent and not yet freed
  bool abandoned = false;      // its process is gone: nothing new is sent
};

}  // namespace

struct Node {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
  PDEVICE_OBJECT pdo = nullptr;  // referenced by the node
  PDRIVER_OBJECT driver = nullptr;
  std::string service;
  Node* parent = nullptr;
  std::vector<Node*> children;
  bool rootEnumerated = false;
  bool started = false;
};

struct InterfaceEntry {
  GUID interfaceClass;
  std::string name;  // "ROOT#VIZORIDO#0000#{guid}": "\??\" + name in the kernel, "\\?\" + name for users
  Node* node;
  bool enabled;
};

struct Kernel::Impl {
  std::mutex lock;  // guards the tables below; never held while calling a driver
  struct DriverRecord {
    std::string hardwareId, service;
    PDRIVER_INITIALIZE entry;
  };
  std::vector<DriverRecord> driverTable;
  std::map<std::string, PDRIVER_OBJECT> loaded;  // by service
  DRIVER_OBJECT rootDriver{};
  DRIVER_EXTENSION rootExtension{};
  std::vector<std::unique_ptr<Node>> nodes;
  std::vector<InterfaceEntry> interfaces;

  std::mutex listenersLock;  // held while listeners run, so removal waits for a running call
  std::vector<InterfaceListener*> listeners;

  std::mutex workLock;
  std::condition_variable workChanged;
  std::deque<std::function<void()>> work;
  bool busy = false;
  bool stopping = false;
  std::thread worker;

  void Queue(std::function<void()> item) {
    std::lock_guard guard(workLock);
    work.push_back(std::move(item));
    workChanged.notify_all();
  }

  void WorkerLoop() {
    std::unique_lock guard(workLock);
    for (;;) {
      workChanged.wait(guard, [&] { return stopping || !work.empty(); });
      if (work.empty()) return;
      auto item = std::move(work.front());
      work.pop_front();
      busy = true;
      guard.unlock();
      item();
      guard.lock();
      busy = false;
      workChanged.notify_all();
    }
  }

  void WaitIdle() {
    std::unique_lock guard(workLock);
    workChanged.wait(guard, [&] { return work.empty() && !busy; });
  }

  Node* NodeOf(PDEVICE_OBJECT pdo) {
    std::lock_guard guard(lock);
    return static_cast<Node*>(pdo->DeviceObjectExtension->DeviceNode);
  }

  void Notify(const GUID& interfaceClass, const std::string& name, bool arrival) {
    std::lock_guard guard(listenersLock);
    for (InterfaceListener* listener : listeners) listener->OnInterfaceChange(interfaceClass, "\\\\?\\" + name, arrival);
  }

  // ---- Driver loading

  PDRIVER_OBJECT LoadDriverFor(const std::vector<std::string>& hardwareIds, std::string* service) {
    DriverRecord record{};
    bool found = false;
    {
      std::lock_guard guard(lock);
      for (const auto& id : hardwareIds) {
        for (const auto& r : driverTable) {
          if (EqualNoCase(r.hardwareId, id)) {
            record = r;
            found = true;
            break;
          }
        }
        if (found) break;
      }
      if (!found) return nullptr;
      *service = record.service;
      auto it = loaded.find(record.service);
      if (it != loaded.end()) return it->second;
    }
    auto* driver = new DRIVER_OBJECT{};
    auto* extension = new DRIVER_EXTENSION{};
    extension->DriverObject = driver;
    driver->DriverExtension = extension;
    driver->DriverInit = record.entry;
    MakePoolString("\\Driver\\" + record.service, &driver->DriverName);
    UNICODE_STRING registryPath{};
    MakePoolString("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + record.service, &registryPath);
    NTSTATUS status = record.entry(driver, &registryPath);
    RtlFreeUnicodeString(&registryPath);
    if (!NT_SUCCESS(status)) {
      DbgPrint("PnP: %s failed to load (0x%x)\n", record.service.c_str(), static_cast<unsigned>(status));
      RtlFreeUnicodeString(&driver->DriverName);
      delete extension;
      delete driver;
      return nullptr;
    }
    std::lock_guard guard(lock);
    loaded[record.service] = driver;
    return driver;
  }

  // ---- Requests to a node's stack

  IO_STATUS_BLOCK SendPnp(PDEVICE_OBJECT pdo, UCHAR minor, const std::function<void(PIO_STACK_LOCATION)>& fill = {}) {
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    IO_STATUS_BLOCK result{};
    result.Status = STATUS_INSUFFICIENT_RESOURCES;
    if (PIRP irp = BuildIrp(top, IRP_MJ_PNP, minor)) {
      if (fill) fill(IoGetNextIrpStackLocation(irp));
      result = SendAndWait(top, irp);
    }
    ObDereferenceObject(top);
    return result;
  }

  bool QueryId(PDEVICE_OBJECT pdo, BUS_QUERY_ID_TYPE type, std::vector<std::string>* out) {
    IO_STATUS_BLOCK result = SendPnp(pdo, IRP_MN_QUERY_ID, [&](PIO_STACK_LOCATION s) { s->Parameters.QueryId.IdType = type; });
    if (!NT_SUCCESS(result.Status) || !result.Information) return false;
    auto* text = reinterpret_cast<const WCHAR*>(result.Information);
    // Hardware and compatible IDs are lists; the device and instance IDs are single strings.
    bool list = type == BusQueryHardwareIDs || type == BusQueryCompatibleIDs;
    if (list) {
      *out = SplitMultiString(text);
    } else {
      size_t length = 0;
      while (text[length]) ++length;
      *out = {Narrow(text, length)};
    }
    ExFreePool(reinterpret_cast<PVOID>(result.Information));
    return !out->empty();
  }

  // ---- Node life

  void StartNode(Node* node) {
    if (!node->rootEnumerated) {
      std::vector<std::string> deviceId, instance, hardwareIds, compatibleIds;
      QueryId(node->pdo, BusQueryHardwareIDs, &hardwareIds);
      QueryId(node->pdo, BusQueryCompatibleIDs, &compatibleIds);
      if (!QueryId(node->pdo, BusQueryDeviceID, &deviceId)) deviceId = hardwareIds;
      QueryId(node->pdo, BusQueryInstanceID, &instance);
      std::lock_guard guard(lock);
      node->hardwareIds = hardwareIds;
      node->compatibleIds = compatibleIds;
      node->instanceId = Upper((deviceId.empty() ? std::string("UNKNOWN") : deviceId[0]) + "\\" +
                               (instance.empty() ? std::to_string(nodes.size()) : instance[0]));
    }
    std::string service;
    // Hardware identifiers first, then the compatible ones, each list in its order of preference.
    std::vector<std::string> ids = node->hardwareIds;
    ids.insert(ids.end(), node->compatibleIds.begin(), node->compatibleIds.end());
    PDRIVER_OBJECT driver = LoadDriverFor(ids, &service);
    if (!driver || !driver->DriverExtension->AddDevice) {
      DbgPrint("PnP: no driver for %s\n", node->instanceId.c_str());
      return;
    }
    NTSTATUS status = driver->DriverExtension->AddDevice(driver, node->pdo);
    if (!NT_SUCCESS(status)) {
      DbgPrint("PnP: AddDevice of %s failed (0x%x)\n", node->instanceId.c_str(), static_cast<unsigned>(status));
      return;
    }
    {
      std::lock_guard guard(lock);
      node->driver = driver;
      node->service = service;
    }
    status = SendPnp(node->pdo, IRP_MN_START_DEVICE).Status;
    if (!NT_SUCCESS(status)) {
      DbgPrint("PnP: %s failed to start (0x%x)\n", node->instanceId.c_str(), static_cast<unsigned>(status));
      SendPnp(node->pdo, IRP_MN_REMOVE_DEVICE);  // tears the function driver's device down again
      DropInterfaces(node);
      std::lock_guard guard(lock);
      node->driver = nullptr;
      node->service.clear();
      return;
    }
    {
      std::lock_guard guard(lock);
      node->started = true;
    }
    EnumerateChildren(node);
  }

  void EnumerateChildren(Node* node) {
    if (!node->started) return;
    IO_STATUS_BLOCK result = SendPnp(node->pdo, IRP_MN_QUERY_DEVICE_RELATIONS,
                                     [](PIO_STACK_LOCATION s) { s->Parameters.QueryDeviceRelations.Type = BusRelations; });
    if (!NT_SUCCESS(result.Status)) return;  // the bus keeps the children it had
    auto* relations = reinterpret_cast<PDEVICE_RELATIONS>(result.Information);
    std::set<PDEVICE_OBJECT> reported;
    if (relations)
      for (ULONG i = 0; i < relations->Count; ++i) reported.insert(relations->Objects[i]);

    std::vector<Node*> gone;
    for (Node* child : node->children)
      if (!reported.count(child->pdo)) gone.push_back(child);
    for (Node* child : gone) RemoveNode(child, true);

    std::vector<Node*> added;
    if (relations) {
      for (ULONG i = 0; i < relations->Count; ++i) {
        PDEVICE_OBJECT pdo = relations->Objects[i];
        bool known = std::any_of(node->children.begin(), node->children.end(), [&](Node* c) { return c->pdo == pdo; });
        if (known) {
          ObDereferenceObject(pdo);  // the node already holds one
          continue;
        }
        auto owned = std::make_unique<Node>();
        Node* child = owned.get();
        child->pdo = pdo;  // keeps the reference the bus driver took
        child->parent = node;
        std::lock_guard guard(lock);
        pdo->DeviceObjectExtension->DeviceNode = child;
        node->children.push_back(child);
        nodes.push_back(std::move(owned));
        added.push_back(child);
      }
      ExFreePool(relations);
    }
    for (Node* child : added) StartNode(child);
  }

  // A surprise removal tells the whole subtree first, children before their parent, and only then removes
  // it, again children first: a bus driver hears of its own surprise removal before its children's
  // removals come.
  void RemoveNode(Node* node, bool surprise) {
    if (surprise) SurpriseRemoveTree(node);
    RemoveTree(node);
  }
  void SurpriseRemoveTree(Node* node) {
    std::vector<Node*> children = node->children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) SurpriseRemoveTree(*it);
    if (node->started) SendPnp(node->pdo, IRP_MN_SURPRISE_REMOVAL);
  }
  void RemoveTree(Node* node) {
    std::vector<Node*> children = node->children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) RemoveTree(*it);
    SendPnp(node->pdo, IRP_MN_REMOVE_DEVICE);
    DropInterfaces(node);
    PDEVICE_OBJECT pdo = node->pdo;
    {
      std::lock_guard guard(lock);
      pdo->DeviceObjectExtension->DeviceNode = nullptr;
      if (node->parent) std::erase(node->parent->children, node);
      std::erase_if(nodes, [&](const std::unique_ptr<Node>& n) { return n.get() == node; });
    }
    ObDereferenceObject(pdo);
  }

  // The interfaces of a node that is going: still-enabled ones are announced as removed.
  void DropInterfaces(Node* node) {
    std::vector<InterfaceEntry> removed;
    {
      std::lock_guard guard(lock);
      for (auto it = interfaces.begin(); it != interfaces.end();) {
        if (it->node == node) {
          if (it->enabled) removed.push_back(*it);
          it = interfaces.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (const auto& entry : removed) Notify(entry.interfaceClass, entry.name, false);
  }

  std::vector<Node*> RootNodes() {
    std::lock_guard guard(lock);
    std::vector<Node*> roots;
    for (auto& n : nodes)
      if (!n->parent) roots.push_back(n.get());
    return roots;
  }
};

namespace {

Kernel::Impl* g_impl = nullptr;  // the current kernel's, for the kernel entry points below

// The PnP manager's own driver for root-enumerated physical devices.
NTSTATUS RootPdoPnp(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_QUERY_CAPABILITIES:
    case IRP_MN_QUERY_PNP_DEVICE_STATE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;  // keep the status the request came with
  }
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS RootPdoOther(PDEVICE_OBJECT, PIRP irp) {
  NTSTATUS status = irp->IoStatus.Status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

}  // namespace

Kernel::Kernel() : impl_(std::make_unique<Impl>()) {
  if (g_current) KeBugCheckEx(0xDEAD, 0, 0, 0, 0);  // one kernel per process
  Impl& k = *impl_;
  k.rootExtension.DriverObject = &k.rootDriver;
  k.rootDriver.DriverExtension = &k.rootExtension;
  for (auto& dispatch : k.rootDriver.MajorFunction) dispatch = RootPdoOther;
  k.rootDriver.MajorFunction[IRP_MJ_PNP] = RootPdoPnp;
  k.worker = std::thread([&k] { k.WorkerLoop(); });
  g_current = this;
  g_impl = &k;
}

Kernel::~Kernel() {
  Impl& k = *impl_;
  k.Queue([&k] {
    for (Node* root : k.RootNodes()) {
      PDEVICE_OBJECT pdo = root->pdo;
      ObReferenceObject(pdo);
      k.RemoveNode(root, false);
      IoDeleteDevice(pdo);  // the root bus's own device
      ObDereferenceObject(pdo);
    }
  });
  k.WaitIdle();
  {
    std::lock_guard guard(k.workLock);
    k.stopping = true;
    k.workChanged.notify_all();
  }
  k.worker.join();
  g_current = nullptr;
  g_impl = nullptr;
  StopTransport();
  StopExecutive();  // every work item, DPC and timer of the drivers is done
  for (auto& [service, driver] : k.loaded) {
    if (driver->DriverUnload) driver->DriverUnload(driver);
    RtlFreeUnicodeString(&driver->DriverName);
    delete driver->DriverExtension;
    delete driver;
  }
}

Kernel* Kernel::Current() { return g_current; }

void Kernel::RegisterDriver(const std::string& hardwareId, const std::string& service, PDRIVER_INITIALIZE entry) {
  std::lock_guard guard(impl_->lock);
  impl_->driverTable.push_back({hardwareId, service, entry});
}

NTSTATUS Kernel::CreateRootDevice(const std::string& hardwareId) {
  Impl& k = *impl_;
  std::string name = Upper(hardwareId);
  if (name.rfind("ROOT\\", 0) != 0) return STATUS_INVALID_PARAMETER;
  PDEVICE_OBJECT pdo = nullptr;
  NTSTATUS status = IoCreateDevice(&k.rootDriver, 0, nullptr, FILE_DEVICE_UNKNOWN, FILE_AUTOGENERATED_DEVICE_NAME,
                                   FALSE, &pdo);
  if (!NT_SUCCESS(status)) return status;
  pdo->Flags &= ~DO_DEVICE_INITIALIZING;
  auto owned = std::make_unique<Node>();
  Node* node = owned.get();
  {
    std::lock_guard guard(k.lock);
    char instance[16];
    // The lowest number no node of the id holds, so a node removed and made again keeps its instance id.
    for (int n = 0;; ++n) {
      std::snprintf(instance, sizeof instance, "\\%04d", n);
      const std::string candidate = name + instance;
      if (std::none_of(k.nodes.begin(), k.nodes.end(), [&](const auto& x) { return x->instanceId == candidate; })) break;
    }
    node->instanceId = name + instance;
    node->hardwareIds = {hardwareId};
    node->rootEnumerated = true;
    node->pdo = pdo;
    pdo->DeviceObjectExtension->DeviceNode = node;
    k.nodes.push_back(std::move(owned));
  }
  ObReferenceObject(pdo);  // the node's; the creation reference goes with IoDeleteDevice
  k.Queue([&k, node] { k.StartNode(node); });
  k.WaitIdle();
  return STATUS_SUCCESS;
}

NTSTATUS Kernel::RemoveRootDevice(const std::string& instanceId) {
  Impl& k = *impl_;
  Node* target = nullptr;
  {
    std::lock_guard guard(k.lock);
    for (auto& n : k.nodes)
      if (n->rootEnumerated && Upper(n->instanceId) == Upper(instanceId)) target = n.get();
  }
  if (!target) return STATUS_NO_SUCH_DEVICE;
  k.Queue([&k, target] {
    PDEVICE_OBJECT pdo = target->pdo;
    ObReferenceObject(pdo);
    k.RemoveNode(target, false);
    IoDeleteDevice(pdo);  // the root bus's own device
    ObDereferenceObject(pdo);
  });
  k.WaitIdle();
  return STATUS_SUCCESS;
}

void Kernel::WaitForPnpIdle() { impl_->WaitIdle(); }

void Kernel::SetSystemPowerState(SYSTEM_POWER_STATE state) {
  Impl& k = *impl_;
  k.Queue([&k, state] {
    // Leaves first on the way down, the roots first on the way up.
    std::vector<Node*> order;
    std::function<void(Node*)> walk = [&](Node* n) {
      if (state == PowerSystemWorking) order.push_back(n);
      for (Node* c : n->children) walk(c);
      if (state != PowerSystemWorking) order.push_back(n);
    };
    for (Node* root : k.RootNodes()) walk(root);
    DEVICE_POWER_STATE device = state == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
    for (Node* n : order) {
      if (!n->started) continue;
      PDEVICE_OBJECT top = IoGetAttachedDeviceReference(n->pdo);
      for (POWER_STATE_TYPE type : {SystemPowerState, DevicePowerState}) {
        if (PIRP irp = BuildIrp(top, IRP_MJ_POWER, IRP_MN_SET_POWER)) {
          PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
          next->Parameters.Power.Type = type;
          if (type == SystemPowerState) {
            next->Parameters.Power.State.SystemState = state;
          } else {
            next->Parameters.Power.State.DeviceState = device;
          }
          next->Parameters.Power.ShutdownType = state == PowerSystemWorking ? PowerActionNone : PowerActionSleep;
          SendAndWait(top, irp);
        }
      }
      ObDereferenceObject(top);
    }
  });
  k.WaitIdle();
}

std::vector<DeviceNodeInfo> Kernel::DeviceNodes() {
  std::lock_guard guard(impl_->lock);
  std::vector<DeviceNodeInfo> out;
  for (auto& n : impl_->nodes) out.push_back({n->instanceId, n->hardwareIds, n->service, n->started, n->compatibleIds});
  return out;
}

PDEVICE_OBJECT Kernel::ReferenceDeviceStack(const std::string& instanceId) {
  PDEVICE_OBJECT pdo = nullptr;
  {
    std::lock_guard guard(impl_->lock);
    for (auto& n : impl_->nodes) {
      if (EqualNoCase(n->instanceId, instanceId)) {
        pdo = n->pdo;
        ObReferenceObject(pdo);
        break;
      }
    }
  }
  if (!pdo) return nullptr;
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
  ObDereferenceObject(pdo);
  return top;
}

std::vector<DeviceInterfaceInfo> Kernel::Interfaces(const GUID& interfaceClass, bool enabledOnly) {
  std::lock_guard guard(impl_->lock);
  std::vector<DeviceInterfaceInfo> out;
  for (auto& e : impl_->interfaces)
    if (e.interfaceClass == interfaceClass && (e.enabled || !enabledOnly))
      out.push_back({e.interfaceClass, "\\\\?\\" + e.name, e.enabled});
  return out;
}

void Kernel::AddInterfaceListener(InterfaceListener* listener) {
  std::lock_guard guard(impl_->listenersLock);
  impl_->listeners.push_back(listener);
}

void Kernel::RemoveInterfaceListener(InterfaceListener* listener) {
  std::lock_guard guard(impl_->listenersLock);
  std::erase(impl_->listeners, listener);
}

// ---- Files -------------------------------------------------------------------------------------------------

NTSTATUS Kernel::OpenFile(const std::string& path, ACCESS_MASK access, PFILE_OBJECT* file) {
  Impl& k = *impl_;
  PDEVICE_OBJECT physical = nullptr;
  {
    std::lock_guard guard(k.lock);
    for (auto& e : k.interfaces) {
      if (e.enabled && EqualNoCase("\\\\?\\" + e.name, path)) {
        physical = e.node->pdo;
        ObReferenceObject(physical);
        break;
      }
    }
  }
  if (!physical) return STATUS_OBJECT_NAME_NOT_FOUND;
  PDEVICE_OBJECT target = IoGetAttachedDeviceReference(physical);
  auto release = [&] {
    ObDereferenceObject(target);
    ObDereferenceObject(physical);
  };
  if (IsDeletePending(target)) {
    release();
    return STATUS_DELETE_PENDING;
  }
  {
    // The open is counted from here, so a second open of an exclusive device is refused meanwhile.
    std::lock_guard guard(k.lock);
    if ((target->Flags & DO_EXCLUSIVE) && target->DeviceObjectExtension->OpenCount > 0) {
      release();
      return STATUS_ACCESS_DENIED;
    }
    target->DeviceObjectExtension->OpenCount++;
  }
  auto unreserve = [&] {
    std::lock_guard guard(k.lock);
    target->DeviceObjectExtension->OpenCount--;
  };
  void* body = NewObject(ObjectKind::File, sizeof(HostFile), [](void* p) {
    auto* host = static_cast<HostFile*>(p);
    ObDereferenceObject(host->target);
    ObDereferenceObject(host->physical);
    host->~HostFile();
  });
  if (!body) {
    unreserve();
    release();
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  auto* host = new (body) HostFile{};
  host->file.Type = 5;
  host->file.Size = sizeof(FILE_OBJECT);
  host->file.DeviceObject = physical;
  host->file.DesiredAccess = access;
  host->target = target;
  host->physical = physical;

  PIRP irp = BuildIrp(target, IRP_MJ_CREATE, 0);
  if (!irp) {
    unreserve();
    ObDereferenceObject(&host->file);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  irp->RequestorMode = UserMode;
  irp->Tail.Overlay.OriginalFileObject = &host->file;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->FileObject = &host->file;
  next->Parameters.Create.DesiredAccess = access;
  NTSTATUS status = SendAndWait(target, irp).Status;
  if (!NT_SUCCESS(status)) {
    unreserve();
    ObDereferenceObject(&host->file);
    return status;
  }
  *file = &host->file;
  return STATUS_SUCCESS;
}

NTSTATUS Kernel::DeviceControl(PFILE_OBJECT file, ULONG code, const void* in, ULONG inLength, void* out,
                               ULONG outLength, ULONG_PTR* information) {
  *information = 0;
  auto* host = reinterpret_cast<HostFile*>(file);
  if (METHOD_FROM_CTL_CODE(code) != METHOD_BUFFERED) return STATUS_NOT_SUPPORTED;
  if (IsDeletePending(host->target)) return STATUS_NO_SUCH_DEVICE;
  KEVENT done;
  IO_STATUS_BLOCK status{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(code, host->target, const_cast<void*>(in), inLength, out, outLength, FALSE,
                                           &done, &status);
  if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
  irp->RequestorMode = UserMode;
  irp->Tail.Overlay.OriginalFileObject = file;
  IoGetNextIrpStackLocation(irp)->FileObject = file;
  KeepAfterCompletion(irp);
  {
    std::lock_guard guard(host->ioLock);
    if (host->abandoned) {
      IoCompleteRequest(irp, IO_NO_INCREMENT);  // releases what the request holds; never reached a driver
      IoFreeIrp(irp);
      return STATUS_CANCELLED;
    }
    host->inFlight.push_back(irp);
  }
  IoCallDriver(host->target, irp);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  {
    std::lock_guard guard(host->ioLock);
    std::erase(host->inFlight, irp);
  }
  IoFreeIrp(irp);
  *information = status.Information;
  return status.Status;
}

void Kernel::CancelFileIo(PFILE_OBJECT file) {
  auto* host = reinterpret_cast<HostFile*>(file);
  std::lock_guard guard(host->ioLock);
  host->abandoned = true;
  // Held while the cancel routines run: a request is freed only once it is off the list.
  for (PIRP irp : host->inFlight) IoCancelIrp(irp);
}

void Kernel::CloseFile(PFILE_OBJECT file) {
  auto* host = reinterpret_cast<HostFile*>(file);
  if (!IsDeletePending(host->target)) {
    for (UCHAR major : {IRP_MJ_CLEANUP, IRP_MJ_CLOSE}) {
      if (PIRP irp = BuildIrp(host->target, major, 0)) {
        irp->RequestorMode = UserMode;
        irp->Tail.Overlay.OriginalFileObject = file;
        IoGetNextIrpStackLocation(irp)->FileObject = file;
        SendAndWait(host->target, irp);
      }
    }
  }
  {
    std::lock_guard guard(impl_->lock);
    host->target->DeviceObjectExtension->OpenCount--;
  }
  ObDereferenceObject(file);
}

// ---- Kernel entry points of plug and play ------------------------------------------------------------------

namespace {

NTSTATUS InvalidateRelations(PDEVICE_OBJECT deviceObject) {
  Kernel::Impl* k = g_impl;
  if (!k) return STATUS_INVALID_DEVICE_REQUEST;
  ObReferenceObject(deviceObject);
  k->Queue([k, deviceObject] {
    if (Node* node = k->NodeOf(deviceObject)) k->EnumerateChildren(node);
    ObDereferenceObject(deviceObject);
  });
  return STATUS_SUCCESS;
}

NTSTATUS RegisterInterface(PDEVICE_OBJECT pdo, const GUID* interfaceClass, PUNICODE_STRING referenceString,
                           PUNICODE_STRING symbolicLinkName) {
  Kernel::Impl* k = g_impl;
  if (!k || !pdo || !interfaceClass) return STATUS_INVALID_DEVICE_REQUEST;
  std::string name;
  {
    std::lock_guard guard(k->lock);
    auto* node = static_cast<Node*>(pdo->DeviceObjectExtension->DeviceNode);
    if (!node) return STATUS_INVALID_DEVICE_REQUEST;
    name = node->instanceId;
    std::replace(name.begin(), name.end(), '\\', '#');
    name += "#" + LowerGuid(*interfaceClass);
    if (referenceString && referenceString->Length)
      name += "\\" + Narrow(referenceString->Buffer, referenceString->Length / sizeof(WCHAR));
    bool known = std::any_of(k->interfaces.begin(), k->interfaces.end(),
                             [&](const InterfaceEntry& e) { return EqualNoCase(e.name, name); });
    if (!known) k->interfaces.push_back({*interfaceClass, name, node, false});
  }
  return MakePoolString("\\??\\" + name, symbolicLinkName);
}

NTSTATUS SetInterfaceState(PUNICODE_STRING symbolicLinkName, bool enable) {
  Kernel::Impl* k = g_impl;
  if (!k || !symbolicLinkName || !symbolicLinkName->Buffer) return STATUS_INVALID_PARAMETER;
  std::string name = Narrow(symbolicLinkName->Buffer, symbolicLinkName->Length / sizeof(WCHAR));
  if (name.rfind("\\??\\", 0) == 0) name = name.substr(4);
  GUID interfaceClass{};
  bool changed = false;
  {
    std::lock_guard guard(k->lock);
    auto it = std::find_if(k->interfaces.begin(), k->interfaces.end(),
                           [&](const InterfaceEntry& e) { return EqualNoCase(e.name, name); });
    if (it == k->interfaces.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    changed = it->enabled != enable;
    it->enabled = enable;
    interfaceClass = it->interfaceClass;
    name = it->name;
  }
  if (changed) k->Notify(interfaceClass, name, enable);
  return STATUS_SUCCESS;
}

}  // namespace
}  // namespace tavrin::wdk

void IoInvalidateDeviceRelations(PDEVICE_OBJECT deviceObject, DEVICE_RELATION_TYPE type) {
  if (type == BusRelations) tavrin::wdk::InvalidateRelations(deviceObject);
}

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject, const GUID* interfaceClassGuid,
                                   PUNICODE_STRING referenceString, PUNICODE_STRING symbolicLinkName) {
  return tavrin::wdk::RegisterInterface(physicalDeviceObject, interfaceClassGuid, referenceString, symbolicLinkName);
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable) {
  return tavrin::wdk::SetInterfaceState(symbolicLinkName, enable != 0);
}
