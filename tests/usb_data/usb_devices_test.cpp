// Each virtual device answering real requests through a data session on a loopback connection.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "usb_link.h"
#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"

namespace usbtest {
namespace {

sim::Device Port(uint8_t cls, uint16_t pid, const char* product, uint8_t interfaces = 1) {
  sim::Device d;
  d.port = 2;
  d.device_class = cls;
  d.vid = 0x1D6B;
  d.pid = pid;
  d.rev = 0x0102;
  d.product = product;
  d.interfaces = interfaces;
  return d;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> v(size);
  std::mt19937 random(seed);
  for (auto& b : v) b = static_cast<uint8_t>(random());
  return v;
}

void Configure(DataLink& link) {
  link.Control(SetConfiguration(1));
  auto r = link.Answer();
  ASSERT_EQ(r.header.Command, 143u);
  ASSERT_EQ(r.header.Status, 0);
}

TEST(UsbDevices, StandardRequestsOnTheDefaultPipe) {
  sim::LoopbackDevice device(Port(0xFF, 0x0104, "Loopback"));
  DataLink link(device);
  uint32_t seq = link.Control(GetDescriptor(1, 0, 18));
  auto dev = link.Answer();
  EXPECT_EQ(dev.header.Command, 143u);
  EXPECT_EQ(dev.header.SeqNo, seq);
  EXPECT_EQ(dev.header.EndPoint, 0u);
  EXPECT_EQ(dev.header.PortNum, 1u);
  ASSERT_EQ(dev.data.size(), 18u);
  EXPECT_EQ(dev.header.ActualLength, 18u);
  EXPECT_EQ(dev.data[1], 1);
  EXPECT_EQ(dev.data[8] | dev.data[9] << 8, 0x1D6B);
  EXPECT_EQ(dev.data[10] | dev.data[11] << 8, 0x0104);

  // The stack reads the configuration's first 9 bytes, then all of it.
  link.Control(GetDescriptor(2, 0, 9));
  auto head = link.Answer();
  ASSERT_EQ(head.data.size(), 9u);
  const uint16_t total = head.data[2] | head.data[3] << 8;
  link.Control(GetDescriptor(2, 0, 255));
  auto config = link.Answer();
  ASSERT_EQ(config.data.size(), total);
  EXPECT_EQ(config.data[4], 1) << "one interface";
  // Walk it by bLength: seven endpoints.
  int endpoints = 0;
  for (size_t at = 0; at + 1 < config.data.size() && config.data[at]; at += config.data[at])
    endpoints += config.data[at + 1] == 5;
  EXPECT_EQ(endpoints, 7);

  link.Control(GetDescriptor(3, 2, 255, 0x0409));
  auto product = link.Answer();
  ASSERT_EQ(product.data.size(), 2u + 2 * 8);
  EXPECT_EQ(product.data[2], 'L');
  EXPECT_EQ(product.data[4], 'o');

  link.Control(GetDescriptor(6, 0, 10));
  auto qualifier = link.Answer();
  ASSERT_EQ(qualifier.data.size(), 10u);
  EXPECT_EQ(qualifier.data[1], 6);
  EXPECT_EQ(qualifier.data[8], 1) << "one configuration";

  link.Control(GetDescriptor(3, 9, 255, 0x0409));
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall) << "no such string";

  Configure(link);
  link.Control({0x80, 8, 0, 0, 1});
  EXPECT_EQ(link.Answer().data, std::vector<uint8_t>{1});
  EXPECT_EQ(device.configuration(), 1);

