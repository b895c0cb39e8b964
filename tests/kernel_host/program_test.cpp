// The kernel-host program as a process of its own: the user side reaches it and its events cross over.
#include <arpa/inet.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>

#include "host_fixture.h"
#include "notice_window.h"
#include "testsupport/kernel_host_process.h"
#include "win32/devices/kernel_link.h"
#include "zarnet/sim/simulator.h"

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

struct Notice {
  WPARAM event;
  GUID interfaceClass;
  std::string path;
};

// The next notice posted to the window; event 0 when none comes.
Notice NextNotice(HWND window) {
  MSG message{};
  if (!WaitForDeviceChange(window, 10000, &message)) return {0, {}, ""};
  auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE*>(message.lParam);
  return {message.wParam, record->dbcc_classguid, record->dbcc_name};
}

TEST_F(KernelHostTest, LostHostRemovesTheInterfacesAndItsReturnBringsThemBack) {
  tavrin::kernel_link::SetReconnectInterval(std::chrono::milliseconds(5));
  auto first = std::make_unique<tavrin::test::KernelHostProcess>(KERNEL_HOST_PROGRAM, root().string());
  ASSERT_TRUE(first->WaitReady(10000));
  const std::string enumeratorPath = FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(enumeratorPath, "");

  HWND window = MakeWindow();
  HDEVNOTIFY enumeratorNotices = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSENUM);
  HDEVNOTIFY controlNotices = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(enumeratorNotices, nullptr);
  ASSERT_NE(controlNotices, nullptr);
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  auto special = ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &special, sizeof special, nullptr, 0).ok);
  Notice control = NextNotice(window);
  ASSERT_EQ(control.event, DBT_DEVICEARRIVAL);
  EXPECT_EQ(control.interfaceClass, GUID_DEVINTERFACE_BUSDRIVER);

  // Killed: both registrations see their interfaces go, and the open handle fails at once.
  first->Kill();
  std::map<std::string, WPARAM> seen;
  for (int i = 0; i < 2; ++i) {
    Notice notice = NextNotice(window);
    seen[notice.path] = notice.event;
  }
  EXPECT_EQ(seen[enumeratorPath], DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(seen[control.path], DBT_DEVICEREMOVECOMPLETE);
  Result result = Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, nullptr, 0, nullptr, 0);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, ERROR_DEVICE_NOT_CONNECTED);
  CloseHandle(busEnum);

  // Back: the enumerator arrives again, and notices flow as before.
  tavrin::test::KernelHostProcess second(KERNEL_HOST_PROGRAM, root().string());
  ASSERT_TRUE(second.WaitReady(10000));
  Notice back = NextNotice(window);
  EXPECT_EQ(back.event, DBT_DEVICEARRIVAL);
  EXPECT_EQ(back.interfaceClass, GUID_DEVINTERFACE_BUSENUM);
  EXPECT_EQ(back.path, enumeratorPath);
  busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &special, sizeof special, nullptr, 0).ok);
  Notice again = NextNotice(window);
  EXPECT_EQ(again.event, DBT_DEVICEARRIVAL);
  EXPECT_EQ(again.path, control.path);

  CloseHandle(busEnum);
  UnregisterDeviceNotification(enumeratorNotices);
  UnregisterDeviceNotification(controlNotices);
  EXPECT_EQ(second.Terminate(), 0);
  DestroyWindow(window);
  tavrin::kernel_link::SetReconnectInterval(std::chrono::seconds(1));
}

}  // namespace
}  // namespace kernel_host_test

namespace kernel_host_test {
namespace {

// The program's own default: the bus driver, which connects a device of a simulated server.
TEST_F(KernelHostTest, ProgramRunsTheBusDriverWhichClaimsTheDevice) {
  zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(11, deviceLists_.port());
  zarnet::sim::Device device;
  device.port = 4;
  o.devices = {device};
  zarnet::sim::Server server(o);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  tavrin::test::KernelHostProcess process(KERNEL_HOST_PROGRAM, root().string(), {"--negotiation-timeout", "2000"});
  ASSERT_TRUE(process.WaitReady(10000));
  HWND window = MakeWindow();
  HDEVNOTIFY notify = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER);
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  const uint32_t address = htonl(0x7F00000B);
  ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status, ARRM_STATUS_ALREADY_PRESENT);
  ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(1, true, address)).Status, ARRM_STATUS_SUCCESS);
  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));  // the control device's interface
  HANDLE control = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(control, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WaitServerKnown(control, address));
  auto request = DeviceRequest(7, true, address, 4);
  request.DataPort = htons(server.data_port());
  EXPECT_TRUE(Ioctl(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &request, sizeof request, &request, sizeof request).ok);
  DEVICE_ARRIVALREMOVAL_INFO answer{};
  ASSERT_TRUE(Ioctl(control, IOCTL_BUS_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer).ok);
  EXPECT_EQ(+answer.RequestId, 7u);
  EXPECT_EQ(+answer.ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_TRUE(server.devices()[0].busy);
  CloseHandle(control);
  CloseHandle(busEnum);
  UnregisterDeviceNotification(notify);
  DestroyWindow(window);
  EXPECT_EQ(process.Terminate(), 0);
  // The host's end closes the device's connection: the server frees it.
  EXPECT_TRUE(server.WaitUntil([&] { return !server.devices()[0].busy; }, std::chrono::milliseconds(2000)));
}

}  // namespace
}  // namespace kernel_host_test
