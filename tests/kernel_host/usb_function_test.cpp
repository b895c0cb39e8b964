// The function driver in the kernel-host program, reached by a user program through its device interface:
// every transfer goes through pelkobus and the transport to the simulated server and back.
#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "notice_window.h"
#include "kernel_host/usb_function_records.h"
#include "testsupport/device_ids.h"
#include "testsupport/kernel_host_process.h"
#include "zarnet/sim/simulator.h"
#include "zarnet/sim/usb_device.h"

namespace kernel_host_test {
namespace {

using Loop = zarnet::sim::LoopbackDevice;

struct Outcome {
  bool ok;
  USBFUNC_RESULT result;
  std::vector<uint8_t> data;
};

Outcome UsbRecord(HANDLE device, DWORD code, UCHAR endpoint, const std::vector<uint8_t>& out, uint32_t readLength = 0) {
  std::vector<uint8_t> in(sizeof(USBFUNC_TRANSFER) + out.size());
  USBFUNC_TRANSFER request{};
  request.Endpoint = endpoint;
  request.Length = static_cast<uint32_t>(endpoint & 0x80 ? readLength : out.size());
  std::memcpy(in.data(), &request, sizeof request);
  if (!out.empty()) std::memcpy(in.data() + sizeof request, out.data(), out.size());
  std::vector<uint8_t> answer(sizeof(USBFUNC_RESULT) + readLength);
  Result r = Ioctl(device, code, in.data(), static_cast<DWORD>(in.size()), answer.data(), static_cast<DWORD>(answer.size()));
  Outcome o{static_cast<bool>(r.ok), {}, {}};
  if (r.ok && r.bytes >= sizeof(USBFUNC_RESULT)) {
    std::memcpy(&o.result, answer.data(), sizeof o.result);
    o.data.assign(answer.begin() + sizeof(USBFUNC_RESULT), answer.begin() + r.bytes);
  }
  return o;
}

TEST_F(KernelHostTest, AUserProgramLoopsDataThroughTheFunctionDriverAndClearsAStall) {
  zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(12, deviceLists_.port());
  zarnet::sim::Device d;
  d.port = 2;
  d.device_class = 0xFF;
  d.vid = 0x5678;
  d.pid = 0x4321;
  d.usb_device = "loopback";
  o.devices = {d};
  zarnet::sim::Server server(o);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  tavrin::test::KernelHostProcess process(KERNEL_HOST_PROGRAM, root().string(), {"--negotiation-timeout", "5000"});
  ASSERT_TRUE(process.WaitReady(10000));
  HWND window = MakeWindow();
  HDEVNOTIFY controlNotices = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_BUSDRIVER);
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  const uint32_t address = htonl(0x7F00000C);
  ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status, ARRM_STATUS_ALREADY_PRESENT);
  ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(1, true, address)).Status, ARRM_STATUS_SUCCESS);
  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));
  HANDLE control = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(control, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WaitServerKnown(control, address));
  HDEVNOTIFY usbNotices = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_USBFUNC);

  const tavrin::test::DeviceIds ids(u"USB\\VID_5678&PID_4321", u"USB\\Class_FF");
  auto request = DeviceRequest(3, true, address, 2);
  request.DataPort = htons(server.data_port());
  request.Class = 0xFF;
  ids.FillRequest(request);
  ASSERT_TRUE(Ioctl(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &request, sizeof request, &request, sizeof request).ok);
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));  // the function driver's interface
  HANDLE usb = OpenFirstInterface(GUID_DEVINTERFACE_USBFUNC);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);

  std::vector<uint8_t> descriptors(4096);
  Result r = Ioctl(usb, IOCTL_USBFUNC_GET_DESCRIPTORS, nullptr, 0, descriptors.data(), 4096);
  ASSERT_TRUE(r.ok);
  ASSERT_GE(r.bytes, 18u + 9u);
  EXPECT_EQ(descriptors[1], 1);        // device descriptor
  EXPECT_EQ(descriptors[18 + 1], 2);   // then the configuration

  std::vector<uint8_t> sent(16 * 65536);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 13 + i / 4096);
  for (int block = 0; block < 16; ++block) {
    Outcome w = UsbRecord(usb, IOCTL_USBFUNC_TRANSFER, Loop::kBulkOut,
                    std::vector<uint8_t>(sent.begin() + block * 65536, sent.begin() + (block + 1) * 65536));
    ASSERT_TRUE(w.ok);
    ASSERT_EQ(+w.result.IrpStatus, 0) << block;
  }
  std::vector<uint8_t> back;
  while (back.size() < sent.size()) {
    Outcome rd = UsbRecord(usb, IOCTL_USBFUNC_TRANSFER, Loop::kBulkIn, {}, 65536);
    ASSERT_TRUE(rd.ok);
    ASSERT_EQ(+rd.result.IrpStatus, 0);
    ASSERT_GT(rd.data.size(), 0u);
    back.insert(back.end(), rd.data.begin(), rd.data.end());
  }
  EXPECT_TRUE(back == sent);

  // Asked for more than its packet the endpoint stalls, and stays stalled until its pipe is reset.
  Outcome stall = UsbRecord(usb, IOCTL_USBFUNC_TRANSFER, Loop::kStallIn, {}, 512);
  ASSERT_TRUE(stall.ok);
  EXPECT_NE(+stall.result.IrpStatus, 0);
  EXPECT_EQ(+stall.result.UrbStatus, static_cast<int32_t>(0xC0000004));
  EXPECT_NE(+UsbRecord(usb, IOCTL_USBFUNC_TRANSFER, Loop::kStallIn, {}, 64).result.IrpStatus, 0);
  EXPECT_EQ(+UsbRecord(usb, IOCTL_USBFUNC_RESET_PIPE, Loop::kStallIn, {}).result.IrpStatus, 0);
  Outcome clear = UsbRecord(usb, IOCTL_USBFUNC_TRANSFER, Loop::kStallIn, {}, 64);
  EXPECT_EQ(+clear.result.IrpStatus, 0);

  CloseHandle(usb);
  CloseHandle(control);
  CloseHandle(busEnum);
  UnregisterDeviceNotification(usbNotices);
  UnregisterDeviceNotification(controlNotices);
  DestroyWindow(window);
  EXPECT_EQ(process.Terminate(), 0);
}

}  // namespace
}  // namespace kernel_host_test
