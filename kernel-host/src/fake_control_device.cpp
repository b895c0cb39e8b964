// The stand-in control device and server bus devices (see fake_control_device.h).
#include "kernel_host/fake_control_device.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "pelkobus/busenum.h"
#include "pelkobus/records.h"
#include "wdk/irp_helpers.h"

namespace tavrin::kernel_host::fake_control_device {
namespace {

using tavrin::wdk::CompleteIrp;
using tavrin::wdk::ForwardIrpAndWait;
using tavrin::wdk::PassIrpDown;

std::atomic<uint32_t> g_answerStatus{ARRM_STATUS_SUCCESS};
std::atomic<bool> g_connectionsLost{false};

struct Extension {
  bool isControl;
  ULONG serverIp;  // network order, from the enumerator's head
  PDEVICE_OBJECT physical;
  PDEVICE_OBJECT lower;
  UNICODE_STRING interfaceName;
};

// Driver-wide state; PKEVENTs are referenced kernel objects.
struct State {
  std::mutex lock;
  PDEVICE_OBJECT control = nullptr;
  std::vector<ULONG> startedServers;
  std::deque<DEVICE_ARRIVALREMOVAL_INFO> answers;
  std::vector<BUS_DEVICE_INFO> devices;
  PKEVENT responseEvent = nullptr;
  PKEVENT pnpEvent = nullptr;
};
State* g_state = nullptr;

Extension* Ext(PDEVICE_OBJECT device) { return static_cast<Extension*>(device->DeviceExtension); }

// Swaps a registered event slot; the old event is released outside the lock.
void ReplaceEvent(PKEVENT State::*slot, PKEVENT event) {
  PKEVENT previous;
  {
    std::lock_guard guard(g_state->lock);
    previous = g_state->*slot;
    g_state->*slot = event;
  }
  if (previous) ObDereferenceObject(previous);
}

void ForgetAnswersAndEvents() {
  ReplaceEvent(&State::responseEvent, nullptr);
  ReplaceEvent(&State::pnpEvent, nullptr);
  std::lock_guard guard(g_state->lock);
  g_state->answers.clear();
}

void QueueAnswer(const DEVICE_ARRIVALREMOVAL_INFO& answer) {
  PKEVENT event;
  {
    std::lock_guard guard(g_state->lock);
    g_state->answers.push_back(answer);
    event = g_state->responseEvent;
    if (event) ObReferenceObject(event);
  }
  if (event) {
    KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    ObDereferenceObject(event);
  }
}

void RecordPlugState(const DEVICE_ARRIVALREMOVAL_INFO& request) {
  auto& devices = g_state->devices;
  const bool wholeServer = !request.Arrival && request.PortNum == 0;  // unplug port 0: every device of it
  std::erase_if(devices, [&](const BUS_DEVICE_INFO& d) {
    return d.IP == request.ServerIp && (wholeServer || d.Port == request.PortNum);
  });
  if (request.Arrival)
    devices.push_back({request.ServerIp, request.PortNum, request.Rev, request.Pid, request.Vid, ARRM_STATUS_SUCCESS,
                       2 /* started */, g_connectionsLost ? BUS_CONN_DISCONNECTED : BUS_CONN_CONNECTED});
}

NTSTATUS ArrivalRemoval(PIRP irp, void* buffer, ULONG inLength) {
  if (inLength != sizeof(DEVICE_ARRIVALREMOVAL_INFO)) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, sizeof(DEVICE_ARRIVALREMOVAL_INFO));
  auto record = pelkobus::Load<DEVICE_ARRIVALREMOVAL_INFO>(buffer);
  {
    std::lock_guard guard(g_state->lock);
    auto& servers = g_state->startedServers;
    const ULONG serverIp = record.ServerIp;  // a copy: the record is packed
    bool known = std::find(servers.begin(), servers.end(), serverIp) != servers.end();
    record.ArRmStatus = known ? g_answerStatus.load() : ARRM_STATUS_SERVER_NOT_FOUND;
    // A second plug-in of a port that holds a device is "already present", as the bus driver answers it.
    const WORD port = record.PortNum;
    if (known && record.Arrival && std::any_of(g_state->devices.begin(), g_state->devices.end(), [&](const BUS_DEVICE_INFO& d) {
          return d.IP == serverIp && d.Port == port;
        }))
      record.ArRmStatus = ARRM_STATUS_ALREADY_PRESENT;
    if (known && (record.ArRmStatus & ARRM_STATUS_SUCCESS)) RecordPlugState(record);
  }
  QueueAnswer(record);
  return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

NTSTATUS GetStatus(PIRP irp, void* buffer, ULONG inLength, ULONG outLength) {
  const ULONG length = sizeof(DEVICE_ARRIVALREMOVAL_INFO);  // never more than the record, whatever Length says
  NTSTATUS status = STATUS_SUCCESS;
  DEVICE_ARRIVALREMOVAL_INFO answer{};
  {
    std::lock_guard guard(g_state->lock);
    if (g_state->answers.empty()) {
      status = STATUS_UNSUCCESSFUL;
    } else if (std::min(inLength, outLength) < length) {
      status = STATUS_BUFFER_TOO_SMALL;  // the answer stays first in the queue
    } else {
      answer = g_state->answers.front();
      g_state->answers.pop_front();
      if (!g_state->answers.empty()) answer.ArRmStatus |= ARRM_STATUS_MORE;
    }
  }
  if (status == STATUS_UNSUCCESSFUL) return CompleteIrp(irp, status, 0);
  if (status == STATUS_BUFFER_TOO_SMALL) return CompleteIrp(irp, status, length);
  pelkobus::Store(buffer, answer);
  return CompleteIrp(irp, STATUS_SUCCESS, length);
}

NTSTATUS ReferenceInto(PIRP irp, PKEVENT State::*slot, uint64_t handle, ULONG information) {
  PVOID object = nullptr;
  NTSTATUS status = ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)), SYNCHRONIZE,
                                              *ExEventObjectType, irp->RequestorMode, &object, nullptr);
  if (NT_SUCCESS(status)) ReplaceEvent(slot, static_cast<PKEVENT>(object));
  return CompleteIrp(irp, status, information);
}

