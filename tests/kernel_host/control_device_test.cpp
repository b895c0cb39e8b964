// The stand-in control device on the special server's node, and the server bus devices beside it.
#include <algorithm>

#include "host_fixture.h"
#include "wdk/kernel.h"

namespace kernel_host_test {
namespace {

constexpr uint32_t kServer = 0x1401A8C0;  // 192.168.1.20
constexpr uint32_t kUnknownServer = 0x1501A8C0;

class ControlDeviceTest : public KernelHostTest {
 protected:
  void SetUp() override {
    KernelHostTest::SetUp();
    StartHost();
    busEnum_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
    ASSERT_NE(busEnum_, INVALID_HANDLE_VALUE);
    ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status,
              ARRM_STATUS_ALREADY_PRESENT);
    ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(1, true, kServer)).Status, ARRM_STATUS_SUCCESS);
    host_->kernel().WaitForPnpIdle();
    control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
    ASSERT_NE(control_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    CloseHandle(control_);
    CloseHandle(busEnum_);
    KernelHostTest::TearDown();
  }

  Result Send(const DEVICE_ARRIVALREMOVAL_INFO& request) {
    auto copy = request;
    return Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &copy, sizeof copy, &copy, sizeof copy);
  }
  DEVICE_ARRIVALREMOVAL_INFO Fetch(Result* result) {
    DEVICE_ARRIVALREMOVAL_INFO answer{};
    *result = Ioctl(control_, IOCTL_BUS_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer);
    return answer;
  }

  HANDLE busEnum_ = INVALID_HANDLE_VALUE;
  HANDLE control_ = INVALID_HANDLE_VALUE;
};

TEST_F(ControlDeviceTest, ServerNodesCarryTheEnumeratorHeadAndLoadTheFake) {
  auto nodes = host_->kernel().DeviceNodes();
  size_t servers = std::count_if(nodes.begin(), nodes.end(), [](const tavrin::wdk::DeviceNodeInfo& n) {
    return n.service == tavrin::kernel_host::fake_control_device::kService && n.started;
  });
  EXPECT_EQ(servers, 2u);  // the control device and the server's bus device
}

TEST_F(ControlDeviceTest, AnswersComeBackInOrderAndSetTheRegisteredEvent) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  uint64_t value = reinterpret_cast<uintptr_t>(event);
  Result registered = Ioctl(control_, IOCTL_BUS_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0);
  EXPECT_TRUE(registered.ok);

  ASSERT_TRUE(Send(DeviceRequest(1, true, kServer, 1)).ok);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(Send(DeviceRequest(2, true, kUnknownServer, 2)).ok);
  tavrin::kernel_host::fake_control_device::SetAnswerStatus(ARRM_STATUS_FAILED);
  ASSERT_TRUE(Send(DeviceRequest(3, true, kServer, 3)).ok);

  const uint32_t expected[] = {ARRM_STATUS_SUCCESS | ARRM_STATUS_MORE,
                               ARRM_STATUS_SERVER_NOT_FOUND | ARRM_STATUS_MORE, ARRM_STATUS_FAILED};
  for (uint32_t id = 1; id <= 3; ++id) {
    Result r;
    auto answer = Fetch(&r);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 64u);
    EXPECT_EQ(+answer.RequestId, id);
    EXPECT_EQ(+answer.PortNum, id);
    EXPECT_EQ(+answer.ArRmStatus, expected[id - 1]);
  }
  Result empty;
  Fetch(&empty);
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.error, ERROR_GEN_FAILURE);
  EXPECT_EQ(empty.bytes, 0u);
  CloseHandle(event);
}

