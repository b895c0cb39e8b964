// The kernel-host program as a process of its own: the user side reaches it and its events cross over.
#include <filesystem>

#include "host_fixture.h"
#include "testsupport/kernel_host_process.h"

namespace kernel_host_test {
namespace {

TEST_F(KernelHostTest, ProgramServesAnotherProcessAndSetsItsEvent) {
  tavrin::test::KernelHostProcess process(KERNEL_HOST_PROGRAM, root().string());
  ASSERT_TRUE(process.WaitReady(10000));

  HWND window = MakeWindow();
  HDEVNOTIFY notify = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(notify, nullptr);

  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  uint64_t value = reinterpret_cast<uintptr_t>(event);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0).ok);
  auto request = ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  SERVER_ARRIVALREMOVAL_INFO answer{};
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer).ok);
  EXPECT_EQ(+answer.Status, ARRM_STATUS_ALREADY_PRESENT);

  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEARRIVAL);
  HANDLE control = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  EXPECT_NE(control, INVALID_HANDLE_VALUE);
  CloseHandle(control);

  CloseHandle(busEnum);
  UnregisterDeviceNotification(notify);
  EXPECT_EQ(process.Terminate(), 0);
  // The host is gone: no interface is left to find, and nothing was left behind in run/.
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "");
  EXPECT_FALSE(std::filesystem::exists(root() / "run" / "kernel-host.sock"));
  CloseHandle(event);
  DestroyWindow(window);
}

}  // namespace
}  // namespace kernel_host_test
