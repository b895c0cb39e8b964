// Driver entry, the service's registry parameters, dispatch, the request count of bus devices, WMI and
// the name tables of the trace messages.
#include <cstring>

#include "busenum.h"
#include "pelkobus/pelkobus.h"
#include "win32/registry.h"

namespace pelkobus {

Globals g;

namespace {

// {BBA21300-6DD3-11D2-B844-00C04FAD5171}
const GUID kBusWmiGuid = {0xBBA21300, 0x6DD3, 0x11D2, {0xB8, 0x44, 0x00, 0xC0, 0x4F, 0xAD, 0x51, 0x71}};
WMIGUIDREGINFO g_wmiGuids[] = {{&kBusWmiGuid, 1, 0}};

NTSTATUS Bus_ReadUlongFromRegistry(PUNICODE_STRING keyPath, const char* name, ULONG* value) {
  TRACE_MASK(0x1, "Bus_ReadUlongFromRegistry ==>\n");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, keyPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  HANDLE key = nullptr;
  NTSTATUS status = ZwOpenKey(&key, KEY_QUERY_VALUE_ACCESS, &attributes);
  if (!NT_SUCCESS(status)) {
    TRACE_MASK(0x10000, "Bus_ReadUlongFromRegistry >> ZwOpenKey:RegPath Key Not Found. Status = 0x%x \n", status);
    return status;
  }
  std::u16string wide = tavrin_widen(name);
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, reinterpret_cast<PCWSTR>(wide.c_str()));
  ULONG length = 20;
  auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(ExAllocatePoolWithTag(NonPagedPool, length, BUS_POOL_TAG));
  if (!info) {
    ZwClose(key);
    TRACE_MASK(0x10000, "Bus_ReadUlongFromRegistry >> Resource allocation error!!\n");
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  ULONG needed = 0;
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, length, &needed);
  if (status == STATUS_BUFFER_TOO_SMALL) {
    ExFreePoolWithTag(info, BUS_POOL_TAG);
    length = needed + 16;
    info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(ExAllocatePoolWithTag(NonPagedPool, length, BUS_POOL_TAG));
    if (!info) {
      ZwClose(key);
      TRACE_MASK(0x10000, "Bus_ReadUlongFromRegistry >> Resource allocation error!!\n");
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, length, &needed);
  }
  if (NT_SUCCESS(status)) {
    if (info->Type == REG_DWORD && info->DataLength >= sizeof(ULONG)) {
      std::memcpy(value, info->Data, sizeof(ULONG));
      TRACE_MASK(0x1, "Bus_ReadUlongFromRegistry >>MaxEntries = %d\n", *value);
    } else {
      TRACE_MASK(0x10000, "Bus_ReadUlongFromRegistry >> Error. Unexpected key type!!\n");
      *value = 0;  // the caller takes another type as 0
    }
  } else if (status == STATUS_OBJECT_NAME_NOT_FOUND) {
    TRACE_MASK(0x10000, "Bus_ReadUlongFromRegistry >> ZwQueryValueKey:STATUS_OBJECT_NAME_NOT_FOUND!!\n");
  } else {
    TRACE_MASK(0x10000, "Bus_ReadUlongFromRegistry >> ZwQueryValueKey  Status = 0x%x \n", status);
  }
  ExFreePoolWithTag(info, BUS_POOL_TAG);
  ZwClose(key);
  return status;
}

NTSTATUS Bus_ReadRegEntries(PUNICODE_STRING registryPath) {
  TRACE_MASK(0x1, "Bus_ReadRegEntries ==>\n");
  static const char16_t kSuffix[] = u"\\Parameters";
  USHORT bytes = static_cast<USHORT>(registryPath->Length + 26);
  auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, BUS_POOL_TAG));
  if (!buffer) {
    TRACE_MASK(0x10000, "Bus_ReadRegEntries >> Error:STATUS_INSUFFICIENT_RESOURCES <==\n");
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(buffer, bytes);
  RtlCopyMemory(buffer, registryPath->Buffer, registryPath->Length);
  RtlCopyMemory(reinterpret_cast<PUCHAR>(buffer) + registryPath->Length, kSuffix, sizeof(kSuffix) - 2);
  UNICODE_STRING key{static_cast<USHORT>(registryPath->Length + sizeof(kSuffix) - 2), bytes, buffer};
  struct {
    const char* name;
    ULONG* value;
    ULONG fallback;
  } values[] = {
      {"MaxConfigDescCount", &g.MaxConfigDescCount, 4}, {"MaxInterfaceCount", &g.MaxInterfaceCount, 10},
      {"MaxPipeCount", &g.MaxPipeCount, 16},           {"MaxIrpContextCount", &g.MaxIrpContextCount, 64},
      {"AutoconnectDelay", &g.AutoconnectDelay, 3000}, {"BusTraceMask", &g.BusTraceMask, 0x40000},
      {"BusTraceLevel", &g.BusTraceLevel, 0x888888},
  };
  for (auto& v : values) {
    ULONG read = v.fallback;
    *v.value = NT_SUCCESS(Bus_ReadUlongFromRegistry(&key, v.name, &read)) ? read : v.fallback;
  }
  ExFreePoolWithTag(buffer, BUS_POOL_TAG);
  TRACE_MASK(0x1, "Bus_ReadRegEntries <==\n");
  return STATUS_SUCCESS;
}

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  TRACE_LEVEL(0x2, "DispatchCreateClose ==>\n");
  NTSTATUS status = device == g.ControlDevice ? RedirectorCreateClose(device, irp) : CompleteWith(irp, STATUS_SUCCESS);
  TRACE_LEVEL(0x2, "DispatchCreateClose <==\n");
  return status;
}

