// The control device's I/O controls against both drivers of the server nodes (the bus driver and the
// stand-in), then what only the bus driver does: connecting through a simulated server, negotiation
// faults, the busy printer's retry, sleep and many plug/unplug cycles.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "pelkobus/pelkobus.h"
#include "testsupport/urb.h"
#include "wdk/kernel.h"
#include "wdk/ntddk.h"
#include "wdk/usbbusif.h"
#include "wdk/wmilib.h"
#include "win32/registry.h"
#include "zarnet/sim/faults.h"
#include "zarnet/sim/simulator.h"

namespace kernel_host_test {
namespace {

using namespace std::chrono_literals;
using tavrin::kernel_host::BusDriver;
using zarnet::sim::Fault;
using zarnet::sim::FaultKind;
using zarnet::sim::FaultTarget;

constexpr int kServerHost = 9;  // 127.0.0.9
// A wait that ends at the event it waits for: long, since a busy computer is slow; only a hang reaches it.
constexpr std::chrono::milliseconds kHang = 30s;
const ULONG kBusTag = PoolTag("ZUzi");

uint32_t ServerAddress(int host) { return htonl(0x7F000000u | static_cast<uint32_t>(host)); }

// The identifier block TavrinAdmin sends, UTF-16: hardware identifiers, then compatible ones.
std::u16string IdBlock(size_t* hardwareBytes) {
  std::u16string hardware = u"USB\\VID_5678&PID_1234&REV_0100";
  hardware.push_back(0);
  hardware += u"USB\\VID_5678&PID_1234";
  hardware.push_back(0);
  hardware.push_back(0);
  std::u16string compatible = u"USB\\Class_07&SubClass_01&Prot_02";
  compatible.push_back(0);
  compatible += u"USB\\Class_07";
  compatible.push_back(0);
  compatible.push_back(0);
  *hardwareBytes = hardware.size() * 2;
  return hardware + compatible;
}

class BusDriverTest : public KernelHostTest, public ::testing::WithParamInterface<BusDriver> {
 protected:
  void SetUp() override {
    KernelHostTest::SetUp();
    pelkobus::SetNegotiationTimeout(10000);
    pelkobus::SetPrinterRetryDelay(5000);
    zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(kServerHost, deviceLists_.port());
    o.broadcast_period = 20ms;
    for (uint16_t port : {1, 2, 3}) {
      zarnet::sim::Device d;
      d.port = port;
      d.device_class = 7;
      d.vid = 0x5678;
      d.pid = 0x1234;
      o.devices.push_back(d);
    }
    server_ = std::make_unique<zarnet::sim::Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    Configure();
    tavrin::kernel_host::Options options;
    options.busDriver = GetParam();
    StartHost(options);
    busEnum_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
    ASSERT_NE(busEnum_, INVALID_HANDLE_VALUE);
    ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0)).Status,
              ARRM_STATUS_ALREADY_PRESENT);
    ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(1, true, ServerAddress(kServerHost))).Status, ARRM_STATUS_SUCCESS);
    host_->kernel().WaitForPnpIdle();
    control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
    ASSERT_NE(control_, INVALID_HANDLE_VALUE);
    answerEvent_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    uint64_t value = reinterpret_cast<uintptr_t>(answerEvent_);
    ASSERT_TRUE(Ioctl(control_, IOCTL_BUS_SET_SHARED_EVENT, &value, sizeof value, nullptr, 0).ok);
    ids_ = IdBlock(&hardwareBytes_);
    poolBaseline_ = tavrin::wdk::PoolBlocksOutstanding(kBusTag);
  }
  virtual void Configure() {}
  void TearDown() override {
    if (control_ != INVALID_HANDLE_VALUE) CloseHandle(control_);
    if (busEnum_ != INVALID_HANDLE_VALUE) CloseHandle(busEnum_);
    if (answerEvent_) CloseHandle(answerEvent_);
    host_.reset();  // every child goes with its server's node
    server_.reset();
    EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
    EXPECT_EQ(pelkobus::LiveChildren(), 0);
    KernelHostTest::TearDown();
  }
  bool Real() const { return GetParam() == BusDriver::kPelkobus; }

  DEVICE_ARRIVALREMOVAL_INFO Plug(uint32_t id, uint16_t port, bool arrival = true, int host = kServerHost) {
    DEVICE_ARRIVALREMOVAL_INFO r = DeviceRequest(id, arrival, ServerAddress(host), port);
    r.DataPort = htons(server_->data_port());
    r.Class = 7;
    r.Rev = 0x0100;
    r.TotalSize = static_cast<uint32_t>(ids_.size() * 2);
    r.HardwareIdSize = static_cast<uint32_t>(hardwareBytes_);
    r.Ids = reinterpret_cast<uintptr_t>(ids_.data());
    return r;
  }
  Result Send(DEVICE_ARRIVALREMOVAL_INFO request) {
    return Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &request, sizeof request, &request, sizeof request);
  }
  // Every answer queued now, in order.
  std::vector<DEVICE_ARRIVALREMOVAL_INFO> Drain() {
    std::vector<DEVICE_ARRIVALREMOVAL_INFO> out;
    for (;;) {
      DEVICE_ARRIVALREMOVAL_INFO answer{};
      Result r = Ioctl(control_, IOCTL_BUS_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer);
      if (!r.ok) return out;
      out.push_back(answer);
    }
  }
  // The answer to a request, waiting for the driver's event; answers to others are kept for later.
  std::optional<DEVICE_ARRIVALREMOVAL_INFO> Answer(uint32_t id, std::chrono::milliseconds timeout = kHang) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      for (auto& a : Drain()) pending_.push_back(a);
      for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->RequestId == id) {
          auto a = *it;
          pending_.erase(it);
          return a;
        }
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      WaitForSingleObject(answerEvent_, static_cast<DWORD>(left.count()));
    }
  }
  uint32_t DeviceCount() {
    unsigned char input[27] = {};
    uint32_t count = 0;
    std::memcpy(&count, input, 0);
    Result r = Ioctl(control_, IOCTL_BUS_GET_DEVCOUNT, input, 27, &count, sizeof count);
    EXPECT_TRUE(r.ok);
    return count;
  }
  size_t ChildNodes() {
    host_->kernel().WaitForPnpIdle();
    size_t n = 0;
    for (const auto& node : host_->kernel().DeviceNodes())
      if (node.instanceId.rfind("USB\\VID_5678&PID_1234\\", 0) == 0) ++n;
    return n;
  }

  std::unique_ptr<zarnet::sim::Server> server_;
  HANDLE busEnum_ = INVALID_HANDLE_VALUE;
  HANDLE control_ = INVALID_HANDLE_VALUE;
  HANDLE answerEvent_ = nullptr;
  std::u16string ids_;
  size_t hardwareBytes_ = 0;
  size_t poolBaseline_ = 0;
  std::deque<DEVICE_ARRIVALREMOVAL_INFO> pending_;
};

