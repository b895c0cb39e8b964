// A device of two interfaces connected as the administration program connects it, in process: the
// composite parent and its children in plug and play, and what a child's function driver sees of the
// configuration.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "kernel_host/usb_composite.h"
#include "kernel_host/usb_function.h"
#include "kernel_host/usb_function_records.h"
#include "pelkobus/pelkobus.h"
#include "testsupport/device_ids.h"
#include "testsupport/urb.h"
#include "wdk/kernel.h"
#include "wdk/usb.h"
#include "zarnet/sim/simulator.h"

namespace kernel_host_test {
namespace {

constexpr int kServerHost = 16;
const std::string kDevice = "USB\\VID_5678&PID_4321\\04";
const std::string kFirst = "USB\\VID_5678&PID_4321&MI_00\\04&00";
const std::string kSecond = "USB\\VID_5678&PID_4321&MI_01\\04&01";

class UsbCompositeTest : public KernelHostTest {
 protected:
  void SetUp() override {
    KernelHostTest::SetUp();
    const uint32_t address = htonl(0x7F000000u | kServerHost);
    zarnet::sim::ServerOptions o =
        zarnet::sim::LoopbackServerOptions(kServerHost, zarnet::sim::FreeLoopbackPort(SOCK_DGRAM));
    zarnet::sim::Device d;
    d.port = 4;
    d.device_class = 0xEF;
    d.vid = 0x5678;
    d.pid = 0x4321;
    d.interfaces = 2;
    d.usb_device = "composite";
    o.devices.push_back(d);
    server_ = std::make_unique<zarnet::sim::Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    tavrin::kernel_host::Options options;
    options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
    StartHost(options);
    HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
    ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
    ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0));
    ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(1, true, address)).Status, ARRM_STATUS_SUCCESS);
    CloseHandle(busEnum);
    host_->kernel().WaitForPnpIdle();
    control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
    ASSERT_NE(control_, INVALID_HANDLE_VALUE);
    using namespace std::string_literals;
    ids_ = tavrin::test::DeviceIds(u"USB\\VID_5678&PID_4321&REV_0100\0USB\\VID_5678&PID_4321"s,
                                   u"usb\\devclass_00&subclass_00&prot_00\0usb\\devclass_00&subClass_00\0"
                                   u"usb\\devclass_00\0usb\\composite"s);
    request_ = DeviceRequest(1, true, address, 4);
    request_.DataPort = htons(server_->data_port());
    request_.Class = 0xEF;
    ids_.FillRequest(request_);
    DEVICE_ARRIVALREMOVAL_INFO r = request_;
    ASSERT_TRUE(Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok);
    // The plug-in has queued the child's report; plug and play starts it and then its children.
    host_->kernel().WaitForPnpIdle();
  }
  void TearDown() override {
    if (control_ != INVALID_HANDLE_VALUE) CloseHandle(control_);
    host_.reset();
    server_.reset();
    EXPECT_EQ(pelkobus::LiveChildren(), 0);
    KernelHostTest::TearDown();
  }

  const tavrin::wdk::DeviceNodeInfo* Node(const std::vector<tavrin::wdk::DeviceNodeInfo>& nodes, const std::string& id) {
    for (const auto& n : nodes)
      if (n.instanceId == id) return &n;
    return nullptr;
  }

  // Selects the configuration for one interface through a child's stack; the entry as it came back.
  struct Selected {
    NTSTATUS status;
    USBD_CONFIGURATION_HANDLE handle;
    std::vector<USBD_PIPE_INFORMATION> pipes;
  };
  Selected SelectConfiguration(PDEVICE_OBJECT stack, UCHAR interfaceNumber, std::vector<uint8_t>& config) {
    const USHORT entry = InterfaceInformationSize(4);
    std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + entry);
    auto* select = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
    select->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
    select->ConfigurationDescriptor = config.data();
    select->Interface.Length = entry;
    select->Interface.InterfaceNumber = interfaceNumber;
    Selected s{tavrin::test::SubmitUrbAndWait(stack, select), select->ConfigurationHandle, {}};
    for (ULONG i = 0; i < select->Interface.NumberOfPipes && i < 4; ++i) s.pipes.push_back(select->Interface.Pipes[i]);
    return s;
  }

  std::unique_ptr<zarnet::sim::Server> server_;
  HANDLE control_ = INVALID_HANDLE_VALUE;
  tavrin::test::DeviceIds ids_;
  DEVICE_ARRIVALREMOVAL_INFO request_{};
};

