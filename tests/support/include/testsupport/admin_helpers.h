// Small user-side helpers that tests of the admin program and of the kernel host share.
#pragma once
#include <string>

#include "win32/windows.h"

namespace tavrin::test {

// The admin program's trace log ("C:\\WINDOWS\\TavrinAdmin.log" of the sysroot) as written so far.
std::string ReadAdminLog();

// Waits for a WM_DEVICECHANGE posted to a window of the calling thread and takes it from the queue.
bool WaitForDeviceChange(HWND window, DWORD milliseconds, MSG* message);

}  // namespace tavrin::test