TEST_P(BusDriverTest, AnswersComeBackInOrderWithTheMoreBitAndSetTheEvent) {
  ASSERT_TRUE(Send(Plug(1, 1)).ok);
  ASSERT_TRUE(Send(Plug(2, 2)).ok);
  ASSERT_TRUE(Send(Plug(3, 2, true, kServerHost + 1)).ok);  // a server nobody reported
  EXPECT_EQ(WaitForSingleObject(answerEvent_, 5000), WAIT_OBJECT_0);
  auto answers = Drain();
  ASSERT_EQ(answers.size(), 3u);
  const uint32_t expected[] = {ARRM_STATUS_SUCCESS | ARRM_STATUS_MORE, ARRM_STATUS_SUCCESS | ARRM_STATUS_MORE,
                               ARRM_STATUS_SERVER_NOT_FOUND};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(+answers[i].RequestId, i + 1);
    EXPECT_EQ(+answers[i].ArRmStatus, expected[i]);
  }
  Result empty;
  DEVICE_ARRIVALREMOVAL_INFO answer{};
  empty = Ioctl(control_, IOCTL_BUS_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer);
  EXPECT_EQ(empty.error, ERROR_GEN_FAILURE);
  EXPECT_EQ(empty.bytes, 0u);
}

TEST_P(BusDriverTest, WrongLengthsGetTheContractsAnswers) {
  auto request = Plug(1, 1, true, kServerHost + 1);
  for (DWORD length : {63u, 65u}) {
    unsigned char buffer[80] = {};
    std::memcpy(buffer, &request, sizeof request);
    Result r = Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, buffer, length, buffer, length);
    EXPECT_EQ(r.error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(r.bytes, 64u);
  }
  ASSERT_TRUE(Send(request).ok);
  unsigned char small[32] = {};
  Result tooSmall = Ioctl(control_, IOCTL_BUS_GETSTATUS, small, sizeof small, small, sizeof small);
  EXPECT_EQ(tooSmall.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(tooSmall.bytes, 64u);
  auto answers = Drain();
  ASSERT_EQ(answers.size(), 1u);  // still there after the short fetch
  EXPECT_EQ(+answers[0].ArRmStatus, ARRM_STATUS_SERVER_NOT_FOUND);

  unsigned char redirect[21] = {};
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_REDIR_READ, redirect, 21, redirect, 21).error, ERROR_INVALID_PARAMETER);
  Result redir = Ioctl(control_, IOCTL_BUS_REDIR_WRITE, redirect, 20, redirect, 20);
  EXPECT_EQ(redir.error, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(redir.bytes, 37u);
  EXPECT_TRUE(Ioctl(control_, IOCTL_BUS_CANCEL_PENDING_REQUESTS, redirect, 4, nullptr, 0).ok);
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_CANCEL_PENDING_REQUESTS, redirect, 3, nullptr, 0).error, ERROR_INSUFFICIENT_BUFFER);
  unsigned char notification[37] = {};
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_GET_PNPNOTIFICATION, notification, 37, notification, 37).error, ERROR_GEN_FAILURE);
  BUS_PNP_EVENT_REGISTRATION release{0, 0};
  EXPECT_EQ(Ioctl(control_, IOCTL_BUS_SETRESET_PNPEVENT, &release, sizeof release, nullptr, 0).error,
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Ioctl(control_, CTL_CODE(FILE_DEVICE_BUS_EXTENDER, 0xF9, METHOD_BUFFERED, FILE_READ_ACCESS), redirect, 4,
                  nullptr, 0)
                .error,
            ERROR_INVALID_PARAMETER);
}

TEST_P(BusDriverTest, AnswerCopiesExactlyTheRecordWhateverItsLengthSays) {
  auto request = Plug(7, 1, true, kServerHost + 1);
  request.Length = 0x10000;  // a lie: the record is 64 bytes
  ASSERT_TRUE(Send(request).ok);
  unsigned char out[128];
  std::memset(out, 0xEE, sizeof out);
  std::memcpy(out, &request, sizeof request);
  Result r = Ioctl(control_, IOCTL_BUS_GETSTATUS, out, 64, out, sizeof out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, 64u);
  EXPECT_EQ(out[64], 0xEE);
  EXPECT_EQ(+pelkobus::Load<DEVICE_ARRIVALREMOVAL_INFO>(out).RequestId, 7u);
}

TEST_P(BusDriverTest, DeviceListCountsThenListsThePluggedDevices) {
  for (uint16_t port : {1, 2}) {
    ASSERT_TRUE(Send(Plug(port, port)).ok);
    ASSERT_EQ(+Answer(port)->ArRmStatus, ARRM_STATUS_SUCCESS);
  }
  uint32_t count = DeviceCount();
  EXPECT_EQ(count, 2u);
  ExpectTwoDeviceList(control_, ServerAddress(kServerHost));
}