  // A short buffer gets only what it holds.
  link.Control(GetDescriptor(1, 0, 8));
  EXPECT_EQ(link.Answer().data.size(), 8u);
}

TEST(UsbDevices, LoopbackEchoesSixteenTimes64KiB) {
  sim::LoopbackDevice device(Port(0xFF, 0x0104, "Loopback"));
  DataLink link(device);
  Configure(link);
  std::vector<std::vector<uint8_t>> chunks;
  for (uint32_t i = 0; i < 16; ++i) chunks.push_back(Pattern(65536, i));
  // Reads go out first and wait for the data; writes follow, eight in flight.
  std::thread sender([&] {
    for (uint32_t i = 0; i < 16; ++i) link.Send(RFC_CMD_BULK, 0x81, 65536);
    for (uint32_t i = 0; i < 16; ++i) link.Send(RFC_CMD_BULK, 0x01, 65536, chunks[i]);
  });
  std::vector<UsbResponseMessage> reads, writes;
  while (reads.size() + writes.size() < 32) {
    auto r = link.Receive();
    if (!r) break;
    EXPECT_EQ(r->header.Command, 144u);
    EXPECT_EQ(r->header.Status, 0);
    (r->header.EndPoint == 0x81 ? reads : writes).push_back(std::move(*r));
  }
  sender.join();
  ASSERT_EQ(reads.size(), 16u);
  ASSERT_EQ(writes.size(), 16u);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(reads[i].header.SeqNo, i) << "in request order";
    EXPECT_EQ(writes[i].header.SeqNo, i);
    EXPECT_EQ(writes[i].header.ActualLength, 0u) << "bulk OUT answers carry no length";
    EXPECT_TRUE(reads[i].data == chunks[i]) << "chunk " << i;
  }
}

TEST(UsbDevices, LoopbackControlInterruptAndIsochronous) {
  sim::LoopbackDevice device(Port(0xFF, 0x0104, "Loopback"));
  DataLink link(device);
  Configure(link);

  // Vendor request both ways; the direction is bmRequestType's, whatever the transfer flags say.
  RFC_HEADER h{};
  h.Command = RFC_CMD_CONTROL;
  h.SeqNo = 1;
  h.TransferFlags = 1;
  h.TransferLength = 4;
  SetSetup(h, {0x40, 1, 0, 0, 4});
  link.SendHeader(h, {9, 8, 7, 6});
  auto wrote = link.Answer();
  EXPECT_EQ(wrote.header.Status, 0);
  EXPECT_TRUE(wrote.data.empty());
  EXPECT_EQ(wrote.header.ActualLength, 0u);
  h.SeqNo = 2;
  SetSetup(h, {0xC0, 1, 0, 0, 64});
  h.TransferLength = 64;
  h.TransferFlags = 0;
  link.SendHeader(h);
  EXPECT_EQ(link.Answer().data, (std::vector<uint8_t>{9, 8, 7, 6}));

  // An interrupt IN waits for data; the OUT that brings it is answered first.
  uint32_t in_seq = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  link.Send(RFC_CMD_INTERRUPT, 0x02, 3, {1, 2, 3});
  auto first = link.Answer();
  auto second = link.Answer();
  EXPECT_EQ(first.header.Command, 145u);
  EXPECT_EQ(first.header.EndPoint, 0x02u);
  EXPECT_EQ(second.header.EndPoint, 0x82u);
  EXPECT_EQ(second.header.SeqNo, in_seq);
  EXPECT_EQ(second.data, (std::vector<uint8_t>{1, 2, 3}));

  // Isochronous OUT of unequal packets: accepted bytes in ActualLength, descriptors and no data back.
  std::vector<RFC_ISO_DESC> out_packets = {{0, 0, 0, -18}, {100, 0, 0, -18}, {250, 0, 0, -18}};
  ASSERT_TRUE(SetIsoPacketLengths(out_packets, 300));
  std::vector<uint8_t> iso_data = Pattern(300, 99);
  link.Send(RFC_CMD_ISOCH, 0x03, 300, iso_data, out_packets);
  auto iso_out = link.Answer();
  EXPECT_EQ(iso_out.header.Command, 146u);
  EXPECT_EQ(iso_out.header.Status, 0);
  EXPECT_EQ(iso_out.header.ActualLength, 300u);
  EXPECT_TRUE(iso_out.data.empty());
  ASSERT_EQ(iso_out.packets.size(), 3u);
  EXPECT_EQ(iso_out.packets[1].ActualLength, 150u);
  EXPECT_EQ(device.iso_out_received(), iso_data);

  // Isochronous IN with short packets: each packet's bytes at its own offset.
  std::vector<RFC_ISO_DESC> in_packets;
  for (uint32_t i = 0; i < 8; ++i) in_packets.push_back({i * 100, 0, 0, -18});
  ASSERT_TRUE(SetIsoPacketLengths(in_packets, 800));
  RFC_HEADER iso{};
  iso.Command = RFC_CMD_ISOCH;
  iso.EndPoint = 0x83;
  iso.TransferLength = 800;
  iso.StartFrame = 1234;
  iso.NumberOfPackets = 8;
  link.SendHeader(iso, {}, in_packets);
  auto iso_in = link.Answer();
  EXPECT_EQ(iso_in.header.Status, 0);
  EXPECT_EQ(iso_in.header.StartFrame, 1234u);
  EXPECT_EQ(iso_in.header.NumberOfPackets, 8u);
  EXPECT_EQ(iso_in.header.ErrorCount, 0u);
  ASSERT_EQ(iso_in.packets.size(), 8u);
  ASSERT_EQ(iso_in.data.size(), 750u) << "up to the end of the last packet's bytes";
  for (uint32_t i = 0; i < 8; ++i) {
    const RFC_ISO_DESC& p = iso_in.packets[i];
    EXPECT_EQ(p.Offset, i * 100);
    EXPECT_EQ(p.ActualLength, i % 2 ? 50u : 100u);
    for (uint32_t j = 0; j < 100; ++j) {
      const uint8_t expected = j < p.ActualLength ? sim::LoopbackDevice::IsoInByte(i, j) : 0;
      if (i * 100 + j < iso_in.data.size()) {
        ASSERT_EQ(iso_in.data[i * 100 + j], expected) << i << ":" << j;
      }
    }
  }

  // A packet reaching beyond the transfer is refused as a whole.
  std::vector<RFC_ISO_DESC> bad = {{0, 100, 0, -18}, {100, 900, 0, -18}};
  link.Send(RFC_CMD_ISOCH, 0x83, 800, {}, bad);
  auto refused = link.Answer();
  EXPECT_EQ(refused.header.Status, kWireStatusStall);
  EXPECT_EQ(refused.header.ErrorCount, 2u);
  EXPECT_TRUE(refused.data.empty());
}