NTSTATUS DispatchIoCtl(PDEVICE_OBJECT device, PIRP irp) {
  TRACE_LEVEL(0x2, "DispatchIoCtl ==>\n");
  NTSTATUS status =
      device == g.ControlDevice ? RedirectorIoCtl(device, irp) : CompleteWith(irp, STATUS_INVALID_DEVICE_REQUEST);
  TRACE_LEVEL(0x2, "DispatchIoCtl <==\n");
  return status;
}

// USB requests of a child are the request path's; until it exists they are refused as from a device
// that is not there.
NTSTATUS DispatchInternalIoCtl(PDEVICE_OBJECT device, PIRP irp) {
  if (CommonData(device)->IsFDO) return CompleteWith(irp, STATUS_INVALID_DEVICE_REQUEST);
  return Bus_InternalCtl(device, irp);
}

NTSTATUS DispatchPnP(PDEVICE_OBJECT device, PIRP irp) {
  TRACE_LEVEL(0x2, "DispatchPnP ==>\n");
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  COMMON_DEVICE_DATA* common = CommonData(device);
  NTSTATUS status;
  if (common->DevicePnPState == Deleted) {
    status = CompleteWith(irp, STATUS_NO_SUCH_DEVICE);
  } else if (common->IsFDO) {
    status = Bus_FDO_PnP(device, irp, stack, FdoData(device));
  } else {
    status = Bus_PDO_PnP(device, irp, stack, PdoData(device));
  }
  TRACE_LEVEL(0x2, "DispatchPnP <==\n");
  return status;
}

NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  COMMON_DEVICE_DATA* common = CommonData(device);
  TRACE_DEVICE(common, 0x2000, "DeviceObject:0x%p IRP:0x%p : Bus_Power ==> \n", static_cast<void*>(device),
               static_cast<void*>(irp));
  NTSTATUS status;
  if (common->DevicePnPState == Deleted) {
    PoStartNextPowerIrp(irp);
    TRACE_DEVICE(common, 0x2000, "Bus_Power >> DeviceObject:0x%p IRP:0x%p : DevicePnPState == Deleted<==\n",
                 static_cast<void*>(device), static_cast<void*>(irp));
    status = CompleteWith(irp, STATUS_NO_SUCH_DEVICE);
  } else if (common->IsFDO) {
    status = Bus_FDO_Power(FdoData(device), irp);
  } else {
    status = Bus_PDO_Power(PdoData(device), irp);
  }
  TRACE_DEVICE(common, 0x2000, "DeviceObject:0x%p IRP:0x%p status:%x Bus_Power <==\n", static_cast<void*>(device),
               static_cast<void*>(irp), status);
  return status;
}

NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) {
  TRACE_LEVEL(0x2, "DispatchSystemControl ==>\n");
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  COMMON_DEVICE_DATA* common = CommonData(device);
  NTSTATUS status;
  if (!common->IsFDO) {
    TRACE_DEVICE(common, 0x20000, "PDO %s\n", WMIMinorFunctionString(stack->MinorFunction));
    status = CompleteWith(irp, STATUS_SUCCESS);
  } else {
    FDO_DEVICE_DATA* fdo = FdoData(device);
    TRACE_DEVICE(common, 0x20000, "FDO: %s\n", WMIMinorFunctionString(stack->MinorFunction));
    Bus_IncrementIoCount(fdo);
    if (common->DevicePnPState == Deleted) {
      status = CompleteWith(irp, STATUS_NO_SUCH_DEVICE);
    } else {
      SYSCTL_IRP_DISPOSITION disposition;
      status = WmiSystemControl(&fdo->WmiLibInfo, device, irp, &disposition);
      switch (disposition) {
        case IrpProcessed:
          TRACE_DEVICE(common, 0x20000, "Bus_SystemControl : IrpProcessed\n");
          break;
        case IrpNotCompleted:
          TRACE_DEVICE(common, 0x20000, "Bus_SystemControl : IrpNotCompleted\n");
          IoCompleteRequest(irp, IO_NO_INCREMENT);
          break;
        default:
          TRACE_DEVICE(common, 0x20000, "Bus_SystemControl : IrpForward\n");
          IoSkipCurrentIrpStackLocation(irp);
          status = IoCallDriver(fdo->NextLowerDriver, irp);
          break;
      }
    }
    Bus_DecrementIoCount(fdo);
  }
  TRACE_LEVEL(0x2, "DispatchSystemControl <==status %x\n", status);
  return status;
}

NTSTATUS DispatchOthers(PDEVICE_OBJECT, PIRP irp) { return CompleteWith(irp, STATUS_SUCCESS); }

NTSTATUS DispatchAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) { return Bus_AddDevice(driver, pdo); }

void DispatchUnload(PDRIVER_OBJECT) {
  TRACE_LEVEL(0x2, "Unload\n");
  if (g.RegistryPath.Buffer) ExFreePoolWithTag(g.RegistryPath.Buffer, BUS_POOL_TAG);
  g.RegistryPath = UNICODE_STRING{};
}

// ---- WMI callbacks

NTSTATUS BusWmi_QueryRegInfo(PDEVICE_OBJECT device, PULONG flags, PUNICODE_STRING instanceName,
                             PUNICODE_STRING* registryPath, PUNICODE_STRING mofResourceName, PDEVICE_OBJECT* pdo) {
  static char16_t kMof[] = u"BusEnumWMI";
  *flags = WMIREG_FLAG_INSTANCE_PDO;
  *registryPath = &g.RegistryPath;
  *pdo = FdoData(device)->UnderlyingPDO;
  RtlInitUnicodeString(mofResourceName, reinterpret_cast<PCWSTR>(kMof));
  (void)instanceName;
  return STATUS_SUCCESS;
}

NTSTATUS BusWmi_QueryDataBlock(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG, ULONG, PULONG instanceLength,
                               ULONG bufferAvail, PUCHAR buffer) {
  FDO_DEVICE_DATA* fdo = FdoData(device);
  NTSTATUS status = STATUS_SUCCESS;
  ULONG size = sizeof(BUS_WMI_STD_DATA);
  if (guidIndex != 0) {
    status = STATUS_WMI_GUID_NOT_FOUND;
    size = 0;
  } else if (bufferAvail < size || !buffer) {
    status = STATUS_BUFFER_TOO_SMALL;
  } else {
    RtlCopyMemory(buffer, &fdo->StdBusData, size);
    *instanceLength = size;
  }
  return WmiCompleteRequest(device, irp, status, size, IO_NO_INCREMENT);
}

NTSTATUS BusWmi_SetDataBlock(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG, ULONG bufferSize, PUCHAR buffer) {
  FDO_DEVICE_DATA* fdo = FdoData(device);
  NTSTATUS status = STATUS_SUCCESS;
  if (guidIndex != 0) {
    status = STATUS_WMI_GUID_NOT_FOUND;
  } else if (bufferSize < sizeof(BUS_WMI_STD_DATA)) {
    status = STATUS_BUFFER_TOO_SMALL;
  } else {
    std::memcpy(&fdo->StdBusData.DebugPrintLevel, buffer + sizeof(ULONG), sizeof(ULONG));
    g.BusTraceLevel = fdo->StdBusData.DebugPrintLevel;
  }
  return WmiCompleteRequest(device, irp, status, 0, IO_NO_INCREMENT);
}