TEST_P(BusDriverTest, ClosingTheControlDeviceDropsQueuedAnswers) {
  ASSERT_TRUE(Send(Plug(1, 1, true, kServerHost + 1)).ok);
  ASSERT_TRUE(Send(Plug(2, 2, true, kServerHost + 1)).ok);
  CloseHandle(control_);
  control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(control_, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Drain().empty());
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, BusDriverTest, ::testing::Values(BusDriver::kFake, BusDriver::kPelkobus),
                         [](const auto& info) { return info.param == BusDriver::kFake ? "StandIn" : "Pelkobus"; });

// ---- The bus driver only ----

class PelkobusTest : public BusDriverTest {};

TEST_P(PelkobusTest, SecondPlugOfAPortAndUnplugOfAnAbsentOne) {
  ASSERT_TRUE(Send(Plug(1, 2)).ok);
  ASSERT_EQ(+Answer(1)->ArRmStatus, ARRM_STATUS_SUCCESS);
  ASSERT_TRUE(Send(Plug(2, 2)).ok);
  EXPECT_EQ(+Answer(2)->ArRmStatus, ARRM_STATUS_ALREADY_PRESENT);
  ASSERT_TRUE(Send(Plug(3, 5, false)).ok);
  EXPECT_EQ(+Answer(3)->ArRmStatus, ARRM_STATUS_NOT_PRESENT);
  ASSERT_TRUE(Send(Plug(4, 2, false)).ok);
  EXPECT_EQ(+Answer(4)->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(DeviceCount(), 0u);
}


TEST_P(PelkobusTest, ConnectNegotiatesClaimsAndShowsTheChildThenUnplugFreesIt) {
  ASSERT_TRUE(Send(Plug(1, 3)).ok);
  auto answer = Answer(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_SUCCESS);
  auto stats = server_->negotiation();
  EXPECT_EQ(stats.connections, 3);  // one per step
  EXPECT_EQ(stats.signatures, 1);
  EXPECT_EQ(stats.free_tests, 1);
  EXPECT_EQ(stats.claims, 1);
  EXPECT_TRUE(server_->devices()[2].busy);
  EXPECT_EQ(server_->devices()[2].client_ip, "127.0.0.1");
  ASSERT_EQ(ChildNodes(), 1u);
  bool started = false;
  for (const auto& node : host_->kernel().DeviceNodes()) {
    if (node.instanceId != "USB\\VID_5678&PID_1234\\03") continue;
    started = node.started;
    EXPECT_EQ(node.service, "usbfunc");  // found by its compatible identifier
    EXPECT_EQ(node.hardwareIds.front(), "USB\\VID_5678&PID_1234&REV_0100");
  }
  EXPECT_TRUE(started);

  ASSERT_TRUE(Send(Plug(2, 3, false)).ok);
  auto removed = Answer(2);
  ASSERT_TRUE(removed);
  EXPECT_EQ(+removed->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(ChildNodes(), 0u);
  EXPECT_TRUE(server_->WaitUntil([&] { return !server_->devices()[2].busy; }, kHang));
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_);
}

struct FaultCase {
  const char* name;
  const char* fault;
};

class NegotiationFaultTest : public BusDriverTest {};

TEST_P(NegotiationFaultTest, EveryFaultFailsThePlugInAndLeavesNothingBehind) {
  pelkobus::SetNegotiationTimeout(300);
  const FaultCase cases[] = {
      {"wrong signature", "wrong-signature times=1"},
      {"busy", "busy step=free times=1"},
      {"claim refused", "busy step=claim times=1"},
      {"silent", "silence target=data times=1"},
      {"early close", "early-close target=data times=1"},
      {"silent after the signature", "silence target=data step=free times=1"},
  };
  uint32_t id = 1;
  for (const FaultCase& c : cases) {
    auto fault = zarnet::sim::ParseFault(c.fault);
    ASSERT_TRUE(fault) << c.name;
    server_->AddFault(*fault);
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(Send(Plug(id, 1)).ok || true);
    auto answer = Answer(id);
    ASSERT_TRUE(answer) << c.name;
    EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_FAILED) << c.name;
    // A silent server within the shortened bound: well before the 10 s of the fixture's.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5000ms) << c.name;
    EXPECT_EQ(DeviceCount(), 0u) << c.name;
    EXPECT_FALSE(server_->devices()[0].busy) << c.name;
    EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0) << c.name;
    EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_) << c.name;
    server_->ClearFaults();
    ++id;
  }
  // A reply in pieces is read whole: that one succeeds.
  server_->AddFault(*zarnet::sim::ParseFault("split target=data chunk=3 delay_ms=5"));
  ASSERT_TRUE(Send(Plug(id, 1)).ok);
  EXPECT_EQ(+Answer(id)->ArRmStatus, ARRM_STATUS_SUCCESS);
}

class PrinterRetryTest : public BusDriverTest {
  void Configure() override { pelkobus::SetPrinterRetryDelay(50); }
};

TEST_P(PrinterRetryTest, ABusyPrinterWaitsHiddenUntilFreeThenIsShown) {
  server_->AddFault(*zarnet::sim::ParseFault("busy step=free"));
  auto request = Plug(1, 2);
  request.AutoConnect = 1;
  ASSERT_TRUE(Send(request).ok);
  EXPECT_TRUE(Drain().empty());  // no answer while it waits
  EXPECT_EQ(DeviceCount(), 1u);
  EXPECT_EQ(ChildNodes(), 0u);
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().free_tests >= 3; }, kHang));  // retrying
  server_->ClearFaults();
  auto answer = Answer(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(ChildNodes(), 1u);
  EXPECT_TRUE(server_->devices()[1].busy);
  // Shown after its wait, it carries requests as one found free at once does.
  PDEVICE_OBJECT child = host_->kernel().ReferenceDeviceStack("USB\\VID_5678&PID_1234\\02");
  ASSERT_NE(child, nullptr);
  std::vector<uint8_t> descriptor;
  EXPECT_EQ(tavrin::test::GetDescriptorAndWait(child, 1, descriptor, 18), STATUS_SUCCESS);
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x5678);  // idVendor
  EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x1234);  // idProduct
  ObDereferenceObject(child);
}

