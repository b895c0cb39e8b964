#include "host_fixture.h"

#include <cstring>
#include <vector>

#include "wdk/kernel.h"

namespace kernel_host_test {

HANDLE OpenFirstInterface(const GUID& interfaceClass) {
  std::string path = FirstInterfacePath(interfaceClass);
  if (path.empty()) return INVALID_HANDLE_VALUE;
  return CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

Result Ioctl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD bytes = 0xDEAD;
  SetLastError(0);
  BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, &bytes, nullptr);
  return {ok, ok ? 0 : GetLastError(), bytes};
}

void ExpectTwoDeviceList(HANDLE control, uint32_t serverIp) {
  uint32_t count = 2;
  std::vector<unsigned char> list(4 + 24 * count);
  Result listed = Ioctl(control, IOCTL_BUS_GET_DEVCOUNT, list.data(), list.size(), list.data(), list.size());
  ASSERT_TRUE(listed.ok);
  EXPECT_EQ(listed.bytes, 52u);
  auto second = pelkobus::Load<BUS_DEVICE_INFO>(list.data() + 4 + 24);
  EXPECT_EQ(+second.IP, serverIp);
  EXPECT_EQ(+second.Port, 2);
  EXPECT_EQ(+second.Vid, 0x5678);
  std::vector<unsigned char> tooShort(24 * count);
  EXPECT_EQ(Ioctl(control, IOCTL_BUS_GET_DEVCOUNT, tooShort.data(), tooShort.size(), tooShort.data(), tooShort.size())
                .error,
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(Ioctl(control, IOCTL_BUS_GET_DEVCOUNT, nullptr, 0, &count, sizeof count).error, ERROR_INVALID_PARAMETER);
}

SERVER_ARRIVALREMOVAL_INFO ServerRequest(uint32_t requestId, bool arrival, uint32_t serverIp) {
  SERVER_ARRIVALREMOVAL_INFO r{};
  r.RequestId = requestId;
  r.Taken = 1;
  r.Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
  r.Arrival = arrival ? 1 : 0;
  r.ServerId = requestId == SPECIAL_SERVER_REQUEST_ID ? 0 : 0x1000 + requestId;
  r.ServerIp = serverIp;
  r.DataPort = serverIp ? 3240 : 0;
  r.Status = serverIp ? ARRM_STATUS_PENDING : 0;
  return r;
}

DEVICE_ARRIVALREMOVAL_INFO DeviceRequest(uint32_t requestId, bool arrival, uint32_t serverIp, uint16_t port) {
  DEVICE_ARRIVALREMOVAL_INFO r{};
  r.RequestId = requestId;
  r.Taken = 1;
  r.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
  r.Arrival = arrival ? 1 : 0;
  r.DeviceInfoLength = DEVICE_INFO_LENGTH;
  r.PortNum = port;
  r.Pid = 0x1234;
  r.Vid = 0x5678;
  r.ServerIp = serverIp;
  r.DataPort = 0xA80C;  // 3240, network order
  r.ArRmStatus = ARRM_STATUS_PENDING;
  return r;
}

SERVER_ARRIVALREMOVAL_INFO ServerRoundTrip(HANDLE busEnum, const SERVER_ARRIVALREMOVAL_INFO& request) {
  EXPECT_TRUE(Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &request, sizeof request, nullptr, 0).ok);
  SERVER_ARRIVALREMOVAL_INFO answer{};
  for (;;) {
    Result r = Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer);
    EXPECT_TRUE(r.ok);
    if (!r.ok || !(answer.Status & ARRM_STATUS_MORE)) return answer;
  }
}

bool WaitServerKnown(HANDLE control, uint32_t serverIp) {
  return tavrin::test::Eventually([&] {
    DEVICE_ARRIVALREMOVAL_INFO probe = DeviceRequest(0xFFFE, false, serverIp, 0xFFFE);
    if (!Ioctl(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &probe, sizeof probe, &probe, sizeof probe).ok) return false;
    DEVICE_ARRIVALREMOVAL_INFO answer{};
    do {
      if (!Ioctl(control, IOCTL_BUS_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer).ok) return false;
    } while (answer.ArRmStatus & ARRM_STATUS_MORE);
    return answer.ArRmStatus != ARRM_STATUS_SERVER_NOT_FOUND;
  });
}

void KernelHostTest::StartHost(tavrin::kernel_host::Options options) {
  host_.reset();  // the old host stops serving the sysroot before the new one starts
  host_ = std::make_unique<tavrin::kernel_host::KernelHost>(std::move(options));
  std::string error;
  ASSERT_TRUE(host_->Start(&error)) << error;
}

void KernelHostTest::TearDown() {
  host_.reset();
  tavrin::kernel_host::fake_control_device::SetAnswerStatus(ARRM_STATUS_SUCCESS);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(), 0u) << "the kernel leaked pool";
  SysrootTest::TearDown();
}

}  // namespace kernel_host_test
