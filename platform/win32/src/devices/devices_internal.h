// Shared by the user side of the device layer (setupapi, device_io, notifications).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace tavrin::devices