TEST_P(PrinterRetryTest, UnplugOfAWaitingPrinterCancelsItsRetries) {
  server_->AddFault(*zarnet::sim::ParseFault("busy step=free"));
  auto request = Plug(1, 2);
  request.AutoConnect = 1;
  ASSERT_TRUE(Send(request).ok);
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().free_tests >= 2; }, kHang));
  ASSERT_TRUE(Send(Plug(2, 2, false)).ok);
  auto answer = Answer(2);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(DeviceCount(), 0u);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_);
}

TEST_P(PrinterRetryTest, ASleepWhileAPrinterWaitsLeavesItsRetriesWorking) {
  server_->AddFault(*zarnet::sim::ParseFault("busy step=free"));
  auto request = Plug(1, 2);
  request.AutoConnect = 1;
  ASSERT_TRUE(Send(request).ok);
  ASSERT_TRUE(server_->WaitUntil([&] { return server_->negotiation().free_tests >= 2; }, kHang));
  // The sleep closes every connection; a waiting printer holds none between its retries and keeps the
  // handles they connect with.
  host_->kernel().SetSystemPowerState(PowerSystemSleeping1);
  host_->kernel().SetSystemPowerState(PowerSystemWorking);
  server_->ClearFaults();
  auto answer = Answer(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(ChildNodes(), 1u);
}

TEST_P(PelkobusTest, SleepClosesEveryDeviceConnection) {
  for (uint16_t port : {1, 2}) {
    ASSERT_TRUE(Send(Plug(port, port)).ok);
    ASSERT_EQ(+Answer(port)->ArRmStatus, ARRM_STATUS_SUCCESS);
  }
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 2);
  host_->kernel().SetSystemPowerState(PowerSystemSleeping1);
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == 2; }, kHang));
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
  EXPECT_EQ(DeviceCount(), 2u);  // the children stay until the administration program removes them
  host_->kernel().SetSystemPowerState(PowerSystemWorking);
}

TEST_P(PelkobusTest, ManyPlugAndUnplugCyclesLeaveNothingBehind) {
  constexpr int kCycles = 200;
  for (int i = 0; i < kCycles; ++i) {
    uint16_t port = static_cast<uint16_t>(1 + i % 3);
    Result sent = Send(Plug(2 * i + 1, port));
    ASSERT_TRUE(sent.ok) << i << " error " << sent.error;
    auto plugged = Answer(2 * i + 1);
    ASSERT_TRUE(plugged) << i;
    ASSERT_EQ(+plugged->ArRmStatus, ARRM_STATUS_SUCCESS) << i;
    // Every other time the unplug races plug and play's enumeration of the new child.
    if (i % 2) host_->kernel().WaitForPnpIdle();
    ASSERT_TRUE(Send(Plug(2 * i + 2, port, false)).ok);
    auto unplugged = Answer(2 * i + 2);
    ASSERT_TRUE(unplugged) << i;
    ASSERT_EQ(+unplugged->ArRmStatus, ARRM_STATUS_SUCCESS) << i;
    // The server frees the device when it sees the connection close, on its own thread: a plug-in before
    // that would be answered "busy".
    ASSERT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == i + 1; }, kHang)) << i;
  }
  EXPECT_EQ(ChildNodes(), 0u);
  EXPECT_EQ(DeviceCount(), 0u);
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == kCycles; }, kHang));
  EXPECT_EQ(pelkobus::LiveChildren(), 0);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_);
}

TEST_P(PrinterRetryTest, ARetryWhoseClaimIsRefusedAnswersFailed) {
  server_->AddFault(*zarnet::sim::ParseFault("busy step=free times=2"));
  server_->AddFault(*zarnet::sim::ParseFault("busy step=claim"));
  auto request = Plug(1, 2);
  request.AutoConnect = 1;
  ASSERT_TRUE(Send(request).ok);
  auto answer = Answer(1);
  ASSERT_TRUE(answer);  // the plug-in is not left pending for ever
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_FAILED);
  EXPECT_EQ(ChildNodes(), 0u);
  EXPECT_FALSE(server_->devices()[1].busy);
  // The child went with the failure: the next connect of the port gets a child of its own, not "already
  // present" from one that holds nothing.
  EXPECT_EQ(DeviceCount(), 0u);
  server_->ClearFaults();
  ASSERT_TRUE(Send(Plug(2, 2)).ok);
  EXPECT_EQ(+Answer(2)->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(ChildNodes(), 1u);
  ASSERT_TRUE(Send(Plug(3, 2, false)).ok);
  EXPECT_EQ(+Answer(3)->ArRmStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(DeviceCount(), 0u);
}

TEST_P(PelkobusTest, IdentifierBlocksAreBoundedAndTheirListsEnded) {
  auto tooLarge = Plug(1, 1);
  tooLarge.TotalSize = 1 << 20;
  EXPECT_FALSE(Send(tooLarge).ok);
  auto inverted = Plug(2, 1);
  inverted.HardwareIdSize = inverted.TotalSize + 2;
  EXPECT_FALSE(Send(inverted).ok);
  auto unreadable = Plug(3, 1);
  unreadable.Ids = 0x10;  // not an address of this process
  EXPECT_FALSE(Send(unreadable).ok);
  EXPECT_EQ(server_->negotiation().connections, 0);  // refused before any connection
  EXPECT_EQ(DeviceCount(), 0u);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_);

  // Lists without their NULs: each ends where its part of the block ends.
  std::u16string hardware = u"USB\\VID_5678&PID_1234&REV_0100";
  std::u16string compatible = u"USB\\Class_07";
  ids_ = hardware + compatible;
  hardwareBytes_ = hardware.size() * 2;
  ASSERT_TRUE(Send(Plug(4, 1)).ok);
  EXPECT_EQ(+Answer(4)->ArRmStatus, ARRM_STATUS_SUCCESS);
  host_->kernel().WaitForPnpIdle();
  bool found = false;
  for (const auto& node : host_->kernel().DeviceNodes()) {
    if (node.instanceId != "USB\\VID_5678&PID_1234&REV_0100\\01") continue;
    found = true;
    EXPECT_EQ(node.hardwareIds, std::vector<std::string>{"USB\\VID_5678&PID_1234&REV_0100"});
    EXPECT_EQ(node.compatibleIds, std::vector<std::string>{"USB\\Class_07"});
    EXPECT_EQ(node.service, "usbfunc");
  }
  EXPECT_TRUE(found);
}