TEST_F(ControlDeviceTest, WrongLengthsGetTheContractsAnswers) {
  auto request = DeviceRequest(1, true, kServer, 1);
  for (DWORD length : {63u, 65u}) {
    unsigned char buffer[80] = {};
    std::memcpy(buffer, &request, sizeof request);
    Result r = Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, buffer, length, buffer, length);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(r.bytes, 64u);
  }
  ASSERT_TRUE(Send(request).ok);
  unsigned char small[32] = {};
  Result tooSmall = Ioctl(control_, IOCTL_BUS_GETSTATUS, small, sizeof small, small, sizeof small);
  EXPECT_EQ(tooSmall.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(tooSmall.bytes, 64u);
  Result r;
  EXPECT_EQ(+Fetch(&r).RequestId, 1u);  // still first in the queue

  unsigned char redirect[21] = {};
  Result redir = Ioctl(control_, IOCTL_BUS_REDIR_READ, redirect, 21, redirect, 21);
  EXPECT_EQ(redir.error, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(redir.bytes, 0u);
  redir = Ioctl(control_, IOCTL_BUS_REDIR_WRITE, redirect, 20, redirect, 20);
  EXPECT_EQ(redir.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(redir.bytes, 37u);
  EXPECT_TRUE(Ioctl(control_, IOCTL_BUS_CANCEL_PENDING_REQUESTS, redirect, 4, nullptr, 0).ok);
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_CANCEL_PENDING_REQUESTS, redirect, 3, nullptr, 0).error,
            ERROR_INSUFFICIENT_BUFFER);
  unsigned char notification[37] = {};
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_GET_PNPNOTIFICATION, notification, 37, notification, 37).error,
            ERROR_GEN_FAILURE);
  BUS_PNP_EVENT_REGISTRATION release{0, 0};
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_SETRESET_PNPEVENT, &release, sizeof release, nullptr, 0).error,
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Ioctl(control_, CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF9, METHOD_BUFFERED, FILE_READ_ACCESS), redirect, 4,
                  nullptr, 0)
                .error,
            ERROR_INVALID_PARAMETER);
}

TEST_F(ControlDeviceTest, DeviceListCountsThenListsThePluggedDevices) {
  for (uint16_t port : {1, 2}) ASSERT_TRUE(Send(DeviceRequest(port, true, kServer, port)).ok);
  unsigned char countInput[28] = {};
  uint32_t count = 0;
  Result counted = Ioctl(control_, IOCTL_BUS_GET_DEVCOUNT, countInput, 27, &count, sizeof count);
  ASSERT_TRUE(counted.ok);
  EXPECT_EQ(counted.bytes, 4u);
  EXPECT_EQ(count, 2u);
  ExpectTwoDeviceList(control_, kServer);
}

TEST_F(ControlDeviceTest, ClosingTheControlDeviceDropsQueuedAnswers) {
  ASSERT_TRUE(Send(DeviceRequest(1, true, kServer, 1)).ok);
  ASSERT_TRUE(Send(DeviceRequest(2, true, kServer, 2)).ok);
  CloseHandle(control_);
  control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(control_, INVALID_HANDLE_VALUE);
  Result r;
  Fetch(&r);
  EXPECT_EQ(r.error, ERROR_GEN_FAILURE);
}

TEST_F(ControlDeviceTest, ServerNodeStartingBeforeTheControlDeviceFailsToStart) {
  CloseHandle(control_);
  control_ = INVALID_HANDLE_VALUE;
  ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(SPECIAL_SERVER_REQUEST_ID, false, 0)).Status, ARRM_STATUS_SUCCESS);
  ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(2, true, kUnknownServer)).Status, ARRM_STATUS_SUCCESS);
  host_->kernel().WaitForPnpIdle();
  auto nodes = host_->kernel().DeviceNodes();
  size_t started = std::count_if(nodes.begin(), nodes.end(), [](const tavrin::wdk::DeviceNodeInfo& n) {
    return n.hardwareIds == std::vector<std::string>{VIRTUAL_USB_HARDWARE_ID} && n.started;
  });
  EXPECT_EQ(started, 1u);  // the server that came while the control device was up
}

}  // namespace
}  // namespace kernel_host_test
