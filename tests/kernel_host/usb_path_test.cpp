// URBs through pelkobus's child to a simulated loopback device and back, in process.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "testsupport/device_ids.h"
#include "testsupport/urb.h"
#include "testsupport/usb_requests.h"
#include "pelkobus/pelkobus.h"
#include "wdk/kernel.h"
#include "wdk/usb.h"
#include "zarnet/sim/simulator.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/usb_wire.h"
#include "win32/registry.h"

namespace kernel_host_test {
namespace {

using namespace std::chrono_literals;
using Loop = zarnet::sim::LoopbackDevice;
constexpr int kServerHost = 11;

uint32_t ServerAddress(int host) { return htonl(0x7F000000u | static_cast<uint32_t>(host)); }

class UsbPathTest : public KernelHostTest {
 protected:
  void SetUp() override {
    KernelHostTest::SetUp();
    pelkobus::SetAbortPipeDelay(0);
    zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(kServerHost, deviceLists_.port());
    zarnet::sim::Device d;
    d.port = 1;
    d.device_class = 0xFF;
    d.vid = 0x5678;
    d.pid = 0x4321;
    d.usb_device = "loopback";
    o.devices.push_back(d);
    server_ = std::make_unique<zarnet::sim::Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    InstallHandler();
    if (const char* mask = std::getenv("PELKO_TRACE"))
      tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VUSB\\Parameters", "BusTraceMask", std::strtoul(mask, nullptr, 0));
    tavrin::kernel_host::Options options;
    options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
    StartHost(options);
    HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
    ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
    ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0));
    ASSERT_EQ(ServerRoundTrip(busEnum, ServerRequest(1, true, ServerAddress(kServerHost))).Status, ARRM_STATUS_SUCCESS);
    CloseHandle(busEnum);
    host_->kernel().WaitForPnpIdle();
    control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
    ASSERT_NE(control_, INVALID_HANDLE_VALUE);
    ids_ = tavrin::test::DeviceIds(u"USB\\VID_5678&PID_4321", u"USB\\Class_FF");
    DEVICE_ARRIVALREMOVAL_INFO r = DeviceRequest(1, true, ServerAddress(kServerHost), 1);
    r.DataPort = htons(server_->data_port());
    r.Class = 0xFF;
    r.Rev = 0x0100;
    ids_.FillRequest(r);
    ASSERT_TRUE(Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok);
    // Plug and play's progress, polled.
    ASSERT_TRUE(tavrin::test::Eventually([&] {
      host_->kernel().WaitForPnpIdle();
      for (const auto& node : host_->kernel().DeviceNodes())
        if (node.instanceId.rfind("USB\\VID_5678&PID_4321\\", 0) == 0 && node.started)
          stack_ = host_->kernel().ReferenceDeviceStack(node.instanceId);
      return stack_ != nullptr;
    }));
  }
  virtual void InstallHandler() {}
  void TearDown() override {
    if (stack_) ObDereferenceObject(stack_);
    if (control_ != INVALID_HANDLE_VALUE) CloseHandle(control_);
    host_.reset();
    server_.reset();
    EXPECT_EQ(pelkobus::LiveChildren(), 0);
    KernelHostTest::TearDown();
  }