std::vector<uint8_t> TextValue(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end() + 1); }
std::vector<uint8_t> DwordValue(DWORD value) {
  std::vector<uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  return data;
}

// MaxPipeCount as the service's parameters hold it. A value stored another way than as a number reads as
// 0 (a long one after a second read, its first buffer being too small for it): the child gets no pipes.
struct StoredPipeCount {
  DWORD type;
  std::vector<uint8_t> data;
};
const StoredPipeCount kPipeCounts[] = {
    {REG_SZ, TextValue("16")},
    {REG_SZ, TextValue("sixteen pipes for every device it connects")},
    {REG_BINARY, DwordValue(16)},
    {REG_DWORD, DwordValue(1)},
};

template <int Case>
class PipeCountTest : public BusDriverTest {
  void Configure() override {
    const StoredPipeCount& count = kPipeCounts[Case];
    ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VUSB\\Parameters",
                                         "MaxPipeCount", count.type, count.data.data(), static_cast<DWORD>(count.data.size())),
              ERROR_SUCCESS);
  }
};
using ShortTextPipeCountTest = PipeCountTest<0>;
using LongTextPipeCountTest = PipeCountTest<1>;
using BinaryPipeCountTest = PipeCountTest<2>;
using OnePipeTest = PipeCountTest<3>;

TEST_P(ShortTextPipeCountTest, AChildWithoutItsDefaultPipeIsAnsweredFailedOnly) {
  ASSERT_TRUE(Send(Plug(1, 1)).ok || true);
  auto answer = Answer(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_FAILED);
  EXPECT_TRUE(Drain().empty());  // no success went out before
  EXPECT_EQ(DeviceCount(), 0u);
  EXPECT_TRUE(server_->WaitUntil([&] { return !server_->devices()[0].busy; }, kHang));
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_);
}

TEST_P(LongTextPipeCountTest, ReadsAsNoPipes) {
  ASSERT_TRUE(Send(Plug(1, 1)).ok || true);
  EXPECT_EQ(+Answer(1)->ArRmStatus, ARRM_STATUS_FAILED);
}

TEST_P(BinaryPipeCountTest, ReadsAsNoPipes) {
  ASSERT_TRUE(Send(Plug(1, 1)).ok || true);
  EXPECT_EQ(+Answer(1)->ArRmStatus, ARRM_STATUS_FAILED);
}

TEST_P(OnePipeTest, IsTheDefaultPipe) {
  ASSERT_TRUE(Send(Plug(1, 1)).ok);
  EXPECT_EQ(+Answer(1)->ArRmStatus, ARRM_STATUS_SUCCESS);
}

// A port whose listener takes no more connections: a connect to it is never answered.
class SilentPort {
 public:
  explicit SilentPort(uint32_t networkAddress) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = networkAddress;
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    socklen_t length = sizeof at;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
      return;
    port_ = ntohs(at.sin_port);
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);  // the one connection its queue has room for
    if (::connect(filler_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) port_ = 0;
  }
  ~SilentPort() {
    if (filler_ >= 0) ::close(filler_);
    if (listener_ >= 0) ::close(listener_);
  }
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  uint16_t port_ = 0;
};

// The driver's trace words from the service's parameters, its messages collected.
class TracedTest : public BusDriverTest {
 protected:
  void Configure() override {
    const char* key = "SYSTEM\\CurrentControlSet\\Services\\VUSB\\Parameters";
    ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "BusTraceMask", 0x10000), ERROR_SUCCESS);
    ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "BusTraceLevel", 0x2), ERROR_SUCCESS);
    tavrin::wdk::SetDebugOutput([this](const std::string& text) {
      std::lock_guard lock(linesLock_);
      lines_.push_back(text);
    });
  }
  void TearDown() override {
    BusDriverTest::TearDown();
    tavrin::wdk::SetDebugOutput(nullptr);
    pelkobus::SetConnectTimeout(180000);
  }
  int Count(const std::string& prefix) {
    std::lock_guard lock(linesLock_);
    int n = 0;
    for (const auto& line : lines_) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  // A plug-in whose data port is `port` of the server's address.
  DEVICE_ARRIVALREMOVAL_INFO PlugAt(uint32_t id, uint16_t port) {
    auto request = Plug(id, 1);
    request.DataPort = htons(port);
    return request;
  }

  std::string Lines() {
    std::lock_guard lock(linesLock_);
    std::string all;
    for (const auto& line : lines_) all += line;
    return all;
  }

  std::mutex linesLock_;
  std::vector<std::string> lines_;
};