// The count, or the count and the list, taken under one hold of the lock.
NTSTATUS DeviceCount(PIRP irp, void* buffer, ULONG inLength, ULONG outLength) {
  if (inLength == 0) return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
  std::vector<BUS_DEVICE_INFO> devices;
  {
    std::lock_guard guard(g_state->lock);
    devices = g_state->devices;
  }
  const ULONG count = static_cast<ULONG>(devices.size());
  const ULONG listLength = 4 + static_cast<ULONG>(sizeof(BUS_DEVICE_INFO)) * count;
  auto* out = static_cast<uint8_t*>(buffer);
  if (inLength < 28) {
    if (outLength < 4) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
    pelkobus::Store(out, count);
    return CompleteIrp(irp, STATUS_SUCCESS, 4);
  }
  if (inLength < listLength || outLength < listLength) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
  pelkobus::Store(out, count);
  for (ULONG i = 0; i < count; ++i) pelkobus::Store(out + 4 + i * sizeof(BUS_DEVICE_INFO), devices[i]);
  return CompleteIrp(irp, STATUS_SUCCESS, listLength);
}

NTSTATUS ControlIoctl(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_BUS_DEVICE_ARRIVALREMOVAL:
      return ArrivalRemoval(irp, buffer, inLength);
    case IOCTL_BUS_GETSTATUS:
      return GetStatus(irp, buffer, inLength, outLength);
    case IOCTL_BUS_SET_SHARED_EVENT:
      if (inLength < 8) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 8);
      return ReferenceInto(irp, &State::responseEvent, pelkobus::Load<uint64_t>(buffer), 8);
    case IOCTL_BUS_SETRESET_PNPEVENT: {
      if (inLength < sizeof(BUS_PNP_EVENT_REGISTRATION)) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 9);
      auto registration = pelkobus::Load<BUS_PNP_EVENT_REGISTRATION>(buffer);
      if (registration.Register) return ReferenceInto(irp, &State::pnpEvent, registration.Event, 9);
      ReplaceEvent(&State::pnpEvent, nullptr);
      return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 9);
    }
    case IOCTL_BUS_GET_PNPNOTIFICATION:
      if (inLength < sizeof(BUS_PNP_NOTIFICATION)) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 37);
      return CompleteIrp(irp, STATUS_UNSUCCESSFUL, 37);  // no event is ever recorded
    case IOCTL_BUS_REDIR_READ:
    case IOCTL_BUS_REDIR_WRITE:
      if (inLength < 21) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 37);
      return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
    case IOCTL_BUS_CANCEL_PENDING_REQUESTS:
      if (inLength < 4) return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 4);
      return CompleteIrp(irp, STATUS_SUCCESS, 0);
    case IOCTL_BUS_GET_DEVCOUNT:
      return DeviceCount(irp, buffer, inLength, outLength);
    default:
      return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
  }
}

