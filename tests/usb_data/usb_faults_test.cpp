// Faults of the data connection, as a client meets them, and a server's answer to a stream out of frame.
#include <gtest/gtest.h>

#include "testsupport/eventually.h"
#include "usb_link.h"
#include "zarnet/sim/config.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/wire.h"

namespace usbtest {
namespace {

sim::Device Loopback() {
  sim::Device d;
  d.port = 1;
  d.device_class = 0xFF;
  d.product = "Loopback";
  return d;
}

sim::Fault DataFault(const char* text) {
  std::string error;
  auto f = sim::ParseFault(text, &error);
  EXPECT_TRUE(f) << error;
  return f.value_or(sim::Fault{});
}

sim::UsbSessionOptions WithFaults(std::vector<const char*> texts) {
  std::vector<sim::Fault> faults;
  for (const char* t : texts) faults.push_back(DataFault(t));
  sim::UsbSessionOptions o;
  o.faults = sim::DataFaultList(faults);
  return o;
}

void Configure(DataLink& link) {
  link.Control(SetConfiguration(1));
  ASSERT_EQ(link.Answer().header.Status, 0);
}

TEST(UsbFaults, SplitHeaderStillDecodes) {
  sim::LoopbackDevice device(Loopback());
  DataLink link(device, WithFaults({"split target=usb command=143 chunk=20 times=1"}));
  link.Control(GetDescriptor(1, 0, 18));
  auto r = link.Answer();
  EXPECT_EQ(r.data.size(), 18u);
  EXPECT_EQ(r.header.Status, 0);
}

TEST(UsbFaults, WrongSeqNoAndStatusWords) {
  sim::LoopbackDevice device(Loopback());
  DataLink link(device, WithFaults({"wrong-seqno command=143 times=1", "status target=usb number=-71 command=144 times=1"}));
  uint32_t seq = link.Control(GetDescriptor(1, 0, 18));
  EXPECT_EQ(link.Answer().header.SeqNo, seq + 1);
  seq = link.Control(GetDescriptor(1, 0, 18));
  EXPECT_EQ(link.Answer().header.SeqNo, seq) << "used up";
  Configure(link);
  link.Send(RFC_CMD_BULK, 0x01, 4, {1, 2, 3, 4});
  EXPECT_EQ(link.Answer().header.Status, kWireStatusDeviceGone);
}

TEST(UsbFaults, OversizedLengthIs65537BytesFor65536) {
  sim::Device d = Loopback();
  d.interfaces = 2;
  sim::CompositeDevice device(d);
  DataLink link(device, WithFaults({"oversize target=usb command=144 size=1 times=1"}));
  Configure(link);
  link.Control(SetInterface(1, 2));
  ASSERT_EQ(link.Answer().header.Status, 0);
  link.Send(RFC_CMD_BULK, 0x83, 65536);
  auto read = link.Answer();
  EXPECT_EQ(read.header.ActualLength, 65537u);
  EXPECT_EQ(read.header.CommandLength, 56u + 65537u);
  EXPECT_EQ(read.data.size(), 65537u);
  link.Send(RFC_CMD_BULK, 0x83, 65536);
  EXPECT_EQ(link.Answer().data.size(), 65536u) << "used up";
}

TEST(UsbFaults, SilenceInTheMiddleOfAResponse) {
  sim::LoopbackDevice device(Loopback());
  DataLink link(device, WithFaults({"silence target=usb command=143"}));
  link.Control(GetDescriptor(1, 0, 18));
  // The header and half the data come, then nothing more.
  ASSERT_TRUE(tavrin::test::Eventually([&] {
    EXPECT_FALSE(link.Receive(10ms));
    return link.received() >= 56u + 9u;
  }));
  EXPECT_FALSE(link.Receive(100ms));
  EXPECT_EQ(link.received(), 56u + 9u) << "the header and half the data";
  EXPECT_FALSE(link.decoder().between_messages());
  link.Control(GetDescriptor(1, 0, 18));
  EXPECT_FALSE(link.Receive(50ms));
  EXPECT_FALSE(link.closed()) << "the connection stays open";
  EXPECT_EQ(link.CloseAndWait().end, sim::UsbSessionResult::End::kPeerClosed);
}

TEST(UsbFaults, CloseInTheMiddleOfAResponse) {
  sim::LoopbackDevice device(Loopback());
  DataLink link(device, WithFaults({"early-close target=usb command=143 size=30"}));
  link.Control(GetDescriptor(1, 0, 18));
  EXPECT_FALSE(link.Receive());
  EXPECT_TRUE(link.closed());
  EXPECT_EQ(link.received(), 30u) << "part of a header";
  EXPECT_EQ(link.Wait().end, sim::UsbSessionResult::End::kFaultClosed);
}

TEST(UsbFaults, RequestsOutOfFrameEndTheConnection) {
  sim::LoopbackDevice device(Loopback());
  DataLink link(device);
  RFC_HEADER h{};
  h.Command = RFC_CMD_BULK;
  h.EndPoint = 0x01;
  h.TransferLength = 10;
  std::vector<uint8_t> bytes(56);
  EncodeHeader(h, bytes.data());
  wire::StoreLe32(bytes.data(), 56 + 9);  // data shorter than TransferLength
  link.SendRaw(bytes);
  EXPECT_FALSE(link.Receive());
  EXPECT_TRUE(link.closed());
  EXPECT_EQ(link.Wait().end, sim::UsbSessionResult::End::kOutOfFrame);

  sim::LoopbackDevice other(Loopback());
  DataLink big(other);
  h.TransferLength = MAX_DATA_SIZE + 1;  // above the send buffer: no client sends it
  EncodeHeader(h, bytes.data());
  wire::StoreLe32(bytes.data(), 56 + MAX_DATA_SIZE + 1);
  big.SendRaw(bytes);
  EXPECT_EQ(big.Wait().end, sim::UsbSessionResult::End::kOutOfFrame);
}

TEST(UsbFaults, WaitingRequestsAreBounded) {
  sim::LoopbackDevice device(Loopback());
  sim::UsbSessionOptions o;
  o.max_waiting = 4;
  DataLink link(device, o);
  Configure(link);
  for (int i = 0; i < 5; ++i) link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  EXPECT_FALSE(link.Receive());
  EXPECT_EQ(link.Wait().end, sim::UsbSessionResult::End::kTooManyWaiting);
}

TEST(UsbFaults, StopEndsAnIdleSession) {
  sim::LoopbackDevice device(Loopback());
  auto link = std::make_unique<DataLink>(device);
  Configure(*link);
  link.reset();  // requests the stop and joins
  EXPECT_EQ(device.configuration(), 0) << "detached";
}

TEST(UsbConfig, DeviceKindsFolderAndDataFaults) {
  std::string error;
  auto config = sim::ParseConfig(
      "[sim]\nfolder = /tmp/sim-files\n[server a]\nfault = silence target=usb command=144\n"
      "[device]\nport = 1\nclass = 7\nprint_file = job.prn\n"
      "[device]\nport = 2\nusb_device = composite\nmanufacturer = Tavrin\n[device]\nport = 3\nclass = 3\n",
      &error);
  ASSERT_TRUE(config) << error;
  const sim::ServerOptions& s = config->servers.at(0);
  EXPECT_EQ(s.folder, "/tmp/sim-files");
  ASSERT_EQ(s.faults.size(), 1u);
  EXPECT_EQ(s.faults[0].target, sim::FaultTarget::kUsb);
  EXPECT_EQ(sim::DefaultUsbDeviceKind(s.devices[0]), sim::UsbDeviceKind::kPrinter);
  EXPECT_EQ(sim::DefaultUsbDeviceKind(s.devices[1]), sim::UsbDeviceKind::kComposite);
  EXPECT_EQ(sim::DefaultUsbDeviceKind(s.devices[2]), sim::UsbDeviceKind::kKeyboard);
  auto printer = sim::MakeVirtualUsbDevice(s.devices[0], s.folder);
  EXPECT_EQ(dynamic_cast<sim::PrinterDevice&>(*printer).file(), "/tmp/sim-files/job.prn");
  auto composite = sim::MakeVirtualUsbDevice(s.devices[1], s.folder);
  EXPECT_EQ(composite->layout().manufacturer, "Tavrin");
  EXPECT_FALSE(sim::ParseConfig("[server a]\n[device]\nusb_device = toaster\n", &error));
  EXPECT_NE(error.find("usb_device"), std::string::npos);
}

TEST(UsbConfig, BundledServersHoldOneDeviceOfEachKind) {
  std::string error;
  auto config = sim::LoadConfigFile(ZARNET_SIM_DEFAULT_CONF, &error);
  ASSERT_TRUE(config) << error;
  std::vector<sim::UsbDeviceKind> kinds;
  for (const sim::ServerOptions& s : config->servers)
    for (const sim::Device& d : s.devices) kinds.push_back(sim::DefaultUsbDeviceKind(d));
  EXPECT_EQ(kinds, (std::vector<sim::UsbDeviceKind>{sim::UsbDeviceKind::kPrinter, sim::UsbDeviceKind::kLoopback,
                                                    sim::UsbDeviceKind::kKeyboard, sim::UsbDeviceKind::kComposite}));
}

}  // namespace
}  // namespace usbtest