TEST_P(TracedTest, TheTraceWordsAreTheServicesAndAConnectIsTriedThreeTimes) {
  EXPECT_GT(Count("DispatchPnP ==>"), 0);  // the trace level's bit 0x2, read at the driver's entry
  const uint16_t closed = zarnet::sim::FreeLoopbackPort(SOCK_STREAM, "127.0.0.9");
  ASSERT_TRUE(Send(PlugAt(1, closed)).ok || true);
  auto answer = Answer(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_FAILED);
  EXPECT_EQ(Count("TdiNetwork_Connect >>  Failed to connect."), 3);
  EXPECT_EQ(Count("TdiNetwork_Reconnect : Failed to connect"), 1);
  EXPECT_EQ(Count("TdiNetwork_Connect: Connection Timeout"), 0);
  EXPECT_EQ(DeviceCount(), 0u);
}

TEST_P(TracedTest, AConnectThatTimesOutIsNotTriedAgain) {
  SilentPort silent(ServerAddress(kServerHost));
  ASSERT_NE(silent.port(), 0);
  pelkobus::SetConnectTimeout(200);
  ASSERT_TRUE(Send(PlugAt(1, silent.port())).ok || true);
  auto answer = Answer(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_FAILED);
  EXPECT_EQ(Count("TdiNetwork_Connect: Connection Timeout"), 1);
  EXPECT_EQ(Count("TdiNetwork_Connect >>  Failed to connect."), 0) << Lines();
  EXPECT_EQ(DeviceCount(), 0u);
}

TEST_P(PelkobusTest, NoSendBufferFailsTheStart) {
  tavrin::wdk::FailPoolAllocationsOfSize(kBusTag, 56 + 65536, 1);
  ASSERT_TRUE(Send(Plug(1, 1)).ok || true);
  auto answer = Answer(1);
  tavrin::wdk::FailPoolAllocations(kBusTag, 0);
  ASSERT_TRUE(answer);
  EXPECT_EQ(+answer->ArRmStatus, ARRM_STATUS_FAILED);
  EXPECT_EQ(server_->negotiation().connections, 0);  // nothing was connected for a child that could not send
  EXPECT_EQ(DeviceCount(), 0u);
  EXPECT_EQ(tavrin::wdk::PoolBlocksOutstanding(kBusTag), poolBaseline_);
}

// The device-node identifier behind an interface path (its four-character prefix off, "#" for "\\").
std::string NodeOfInterface(const std::string& path) {
  std::string id = path.substr(4, path.rfind('#') - 4);
  for (char& c : id)
    if (c == '#') c = '\\';
  return id;
}

IO_STATUS_BLOCK SendTo(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, const std::function<void(PIO_STACK_LOCATION)>& fill) {
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  PIRP irp = IoBuildSynchronousFsdRequest(major, device, nullptr, 0, nullptr, &done, &iosb);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MinorFunction = minor;
  fill(next);
  IoCallDriver(device, irp);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);  // set when the request is done
  return iosb;
}

TEST_P(PelkobusTest, LeavingD0OnTheControlDeviceClosesTheConnectionsOnAServerDeviceNothing) {
  for (uint16_t port : {1, 2}) {
    ASSERT_TRUE(Send(Plug(port, port)).ok);
    ASSERT_EQ(+Answer(port)->ArRmStatus, ARRM_STATUS_SUCCESS);
  }
  std::string controlNode = NodeOfInterface(FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER));
  std::string serverNode;
  for (const auto& node : host_->kernel().DeviceNodes())
    if (node.service == pelkobus::kService && node.instanceId != controlNode) serverNode = node.instanceId;
  auto toD3 = [](PIO_STACK_LOCATION s) {
    s->Parameters.Power.Type = DevicePowerState;
    s->Parameters.Power.State.DeviceState = PowerDeviceD3;
  };
  PDEVICE_OBJECT server = host_->kernel().ReferenceDeviceStack(serverNode);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(SendTo(server, IRP_MJ_POWER, IRP_MN_SET_POWER, toD3).Status, STATUS_SUCCESS);
  ObDereferenceObject(server);
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 2);
  PDEVICE_OBJECT control = host_->kernel().ReferenceDeviceStack(controlNode);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(SendTo(control, IRP_MJ_POWER, IRP_MN_SET_POWER, toD3).Status, STATUS_SUCCESS);
  ObDereferenceObject(control);
  EXPECT_TRUE(server_->WaitUntil([&] { return server_->negotiation().sessions_ended == 2; }, kHang));
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
}

// A PnP request with the answer a driver above may already have put in it.
IO_STATUS_BLOCK SendWith(PDEVICE_OBJECT device, UCHAR minor, ULONG_PTR information,
                         const std::function<void(PIO_STACK_LOCATION)>& fill) {
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, device, nullptr, 0, nullptr, &done, &iosb);
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->IoStatus.Information = information;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MinorFunction = minor;
  fill(next);
  IoCallDriver(device, irp);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  return iosb;
}

