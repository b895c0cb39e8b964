// A simulated server end to end: negotiate and claim a device on its data port, then the same connection
// carries USB data to the port's virtual device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "testsupport/ports.h"
#include "usb_link.h"
#include "zarnet/negotiation.h"
#include "zarnet/sim/simulator.h"
#include "zarnet/sim/usb_device.h"

namespace usbtest {
namespace {

class UsbServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("usb-server-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    sim::ServerOptions o = sim::LoopbackServerOptions(5, deviceLists_.port());
    o.folder = folder_.string();
    sim::Device loopback;
    loopback.port = 1;
    loopback.device_class = 0xFF;
    loopback.vid = 0x1D6B;
    loopback.pid = 0x0104;
    loopback.product = "Loopback";
    sim::Device printer;
    printer.port = 2;
    printer.device_class = 7;
    printer.product = "Desk Printer";
    o.devices = {loopback, printer};
    server_ = std::make_unique<sim::Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(folder_);
  }

  int Connect() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server_->data_port());
    ::inet_pton(AF_INET, "127.0.0.5", &a.sin_addr);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  }
  // One negotiation record on `fd` and its verdict; only the reply's bytes are read.
  NegVerdict Step(int fd, uint8_t id, uint16_t port) {
    std::vector<uint8_t> request = EncodeNegRequest(id, port);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    NegRecordReader reader;
    while (reader.state() == NegRecordReader::State::kNeedMore) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) break;
      uint8_t buffer[kNegRecordMax];
      ssize_t n = ::recv(fd, buffer, reader.wanted(), 0);
      if (n <= 0) break;
      reader.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
    }
    if (reader.state() != NegRecordReader::State::kComplete) return NegVerdict::kMalformed;
    return JudgeNegReply(id, reader.record());
  }
  // Signature and free test on connections of their own, then the claim; the claimed connection.
  std::unique_ptr<UsbClient> Claim(uint16_t port) {
    for (uint8_t id : {NEGCMD_SIGNATURE, NEGCMD_IS_DEVICE_FREE}) {
      int fd = Connect();
      EXPECT_EQ(Step(fd, id, port), NegVerdict::kAccepted);
      ::close(fd);
    }
    int fd = Connect();
    EXPECT_EQ(Step(fd, NEGCMD_CLAIM_DEVICE, port), NegVerdict::kAccepted);
    return std::make_unique<UsbClient>(fd);
  }

  std::filesystem::path folder_;
  // Where the server's device lists go unheard.
  tavrin::test::HeldPort deviceLists_{tavrin::test::HeldPort::kDatagram};
  std::unique_ptr<sim::Server> server_;
};

TEST_F(UsbServerTest, ClaimedConnectionCarriesUsbData) {
  auto client = Claim(1);
  uint32_t seq = client->Control(GetDescriptor(1, 0, 18));
  auto descriptor = client->Answer();
  EXPECT_EQ(descriptor.header.Command, 143u);
  EXPECT_EQ(descriptor.header.SeqNo, seq);
  ASSERT_EQ(descriptor.data.size(), 18u);
  EXPECT_EQ(descriptor.data[10] | descriptor.data[11] << 8, 0x0104);
  client->Control(SetConfiguration(1));
  EXPECT_EQ(client->Answer().header.Status, 0);
  client->Send(RFC_CMD_BULK, 0x01, 3, {7, 8, 9});
  client->Send(RFC_CMD_BULK, 0x81, 512);
  client->Answer();
  EXPECT_EQ(client->Answer().data, (std::vector<uint8_t>{7, 8, 9}));

  // Faults of the server reach its data connections.
  sim::Fault gone;
  gone.kind = sim::FaultKind::kStatus;
  gone.target = sim::FaultTarget::kUsb;
  gone.number = kWireStatusDeviceGone;
  gone.times = 1;
  server_->AddFault(gone);
  client->Control(GetDescriptor(1, 0, 18));
  EXPECT_EQ(client->Answer().header.Status, kWireStatusDeviceGone);

  // The device pulled out: what waits and what follows fail with -71.
  client->Send(RFC_CMD_INTERRUPT, 0x82, 64);
  EXPECT_FALSE(client->Receive(20ms));
  server_->Unplug(1);
  EXPECT_EQ(client->Answer().header.Status, kWireStatusDeviceGone);
  client->Control(GetDescriptor(1, 0, 18));
  EXPECT_EQ(client->Answer().header.Status, kWireStatusDeviceGone);
  client.reset();
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == 1; }, 5s));
}

TEST_F(UsbServerTest, PrintJobThroughTheServerLandsInItsFolder) {
  std::vector<uint8_t> job(150000);
  for (size_t i = 0; i < job.size(); ++i) job[i] = static_cast<uint8_t>(i * 31 + i / 7);
  {
    auto client = Claim(2);
    client->Control(SetConfiguration(1));
    ASSERT_EQ(client->Answer().header.Status, 0);
    for (size_t at = 0; at < job.size(); at += 65536) {
      std::vector<uint8_t> piece(job.begin() + at, job.begin() + std::min(job.size(), at + 65536));
      client->Send(RFC_CMD_BULK, 0x01, static_cast<uint32_t>(piece.size()), piece);
      ASSERT_EQ(client->Answer().header.Status, 0);
    }
  }
  ASSERT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == 1; }, 5s));
  auto printer = std::dynamic_pointer_cast<sim::PrinterDevice>(server_->usb_device(2));
  ASSERT_TRUE(printer);
  EXPECT_EQ(printer->jobs(), 1);
  std::ifstream file(folder_ / "print-port2.prn", std::ios::binary);
  std::vector<uint8_t> printed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(printed == job);
}

TEST_F(UsbServerTest, StoppingTheServerEndsItsDataSessions) {
  auto client = Claim(1);
  client->Control(GetDescriptor(1, 0, 18));
  client->Answer();
  server_->Stop();
  EXPECT_FALSE(client->Receive(2s));
  EXPECT_TRUE(client->closed());
}

}  // namespace
}  // namespace usbtest