TEST(UsbDevices, StallAnsweredAsStallUntilTheResetPipe) {
  sim::LoopbackDevice device(Port(0xFF, 0x0104, "Loopback"));
  DataLink link(device);
  Configure(link);
  link.Send(RFC_CMD_BULK, 0x84, 512);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall);
  EXPECT_TRUE(device.halted(0x84));
  link.Send(RFC_CMD_BULK, 0x84, 64);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall) << "halted until cleared";
  link.Control({0x82, 0, 0, 0x84, 2});
  EXPECT_EQ(link.Answer().data, (std::vector<uint8_t>{1, 0})) << "GET_STATUS shows the halt";
  uint32_t reset = link.ResetPipe(0x84);
  auto answer = link.Answer();
  EXPECT_EQ(answer.header.Command, 141u);
  EXPECT_EQ(answer.header.SeqNo, reset);
  EXPECT_EQ(answer.header.EndPoint, 0x84u);
  EXPECT_EQ(answer.header.Status, 0);
  link.Send(RFC_CMD_BULK, 0x84, 64);
  auto data = link.Answer();
  EXPECT_EQ(data.header.Status, 0);
  EXPECT_EQ(data.data.size(), 64u);

  // CLEAR_FEATURE(ENDPOINT_HALT) clears a halt set by SET_FEATURE.
  link.Control({0x02, 3, 0, 0x81, 0});
  EXPECT_EQ(link.Answer().header.Status, 0);
  link.Send(RFC_CMD_BULK, 0x81, 64);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall);
  link.Control({0x02, 1, 0, 0x81, 0});
  EXPECT_EQ(link.Answer().header.Status, 0);
  EXPECT_FALSE(device.halted(0x81));
}

