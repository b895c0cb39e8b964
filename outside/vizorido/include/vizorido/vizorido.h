// The stand-in for the outside bus enumerator that TavrinAdmin reports servers to: a root-enumerated bus
// driver for the kernel host. It offers GUID_DEVINTERFACE_BUSENUM with three I/O controls and gives every
// reported server (and the special server, address 0) a child device node "{B85B7C50-...}\VirtualUsb" whose
// device extension begins with {identifier, ServerIp}.
#pragma once
#include "wdk/wdm.h"

namespace vizorido {

inline constexpr char kService[] = "vizorido";
inline constexpr char kHardwareId[] = "root\\vizorido";

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

}  // namespace vizorido
