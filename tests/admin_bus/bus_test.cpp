// CBus and CBusEnum against the kernel host: opening, the request/answer cycle, the events, the device
// notices, the trace lines, and drivers that answer with sizes they should not.
#include <gtest/gtest.h>

#include <cstdlib>

#include "admin/TavrinAdminApp.h"
#include "admin/bus/Bus.h"
#include "admin/bus/BusEnum.h"
#include "kernel_host/kernel_host.h"
#include "kernel_host/root_devices.h"
#include "lying_driver.h"
#include "testsupport/admin_helpers.h"
#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/windows.h"

namespace {

using tavrin::test::ReadAdminLog;
using tavrin::test::WaitForDeviceChange;

constexpr uint32_t kServer = 0x1E01A8C0;  // 192.168.1.30

SERVER_ARRIVALREMOVAL_INFO ServerRecord(uint32_t requestId, bool arrival, uint32_t serverIp) {
  SERVER_ARRIVALREMOVAL_INFO r{};
  r.RequestId = requestId;
  r.Taken = 1;
  r.Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
  r.Arrival = arrival ? 1 : 0;
  r.ServerIp = serverIp;
  r.DataPort = serverIp ? 3240 : 0;
  r.Status = serverIp ? ARRM_STATUS_PENDING : 0;
  return r;
}

DEVICE_ARRIVALREMOVAL_INFO DeviceRecord(uint32_t requestId, uint16_t port) {
  DEVICE_ARRIVALREMOVAL_INFO r{};
  r.RequestId = requestId;
  r.Taken = 1;
  r.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
  r.Arrival = 1;
  r.DeviceInfoLength = DEVICE_INFO_LENGTH;
  r.PortNum = port;
  r.ServerIp = kServer;
  r.ArRmStatus = ARRM_STATUS_PENDING;
  return r;
}

class BusLinkTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "InstallMarker", 1), ERROR_SUCCESS);
    ASSERT_TRUE(app_.InitLogAndParameters());
    app_.AppTraceLevel = 1;  // every line
  }
  void TearDown() override {
    host_.reset();
    app_.CloseLog();
    SysrootTest::TearDown();
  }
  void StartHost(tavrin::kernel_host::Options options = {}) {
    host_.reset();  // the old host stops serving the sysroot before the new one starts
    host_ = std::make_unique<tavrin::kernel_host::KernelHost>(std::move(options));
    std::string error;
    ASSERT_TRUE(host_->Start(&error)) << error;
  }
  void StartLyingHost() {
    tavrin::kernel_host::SaveRootDevices({lying_driver::kHardwareId});
    tavrin::kernel_host::Options options;
    options.drivers.push_back({lying_driver::kHardwareId, "liar", lying_driver::DriverEntry});
    StartHost(options);
  }
  std::string Log() {
    app_.CloseLog();
    return ReadAdminLog();
  }

  CTavrinAdminApp app_;
  std::unique_ptr<tavrin::kernel_host::KernelHost> host_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(BusLinkTest, WithoutAKernelHostNeitherLinkOpensAndBothCloseCleanly) {
  CBusEnum busEnum;
  CBus bus;
  EXPECT_FALSE(busEnum.Open());
  EXPECT_FALSE(bus.Open());
  EXPECT_EQ(busEnum.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(bus.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(bus.DeRegisterInterface());  // never registered

  auto record = ServerRecord(1, true, kServer);
  EXPECT_FALSE(busEnum.NotifyServerPresence(&record));
  SERVER_ARRIVALREMOVAL_INFO* answer = nullptr;
  EXPECT_FALSE(busEnum.GetStatus(&answer));
  ASSERT_NE(answer, nullptr);  // handed over on failure too
  std::free(answer);
  EXPECT_TRUE(busEnum.Close());
  EXPECT_TRUE(bus.Close());
  EXPECT_TRUE(bus.Close());

  std::string log = Log();
  EXPECT_TRUE(Contains(log, "Error:Interface GUID_DEVINTERFACE_BUSENUM is not registered\r\n"));
  EXPECT_TRUE(Contains(log, "Error:Interface GUID_DEVINTERFACE_BUSDRIVER is not registered\r\n"));
  EXPECT_TRUE(Contains(log, "NotifyServerPresence Failed:6\r\n"));
  EXPECT_TRUE(Contains(log, "Server GetStatus Failed:6\r\n"));
  EXPECT_TRUE(Contains(log, "CBus::Close ==>\r\n"));
  EXPECT_FALSE(Contains(log, "CBus::Close: "));  // no handle was closed
}

TEST_F(BusLinkTest, ServerAndDeviceRequestsTravelBothLinksAndTheirEventsFire) {
  StartHost();
  HWND window = tavrin::win::CreateWindowObject({"BusLinkTestWindow", "functional pane"});
  CBusEnum busEnum;
  CBus bus;
  ASSERT_TRUE(busEnum.Open());
  ASSERT_TRUE(bus.RegisterInterface(window));
  HANDLE busEnumRspEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE busRspEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(busEnum.SetBusSharedEvents(busEnumRspEvent));

  // The special server brings the control device; its interface's arrival reaches the window.
  auto special = ServerRecord(SPECIAL_SERVER_REQUEST_ID, true, 0);
  ASSERT_TRUE(busEnum.NotifyServerPresence(&special));
  ASSERT_EQ(WaitForSingleObject(busEnumRspEvent, 5000), WAIT_OBJECT_0);
  ResetEvent(busEnumRspEvent);
  SERVER_ARRIVALREMOVAL_INFO* serverAnswer = nullptr;
  ASSERT_TRUE(busEnum.GetStatus(&serverAnswer));
  EXPECT_EQ(+serverAnswer->RequestId, SPECIAL_SERVER_REQUEST_ID);
  EXPECT_EQ(+serverAnswer->Status, ARRM_STATUS_ALREADY_PRESENT);
  std::free(serverAnswer);
  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 5000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEARRIVAL);

  ASSERT_TRUE(bus.Open());
  ASSERT_TRUE(bus.SetSharedEvents(busRspEvent));
  auto server = ServerRecord(1, true, kServer);
  ASSERT_TRUE(busEnum.NotifyServerPresence(&server));
  ASSERT_EQ(WaitForSingleObject(busEnumRspEvent, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(busEnum.GetStatus(&serverAnswer));
  EXPECT_EQ(+serverAnswer->Status, ARRM_STATUS_SUCCESS);
  std::free(serverAnswer);
  host_->kernel().WaitForPnpIdle();

  for (uint16_t port : {1, 2}) {
    auto device = DeviceRecord(port, port);
    ASSERT_TRUE(bus.NotifyDevicePresence(&device));
  }
  ASSERT_EQ(WaitForSingleObject(busRspEvent, 5000), WAIT_OBJECT_0);
  for (uint32_t id : {1u, 2u}) {
    DEVICE_ARRIVALREMOVAL_INFO* answer = nullptr;
    ASSERT_TRUE(bus.GetStatus(&answer));
    EXPECT_EQ(+answer->RequestId, id);
    EXPECT_EQ(+answer->ServerIp, kServer);
    EXPECT_EQ(+answer->ArRmStatus, id == 1 ? (ARRM_STATUS_SUCCESS | ARRM_STATUS_MORE) : ARRM_STATUS_SUCCESS);
    std::free(answer);
  }
  void* list = nullptr;
  ASSERT_TRUE(bus.GetDeviceInfo(&list));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(pelkobus::Load<uint32_t>(list), 2u);
  std::free(list);

  // The special server's removal takes the control device away: the window hears of it.
  special.Arrival = 0;
  ASSERT_TRUE(busEnum.NotifyServerPresence(&special));
  ASSERT_TRUE(WaitForDeviceChange(window, 5000, &message));
  EXPECT_EQ(message.wParam, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_TRUE(bus.DeRegisterInterface());
  EXPECT_TRUE(bus.Close());
  EXPECT_TRUE(busEnum.Close());
  CloseHandle(busEnumRspEvent);
  CloseHandle(busRspEvent);
  DestroyWindow(window);

  std::string log = Log();
  EXPECT_TRUE(Contains(log, "BusEnumerator interface opened!!!\r\n"));
  EXPECT_TRUE(Contains(log, "Opening \\\\?\\{B85B7C50-6A01-11D2-B841-00C04FAD5171}#VIRTUALUSB#"));
  EXPECT_TRUE(Contains(log, "Bus interface opened!!!\r\n"));
  EXPECT_TRUE(Contains(log, "RegisterInterface <==\r\n"));
  EXPECT_TRUE(Contains(log, "CBus::NotifyDevicePresence <==\r\n"));
  EXPECT_TRUE(Contains(log, "Devices Returned=2\r\n"));
  EXPECT_TRUE(Contains(log, "\r\nDevice IP=" + std::to_string(static_cast<int>(kServer)) + ", Port=2, Status=1"));
  EXPECT_TRUE(Contains(log, "CBus::Close: "));
}

TEST_F(BusLinkTest, AnswerBuffersAreNeverShorterThanTheirRecord) {
  StartLyingHost();
  CBusEnum busEnum;
  CBus bus;
  ASSERT_TRUE(busEnum.Open());
  ASSERT_TRUE(bus.Open());
  using lying_driver::Mode;
  for (Mode mode : {Mode::AsksForLessThanTheRecord, Mode::AsksForHugeBuffer, Mode::ShortAnswer}) {
    lying_driver::g_mode = mode;
    SERVER_ARRIVALREMOVAL_INFO* serverAnswer = nullptr;
    EXPECT_FALSE(busEnum.GetStatus(&serverAnswer));
    ASSERT_NE(serverAnswer, nullptr);
    EXPECT_NE(+serverAnswer->Status, ARRM_STATUS_SUCCESS);  // the whole record is readable (ASan would say)
    std::free(serverAnswer);
    DEVICE_ARRIVALREMOVAL_INFO* deviceAnswer = nullptr;
    EXPECT_FALSE(bus.GetStatus(&deviceAnswer));
    ASSERT_NE(deviceAnswer, nullptr);
    EXPECT_NE(+deviceAnswer->ArRmStatus, ARRM_STATUS_SUCCESS);
    std::free(deviceAnswer);
  }
  // A driver that rightly asks for more gets one resend with its size.
  lying_driver::g_mode = Mode::AsksForMoreOnce;
  SERVER_ARRIVALREMOVAL_INFO* serverAnswer = nullptr;
  ASSERT_TRUE(busEnum.GetStatus(&serverAnswer));
  EXPECT_EQ(+serverAnswer->RequestId, 7u);
  EXPECT_EQ(+serverAnswer->Status, ARRM_STATUS_SUCCESS);
  std::free(serverAnswer);
  DEVICE_ARRIVALREMOVAL_INFO* deviceAnswer = nullptr;
  ASSERT_TRUE(bus.GetStatus(&deviceAnswer));
  EXPECT_EQ(+deviceAnswer->ArRmStatus, ARRM_STATUS_SUCCESS);
  std::free(deviceAnswer);

  std::string log = Log();
  EXPECT_TRUE(Contains(log, "Server GetStatus Failed:122\r\n"));
  EXPECT_TRUE(Contains(log, "Device GetStatus Failed:13\r\n"));
}

TEST_F(BusLinkTest, DeviceListCountsFromTheDriverAreCheckedBeforeUse) {
  StartLyingHost();
  CBus bus;
  ASSERT_TRUE(bus.Open());
  using lying_driver::Mode;
  for (Mode mode : {Mode::CountNotWritten, Mode::CountTooLarge}) {
    lying_driver::g_mode = mode;
    void* list = reinterpret_cast<void*>(1);
    EXPECT_FALSE(bus.GetDeviceInfo(&list));
    EXPECT_EQ(list, nullptr);
  }
  // The list claims more entries than the buffer of the count holds: only those written are read.
  lying_driver::g_mode = Mode::ListCountGrows;
  void* list = nullptr;
  ASSERT_TRUE(bus.GetDeviceInfo(&list));
  std::free(list);
  std::string log = Log();
  EXPECT_TRUE(Contains(log, "Devices Returned=3\r\n"));
  size_t entries = 0;
  for (size_t at = log.find("Device IP="); at != std::string::npos; at = log.find("Device IP=", at + 1)) ++entries;
  EXPECT_EQ(entries, 3u);
}

}  // namespace