TEST_F(UsbCompositeTest, TheParentMakesAChildPerInterfaceAndEachGetsTheFunctionDriver) {
  auto nodes = host_->kernel().DeviceNodes();
  const auto* device = Node(nodes, kDevice);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->service, tavrin::kernel_host::usb_composite::kService);
  for (const std::string& id : {kFirst, kSecond}) {
    const auto* child = Node(nodes, id);
    ASSERT_NE(child, nullptr) << id;
    EXPECT_TRUE(child->started) << id;
    EXPECT_EQ(child->service, tavrin::kernel_host::usb_function::kService) << id;
  }
  const auto* second = Node(nodes, kSecond);
  EXPECT_EQ(second->hardwareIds,
            (std::vector<std::string>{"USB\\VID_5678&PID_4321&REV_0000&MI_01", "USB\\VID_5678&PID_4321&MI_01"}));
  EXPECT_EQ(second->compatibleIds,
            (std::vector<std::string>{"USB\\Class_FF&SubClass_01&Prot_00", "USB\\Class_FF&SubClass_01", "USB\\Class_FF"}));
  EXPECT_EQ(host_->kernel().Interfaces(GUID_DEVINTERFACE_USBFUNC, true).size(), 2u);

  // The unplug takes the parent and both children.
  DEVICE_ARRIVALREMOVAL_INFO r = request_;
  r.Arrival = 0;
  ASSERT_TRUE(Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok);
  host_->kernel().WaitForPnpIdle();
  nodes = host_->kernel().DeviceNodes();
  EXPECT_EQ(Node(nodes, kDevice), nullptr);
  EXPECT_EQ(Node(nodes, kFirst), nullptr);
  EXPECT_EQ(Node(nodes, kSecond), nullptr);
  EXPECT_TRUE(host_->kernel().Interfaces(GUID_DEVINTERFACE_USBFUNC, true).empty());
}

TEST_F(UsbCompositeTest, AChildSeesItsInterfaceAloneAndKeepsTheSettingItChose) {
  PDEVICE_OBJECT stack = host_->kernel().ReferenceDeviceStack(kSecond);
  ASSERT_NE(stack, nullptr);
  // Its configuration: the configuration descriptor, then interface 1 in its three settings.
  std::vector<uint8_t> config;
  ASSERT_EQ(tavrin::test::GetDescriptorAndWait(stack, 2, config, 256), STATUS_SUCCESS);
  ASSERT_GE(config.size(), 9u);
  EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
  EXPECT_EQ(config[4], 1);
  int settings = 0;
  for (size_t at = config[0]; at + 2 <= config.size() && config[at] >= 2; at += config[at]) {
    if (config[at + 1] != 4) continue;
    EXPECT_EQ(config[at + 2], 1);
    ++settings;
  }
  EXPECT_EQ(settings, 3);

  // Setting 0 has no endpoints; setting 2 two, which a later selection of the configuration hands back.
  Selected first = SelectConfiguration(stack, 1, config);
  ASSERT_EQ(first.status, STATUS_SUCCESS);
  EXPECT_NE(first.handle, nullptr);
  EXPECT_TRUE(first.pipes.empty());
  std::vector<uint8_t> memory(offsetof(URB_SELECT_INTERFACE, Interface) + InterfaceInformationSize(4));
  auto* select = reinterpret_cast<URB_SELECT_INTERFACE*>(memory.data());
  select->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_INTERFACE, 0, nullptr, 0};
  select->ConfigurationHandle = first.handle;
  select->Interface.Length = InterfaceInformationSize(4);
  select->Interface.InterfaceNumber = 1;
  select->Interface.AlternateSetting = 2;
  ASSERT_EQ(tavrin::test::SubmitUrbAndWait(stack, select), STATUS_SUCCESS);
  ASSERT_EQ(select->Interface.NumberOfPipes, 2u);
  Selected again = SelectConfiguration(stack, 1, config);
  ASSERT_EQ(again.status, STATUS_SUCCESS);
  ASSERT_EQ(again.pipes.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(again.pipes[i].PipeHandle, select->Interface.Pipes[i].PipeHandle) << i;
    EXPECT_EQ(again.pipes[i].EndpointAddress, select->Interface.Pipes[i].EndpointAddress) << i;
  }
  // Another child's interface is not this child's to select.
  EXPECT_EQ(SelectConfiguration(stack, 0, config).status, STATUS_INVALID_PARAMETER);
  ObDereferenceObject(stack);
}

}  // namespace
}  // namespace kernel_host_test
