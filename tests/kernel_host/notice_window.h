// Device notices as a program takes them: posted to a window of the calling thread.
#pragma once
#include "testsupport/admin_helpers.h"
#include "win32/ioctl.h"
#include "win32/user.h"

namespace kernel_host_test {

// A window of the calling thread (WaitForDeviceChange takes the notices posted to it).
HWND MakeWindow();
// Asks for the arrival and removal notices of an interface class at the window.
HDEVNOTIFY RegisterInterfaceNotices(HWND window, const GUID& interfaceClass);
using tavrin::test::WaitForDeviceChange;

}  // namespace kernel_host_test