  // Submits a URB and waits for its completion; the IRP's status.
  NTSTATUS Submit(void* urb) { return tavrin::test::SubmitUrbAndWait(stack_, urb); }
  // A submission left running. A held one keeps its IRP after the driver completes it (the completion
  // routine stops the I/O manager from freeing it), so the test may still cancel it; Wait finishes it.
  struct Pending {
    KEVENT done;
    KEVENT completed;
    IO_STATUS_BLOCK iosb{};
    PIRP irp = nullptr;
    bool held = false;
    URB urb{};
    std::vector<uint8_t> buffer;
    NTSTATUS issued = STATUS_PENDING;  // what IoCallDriver returned
  };
  static NTSTATUS HoldIrp(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(&static_cast<Pending*>(context)->completed, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  std::unique_ptr<Pending> Start(UCHAR endpoint, ULONG length, uint8_t fill = 0xEE, bool hold = false) {
    auto p = std::make_unique<Pending>();
    KeInitializeEvent(&p->done, NotificationEvent, FALSE);
    KeInitializeEvent(&p->completed, NotificationEvent, FALSE);
    p->held = hold;
    p->buffer.assign(length * 2, fill);
    auto& b = p->urb.UrbBulkOrInterruptTransfer;
    b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    b.PipeHandle = pipes_[endpoint];
    b.T.TransferFlags = endpoint & 0x80 ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    b.T.TransferBuffer = p->buffer.data();
    b.T.TransferBufferLength = length;
    p->irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, stack_, nullptr, 0, nullptr, 0, TRUE, &p->done, &p->iosb);
    IoGetNextIrpStackLocation(p->irp)->Parameters.Others.Argument1 = &p->urb;
    if (hold) IoSetCompletionRoutine(p->irp, HoldIrp, p.get(), TRUE, TRUE, TRUE);
    p->issued = IoCallDriver(stack_, p->irp);
    if (p->issued != STATUS_PENDING && !hold) KeSetEvent(&p->done, IO_NO_INCREMENT, FALSE);
    return p;
  }
  static NTSTATUS Wait(Pending& p) {
    if (p.held) {
      KeWaitForSingleObject(&p.completed, Executive, KernelMode, FALSE, nullptr);
      p.held = false;
      IoCompleteRequest(p.irp, IO_NO_INCREMENT);  // the I/O manager's part: status out, IRP freed
      p.irp = nullptr;
    }
    KeWaitForSingleObject(&p.done, Executive, KernelMode, FALSE, nullptr);
    return p.iosb.Status;
  }
  NTSTATUS AbortPipe(UCHAR endpoint) {
    URB urb{};
    urb.UrbPipeRequest.Hdr = {sizeof(URB_PIPE_REQUEST), URB_FUNCTION_ABORT_PIPE, 0, nullptr, 0};
    urb.UrbPipeRequest.PipeHandle = pipes_[endpoint];
    return Submit(&urb);
  }
  NTSTATUS GetDescriptor(UCHAR type, std::vector<uint8_t>& out, ULONG length) {
    return tavrin::test::GetDescriptorAndWait(stack_, type, out, length);
  }
  // Reads the configuration and selects it; the pipe handles by endpoint address.
  void Configure() {
    std::vector<uint8_t> head, config;
    ASSERT_EQ(GetDescriptor(2, head, 9), STATUS_SUCCESS);
    ASSERT_EQ(head.size(), 9u);
    ULONG total = head[2] | head[3] << 8;
    ASSERT_EQ(GetDescriptor(2, config, total), STATUS_SUCCESS);
    ASSERT_EQ(config.size(), total);
    config_ = config;
    constexpr ULONG kPipes = 8;
    std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + InterfaceInformationSize(kPipes));
    auto* sel = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
    sel->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
    sel->ConfigurationDescriptor = config_.data();
    sel->Interface.Length = InterfaceInformationSize(kPipes);
    ASSERT_EQ(Submit(sel), STATUS_SUCCESS);
    EXPECT_NE(sel->ConfigurationHandle, nullptr);
    for (ULONG i = 0; i < sel->Interface.NumberOfPipes; ++i) {
      pipes_[sel->Interface.Pipes[i].EndpointAddress] = sel->Interface.Pipes[i].PipeHandle;
      types_[sel->Interface.Pipes[i].EndpointAddress] = sel->Interface.Pipes[i].PipeType;
    }
  }
  NTSTATUS Transfer(UCHAR endpoint, void* data, ULONG* length, URB* keep = nullptr) {
    URB local{};
    URB& urb = keep ? *keep : local;
    auto& b = urb.UrbBulkOrInterruptTransfer;
    b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    b.PipeHandle = pipes_[endpoint];
    b.T.TransferFlags = endpoint & 0x80 ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
    b.T.TransferBuffer = data;
    b.T.TransferBufferLength = *length;
    NTSTATUS s = Submit(&urb);
    *length = b.T.TransferBufferLength;
    return s;
  }

  std::unique_ptr<zarnet::sim::Server> server_;
  HANDLE control_ = INVALID_HANDLE_VALUE;
  tavrin::test::DeviceIds ids_;
  PDEVICE_OBJECT stack_ = nullptr;
  std::vector<uint8_t> config_;
  std::map<UCHAR, PVOID> pipes_;
  std::map<UCHAR, ULONG> types_;
};

TEST_F(UsbPathTest, SelectsTheConfigurationAndLoopsSixteenBlocksOf64KiB) {
  Configure();
  ASSERT_TRUE(pipes_.count(Loop::kBulkOut) && pipes_.count(Loop::kBulkIn));
  EXPECT_EQ(types_[Loop::kBulkOut], 2u);  // bmAttributes & 3
  EXPECT_EQ(types_[Loop::kIsoIn], 1u);
  std::vector<uint8_t> sent(16 * 65536);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 65536);
  for (int block = 0; block < 16; ++block) {
    ULONG length = 65536;
    ASSERT_EQ(Transfer(Loop::kBulkOut, sent.data() + block * 65536, &length), STATUS_SUCCESS);
    EXPECT_EQ(length, 65536u);  // an OUT keeps the length the client gave
  }
  std::vector<uint8_t> back(sent.size());
  size_t got = 0;
  while (got < back.size()) {
    ULONG length = 65536;
    ASSERT_EQ(Transfer(Loop::kBulkIn, back.data() + got, &length), STATUS_SUCCESS);
    ASSERT_GT(length, 0u);
    got += length;
  }
  EXPECT_EQ(back, sent);
}

