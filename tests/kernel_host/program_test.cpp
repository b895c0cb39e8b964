// The kernel-host program as a process of its own: the user side reaches it and its events cross over.
#include <arpa/inet.h>

#include <filesystem>

#include "host_fixture.h"
#include "testsupport/kernel_host_process.h"
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

}  // namespace
}  // namespace kernel_host_test

namespace kernel_host_test {
namespace {

// The program's own default: the bus driver, which connects a device of a simulated server.
TEST_F(KernelHostTest, ProgramRunsTheBusDriverWhichClaimsTheDevice) {
  zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(11, zarnet::sim::FreeLoopbackPort(SOCK_DGRAM));
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