TEST_P(PelkobusTest, AChildAnswersAsAUsbDeviceOnItsPortOfItsServer) {
  ASSERT_TRUE(Send(Plug(1, 3)).ok);
  ASSERT_EQ(+Answer(1)->ArRmStatus, ARRM_STATUS_SUCCESS);
  ASSERT_EQ(ChildNodes(), 1u);
  PDEVICE_OBJECT child = host_->kernel().ReferenceDeviceStack("USB\\VID_5678&PID_1234\\03");
  ASSERT_NE(child, nullptr);

  // Capabilities: the parent's mapping with the working and sleeping states set, a removable device whose
  // surprise removal is not fine, its port as address and its server as number; other flags as given.
  DEVICE_CAPABILITIES caps{};
  caps.Size = sizeof caps;
  caps.Version = 1;
  caps.UniqueID = caps.SurpriseRemovalOK = caps.WakeFromD0 = caps.DeviceD1 = 1;
  caps.LockSupported = 1;
  auto withCaps = [&](PIO_STACK_LOCATION s) { s->Parameters.DeviceCapabilities.Capabilities = &caps; };
  ASSERT_EQ(SendWith(child, IRP_MN_QUERY_CAPABILITIES, 0, withCaps).Status, STATUS_SUCCESS);
  EXPECT_EQ(caps.Address, 3u);
  EXPECT_EQ(caps.UINumber, ServerAddress(kServerHost));
  EXPECT_EQ(caps.DeviceState[PowerSystemWorking], PowerDeviceD0);
  for (int state = PowerSystemSleeping1; state <= PowerSystemSleeping3; ++state)
    EXPECT_EQ(caps.DeviceState[state], PowerDeviceD3) << state;
  EXPECT_EQ(caps.DeviceState[PowerSystemHibernate], PowerDeviceUnspecified);  // the parent's
  EXPECT_TRUE(caps.Removable && caps.EjectSupported && caps.LockSupported);
  EXPECT_FALSE(caps.UniqueID || caps.SurpriseRemovalOK || caps.WakeFromD0 || caps.DeviceD1);
  caps.Version = 2;
  EXPECT_EQ(SendWith(child, IRP_MN_QUERY_CAPABILITIES, 0, withCaps).Status, STATUS_UNSUCCESSFUL);

  // Bus information and the instance identifier: the port in two digits.
  IO_STATUS_BLOCK bus = SendWith(child, IRP_MN_QUERY_BUS_INFORMATION, 0, [](PIO_STACK_LOCATION) {});
  ASSERT_EQ(bus.Status, STATUS_SUCCESS);
  auto* info = reinterpret_cast<PPNP_BUS_INFORMATION>(bus.Information);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->BusTypeGuid, GUID_BUS_TYPE_USB);
  EXPECT_EQ(info->LegacyBusType, PNPBus);
  EXPECT_EQ(info->BusNumber, 0u);
  ExFreePool(info);
  IO_STATUS_BLOCK id = SendWith(child, IRP_MN_QUERY_ID, 0, [](PIO_STACK_LOCATION s) { s->Parameters.QueryId.IdType = BusQueryInstanceID; });
  ASSERT_EQ(id.Status, STATUS_SUCCESS);
  auto* instance = reinterpret_cast<PWCHAR>(id.Information);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(instance)), u"03");
  ExFreePool(instance);

  // The USB bus interface: as large as its version needs, then its routines.
  USB_BUS_INTERFACE_USBDI_V2 usbdi{};
  auto query = [&](USHORT version, USHORT size) {
    return SendWith(child, IRP_MN_QUERY_INTERFACE, 0, [&](PIO_STACK_LOCATION s) {
      s->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
      s->Parameters.QueryInterface.Version = version;
      s->Parameters.QueryInterface.Size = size;
      s->Parameters.QueryInterface.Interface = reinterpret_cast<INTERFACE*>(&usbdi);
    }).Status;
  };
  EXPECT_EQ(query(0, 63), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(query(2, 79), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(query(3, 80), STATUS_NOT_SUPPORTED);  // a version it does not know: the request's own status
  EXPECT_EQ(usbdi.BusContext, nullptr);
  ASSERT_EQ(query(2, 80), STATUS_SUCCESS);
  ASSERT_NE(usbdi.GetUSBDIVersion, nullptr);
  USBD_VERSION_INFORMATION version{};
  ULONG capabilities = 0x10;
  usbdi.GetUSBDIVersion(usbdi.BusContext, &version, &capabilities);
  EXPECT_EQ(version.USBDI_Version, 1u);
  EXPECT_EQ(version.Supported_USB_Version, 1u);
  EXPECT_EQ(capabilities, 0x11u);
  USB_BUS_INFORMATION_LEVEL_0 level0{};
  ULONG length = 0, actual = 0;
  EXPECT_EQ(usbdi.QueryBusInformation(usbdi.BusContext, 0, &level0, &length, &actual), STATUS_SUCCESS);
  EXPECT_EQ(level0.TotalBandwidth, 0x6400000u);
  EXPECT_EQ(level0.ConsumedBandwidth, 0u);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(actual, 8u);
  EXPECT_EQ(usbdi.QueryBusInformation(usbdi.BusContext, 1, nullptr, &length, &actual), STATUS_SUCCESS);
  EXPECT_EQ(length, 16u);
  ULONG frame = 7;
  EXPECT_EQ(usbdi.QueryBusTime(usbdi.BusContext, &frame), STATUS_SUCCESS);
  EXPECT_EQ(frame, 0u);
  EXPECT_TRUE(usbdi.IsDeviceHighSpeed(usbdi.BusContext));
  EXPECT_EQ(usbdi.EnumLogEntry(usbdi.BusContext, 0, 0, 0, 0), STATUS_SUCCESS);
  usbdi.InterfaceDereference(usbdi.BusContext);
  ObDereferenceObject(child);
}

TEST_P(PelkobusTest, BusRelationsAddThePresentChildrenToWhatOthersListed) {
  ASSERT_TRUE(Send(Plug(1, 1)).ok);
  ASSERT_EQ(+Answer(1)->ArRmStatus, ARRM_STATUS_SUCCESS);
  // The answer comes before plug and play has made the child's node, on its own thread.
  ASSERT_EQ(ChildNodes(), 1u);
  server_->AddFault(*zarnet::sim::ParseFault("busy step=free"));
  auto printer = Plug(2, 2);
  printer.AutoConnect = 1;
  ASSERT_TRUE(Send(printer).ok);  // a child that waits, not present
  ASSERT_EQ(DeviceCount(), 2u);
  std::string controlNode = NodeOfInterface(FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER));
  std::string serverNode;
  for (const auto& node : host_->kernel().DeviceNodes())
    if (node.service == pelkobus::kService && node.instanceId != controlNode) serverNode = node.instanceId;
  PDEVICE_OBJECT server = host_->kernel().ReferenceDeviceStack(serverNode);
  PDEVICE_OBJECT control = host_->kernel().ReferenceDeviceStack(controlNode);
  ASSERT_TRUE(server && control);
  // Two devices another driver of the stack has listed already.
  auto* old = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS) + sizeof(PDEVICE_OBJECT), kBusTag));
  old->Count = 2;
  old->Objects[0] = control;
  old->Objects[1] = server;
  ObReferenceObject(control);
  ObReferenceObject(server);
  IO_STATUS_BLOCK answer = SendWith(server, IRP_MN_QUERY_DEVICE_RELATIONS, reinterpret_cast<ULONG_PTR>(old),
                                    [](PIO_STACK_LOCATION s) { s->Parameters.QueryDeviceRelations.Type = BusRelations; });
  ASSERT_EQ(answer.Status, STATUS_SUCCESS);
  auto* relations = reinterpret_cast<PDEVICE_RELATIONS>(answer.Information);
  ASSERT_NE(relations, nullptr);
  ASSERT_EQ(relations->Count, 3u);
  EXPECT_EQ(relations->Objects[0], control);
  EXPECT_EQ(relations->Objects[1], server);
  PDEVICE_OBJECT child = host_->kernel().ReferenceDeviceStack("USB\\VID_5678&PID_1234\\01");
  ASSERT_NE(child, nullptr);
  PDEVICE_OBJECT bottom = child;  // the present child itself, below its function driver
  while (bottom->DeviceObjectExtension && bottom->DeviceObjectExtension->AttachedTo)
    bottom = bottom->DeviceObjectExtension->AttachedTo;
  EXPECT_EQ(relations->Objects[2], bottom);
  ObDereferenceObject(child);
  for (ULONG i = 0; i < relations->Count; ++i) ObDereferenceObject(relations->Objects[i]);
  ExFreePool(relations);
  ObDereferenceObject(control);
  ObDereferenceObject(server);
}