TEST_F(UsbPathTest, RequestsTheBufferCannotCarryOrThatNameNoPipeAreRefused) {
  Configure();
  std::vector<uint8_t> data(65537);
  ULONG length = 65537;
  // An interrupt OUT larger than one send is refused at once instead of waiting for ever.
  EXPECT_EQ(Transfer(Loop::kInterruptOut, data.data(), &length), STATUS_INVALID_PARAMETER);
  URB bogus{};
  auto& b = bogus.UrbBulkOrInterruptTransfer;
  b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
  b.PipeHandle = reinterpret_cast<PVOID>(0x1234);
  b.T.TransferBuffer = data.data();
  b.T.TransferBufferLength = 8;
  EXPECT_EQ(Submit(&bogus), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(b.Hdr.Status, USBD_STATUS_INVALID_PIPE_HANDLE);
  // Isochronous packet counts outside 1..256 are refused before anything is framed.
  std::vector<uint8_t> isoMemory(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + 300 * sizeof(USBD_ISO_PACKET_DESCRIPTOR));
  auto* iso = reinterpret_cast<URB_ISOCH_TRANSFER*>(isoMemory.data());
  iso->Hdr = {static_cast<USHORT>(isoMemory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
  iso->PipeHandle = pipes_[Loop::kIsoIn];
  iso->T.TransferBuffer = data.data();
  iso->T.TransferBufferLength = 300 * 8;
  for (ULONG n : {0u, 257u}) {
    iso->NumberOfPackets = n;
    EXPECT_EQ(Submit(iso), STATUS_INVALID_PARAMETER) << n;
  }
  iso->NumberOfPackets = 4;
  iso->Hdr.Length = sizeof(URB_ISOCH_TRANSFER);  // room for one packet only
  EXPECT_EQ(Submit(iso), STATUS_INVALID_PARAMETER);
  // The connection still carries requests.
  length = 4;
  EXPECT_EQ(Transfer(Loop::kBulkOut, data.data(), &length), STATUS_SUCCESS);
}

TEST_F(UsbPathTest, AnIsochronousOutAboveOneRequestsDataResetsTheConnection) {
  Configure();
  constexpr ULONG kPackets = 65;
  std::vector<uint8_t> memory(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + kPackets * sizeof(USBD_ISO_PACKET_DESCRIPTOR));
  auto* iso = reinterpret_cast<URB_ISOCH_TRANSFER*>(memory.data());
  std::vector<uint8_t> data(65537);
  iso->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
  iso->PipeHandle = pipes_[Loop::kIsoOut];
  iso->T.TransferBuffer = data.data();
  iso->T.TransferBufferLength = 65537;
  iso->NumberOfPackets = kPackets;
  for (ULONG i = 0; i < kPackets; ++i) iso->IsoPacket[i].Offset = i * 1024;
  EXPECT_EQ(Submit(iso), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(iso->Hdr.Status, USBD_STATUS_INSUFFICIENT_RESOURCES);
  // As a bulk OUT of that size: the connection is gone and later requests fail at once.
  std::vector<uint8_t> small(4);
  ULONG length = 4;
  EXPECT_EQ(Transfer(Loop::kBulkOut, small.data(), &length), STATUS_UNSUCCESSFUL);
}

TEST_F(UsbPathTest, AStallIsAnsweredAsAStallAndResetPipeClearsIt) {
  Configure();
  std::vector<uint8_t> data(512);
  ULONG length = 512;  // more than its packet: the endpoint halts
  EXPECT_EQ(Transfer(Loop::kStallIn, data.data(), &length), STATUS_UNSUCCESSFUL);
  URB reset{};
  reset.UrbPipeRequest.Hdr = {sizeof(URB_PIPE_REQUEST), URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, 0, nullptr, 0};
  reset.UrbPipeRequest.PipeHandle = pipes_[Loop::kStallIn];
  EXPECT_EQ(Submit(&reset), STATUS_SUCCESS);
  length = 64;
  EXPECT_EQ(Transfer(Loop::kStallIn, data.data(), &length), STATUS_SUCCESS);
}

TEST_F(UsbPathTest, CancelOfASentReadCompletesItOnceAndUnlinksIt) {
  Configure();
  // A read with nothing to echo waits at the server; cancelling it completes the IRP once.
  auto read = Start(Loop::kBulkIn, 64);
  ASSERT_EQ(read->issued, STATUS_PENDING);
  IoCancelIrp(read->irp);
  EXPECT_EQ(Wait(*read), STATUS_CANCELLED);
  EXPECT_EQ(read->urb.UrbBulkOrInterruptTransfer.Hdr.Status, USBD_STATUS_CANCELED);
  // The server dropped the unlinked read: data written now comes back to the next read, not the old one.
  std::vector<uint8_t> out = {1, 2, 3, 4};
  ULONG length = 4;
  ASSERT_EQ(Transfer(Loop::kBulkOut, out.data(), &length), STATUS_SUCCESS);
  std::vector<uint8_t> in(64);
  length = 64;
  ASSERT_EQ(Transfer(Loop::kBulkIn, in.data(), &length), STATUS_SUCCESS);
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(std::vector<uint8_t>(in.begin(), in.begin() + 4), out);
}

TEST_F(UsbPathTest, ControlInterruptAndIsochronousTransfersOfTheLoopbackDevice) {
  Configure();
  // Vendor request 1: OUT keeps the bytes, IN gives them back.
  std::vector<uint8_t> out = {9, 8, 7, 6, 5};
  URB v{};
  auto& vc = v.UrbControlVendorClassRequest;
  vc.Hdr = {sizeof vc, URB_FUNCTION_VENDOR_DEVICE, 0, nullptr, 0};
  vc.Request = 1;
  vc.T.TransferBuffer = out.data();
  vc.T.TransferBufferLength = 5;
  ASSERT_EQ(Submit(&v), STATUS_SUCCESS);
  std::vector<uint8_t> in(16);
  vc.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  vc.T.TransferBuffer = in.data();
  vc.T.TransferBufferLength = 16;
  ASSERT_EQ(Submit(&v), STATUS_SUCCESS);
  ASSERT_EQ(vc.T.TransferBufferLength, 5u);
  EXPECT_EQ(std::vector<uint8_t>(in.begin(), in.begin() + 5), out);

  // Interrupt echo.
  ULONG length = 8;
  std::vector<uint8_t> report = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(Transfer(Loop::kInterruptOut, report.data(), &length), STATUS_SUCCESS);
  std::vector<uint8_t> echo(8);
  length = 8;
  ASSERT_EQ(Transfer(Loop::kInterruptIn, echo.data(), &length), STATUS_SUCCESS);
  EXPECT_EQ(echo, report);

  // Isochronous IN, held back briefly on its new pipe: even packets come back whole, odd ones half, each at
  // its own offset; then a single-packet transfer.
  for (ULONG packets : {4u, 1u}) {
    std::vector<uint8_t> memory(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + packets * sizeof(USBD_ISO_PACKET_DESCRIPTOR));
    auto* iso = reinterpret_cast<URB_ISOCH_TRANSFER*>(memory.data());
    std::vector<uint8_t> buffer(packets * 32, 0xEE);
    iso->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
    iso->PipeHandle = pipes_[Loop::kIsoIn];
    iso->T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
    iso->T.TransferBuffer = buffer.data();
    iso->T.TransferBufferLength = packets * 32;
    iso->NumberOfPackets = packets;
    for (ULONG i = 0; i < packets; ++i) iso->IsoPacket[i].Offset = i * 32;
    ASSERT_EQ(Submit(iso), STATUS_SUCCESS) << packets;
    EXPECT_EQ(iso->Hdr.Status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(iso->ErrorCount, 0u);
    for (ULONG i = 0; i < packets; ++i) {
      EXPECT_EQ(iso->IsoPacket[i].Length, i % 2 ? 16u : 32u) << i;
      EXPECT_EQ(iso->IsoPacket[i].Status, 0);
    }
  }
}

TEST_F(UsbPathTest, SelectingAnInterfaceAgainFailsWhatWaitedOnItsOldPipes) {
  Configure();
  std::vector<uint8_t> data(64);
  auto read = Start(Loop::kBulkIn, 64);
  ASSERT_EQ(read->issued, STATUS_PENDING);  // nothing to echo yet: it waits

  constexpr ULONG kPipes = 8;
  std::vector<uint8_t> memory(offsetof(URB_SELECT_INTERFACE, Interface) + InterfaceInformationSize(kPipes));
  auto* sel = reinterpret_cast<URB_SELECT_INTERFACE*>(memory.data());
  sel->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_INTERFACE, 0, nullptr, 0};
  sel->Interface.Length = InterfaceInformationSize(kPipes);
  ASSERT_EQ(Submit(sel), STATUS_SUCCESS);
  EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
  // The old handle names no pipe any more; the new ones carry data.
  ULONG length = 4;
  EXPECT_EQ(Transfer(Loop::kBulkOut, data.data(), &length), STATUS_UNSUCCESSFUL);
  for (ULONG i = 0; i < sel->Interface.NumberOfPipes; ++i) pipes_[sel->Interface.Pipes[i].EndpointAddress] = sel->Interface.Pipes[i].PipeHandle;
  std::vector<uint8_t> out = {4, 3, 2, 1};
  length = 4;
  ASSERT_EQ(Transfer(Loop::kBulkOut, out.data(), &length), STATUS_SUCCESS);
  length = 64;
  ASSERT_EQ(Transfer(Loop::kBulkIn, data.data(), &length), STATUS_SUCCESS);
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 4), out);

  // A client record too small for the interface's pipes is refused, not overrun.
  std::vector<uint8_t> small(offsetof(URB_SELECT_INTERFACE, Interface) + InterfaceInformationSize(1));
  auto* tight = reinterpret_cast<URB_SELECT_INTERFACE*>(small.data());
  tight->Hdr = {static_cast<USHORT>(small.size()), URB_FUNCTION_SELECT_INTERFACE, 0, nullptr, 0};
  tight->Interface.Length = InterfaceInformationSize(1);
  EXPECT_EQ(Submit(tight), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(tight->Hdr.Status, USBD_STATUS_ERROR);
}

// A server whose answers the test writes: control requests get the loopback device's configuration (or an
// empty success), every other request waits in a queue for the test.
class ScriptedUsbTest : public UsbPathTest {
 protected:
  void InstallHandler() override {
    zarnet::sim::Device d;
    d.port = 1;
    d.vid = 0x5678;
    d.pid = 0x4321;
    configuration_ = Loop(d).ConfigurationDescriptor();
    server_->SetDataSessionHandler([this](const zarnet::sim::DataSession& session) { Serve(session); });
  }
  void TearDown() override {
    UsbPathTest::TearDown();
  }
  void Serve(const zarnet::sim::DataSession& session) {
    {
      std::lock_guard lock(mutex_);
      socket_ = session.socket;
    }
    tavrin::test::ServeRequests(session, [&](zarnet::UsbRequestMessage& m) {
      if (m.header.EndPoint == 0 && m.header.Command == zarnet::RFC_CMD_CONTROL) {
        zarnet::UsbSetupPacket setup = zarnet::SetupOf(m.header);
        std::vector<uint8_t> data;
        if (setup.bRequest == 6 && (setup.wValue >> 8) == 2) {
          std::lock_guard lock(mutex_);
          data.assign(configuration_.begin(), configuration_.begin() + std::min<size_t>(setup.wLength, configuration_.size()));
        }
        std::vector<uint8_t> out;
        zarnet::AppendResponse(out, zarnet::ResponseTo(m.header, 0), data);
        Write(out);
        return;
      }
      std::lock_guard lock(mutex_);
      requests_.push_back(m.header);
      arrived_.notify_all();
    });
    std::lock_guard lock(mutex_);
    socket_ = -1;
  }
  // Under the lock, so the session cannot end and have its socket closed while an answer is being sent.
  void Write(const std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex_);
    if (socket_ >= 0) tavrin::test::SendAll(socket_, out);
  }
  // The next request the test has to answer.
  zarnet::RFC_HEADER NextRequest() {
    std::unique_lock lock(mutex_);
    EXPECT_TRUE(arrived_.wait_for(lock, 5s, [&] { return !requests_.empty(); }));
    if (requests_.empty()) return {};
    zarnet::RFC_HEADER h = requests_.front();
    requests_.pop_front();
    return h;
  }
  // The next request that is not an unlink: a cancel's unlink reaches the server whenever it is sent.
  zarnet::RFC_HEADER NextRequestBesidesUnlinks() {
    zarnet::RFC_HEADER request;
    do request = NextRequest(); while (request.Command == zarnet::RFC_CMD_UNLINK);
    return request;
  }
  void Answer(const zarnet::RFC_HEADER& request, std::vector<uint8_t> data, int32_t status = 0) {
    std::vector<uint8_t> out;
    zarnet::AppendResponse(out, zarnet::ResponseTo(request, status), data);
    Write(out);
  }

  std::vector<uint8_t> configuration_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<zarnet::RFC_HEADER> requests_;
  int socket_ = -1;
};

TEST_F(ScriptedUsbTest, ReturnedDataIsBoundedByTheRequestAndUnmatchedResponsesAreSkipped) {
  Configure();
  auto read = Start(Loop::kBulkIn, 64);
  zarnet::RFC_HEADER request = NextRequest();
  EXPECT_EQ(request.TransferLength, 64u);
  // More than asked for: the excess is discarded and the request fails; the stream stays in frame.
  Answer(request, std::vector<uint8_t>(100, 0x11));
  EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_BUFFER_OVERRUN);
  EXPECT_EQ(std::vector<uint8_t>(read->buffer.begin() + 64, read->buffer.end()), std::vector<uint8_t>(64, 0xEE));

  read = Start(Loop::kBulkIn, 64);
  request = NextRequest();
  zarnet::RFC_HEADER noPipe = request;
  noPipe.EndPoint = 0x8F;
  Answer(noPipe, std::vector<uint8_t>(10, 0x22));  // an endpoint the child has no pipe for
  zarnet::RFC_HEADER stale = request;
  stale.SeqNo += 5;
  Answer(stale, std::vector<uint8_t>(7, 0x33));  // not the pipe's oldest request
  zarnet::RFC_HEADER unlinkAnswer = request;
  unlinkAnswer.Command = zarnet::RFC_CMD_UNLINK;
  Answer(unlinkAnswer, {});
  // The right answer, its header split over two writes.
  std::vector<uint8_t> out;
  zarnet::AppendResponse(out, zarnet::ResponseTo(request, 0), std::vector<uint8_t>(5, 0x44));
  Write(std::vector<uint8_t>(out.begin(), out.begin() + 20));
  Write(std::vector<uint8_t>(out.begin() + 20, out.end()));
  EXPECT_EQ(Wait(*read), STATUS_SUCCESS);
  EXPECT_EQ(read->urb.UrbBulkOrInterruptTransfer.T.TransferBufferLength, 5u);
  EXPECT_EQ(std::vector<uint8_t>(read->buffer.begin(), read->buffer.begin() + 5), std::vector<uint8_t>(5, 0x44));
}

TEST_F(ScriptedUsbTest, AResponseWhoseLengthsDisagreeEndsTheConnection) {
  Configure();
  auto read = Start(Loop::kBulkIn, 64);
  zarnet::RFC_HEADER request = NextRequest();
  std::vector<uint8_t> out;
  zarnet::AppendResponse(out, zarnet::ResponseTo(request, 0), std::vector<uint8_t>(8, 1));
  out[0] = 56 + 20;  // CommandLength says more than its data: where the next message starts is unknown
  Write(out);
  EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
  auto later = Start(Loop::kBulkIn, 64);
  EXPECT_EQ(Wait(*later), STATUS_UNSUCCESSFUL);
}

TEST_F(ScriptedUsbTest, AnAnswerHandedOverByteByByteCompletesItsRead) {
  Configure();
  // The selection completes before the server's answer to it arrives; answers come in order, so once a later
  // control transfer has completed nothing is left on the connection to mix with the bytes handed over below.
  std::vector<uint8_t> quiet;
  ASSERT_EQ(GetDescriptor(2, quiet, 9), STATUS_SUCCESS);
  auto read = Start(Loop::kBulkIn, 64);
  zarnet::RFC_HEADER request = NextRequest();
  std::vector<uint8_t> out;
  zarnet::AppendResponse(out, zarnet::ResponseTo(request, 0), std::vector<uint8_t>(9, 0x5A));
  for (uint8_t byte : out) pelkobus::FeedResponseBytes(stack_, &byte, 1);
  EXPECT_EQ(Wait(*read), STATUS_SUCCESS);
  EXPECT_EQ(read->urb.UrbBulkOrInterruptTransfer.T.TransferBufferLength, 9u);
  EXPECT_EQ(std::vector<uint8_t>(read->buffer.begin(), read->buffer.begin() + 10),
            (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0xEE}));
}