// ---- Dispatch ------------------------------------------------------------------------------------------

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  if (Ext(device)->isControl && IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CLOSE)
    ForgetAnswersAndEvents();
  return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchIoctl(PDEVICE_OBJECT device, PIRP irp) {
  if (!Ext(device)->isControl) return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  return ControlIoctl(irp);
}

NTSTATUS DispatchOther(PDEVICE_OBJECT device, PIRP irp) { return PassIrpDown(Ext(device)->lower, irp); }

void DisableInterface(Extension* ext) {
  if (!ext->interfaceName.Buffer) return;
  IoSetDeviceInterfaceState(&ext->interfaceName, FALSE);
  RtlFreeUnicodeString(&ext->interfaceName);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  Extension* ext = Ext(device);
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = ForwardIrpAndWait(ext->lower, irp);
      if (!NT_SUCCESS(status)) return CompleteIrp(irp, status, 0);
      if (ext->isControl) {
        status = IoSetDeviceInterfaceState(&ext->interfaceName, TRUE);
      } else {
        std::lock_guard guard(g_state->lock);
        if (!g_state->control) status = STATUS_UNSUCCESSFUL;  // servers need the control device first
        else g_state->startedServers.push_back(ext->serverIp);
      }
      return CompleteIrp(irp, status, 0);
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE: {
      bool remove = IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE;
      if (ext->isControl) {
        DisableInterface(ext);
      } else {
        std::lock_guard guard(g_state->lock);
        auto& servers = g_state->startedServers;
        if (auto it = std::find(servers.begin(), servers.end(), ext->serverIp); it != servers.end()) servers.erase(it);
        std::erase_if(g_state->devices, [&](const BUS_DEVICE_INFO& d) { return d.IP == ext->serverIp; });
      }
      irp->IoStatus.Status = STATUS_SUCCESS;
      NTSTATUS status = PassIrpDown(ext->lower, irp);
      if (remove) {
        if (ext->isControl) {
          ForgetAnswersAndEvents();
          std::lock_guard guard(g_state->lock);
          g_state->control = nullptr;
        }
        IoDetachDevice(ext->lower);
        IoDeleteDevice(device);
      }
      return status;
    }
    default:
      return PassIrpDown(ext->lower, irp);
  }
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical) {
  auto head = pelkobus::Load<BUSENUM_CHILD_EXTENSION_HEAD>(physical->DeviceExtension);
  const bool isControl = head.ServerIp == 0;
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_BUS_EXTENDER,
                                   FILE_DEVICE_SECURE_OPEN, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  Extension* ext = Ext(device);
  ext->isControl = isControl;
  ext->serverIp = head.ServerIp;
  ext->physical = physical;
  if (isControl) {
    status = IoRegisterDeviceInterface(physical, &GUID_DEVINTERFACE_BUSDRIVER, nullptr, &ext->interfaceName);
    if (!NT_SUCCESS(status)) {
      IoDeleteDevice(device);
      return status;
    }
  }
  ext->lower = IoAttachDeviceToDeviceStack(device, physical);
  if (!ext->lower) {
    if (ext->interfaceName.Buffer) RtlFreeUnicodeString(&ext->interfaceName);
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  if (isControl) {
    std::lock_guard guard(g_state->lock);
    g_state->control = device;
  }
  device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT) {
  delete g_state;
  g_state = nullptr;
}

}  // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING) {
  g_state = new State;
  for (auto& dispatch : driverObject->MajorFunction) dispatch = DispatchOther;
  driverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driverObject->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
  driverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIoctl;
  driverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driverObject->DriverExtension->AddDevice = AddDevice;
  driverObject->DriverUnload = Unload;
  return STATUS_SUCCESS;
}

void SetAnswerStatus(uint32_t status) { g_answerStatus = status; }
void SetConnectionsLost(bool lost) { g_connectionsLost = lost; }

}  // namespace tavrin::kernel_host::fake_control_device