TEST(UsbDevices, ResetAndUnlinkEndWhatWaitsOnTheirPipe) {
  sim::LoopbackDevice device(Port(0xFF, 0x0104, "Loopback"));
  DataLink link(device);
  Configure(link);
  // Two reads wait for interrupt data that never comes; the reset ends them first, in order.
  uint32_t a = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  uint32_t b = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  uint32_t reset = link.ResetPipe(0x82);
  for (uint32_t seq : {a, b}) {
    auto r = link.Answer();
    EXPECT_EQ(r.header.Command, 145u);
    EXPECT_EQ(r.header.SeqNo, seq);
    EXPECT_EQ(r.header.Status, kWireStatusEnded);
  }
  auto r = link.Answer();
  EXPECT_EQ(r.header.Command, 141u);
  EXPECT_EQ(r.header.SeqNo, reset);

  // Three waiting reads, the middle one unlinked: the others end, the unlinked one is not answered.
  uint32_t x = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  uint32_t y = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  uint32_t z = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  uint32_t unlink = link.Unlink(0x82, y);
  auto first = link.Answer();
  auto second = link.Answer();
  auto third = link.Answer();
  EXPECT_EQ(first.header.SeqNo, x);
  EXPECT_EQ(first.header.Status, kWireStatusEnded);
  EXPECT_EQ(second.header.SeqNo, z);
  EXPECT_EQ(second.header.Status, kWireStatusEnded);
  EXPECT_EQ(third.header.Command, 150u);
  EXPECT_EQ(third.header.SeqNo, unlink);
  EXPECT_EQ(third.header.Status, 0);
  // An unlink of what is no longer waiting says so; the pipe goes on working.
  link.Unlink(0x82, y);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusUnknown);
  link.Send(RFC_CMD_INTERRUPT, 0x02, 1, {42});
  uint32_t read = link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  link.Answer();
  auto echoed = link.Answer();
  EXPECT_EQ(echoed.header.SeqNo, read);
  EXPECT_EQ(echoed.data, std::vector<uint8_t>{42});
}

