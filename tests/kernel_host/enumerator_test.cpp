// The bus enumerator stand-in, reached from user mode through the kernel host's socket.
#include <algorithm>
#include <chrono>

#include "host_fixture.h"
#include "notice_window.h"
#include "kernel_host/root_devices.h"
#include "wdk/kernel.h"

namespace kernel_host_test {
namespace {

constexpr uint32_t kServerA = 0x0A01A8C0;  // 192.168.1.10, network order
constexpr uint32_t kServerB = 0x0B01A8C0;
constexpr uint32_t kUnknownServer = 0x6401A8C0;  // 192.168.1.100

size_t ServerNodes(tavrin::wdk::Kernel& kernel) {
  auto nodes = kernel.DeviceNodes();
  return std::count_if(nodes.begin(), nodes.end(), [](const tavrin::wdk::DeviceNodeInfo& n) {
    return n.hardwareIds == std::vector<std::string>{VIRTUAL_USB_HARDWARE_ID};
  });
}

TEST_F(KernelHostTest, WithoutAKernelHostThereIsNoInterfaceNoDeviceAndNoNotice) {
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "");
  HANDLE device = CreateFile("\\\\?\\ROOT#VIZORIDO#0000#{d35f7840-6a0c-11d2-b841-00c04fad5171}", GENERIC_READ, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HWND window = MakeWindow();
  EXPECT_EQ(RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER), nullptr);
  DestroyWindow(window);
}

TEST_F(KernelHostTest, EnumeratorInterfaceIsListedOnlyWhileInstalled) {
  tavrin::kernel_host::SaveRootDevices({});
  StartHost();
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "");
  host_.reset();

  tavrin::kernel_host::SaveRootDevices({"root\\vizorido"});
  StartHost();
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSENUM), "\\\\?\\ROOT#VIZORIDO#0000#{d35f7840-6a0c-11d2-b841-00c04fad5171}");
  tavrin::kernel_host::KernelHost second;
  std::string error;
  EXPECT_FALSE(second.Start(&error));  // one kernel host per sysroot
  EXPECT_NE(error.find("already"), std::string::npos);
}

TEST_F(KernelHostTest, ServerRequestsAreAnsweredInOrderWithTheMoreBit) {
  StartHost();
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  for (uint32_t id : {1u, 2u, 3u}) {
    auto request = ServerRequest(id, true, kServerA + (id << 24));
    ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  }
  for (uint32_t id : {1u, 2u, 3u}) {
    SERVER_ARRIVALREMOVAL_INFO answer{};
    Result r = Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 24u);
    EXPECT_EQ(+answer.RequestId, id);
    EXPECT_EQ(+answer.ServerIp, kServerA + (id << 24));
    EXPECT_EQ(+answer.Arrival, 1);
    EXPECT_EQ(+answer.Status, id < 3 ? (ARRM_STATUS_SUCCESS | ARRM_STATUS_MORE) : ARRM_STATUS_SUCCESS);
  }
  SERVER_ARRIVALREMOVAL_INFO answer{};
  Result empty = Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer);
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.error, ERROR_GEN_FAILURE);
  EXPECT_EQ(empty.bytes, 0u);

  host_->kernel().WaitForPnpIdle();
  EXPECT_EQ(ServerNodes(host_->kernel()), 3u);
  EXPECT_EQ(ServerRoundTrip(busEnum, ServerRequest(4, true, kServerA + (1u << 24))).Status, ARRM_STATUS_ALREADY_PRESENT);
  EXPECT_EQ(ServerRoundTrip(busEnum, ServerRequest(5, false, kUnknownServer)).Status, ARRM_STATUS_NOT_PRESENT);
  EXPECT_EQ(ServerRoundTrip(busEnum, ServerRequest(6, false, kServerA + (2u << 24))).Status, ARRM_STATUS_SUCCESS);
  host_->kernel().WaitForPnpIdle();
  EXPECT_EQ(ServerNodes(host_->kernel()), 2u);  // the removal took the server's node away
  CloseHandle(busEnum);
}

