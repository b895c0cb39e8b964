// This program links the system layer without the windowing layer: what needs windows is refused cleanly,
// and threads and waits work without message queues.
#include <gtest/gtest.h>

#include "win32/ioctl.h"
#include "win32/module.h"
#include "win32/sync.h"

namespace {

TEST(WithoutWindows, DeviceNoticesFindNoWindowToGoTo) {
  DEV_BROADCAST_DEVICEINTERFACE filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  SetLastError(0);
  EXPECT_EQ(RegisterDeviceNotification(reinterpret_cast<HANDLE>(0x10), &filter, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(WithoutWindows, ThreadsRunAndEndWithoutMessageQueues) {
  HANDLE started = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID event) -> DWORD { return SetEvent(static_cast<HANDLE>(event)) ? 7 : 0; }, started, 0,
      nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(started, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
  CloseHandle(started);
}

TEST(WithoutWindows, OnlyTheDrawingModuleIsMissing) {
  HMODULE theme = LoadLibrary("uxtheme.dll");
  EXPECT_NE(theme, nullptr);
  EXPECT_NE(GetProcAddress(theme, "IsThemeActive"), nullptr);
  FreeLibrary(theme);
  EXPECT_EQ(LoadLibrary("msimg32.dll"), nullptr);
}

}  // namespace
