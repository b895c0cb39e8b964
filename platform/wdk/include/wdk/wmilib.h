// The WMI library of the kernel: a driver describes its data blocks in a WMILIB_CONTEXT and hands its
// IRP_MJ_SYSTEM_CONTROL requests to WmiSystemControl, which calls the driver back by request.
// In the stand-in a request's Parameters.WMI.DataPath is the GUID asked for; a CHANGE_SINGLE_ITEM buffer
// starts with the u32 item id, followed by the item's data.
#pragma once
#include "wdk/ntddk.h"

constexpr UCHAR IRP_MN_QUERY_ALL_DATA = 0x00;
constexpr UCHAR IRP_MN_QUERY_SINGLE_INSTANCE = 0x01;
constexpr UCHAR IRP_MN_CHANGE_SINGLE_INSTANCE = 0x02;
constexpr UCHAR IRP_MN_CHANGE_SINGLE_ITEM = 0x03;
constexpr UCHAR IRP_MN_ENABLE_EVENTS = 0x04;
constexpr UCHAR IRP_MN_DISABLE_EVENTS = 0x05;
constexpr UCHAR IRP_MN_ENABLE_COLLECTION = 0x06;
constexpr UCHAR IRP_MN_DISABLE_COLLECTION = 0x07;
constexpr UCHAR IRP_MN_REGINFO = 0x08;
constexpr UCHAR IRP_MN_EXECUTE_METHOD = 0x09;

constexpr ULONG WMIREG_ACTION_REGISTER = 1;
constexpr ULONG WMIREG_ACTION_DEREGISTER = 2;
constexpr ULONG WMIREG_FLAG_INSTANCE_PDO = 0x00000020;

struct WMIGUIDREGINFO {
  const GUID* Guid;
  ULONG InstanceCount;
  ULONG Flags;
};
using PWMIGUIDREGINFO = WMIGUIDREGINFO*;

using PWMI_QUERY_REGINFO = NTSTATUS (*)(PDEVICE_OBJECT device, PULONG regFlags, PUNICODE_STRING instanceName,
                                        PUNICODE_STRING* registryPath, PUNICODE_STRING mofResourceName,
                                        PDEVICE_OBJECT* pdo);
using PWMI_QUERY_DATABLOCK = NTSTATUS (*)(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                                          ULONG instanceCount, PULONG instanceLengthArray, ULONG bufferAvail,
                                          PUCHAR buffer);
using PWMI_SET_DATABLOCK = NTSTATUS (*)(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                                        ULONG bufferSize, PUCHAR buffer);
using PWMI_SET_DATAITEM = NTSTATUS (*)(PDEVICE_OBJECT device, PIRP irp, ULONG guidIndex, ULONG instanceIndex,
                                       ULONG dataItemId, ULONG bufferSize, PUCHAR buffer);

struct WMILIB_CONTEXT {
  ULONG GuidCount;
  PWMIGUIDREGINFO GuidList;
  PWMI_QUERY_REGINFO QueryWmiRegInfo;
  PWMI_QUERY_DATABLOCK QueryWmiDataBlock;
  PWMI_SET_DATABLOCK SetWmiDataBlock;
  PWMI_SET_DATAITEM SetWmiDataItem;
  PVOID ExecuteWmiMethod;
  PVOID WmiFunctionControl;
};
using PWMILIB_CONTEXT = WMILIB_CONTEXT*;

enum SYSCTL_IRP_DISPOSITION { IrpProcessed = 0, IrpNotCompleted = 1, IrpNotWmi = 2, IrpForward = 3 };
using PSYSCTL_IRP_DISPOSITION = SYSCTL_IRP_DISPOSITION*;

NTSTATUS IoWMIRegistrationControl(PDEVICE_OBJECT deviceObject, ULONG action);
NTSTATUS WmiSystemControl(PWMILIB_CONTEXT context, PDEVICE_OBJECT deviceObject, PIRP irp,
                          PSYSCTL_IRP_DISPOSITION disposition);
// The callbacks end their request with this: the status and the bytes used.
NTSTATUS WmiCompleteRequest(PDEVICE_OBJECT deviceObject, PIRP irp, NTSTATUS status, ULONG bufferUsed,
                            CCHAR priorityBoost);