TEST_F(ScriptedUsbTest, AbortFailsQueuedRequestsAndUnlinksThoseAlreadySent) {
  Configure();
  auto first = Start(Loop::kBulkIn, 64);
  auto second = Start(Loop::kBulkIn, 64);
  zarnet::RFC_HEADER a = NextRequest();
  zarnet::RFC_HEADER b = NextRequest();
  EXPECT_EQ(b.SeqNo, a.SeqNo + 1);
  EXPECT_EQ(AbortPipe(Loop::kBulkIn), STATUS_SUCCESS);
  EXPECT_EQ(Wait(*first), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(Wait(*second), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(first->urb.UrbHeader.Status, USBD_STATUS_REQUEST_FAILED);
  for (const auto& sent : {a, b}) {
    zarnet::RFC_HEADER unlink = NextRequest();
    EXPECT_EQ(unlink.Command, zarnet::RFC_CMD_UNLINK);
    EXPECT_EQ(unlink.CommandLength, 28u);
    EXPECT_EQ(unlink.EndPoint, Loop::kBulkIn);
    EXPECT_EQ(unlink.TransferFlags, sent.SeqNo);
  }
  // A late answer to an aborted request completes nothing; the pipe goes on.
  Answer(a, std::vector<uint8_t>(3, 1));
  auto third = Start(Loop::kBulkIn, 64);
  zarnet::RFC_HEADER c = NextRequest();
  Answer(c, std::vector<uint8_t>(2, 9));
  EXPECT_EQ(Wait(*third), STATUS_SUCCESS);
  EXPECT_EQ(third->urb.UrbBulkOrInterruptTransfer.T.TransferBufferLength, 2u);
}

// Isochronous requests of a new pipe held back long enough for a cancel to come first.
class HeldIsochronousTest : public ScriptedUsbTest {
 protected:
  void SetUp() override {
    pelkobus::SetIsochHoldBack(300);
    ScriptedUsbTest::SetUp();
  }
  void TearDown() override {
    ScriptedUsbTest::TearDown();
    pelkobus::SetIsochHoldBack(5);
  }
};

TEST_F(HeldIsochronousTest, ACancelledRequestThatWasNeverSentIsUnlinkedAllTheSame) {
  Configure();
  constexpr ULONG kPackets = 2;
  std::vector<uint8_t> memory(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + kPackets * sizeof(USBD_ISO_PACKET_DESCRIPTOR));
  auto* iso = reinterpret_cast<URB_ISOCH_TRANSFER*>(memory.data());
  std::vector<uint8_t> buffer(2 * 32);
  iso->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
  iso->PipeHandle = pipes_[Loop::kIsoIn];
  iso->T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  iso->T.TransferBuffer = buffer.data();
  iso->T.TransferBufferLength = static_cast<ULONG>(buffer.size());
  iso->NumberOfPackets = kPackets;
  iso->IsoPacket[1].Offset = 32;
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, stack_, nullptr, 0, nullptr, 0, TRUE, &done, &iosb);
  IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = iso;
  ASSERT_EQ(IoCallDriver(stack_, irp), STATUS_PENDING);  // held on its new pipe
  IoCancelIrp(irp);
  KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
  EXPECT_EQ(iosb.Status, STATUS_CANCELLED);
  // The server never saw the request, and hears of its cancel once the pipe's hold-back is over.
  zarnet::RFC_HEADER unlink = NextRequest();
  EXPECT_EQ(unlink.Command, zarnet::RFC_CMD_UNLINK);
  EXPECT_EQ(unlink.EndPoint, Loop::kIsoIn);
  EXPECT_EQ(unlink.TransferFlags, 0u);  // the pipe's first request
  std::lock_guard lock(mutex_);
  EXPECT_TRUE(requests_.empty());
}

// A configuration of two interfaces that needs more pipes than the pool holds once the default pipe and
// the first interface's fifteen have theirs.
std::vector<uint8_t> ConfigurationOfSeventeenEndpoints() {
  std::vector<uint8_t> c = {9, 2, 0, 0, 2, 1, 0, 0x80, 50};
  auto interface = [&](uint8_t number, uint8_t endpoints) {
    c.insert(c.end(), {9, 4, number, 0, endpoints, 0xFF, 0, 0, 0});
  };
  auto endpoint = [&](uint8_t address) { c.insert(c.end(), {7, 5, address, 2, 0x00, 0x02, 0}); };
  interface(0, 15);
  for (uint8_t i = 1; i <= 15; ++i) endpoint(i);
  interface(1, 2);
  endpoint(0x81);
  endpoint(0x82);
  c[2] = static_cast<uint8_t>(c.size());
  c[3] = static_cast<uint8_t>(c.size() >> 8);
  return c;
}

TEST_F(ScriptedUsbTest, ASelectionThePipePoolCannotHoldFailsButFillsEveryEntry) {
  {
    std::lock_guard lock(mutex_);
    configuration_ = ConfigurationOfSeventeenEndpoints();
  }
  std::vector<uint8_t> config;
  ASSERT_EQ(GetDescriptor(2, config, 9), STATUS_SUCCESS);
  ASSERT_EQ(GetDescriptor(2, config, static_cast<ULONG>(ConfigurationOfSeventeenEndpoints().size())), STATUS_SUCCESS);
  const ULONG sizes[] = {InterfaceInformationSize(15), InterfaceInformationSize(2)};
  std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + sizes[0] + sizes[1]);
  auto* sel = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
  sel->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
  sel->ConfigurationDescriptor = config.data();
  auto* first = &sel->Interface;
  first->Length = static_cast<USHORT>(sizes[0]);
  auto* second = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(reinterpret_cast<uint8_t*>(first) + sizes[0]);
  second->Length = static_cast<USHORT>(sizes[1]);
  second->InterfaceNumber = 1;
  EXPECT_EQ(Submit(sel), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(sel->Hdr.Status, USBD_STATUS_ERROR);
  ASSERT_EQ(first->NumberOfPipes, 15u);
  for (ULONG i = 0; i < 15; ++i) EXPECT_NE(first->Pipes[i].PipeHandle, nullptr) << i;
  // The pool ran dry: the second interface is there, its pipes described but without handles.
  EXPECT_NE(second->InterfaceHandle, nullptr);
  ASSERT_EQ(second->NumberOfPipes, 2u);
  for (ULONG i = 0; i < 2; ++i) {
    EXPECT_EQ(second->Pipes[i].PipeHandle, nullptr) << i;
    EXPECT_EQ(second->Pipes[i].EndpointAddress, 0x81 + i) << i;
    EXPECT_EQ(second->Pipes[i].PipeType, 2u) << i;
    EXPECT_EQ(second->Pipes[i].MaximumPacketSize, 512u) << i;
  }
}

TEST_F(ScriptedUsbTest, CancelRacingTheAnswerCompletesEachRequestOnce) {
  Configure();
  for (int i = 0; i < 40; ++i) {
    // Held: the answer may complete the IRP before the cancel reaches it, and it must still be there.
    auto read = Start(Loop::kBulkIn, 16, 0xEE, true);
    zarnet::RFC_HEADER request = NextRequestBesidesUnlinks();
    std::thread answer([&] { Answer(request, std::vector<uint8_t>(16, 5)); });
    IoCancelIrp(read->irp);
    NTSTATUS status = Wait(*read);
    answer.join();
    EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << std::hex << status;
  }
  auto last = Start(Loop::kBulkIn, 16);
  Answer(NextRequestBesidesUnlinks(), std::vector<uint8_t>(16, 6));
  EXPECT_EQ(Wait(*last), STATUS_SUCCESS);
}

TEST_F(ScriptedUsbTest, ADeviceGoneFailsItsRequestAndEveryLaterOneAtOnce) {
  Configure();
  auto read = Start(Loop::kBulkIn, 64);
  zarnet::RFC_HEADER request = NextRequest();
  Answer(request, {}, zarnet::kWireStatusDeviceGone);
  EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_REQUEST_FAILED);
  auto next = Start(Loop::kBulkIn, 64);
  EXPECT_EQ(Wait(*next), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(next->urb.UrbHeader.Status, USBD_STATUS_REQUEST_FAILED);
  std::lock_guard lock(mutex_);
  EXPECT_TRUE(requests_.empty());  // never sent
}

TEST_F(ScriptedUsbTest, TheSixtyFifthRequestResetsTheConnectionAndEveryRequestInFlightFails) {
  Configure();
  // One answered read first: the answers before it (the selection's own requests) are then all in.
  auto first = Start(Loop::kBulkIn, 16);
  Answer(NextRequest(), std::vector<uint8_t>(1, 1));
  ASSERT_EQ(Wait(*first), STATUS_SUCCESS);
  std::vector<std::unique_ptr<Pending>> reads;
  for (int i = 0; i < 64; ++i) reads.push_back(Start(Loop::kBulkIn, 16));
  for (int i = 0; i < 64; ++i) NextRequest();
  // The request pool is spent: the next request resets the connection, which fails all that waited.
  auto extra = Start(Loop::kBulkIn, 16);
  EXPECT_EQ(Wait(*extra), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(extra->urb.UrbHeader.Status, USBD_STATUS_INSUFFICIENT_RESOURCES);
  for (auto& read : reads) {
    EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_REQUEST_FAILED);
  }
}

TEST_F(ScriptedUsbTest, AServerThatGoesAwayFailsEveryRequestInFlight) {
  Configure();
  std::vector<std::unique_ptr<Pending>> reads;
  for (int i = 0; i < 63; ++i) reads.push_back(Start(Loop::kBulkIn, 16));
  for (int i = 0; i < 63; ++i) NextRequest();
  {
    std::lock_guard lock(mutex_);
    ::shutdown(socket_, SHUT_RDWR);
  }
  for (auto& read : reads) {
    EXPECT_EQ(Wait(*read), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read->urb.UrbHeader.Status, USBD_STATUS_REQUEST_FAILED);
  }
  // Nothing more is sent on a connection that ended.
  auto late = Start(Loop::kBulkIn, 16);
  EXPECT_EQ(Wait(*late), STATUS_UNSUCCESSFUL);
}

}  // namespace
}  // namespace kernel_host_test
