// Shared by the user side of the device layer (setupapi, device_io, notifications).
#pragma once
#include <cstdint>

#include "win32/types.h"

namespace tavrin::devices {

// The Win32 error for an NTSTATUS that a driver answered.
DWORD ErrorFromNtStatus(int32_t status);
// Makes CreateFile hand interface paths to the kernel host (once per process).
void InstallDeviceOpener();

}  // namespace tavrin::devices