NTSTATUS BusWmi_SetDataItem(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG, ULONG itemId, ULONG bufferSize,
                            PUCHAR buffer) {
  FDO_DEVICE_DATA* fdo = FdoData(device);
  NTSTATUS status = STATUS_SUCCESS;
  if (guidIndex != 0) {
    status = STATUS_WMI_GUID_NOT_FOUND;
  } else if (itemId != 2) {
    status = STATUS_WMI_READ_ONLY;
  } else if (bufferSize < sizeof(ULONG)) {
    status = STATUS_BUFFER_TOO_SMALL;
  } else {
    std::memcpy(&fdo->StdBusData.DebugPrintLevel, buffer, sizeof(ULONG));
    g.BusTraceLevel = fdo->StdBusData.DebugPrintLevel;
  }
  return WmiCompleteRequest(device, irp, status, 0, IO_NO_INCREMENT);
}

NTSTATUS Bus_SendDownCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  if (irp->PendingReturned) KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

std::u16string tavrin_widen(const char* text) {
  std::u16string out;
  for (; *text; ++text) out.push_back(static_cast<unsigned char>(*text));
  return out;
}

NTSTATUS Bus_WmiRegistration(FDO_DEVICE_DATA* fdo) {
  fdo->WmiLibInfo.GuidCount = 1;
  fdo->WmiLibInfo.GuidList = g_wmiGuids;
  fdo->WmiLibInfo.QueryWmiRegInfo = BusWmi_QueryRegInfo;
  fdo->WmiLibInfo.QueryWmiDataBlock = BusWmi_QueryDataBlock;
  fdo->WmiLibInfo.SetWmiDataBlock = BusWmi_SetDataBlock;
  fdo->WmiLibInfo.SetWmiDataItem = BusWmi_SetDataItem;
  fdo->WmiLibInfo.ExecuteWmiMethod = nullptr;
  fdo->WmiLibInfo.WmiFunctionControl = nullptr;
  NTSTATUS status = IoWMIRegistrationControl(fdo->Common.Self, WMIREG_ACTION_REGISTER);
  fdo->StdBusData.ErrorCount = 0;
  fdo->StdBusData.DebugPrintLevel = g.BusTraceLevel;
  return status;
}

NTSTATUS Bus_WmiDeRegistration(FDO_DEVICE_DATA* fdo) {
  return IoWMIRegistrationControl(fdo->Common.Self, WMIREG_ACTION_DEREGISTER);
}

void Bus_IncrementIoCount(FDO_DEVICE_DATA* fdo) {
  LONG result = InterlockedIncrement(&fdo->OutstandingIO);
  if (result == 2) KeClearEvent(&fdo->StopEvent);
}

void Bus_DecrementIoCount(FDO_DEVICE_DATA* fdo) {
  LONG result = InterlockedDecrement(&fdo->OutstandingIO);
  if (result == 1) KeSetEvent(&fdo->StopEvent, IO_NO_INCREMENT, FALSE);
  if (result == 0) KeSetEvent(&fdo->RemoveEvent, IO_NO_INCREMENT, FALSE);
}

NTSTATUS Bus_SendDownAndWait(PDEVICE_OBJECT lower, PIRP irp) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, Bus_SendDownCompletion, &event, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(lower, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    status = irp->IoStatus.Status;
  }
  return status;
}