TEST(UsbDevices, CompositeAlternateSettings) {
  sim::CompositeDevice device(Port(0, 0x0200, "Combo", 2));
  DataLink link(device);
  link.Control(GetDescriptor(2, 0, 512));
  auto config = link.Answer();
  int interfaces = 0;
  for (size_t at = 0; at + 1 < config.data.size() && config.data[at]; at += config.data[at])
    interfaces += config.data[at + 1] == 4;
  EXPECT_EQ(interfaces, 4) << "interface 0, interface 1 in three settings";
  EXPECT_EQ(config.data[4], 2);
  Configure(link);

  link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall) << "setting 0 has no endpoints";
  link.Control(SetInterface(1, 1));
  EXPECT_EQ(link.Answer().header.Status, 0);
  link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  EXPECT_EQ(link.Answer().data, std::vector<uint8_t>(8, 1));
  link.Control({0x81, 10, 0, 1, 1});
  EXPECT_EQ(link.Answer().data, std::vector<uint8_t>{1});
  link.Control(SetInterface(1, 2));
  EXPECT_EQ(link.Answer().header.Status, 0);
  EXPECT_EQ(device.alternate_setting(1), 2);
  link.Send(RFC_CMD_INTERRUPT, 0x82, 64);
  EXPECT_EQ(link.Answer().data, std::vector<uint8_t>(64, 2));
  link.Send(RFC_CMD_BULK, 0x83, 100);
  EXPECT_EQ(link.Answer().data.size(), 100u);
  link.Control(SetInterface(1, 3));
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall);
  // Interface 0 keeps its endpoints through all this.
  link.Send(RFC_CMD_BULK, 0x01, 5, {1, 2, 3, 4, 5});
  link.Send(RFC_CMD_BULK, 0x81, 512);
  link.Answer();
  EXPECT_EQ(link.Answer().data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST(UsbDevices, PrintJobLandsInTheFile) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("usb-print-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  sim::Device d = Port(7, 0x0301, "Office Printer 9");
  d.subclass = 1;
  d.protocol = 2;
  auto made = sim::MakeVirtualUsbDevice(d, folder.string());
  auto* printer = dynamic_cast<sim::PrinterDevice*>(made.get());
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(printer->file(), (folder / "print-port2.prn").string());
  const std::vector<uint8_t> job = Pattern(200000, 7);
  {
    DataLink link(*printer);
    Configure(link);
    link.Control({0xA1, 0, 0, 0, 1024});
    auto id = link.Answer();
    ASSERT_GE(id.data.size(), 2u);
    EXPECT_EQ(static_cast<size_t>(id.data[0] << 8 | id.data[1]), id.data.size());
    const std::string text(id.data.begin() + 2, id.data.end());
    EXPECT_NE(text.find("MDL:Office Printer 9;"), std::string::npos);
    EXPECT_NE(text.find("CLS:PRINTER;"), std::string::npos);
    link.Control({0xA1, 1, 0, 0, 1});
    EXPECT_EQ(link.Answer().data, std::vector<uint8_t>{0x18});
    for (size_t at = 0; at < job.size(); at += 65536) {
      std::vector<uint8_t> piece(job.begin() + at, job.begin() + std::min(job.size(), at + 65536));
      link.Send(RFC_CMD_BULK, 0x01, static_cast<uint32_t>(piece.size()), piece);
      ASSERT_EQ(link.Answer().header.Status, 0);
    }
    link.CloseAndWait();
  }
  EXPECT_EQ(printer->jobs(), 1);
  std::ifstream file(printer->file(), std::ios::binary);
  std::vector<uint8_t> printed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(printed == job);
  std::filesystem::remove_all(folder);
}

TEST(UsbDevices, KeyboardReportsAsKeysAreTyped) {
  sim::KeyboardDevice keyboard(Port(3, 0x0301, "Keys"));
  DataLink link(keyboard);
  link.Control({0x81, 6, 0x2200, 0, 256});
  EXPECT_EQ(link.Answer().data, sim::KeyboardDevice::ReportDescriptor());
  Configure(link);
  link.Control({0x21, 0x0A, 0, 0, 0});  // SET_IDLE
  EXPECT_EQ(link.Answer().header.Status, 0);
  link.Control({0x21, 0x09, 0x0200, 0, 1}, {0x02});  // caps lock LED
  EXPECT_EQ(link.Answer().header.Status, 0);
  EXPECT_EQ(keyboard.leds(), 0x02);
  uint32_t read = link.Send(RFC_CMD_INTERRUPT, 0x81, 8);
  EXPECT_FALSE(link.Receive(50ms)) << "no key, no report";
  keyboard.Type("Hi");
  auto press = link.Answer();
  EXPECT_EQ(press.header.SeqNo, read);
  EXPECT_EQ(press.data, (std::vector<uint8_t>{0x02, 0, 11, 0, 0, 0, 0, 0}));
  for (std::vector<uint8_t> expected : {std::vector<uint8_t>(8, 0), std::vector<uint8_t>{0, 0, 12, 0, 0, 0, 0, 0}}) {
    link.Send(RFC_CMD_INTERRUPT, 0x81, 8);
    EXPECT_EQ(link.Answer().data, expected);
  }
}

TEST(UsbDevices, UnknownRequestsAndTheSessionsEnd) {
  sim::LoopbackDevice device(Port(0xFF, 0x0104, "Loopback"));
  DataLink link(device);
  link.Send(RFC_CMD_UNKNOWN, 0, 0);
  auto r = link.Answer();
  EXPECT_EQ(r.header.Command, RFC_CMD_UNKNOWN + 100);
  EXPECT_EQ(r.header.Status, kWireStatusUnknown);
  link.Send(RFC_CMD_BULK, 0x81, 64);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall) << "not configured";
  link.Control(SetConfiguration(1));
  link.Answer();
  link.Send(RFC_CMD_BULK, 0x181, 64);
  EXPECT_EQ(link.Answer().header.Status, kWireStatusStall) << "not endpoint 0x81";
  link.Send(RFC_CMD_CURRENT_FRAME, 0, 0);
  EXPECT_EQ(link.Answer().header.Command, 151u);
  EXPECT_EQ(link.CloseAndWait().end, sim::UsbSessionResult::End::kPeerClosed);
}

}  // namespace
}  // namespace usbtest
