// A fresh sysroot with a kernel host in the test process, and the user-side calls the tests repeat.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kernel_host/fake_control_device.h"
#include "kernel_host/kernel_host.h"
#include "pelkobus/busenum.h"
#include "pelkobus/records.h"
#include "testsupport/eventually.h"
#include "testsupport/interfaces.h"
#include "testsupport/ports.h"
#include "testsupport/sysroot.h"
#include "win32/file.h"
#include "win32/ioctl.h"
#include "win32/setupapi.h"
#include "win32/sync.h"

namespace kernel_host_test {

using tavrin::test::FirstInterfacePath;
HANDLE OpenFirstInterface(const GUID& interfaceClass);

struct Result {
  BOOL ok;
  DWORD error;  // GetLastError when !ok
  DWORD bytes;
};
Result Ioctl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize);

SERVER_ARRIVALREMOVAL_INFO ServerRequest(uint32_t requestId, bool arrival, uint32_t serverIp);
DEVICE_ARRIVALREMOVAL_INFO DeviceRequest(uint32_t requestId, bool arrival, uint32_t serverIp, uint16_t port);
// Sends a server request and fetches its answer (with any other queued ones in front of it discarded).
SERVER_ARRIVALREMOVAL_INFO ServerRoundTrip(HANDLE busEnum, const SERVER_ARRIVALREMOVAL_INFO& request);
// The control device learns of a server once plug and play has started the server's node, a moment after
// the enumerator's answer: waits for that. Until then a removal from a port nothing uses is answered
// "server not found", afterwards "not present", and it changes nothing.
bool WaitServerKnown(HANDLE control, uint32_t serverIp);

// The list IOCTL_BUS_GET_DEVCOUNT gives of a control device holding two devices, the second on port 2 of
// `serverIp` with vendor 0x5678; a buffer without room for the count and a call without input are refused.
void ExpectTwoDeviceList(HANDLE control, uint32_t serverIp);

class KernelHostTest : public tavrin::test::SysrootTest {
 protected:
  void StartHost(tavrin::kernel_host::Options options = {});
  void TearDown() override;

  std::unique_ptr<tavrin::kernel_host::KernelHost> host_;
  // Where simulated servers' device lists go unheard.
  tavrin::test::HeldPort deviceLists_{tavrin::test::HeldPort::kDatagram};
};

}  // namespace kernel_host_test
