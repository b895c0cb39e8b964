// A stand-in for the bus driver until it exists: on the special server's node (ServerIp 0) it is the
// control device with GUID_DEVINTERFACE_BUSDRIVER and the I/O controls of the control interface (plug-in
// and unplug requests are answered with a configurable status, not carried out; a second plug-in of a port
// is answered "already present"); on every other server
// node it is a bus device that does nothing but be there.
#pragma once
#include <cstdint>

#include "wdk/wdm.h"

namespace tavrin::kernel_host::fake_control_device {

inline constexpr char kService[] = "pelkobus-fake";

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
// The ArRmStatus of every answer to a plug-in or unplug request of a known server (default
// ARRM_STATUS_SUCCESS; unknown servers always get ARRM_STATUS_SERVER_NOT_FOUND).
void SetAnswerStatus(uint32_t status);
// Whether the devices it lists have lost their server connection (ConnState 0) instead of holding it.
void SetConnectionsLost(bool lost);

}  // namespace tavrin::kernel_host::fake_control_device
