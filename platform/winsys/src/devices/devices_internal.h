// Shared by the user side of the device layer (setupapi, device_io, notifications).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "win32/handle.h"
#include "win32/ioctl.h"
#include "win32/types.h"

namespace tavrin::devices {

// The Win32 error for an NTSTATUS that a driver answered.
DWORD ErrorFromNtStatus(int32_t status);
// Makes CreateFile hand interface paths to the kernel host (once per process).
void InstallDeviceOpener();

struct InterfaceMember {
  GUID interfaceClass;
  std::string path;
  bool enabled;
};
// The kernel host's interfaces of a class; none when no kernel host runs.
std::vector<InterfaceMember> QueryInterfaces(const GUID& interfaceClass, bool presentOnly);

// A device node in a device-information set.
struct NodeMember {
  std::string instanceId;
  GUID classGuid{};
  std::string className;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
  std::string service;
  bool registered = false;  // in the store (or the kernel host) already
  DWORD installFlags = 0;   // SP_DEVINSTALL_PARAMS.Flags
  DWORD removeScope = 0;
  bool removeParamsSet = false;
  DWORD devInst = 0;
};

// SetupDiGetClassDevs and the device-node functions share one kind of set.
class DeviceInfoSet : public KernelObject {
 public:
  std::vector<InterfaceMember> members;
  GUID classGuid{};
  std::vector<NodeMember> nodes;
};

}  // namespace tavrin::devices
