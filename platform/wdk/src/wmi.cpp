// The WMI library and registration (see wdk/wmilib.h): registrations are counted per device; requests are
// handed to the driver's callbacks by minor function.
#include <mutex>
#include <set>

#include "internal.h"
#include "wdk/wmilib.h"

namespace {
std::mutex g_lock;
std::set<PDEVICE_OBJECT> g_registered;
}  // namespace

NTSTATUS IoWMIRegistrationControl(PDEVICE_OBJECT deviceObject, ULONG action) {
  std::lock_guard guard(g_lock);
  if (action == WMIREG_ACTION_REGISTER) {
    g_registered.insert(deviceObject);
    return STATUS_SUCCESS;
  }
  if (action == WMIREG_ACTION_DEREGISTER) return g_registered.erase(deviceObject) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS WmiCompleteRequest(PDEVICE_OBJECT, PIRP irp, NTSTATUS status, ULONG bufferUsed, CCHAR) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = NT_SUCCESS(status) ? bufferUsed : 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS WmiSystemControl(PWMILIB_CONTEXT context, PDEVICE_OBJECT deviceObject, PIRP irp,
                          PSYSCTL_IRP_DISPOSITION disposition) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.WMI.ProviderId != reinterpret_cast<ULONG_PTR>(deviceObject)) {
    *disposition = IrpForward;
    return irp->IoStatus.Status;
  }
  if (stack->MinorFunction > IRP_MN_EXECUTE_METHOD) {
    *disposition = IrpNotWmi;
    return irp->IoStatus.Status;
  }
  ULONG guidIndex = 0;
  auto* guid = static_cast<const GUID*>(stack->Parameters.WMI.DataPath);
  bool found = false;
  for (ULONG i = 0; guid && i < context->GuidCount; ++i) {
    if (*context->GuidList[i].Guid == *guid) {
      guidIndex = i;
      found = true;
      break;
    }
  }
  auto* buffer = static_cast<PUCHAR>(stack->Parameters.WMI.Buffer);
  ULONG size = stack->Parameters.WMI.BufferSize;
  *disposition = IrpProcessed;
  if (stack->MinorFunction == IRP_MN_REGINFO) {
    ULONG flags = 0;
    UNICODE_STRING instance{}, mof{};
    PUNICODE_STRING path = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    NTSTATUS status = context->QueryWmiRegInfo
                          ? context->QueryWmiRegInfo(deviceObject, &flags, &instance, &path, &mof, &pdo)
                          : STATUS_SUCCESS;
    return WmiCompleteRequest(deviceObject, irp, status, 0, IO_NO_INCREMENT);
  }
  if (!found) return WmiCompleteRequest(deviceObject, irp, STATUS_WMI_GUID_NOT_FOUND, 0, IO_NO_INCREMENT);
  switch (stack->MinorFunction) {
    case IRP_MN_QUERY_ALL_DATA:
    case IRP_MN_QUERY_SINGLE_INSTANCE: {
      ULONG length = 0;
      if (!context->QueryWmiDataBlock) break;
      return context->QueryWmiDataBlock(deviceObject, irp, guidIndex, 0, 1, &length, size, buffer);
    }
    case IRP_MN_CHANGE_SINGLE_INSTANCE:
      if (!context->SetWmiDataBlock) break;
      return context->SetWmiDataBlock(deviceObject, irp, guidIndex, 0, size, buffer);
    case IRP_MN_CHANGE_SINGLE_ITEM: {
      if (!context->SetWmiDataItem) break;
      if (!buffer || size < sizeof(ULONG)) return WmiCompleteRequest(deviceObject, irp, STATUS_INVALID_PARAMETER, 0, 0);
      ULONG item;
      RtlCopyMemory(&item, buffer, sizeof item);
      return context->SetWmiDataItem(deviceObject, irp, guidIndex, 0, item, size - sizeof(ULONG), buffer + sizeof(ULONG));
    }
    default:
      break;
  }
  return WmiCompleteRequest(deviceObject, irp, STATUS_INVALID_DEVICE_REQUEST, 0, IO_NO_INCREMENT);
}