TEST_P(PelkobusTest, AServerThatGoesTakesItsChildrenWithIt) {
  for (uint16_t port : {1, 2, 3}) {
    ASSERT_TRUE(Send(Plug(port, port)).ok);
    ASSERT_EQ(+Answer(port)->ArRmStatus, ARRM_STATUS_SUCCESS);
  }
  ASSERT_EQ(ChildNodes(), 3u);
  ASSERT_EQ(pelkobus::LiveChildren(), 3);
  // The enumerator reports the server gone: plug and play surprise-removes its node and the children.
  ASSERT_EQ(ServerRoundTrip(busEnum_, ServerRequest(2, false, ServerAddress(kServerHost))).Status, ARRM_STATUS_SUCCESS);
  host_->kernel().WaitForPnpIdle();
  EXPECT_EQ(ChildNodes(), 0u);
  EXPECT_EQ(pelkobus::LiveChildren(), 0);
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
}

TEST_P(PelkobusTest, WmiChangesOnlyTheTraceLevelItem) {
  static const GUID kWmiBlock = {0xBBA21300, 0x6DD3, 0x11D2, {0xB8, 0x44, 0x00, 0xC0, 0x4F, 0xAD, 0x51, 0x71}};
  PDEVICE_OBJECT control =
      host_->kernel().ReferenceDeviceStack(NodeOfInterface(FirstInterfacePath(GUID_DEVINTERFACE_BUSDRIVER)));
  ASSERT_NE(control, nullptr);
  auto wmi = [&](UCHAR minor, void* buffer, ULONG size) {
    return SendTo(control, IRP_MJ_SYSTEM_CONTROL, minor, [&](PIO_STACK_LOCATION s) {
      s->Parameters.WMI.ProviderId = reinterpret_cast<ULONG_PTR>(control);
      s->Parameters.WMI.DataPath = const_cast<GUID*>(&kWmiBlock);
      s->Parameters.WMI.Buffer = buffer;
      s->Parameters.WMI.BufferSize = size;
    });
  };
  ULONG item[2] = {1, 0x1234};
  EXPECT_EQ(wmi(IRP_MN_CHANGE_SINGLE_ITEM, item, sizeof item).Status, STATUS_WMI_READ_ONLY);
  item[0] = 2;
  EXPECT_EQ(wmi(IRP_MN_CHANGE_SINGLE_ITEM, item, sizeof item).Status, STATUS_SUCCESS);
  ULONG block[2] = {0xFFFF, 0};
  IO_STATUS_BLOCK read = wmi(IRP_MN_QUERY_SINGLE_INSTANCE, block, sizeof block);
  EXPECT_EQ(read.Status, STATUS_SUCCESS);
  EXPECT_EQ(read.Information, 8u);
  EXPECT_EQ(block[0], 0u);       // error count
  EXPECT_EQ(block[1], 0x1234u);  // the trace level just written
  EXPECT_EQ(wmi(IRP_MN_QUERY_SINGLE_INSTANCE, block, 4).Status, STATUS_BUFFER_TOO_SMALL);
  ULONG restore[2] = {2, 0x888888};
  wmi(IRP_MN_CHANGE_SINGLE_ITEM, restore, sizeof restore);
  ObDereferenceObject(control);
}

INSTANTIATE_TEST_SUITE_P(BusDriver, PelkobusTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, ShortTextPipeCountTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, LongTextPipeCountTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, BinaryPipeCountTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, OnePipeTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, TracedTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, NegotiationFaultTest, ::testing::Values(BusDriver::kPelkobus));
INSTANTIATE_TEST_SUITE_P(BusDriver, PrinterRetryTest, ::testing::Values(BusDriver::kPelkobus));

}  // namespace
}  // namespace kernel_host_test