TEST_F(KernelHostTest, MalformedRequestsAreRefusedAndShortFetchesKeepTheAnswer) {
  StartHost();
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  auto request = ServerRequest(7, true, kServerB);
  Result shortInput = Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, 23, nullptr, 0);
  EXPECT_FALSE(shortInput.ok);
  EXPECT_EQ(shortInput.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(shortInput.bytes, 24u);
  auto badLength = request;
  badLength.Length = 64;
  EXPECT_EQ(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &badLength, sizeof badLength, nullptr, 0).error,
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Ioctl(busEnum, IOCTL_BUS_GETSTATUS, nullptr, 0, nullptr, 0).error, ERROR_INVALID_FUNCTION);
  EXPECT_EQ(Ioctl(busEnum, CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 1, METHOD_NEITHER, FILE_ANY_ACCESS), nullptr, 0, nullptr, 0)
                .error,
            ERROR_INVALID_PARAMETER);  // only buffered requests cross into the kernel host

  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  unsigned char small[10] = {};
  Result tooSmall = Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, small, sizeof small, small, sizeof small);
  EXPECT_FALSE(tooSmall.ok);
  EXPECT_EQ(tooSmall.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(tooSmall.bytes, 24u);
  SERVER_ARRIVALREMOVAL_INFO answer{};
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer).ok);
  EXPECT_EQ(+answer.RequestId, 7u);

  EXPECT_EQ(Ioctl(reinterpret_cast<HANDLE>(0x12345), IOCTL_BUSENUM_GETSTATUS, &answer, 24, &answer, 24).error,
            ERROR_INVALID_HANDLE);
  CloseHandle(busEnum);
}

TEST_F(KernelHostTest, TheRegisteredEventOfTheCallingProcessIsSetForEveryAnswer) {
  StartHost();
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  HANDLE notAnEvent = SetupDiGetClassDevs(&GUID_DEVINTERFACE_BUSENUM, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
  for (HANDLE wrong : {reinterpret_cast<HANDLE>(0x7777), notAnEvent}) {
    uint64_t value = reinterpret_cast<uintptr_t>(wrong);
    Result r = Ioctl(busEnum, IOCTL_BUSENUM_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_INVALID_HANDLE);
  }
  SetupDiDestroyDeviceInfoList(notAnEvent);
  uint64_t value = 0;
  EXPECT_EQ(Ioctl(busEnum, IOCTL_BUSENUM_SET_SHARED_EVENT, &value, 7, nullptr, 0).error, ERROR_INSUFFICIENT_BUFFER);

  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  value = reinterpret_cast<uintptr_t>(event);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0).ok);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  auto request = ServerRequest(1, true, kServerA);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  ResetEvent(event);
  // The driver holds its own reference: the event is set even after the process closed the handle it
  // registered (here the same named event stays reachable through a second handle).
  HANDLE registered = CreateEvent(nullptr, TRUE, FALSE, "KernelHostTestEvent");
  HANDLE observer = OpenEvent(SYNCHRONIZE, FALSE, "KernelHostTestEvent");
  ASSERT_NE(observer, nullptr);
  value = reinterpret_cast<uintptr_t>(registered);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0).ok);
  CloseHandle(registered);
  request = ServerRequest(2, false, kServerA);
  ASSERT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  EXPECT_EQ(WaitForSingleObject(observer, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // replaced, so no longer set
  CloseHandle(busEnum);
  CloseHandle(event);
  CloseHandle(observer);
}

TEST_F(KernelHostTest, SpecialServerBringsTheControlDeviceAndItsNoticesReachTheWindow) {
  StartHost();
  HWND window = MakeWindow();
  HDEVNOTIFY notify = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(notify, nullptr);
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER), "");

  auto answer = ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0));
  EXPECT_EQ(+answer.Status, ARRM_STATUS_ALREADY_PRESENT);
  EXPECT_EQ(+answer.RequestId, SPECIAL_SERVER_REQUEST_ID);
  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 5000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEARRIVAL);
  auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE*>(message.lParam);
  EXPECT_EQ(notice->dbcc_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_TRUE(notice->dbcc_classguid == GUID_DEVINTERFACE_BUSDRIVER);
  std::string path = FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER);
  EXPECT_EQ(std::string(notice->dbcc_name), path);
  EXPECT_EQ(path.rfind("\\\\?\\{B85B7C50-6A01-11D2-B841-00C04FAD5171}#VIRTUALUSB#", 0), 0u) << path;

  HANDLE control = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(control, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // the control device is exclusive
  CloseHandle(control);

  EXPECT_EQ(ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, false, 0)).Status, ARRM_STATUS_SUCCESS);
  ASSERT_TRUE(WaitForDeviceChange(window, 5000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER), "");
  EXPECT_TRUE(UnregisterDeviceNotification(notify));
  EXPECT_FALSE(UnregisterDeviceNotification(notify));
  CloseHandle(busEnum);
  DestroyWindow(window);
}

// A refused open has no file behind it, so nothing waits for its close (that wait is seconds long).
TEST_F(KernelHostTest, RefusedOpensFailAtOnce) {
  StartHost();
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status,
            ARRM_STATUS_ALREADY_PRESENT);
  host_->kernel().WaitForPnpIdle();  // the control device's start, and its interface, may still be under way
  std::string path = FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER);
  HANDLE control = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(control, INVALID_HANDLE_VALUE);

  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFile((path + "x").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  CloseHandle(control);
  CloseHandle(busEnum);
}

}  // namespace
}  // namespace kernel_host_test