const char* PnPMinorFunctionString(UCHAR minor) {
  static const char* const kNames[] = {
      "IRP_MN_START_DEVICE", "IRP_MN_QUERY_REMOVE_DEVICE", "IRP_MN_REMOVE_DEVICE", "IRP_MN_CANCEL_REMOVE_DEVICE",
      "IRP_MN_STOP_DEVICE", "IRP_MN_QUERY_STOP_DEVICE", "IRP_MN_CANCEL_STOP_DEVICE", "IRP_MN_QUERY_DEVICE_RELATIONS",
      "IRP_MN_QUERY_INTERFACE", "IRP_MN_QUERY_CAPABILITIES", "IRP_MN_QUERY_RESOURCES",
      "IRP_MN_QUERY_RESOURCE_REQUIREMENTS", "IRP_MN_QUERY_DEVICE_TEXT", "IRP_MN_FILTER_RESOURCE_REQUIREMENTS",
      nullptr, "IRP_MN_READ_CONFIG", "IRP_MN_WRITE_CONFIG", "IRP_MN_EJECT", "IRP_MN_SET_LOCK", "IRP_MN_QUERY_ID",
      "IRP_MN_QUERY_PNP_DEVICE_STATE", "IRP_MN_QUERY_BUS_INFORMATION", "IRP_MN_DEVICE_USAGE_NOTIFICATION",
      "IRP_MN_SURPRISE_REMOVAL"};
  return minor < 24 && kNames[minor] ? kNames[minor] : "unknown_pnp_irp";
}
const char* DbgDeviceRelationString(ULONG type) {
  switch (type) {
    case 0: return "BusRelations";
    case 1: return "EjectionRelations";
    case 3: return "RemovalRelations";
    case 4: return "TargetDeviceRelation";
    default: return "UnKnown Relation";
  }
}
const char* DbgDeviceIDString(ULONG type) {
  static const char* const kNames[] = {"BusQueryDeviceID", "BusQueryHardwareIDs", "BusQueryCompatibleIDs",
                                       "BusQueryInstanceID"};
  return type < 4 ? kNames[type] : "UnKnown ID";
}
const char* PowerMinorFunctionString(UCHAR minor) {
  static const char* const kNames[] = {"IRP_MN_WAIT_WAKE", "IRP_MN_POWER_SEQUENCE", "IRP_MN_SET_POWER",
                                       "IRP_MN_QUERY_POWER"};
  return minor < 4 ? kNames[minor] : "unknown_power_irp";
}
const char* DbgSystemPowerString(ULONG state) {
  static const char* const kNames[] = {"PowerSystemUnspecified", "PowerSystemWorking", "PowerSystemSleeping1",
                                       "PowerSystemSleeping2", "PowerSystemSleeping3", "PowerSystemHibernate",
                                       "PowerSystemShutdown", "PowerSystemMaximum"};
  return state < 8 ? kNames[state] : "UnKnown System Power State";
}
const char* DbgDevicePowerString(ULONG state) {
  static const char* const kNames[] = {"PowerDeviceUnspecified", "PowerDeviceD0", "PowerDeviceD1",
                                       "PowerDeviceD2", "PowerDeviceD3", "PowerDeviceMaximum"};
  return state < 6 ? kNames[state] : "UnKnown Device Power State";
}
const char* WMIMinorFunctionString(UCHAR minor) {
  static const char* const kNames[] = {"IRP_MN_QUERY_ALL_DATA", "IRP_MN_QUERY_SINGLE_INSTANCE",
                                       "IRP_MN_CHANGE_SINGLE_INSTANCE", "IRP_MN_CHANGE_SINGLE_ITEM",
                                       "IRP_MN_ENABLE_EVENTS", "IRP_MN_DISABLE_EVENTS", "IRP_MN_ENABLE_COLLECTION",
                                       "IRP_MN_DISABLE_COLLECTION", "IRP_MN_REGINFO", "IRP_MN_EXECUTE_METHOD"};
  return minor < 10 ? kNames[minor] : "unknown_syscontrol_irp";
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  TRACE_LEVEL(0x2, "DriverEntry ==>\n");
  USHORT bytes = static_cast<USHORT>(registryPath->Length + 2);
  g.RegistryPath.Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, BUS_POOL_TAG));
  if (!g.RegistryPath.Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(g.RegistryPath.Buffer, bytes);
  RtlCopyMemory(g.RegistryPath.Buffer, registryPath->Buffer, registryPath->Length);
  g.RegistryPath.Length = registryPath->Length;
  g.RegistryPath.MaximumLength = bytes;
  g.BusTraceMask = 0x40000;
  g.BusTraceLevel = 0x888888;
  g.ControlDevice = nullptr;
  Bus_ReadRegEntries(registryPath);
  InitializeListHead(&g.ServerList);
  ExInitializeFastMutex(&g.ServerListLock);
  for (auto& dispatch : driver->MajorFunction) dispatch = DispatchOthers;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIoCtl;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalIoCtl;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnP;
  driver->DriverUnload = DispatchUnload;
  driver->DriverExtension->AddDevice = DispatchAddDevice;
  return STATUS_SUCCESS;
}

void SetNegotiationTimeout(uint32_t milliseconds) { g.NegotiationTimeoutMs = milliseconds; }
void SetPrinterRetryDelay(uint32_t milliseconds) { g.PrinterRetryMs = milliseconds; }
void SetConnectTimeout(uint32_t milliseconds) { g.ConnectTimeoutMs = milliseconds; }
void SetIsochHoldBack(uint32_t milliseconds) { g.IsochHoldBackMs = milliseconds; }
long LiveChildren() { return g.LiveChildren.load(); }

}  // namespace pelkobus
