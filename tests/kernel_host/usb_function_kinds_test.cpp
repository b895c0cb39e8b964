// The kinds of simulated device driven by a user program through the function driver in the kernel-host
// program: print jobs, alternate settings, interrupt and isochronous transfers, cancel and abort on the
// wire, and a server that dies with URBs in flight.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "notice_window.h"
#include "kernel_host/usb_function_records.h"
#include "pelkobus/pelkobus.h"
#include "testsupport/child_process.h"
#include "testsupport/device_ids.h"
#include "testsupport/eventually.h"
#include "testsupport/kernel_host_process.h"
#include "testsupport/usb_requests.h"
#include "wdk/kernel.h"
#include "zarnet/sim/simulator.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/usb_wire.h"

namespace kernel_host_test {
namespace {

using namespace std::chrono_literals;
using Loop = zarnet::sim::LoopbackDevice;
constexpr int32_t kStatusCancelled = static_cast<int32_t>(0xC0000120);

std::vector<uint8_t> Pattern(size_t size, int seed) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed + i / 977);
  return v;
}

struct StreamOutcome {
  bool ok = false;
  USBFUNC_STREAM_RESULT result{};
  std::vector<uint8_t> data;
};

// `room`: the IN data the answer has room for (all URBs at full length unless given).
StreamOutcome Stream(HANDLE device, UCHAR endpoint, uint32_t length, uint32_t count, uint32_t depth,
                     const std::vector<uint8_t>& out = {}, uint32_t timeoutMs = 0, size_t room = SIZE_MAX) {
  USBFUNC_STREAM request{};
  request.Endpoint = endpoint;
  request.Length = length;
  request.Count = count;
  request.QueueDepth = depth;
  request.TimeoutMs = timeoutMs;
  std::vector<uint8_t> in(sizeof request + out.size());
  std::memcpy(in.data(), &request, sizeof request);
  if (!out.empty()) std::memcpy(in.data() + sizeof request, out.data(), out.size());
  if (room == SIZE_MAX) room = endpoint & 0x80 ? size_t{length} * count : 0;
  std::vector<uint8_t> answer(sizeof(USBFUNC_STREAM_RESULT) + room);
  Result r = Ioctl(device, IOCTL_USBFUNC_STREAM, in.data(), static_cast<DWORD>(in.size()), answer.data(),
                   static_cast<DWORD>(answer.size()));
  StreamOutcome o;
  o.ok = r.ok && r.bytes >= sizeof o.result;
  if (o.ok) {
    std::memcpy(&o.result, answer.data(), sizeof o.result);
    o.data.assign(answer.begin() + sizeof o.result, answer.begin() + r.bytes);
  }
  return o;
}

USBFUNC_RESULT Simple(HANDLE device, DWORD code, const void* record, DWORD size, std::vector<uint8_t>* data = nullptr,
                      DWORD readLength = 0) {
  std::vector<uint8_t> answer(sizeof(USBFUNC_RESULT) + readLength);
  Result r = Ioctl(device, code, record, size, answer.data(), static_cast<DWORD>(answer.size()));
  USBFUNC_RESULT result{};
  result.IrpStatus = -1;
  if (r.ok && r.bytes >= sizeof result) {
    std::memcpy(&result, answer.data(), sizeof result);
    if (data) data->assign(answer.begin() + sizeof result, answer.begin() + r.bytes);
  }
  return result;
}

USBFUNC_RESULT SelectInterface(HANDLE device, UCHAR interfaceNumber, UCHAR alternate) {
  USBFUNC_SELECT select{interfaceNumber, alternate, {}};
  return Simple(device, IOCTL_USBFUNC_SELECT_INTERFACE, &select, sizeof select);
}

USBFUNC_RESULT Control(HANDLE device, std::vector<uint8_t> setup, std::vector<uint8_t>* data) {
  USBFUNC_TRANSFER t{};
  std::memcpy(t.Setup, setup.data(), 8);
  t.Length = static_cast<uint32_t>(setup[6] | setup[7] << 8);
  return Simple(device, IOCTL_USBFUNC_TRANSFER, &t, sizeof t, data, t.Length);
}

// Connects ports of a simulated server through the bus driver and opens the function driver on them.
class UsbKindsTest : public KernelHostTest {
 protected:
  static constexpr int kServerHost = 14;
  uint32_t Address() const { return htonl(0x7F000000u | kServerHost); }

  void StartServer(std::vector<zarnet::sim::Device> devices) {
    folder_ = root() / "sim";
    std::filesystem::create_directories(folder_);
    zarnet::sim::ServerOptions o =
        zarnet::sim::LoopbackServerOptions(kServerHost, deviceLists_.port());
    o.devices = std::move(devices);
    o.folder = folder_.string();
    server_ = std::make_unique<zarnet::sim::Server>(o);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  // The kernel-host program, the server announced to its bus driver.
  void StartProgram() {
    process_.reset();  // the old host leaves the sysroot's socket before the new one binds it
    process_ = std::make_unique<tavrin::test::KernelHostProcess>(
        KERNEL_HOST_PROGRAM, root().string(), std::vector<std::string>{"--negotiation-timeout", "5000"});
    ASSERT_TRUE(process_->WaitReady(10000));
    window_ = MakeWindow();
    controlNotices_ = RegisterInterfaceNotices(window_, GUID_DEVINTERFACE_BUSDRIVER);
    busEnum_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
    ASSERT_NE(busEnum_, INVALID_HANDLE_VALUE);
    ServerRoundTrip(busEnum_, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0));
    ASSERT_EQ(+ServerRoundTrip(busEnum_, ServerRequest(1, true, Address())).Status, ARRM_STATUS_SUCCESS);
    MSG message{};
    ASSERT_TRUE(WaitForDeviceChange(window_, 10000, &message));
    control_ = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
    ASSERT_NE(control_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WaitServerKnown(control_, Address()));
    usbNotices_ = RegisterInterfaceNotices(window_, GUID_DEVINTERFACE_USBFUNC);
  }
  DEVICE_ARRIVALREMOVAL_INFO PortRequest(bool arrival, uint16_t port, uint8_t deviceClass) {
    char compatible[16];
    std::snprintf(compatible, sizeof compatible, "USB\\Class_%02X", deviceClass);
    ids_ = tavrin::test::DeviceIds(u"USB\\VID_5678&PID_4321",
                                   std::u16string(compatible, compatible + std::strlen(compatible)));
    DEVICE_ARRIVALREMOVAL_INFO r = DeviceRequest(++requestId_, arrival, Address(), port);
    r.DataPort = htons(server_->data_port());
    r.Class = deviceClass;
    ids_.FillRequest(r);
    return r;
  }
  // The port's device connected; a handle on its function driver.
  HANDLE Connect(uint16_t port, uint8_t deviceClass) {
    DEVICE_ARRIVALREMOVAL_INFO r = PortRequest(true, port, deviceClass);
    if (!Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok) return INVALID_HANDLE_VALUE;
    MSG message{};
    if (!WaitForDeviceChange(window_, 10000, &message)) return INVALID_HANDLE_VALUE;
    HANDLE usb = OpenFirstInterface(GUID_DEVINTERFACE_USBFUNC);
    if (usb != INVALID_HANDLE_VALUE) opened_.push_back(usb);
    return usb;
  }
  bool Disconnect(uint16_t port, uint8_t deviceClass) {
    DEVICE_ARRIVALREMOVAL_INFO r = PortRequest(false, port, deviceClass);
    if (!Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok) return false;
    MSG message{};
    return WaitForDeviceChange(window_, 10000, &message);  // the function driver's interface goes
  }
  void TearDown() override {
    for (HANDLE h : opened_) CloseHandle(h);
    if (control_ != INVALID_HANDLE_VALUE) CloseHandle(control_);
    if (busEnum_ != INVALID_HANDLE_VALUE) CloseHandle(busEnum_);
    if (usbNotices_) UnregisterDeviceNotification(usbNotices_);
    if (controlNotices_) UnregisterDeviceNotification(controlNotices_);
    if (window_) DestroyWindow(window_);
    if (process_) {
      EXPECT_EQ(process_->Terminate(10000), 0);
    }
    process_.reset();
    server_.reset();
    KernelHostTest::TearDown();
  }

  std::filesystem::path folder_;
  std::unique_ptr<zarnet::sim::Server> server_;
  std::unique_ptr<tavrin::test::KernelHostProcess> process_;
  HWND window_ = nullptr;
  HDEVNOTIFY controlNotices_ = nullptr, usbNotices_ = nullptr;
  HANDLE busEnum_ = INVALID_HANDLE_VALUE, control_ = INVALID_HANDLE_VALUE;
  std::vector<HANDLE> opened_;
  tavrin::test::DeviceIds ids_;
  uint32_t requestId_ = 10;
};

zarnet::sim::Device Port(uint16_t port, uint8_t deviceClass, const char* kind) {
  zarnet::sim::Device d;
  d.port = port;
  d.device_class = deviceClass;
  d.vid = 0x5678;
  d.pid = 0x4321;
  d.product = kind;
  d.usb_device = kind;
  return d;
}

TEST_F(UsbKindsTest, APrintJobLandsByteIdenticalInThePrintersFile) {
  zarnet::sim::Device printer = Port(3, 7, "printer");
  printer.subclass = 1;
  printer.protocol = 2;
  StartServer({printer});
  StartProgram();
  HANDLE usb = Connect(3, 7);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);
  // The class request for the 1284 identifier.
  std::vector<uint8_t> id;
  ASSERT_EQ(+Control(usb, {0xA1, 0, 0, 0, 0, 0, 0x00, 0x04}, &id).IrpStatus, 0);
  ASSERT_GE(id.size(), 2u);
  EXPECT_NE(std::string(id.begin() + 2, id.end()).find("CLS:PRINTER;"), std::string::npos);

  const std::vector<uint8_t> job = Pattern(700000, 3);
  StreamOutcome sent = Stream(usb, 0x01, 65536, 0, 4, job);
  ASSERT_TRUE(sent.ok);
  EXPECT_EQ(+sent.result.IrpStatus, 0);
  EXPECT_EQ(+sent.result.Completed, 11u);
  EXPECT_EQ(+sent.result.Actual, job.size());
  // The job ends with the data connection.
  ASSERT_TRUE(Disconnect(3, 7));
  auto device = std::dynamic_pointer_cast<zarnet::sim::PrinterDevice>(server_->usb_device(3));
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(tavrin::test::Eventually([&] { return device->jobs() != 0; }));  // polling the server
  ASSERT_EQ(device->jobs(), 1);
  std::ifstream file(device->file(), std::ios::binary);
  std::vector<uint8_t> printed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(printed == job) << printed.size();
}

TEST_F(UsbKindsTest, CompositeDeviceSelectsAlternateSettings) {
  StartServer({Port(4, 0xEF, "composite")});
  StartProgram();
  HANDLE usb = Connect(4, 0xEF);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);
  // Setting 0 of interface 1 has no endpoints.
  EXPECT_NE(+Stream(usb, 0x82, 64, 1, 1).result.IrpStatus, 0);
  ASSERT_EQ(+SelectInterface(usb, 1, 1).IrpStatus, 0);
  StreamOutcome report = Stream(usb, 0x82, 64, 1, 1);
  ASSERT_EQ(+report.result.IrpStatus, 0);
  EXPECT_EQ(report.data, std::vector<uint8_t>(8, 1));
  ASSERT_EQ(+SelectInterface(usb, 1, 2).IrpStatus, 0);
  report = Stream(usb, 0x82, 64, 1, 1);
  ASSERT_EQ(+report.result.IrpStatus, 0);
  EXPECT_EQ(report.data, std::vector<uint8_t>(64, 2));
  StreamOutcome bulk = Stream(usb, 0x83, 100, 1, 1);
  EXPECT_EQ(+bulk.result.IrpStatus, 0);
  EXPECT_EQ(bulk.data.size(), 100u);
  // A setting the interface does not have is refused; the one selected stays.
  EXPECT_NE(+SelectInterface(usb, 1, 3).IrpStatus, 0);
  EXPECT_EQ(Stream(usb, 0x82, 64, 1, 1).data, std::vector<uint8_t>(64, 2));
  // Interface 0 echoes all along.
  const std::vector<uint8_t> out = {1, 2, 3, 4, 5};
  EXPECT_EQ(+Stream(usb, 0x01, 5, 1, 1, out).result.IrpStatus, 0);
  EXPECT_EQ(Stream(usb, 0x81, 512, 1, 1).data, out);
}

TEST_F(UsbKindsTest, InterruptAndIsochronousTransfersAtDepth) {
  StartServer({Port(5, 0xFF, "loopback")});
  StartProgram();
  HANDLE usb = Connect(5, 0xFF);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);
  // Interrupt messages, eight in flight each way.
  const std::vector<uint8_t> reports = Pattern(8 * 8, 9);
  StreamOutcome sent = Stream(usb, Loop::kInterruptOut, 8, 0, 8, reports);
  ASSERT_EQ(+sent.result.IrpStatus, 0);
  EXPECT_EQ(+sent.result.Completed, 8u);
  StreamOutcome back = Stream(usb, Loop::kInterruptIn, 8, 8, 8);
  ASSERT_EQ(+back.result.IrpStatus, 0);
  EXPECT_EQ(back.data, reports);
  // Messages shorter than the URBs come back one after the other, no gap between them, whether the
  // answer has room for every URB at full length or only for what came.
  const std::vector<std::vector<uint8_t>> messages = {{1, 2, 3}, Pattern(8, 4), {9, 8, 7, 6, 5}};
  std::vector<uint8_t> joined;
  for (const auto& m : messages) joined.insert(joined.end(), m.begin(), m.end());
  for (size_t room : {size_t{3 * 8}, joined.size()}) {
    for (const auto& m : messages) ASSERT_EQ(+Stream(usb, Loop::kInterruptOut, 8, 0, 1, m).result.IrpStatus, 0);
    StreamOutcome three = Stream(usb, Loop::kInterruptIn, 8, 3, 3, {}, 0, room);
    ASSERT_TRUE(three.ok);
    EXPECT_EQ(+three.result.Completed, 3u) << room;
    EXPECT_EQ(+three.result.Actual, joined.size()) << room;
    EXPECT_EQ(three.data, joined) << room;
  }

  // Isochronous IN: odd packets come back half full, each at its own offset.
  USBFUNC_ISOCH iso{Loop::kIsoIn, {}, 4, 32};
  std::vector<uint8_t> answer(sizeof(USBFUNC_RESULT) + 4 * sizeof(USBFUNC_ISO_PACKET) + 4 * 32);
  Result r = Ioctl(usb, IOCTL_USBFUNC_ISOCH, &iso, sizeof iso, answer.data(), static_cast<DWORD>(answer.size()));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.bytes, answer.size());
  USBFUNC_RESULT result;
  std::memcpy(&result, answer.data(), sizeof result);
  ASSERT_EQ(+result.IrpStatus, 0);
  EXPECT_EQ(+result.Actual, 32u + 16 + 32 + 16);
  const uint8_t* buffer = answer.data() + sizeof result + 4 * sizeof(USBFUNC_ISO_PACKET);
  for (uint32_t i = 0; i < 4; ++i) {
    USBFUNC_ISO_PACKET packet;
    std::memcpy(&packet, answer.data() + sizeof result + i * sizeof packet, sizeof packet);
    EXPECT_EQ(+packet.Length, i % 2 ? 16u : 32u) << i;
    EXPECT_EQ(+packet.Status, 0);
    for (uint32_t j = 0; j < packet.Length; ++j) ASSERT_EQ(buffer[i * 32 + j], Loop::IsoInByte(i, j)) << i << " " << j;
  }
  // Isochronous OUT: the device takes every packet.
  const std::vector<uint8_t> samples = Pattern(3 * 48, 5);
  std::vector<uint8_t> request(sizeof iso + samples.size());
  iso = {Loop::kIsoOut, {}, 3, 48};
  std::memcpy(request.data(), &iso, sizeof iso);
  std::memcpy(request.data() + sizeof iso, samples.data(), samples.size());
  answer.assign(sizeof(USBFUNC_RESULT) + 3 * sizeof(USBFUNC_ISO_PACKET), 0);
  r = Ioctl(usb, IOCTL_USBFUNC_ISOCH, request.data(), static_cast<DWORD>(request.size()), answer.data(),
            static_cast<DWORD>(answer.size()));
  ASSERT_TRUE(r.ok);
  std::memcpy(&result, answer.data(), sizeof result);
  EXPECT_EQ(+result.IrpStatus, 0);
  EXPECT_EQ(+result.Actual, samples.size());
  auto device = std::dynamic_pointer_cast<Loop>(server_->usb_device(5));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->iso_out_received(), samples);
  // A halted endpoint takes nothing: the transfer fails and says that nothing went.
  ASSERT_EQ(+Control(usb, {0x02, 3, 0, 0, Loop::kIsoOut, 0, 0, 0}, nullptr).IrpStatus, 0);  // SET_FEATURE halt
  r = Ioctl(usb, IOCTL_USBFUNC_ISOCH, request.data(), static_cast<DWORD>(request.size()), answer.data(),
            static_cast<DWORD>(answer.size()));
  ASSERT_TRUE(r.ok);
  std::memcpy(&result, answer.data(), sizeof result);
  EXPECT_NE(+result.IrpStatus, 0);
  EXPECT_EQ(+result.Actual, 0u);
  for (uint32_t i = 0; i < 3; ++i) {
    USBFUNC_ISO_PACKET packet;
    std::memcpy(&packet, answer.data() + sizeof result + i * sizeof packet, sizeof packet);
    EXPECT_EQ(+packet.Length, 0u) << i;
  }
  // Queue depths outside 1..64 and transfers above 1 MiB are refused before anything is sent.
  EXPECT_FALSE(Stream(usb, Loop::kBulkIn, 64, 1, 0).ok);
  EXPECT_FALSE(Stream(usb, Loop::kBulkIn, 64, 65, 65).ok);
  EXPECT_FALSE(Stream(usb, Loop::kBulkIn, (1u << 20) + 1, 1, 1).ok);
  // A packet count outside 1..256 is refused before anything is sent.
  iso = {Loop::kIsoIn, {}, 257, 1};
  EXPECT_FALSE(Ioctl(usb, IOCTL_USBFUNC_ISOCH, &iso, sizeof iso, answer.data(), static_cast<DWORD>(answer.size())).ok);
}

// tavrin-usb run on the test's sysroot: its exit status and what it printed.
std::pair<int, std::string> RunTool(const std::filesystem::path& sysroot, const std::string& arguments) {
  std::string out;
  const int status = tavrin::test::RunShell(
      std::string("exec ") + TAVRIN_USB_PROGRAM + " --sysroot '" + sysroot.string() + "' " + arguments + " 2>&1", &out);
  return {status, out};
}

TEST_F(UsbKindsTest, TheToolListsDevicesPrintsFilesAndLoopsData) {
  zarnet::sim::Device printer = Port(3, 7, "printer");
  printer.vid = 0x03E8;
  printer.subclass = 1;
  printer.protocol = 2;
  StartServer({printer, Port(5, 0xFF, "loopback")});
  StartProgram();
  ASSERT_NE(Connect(3, 7), INVALID_HANDLE_VALUE);
  auto [status, listed] = RunTool(root(), "list");
  EXPECT_EQ(status, 0) << listed;
  EXPECT_NE(listed.find("device 0: VID_03E8 PID_4321"), std::string::npos) << listed;
  EXPECT_NE(listed.find("EndPoints Inc."), std::string::npos) << listed;  // from the vendor table
  EXPECT_NE(listed.find("interface 0 setting 0: class 07/01/02"), std::string::npos) << listed;
  EXPECT_NE(listed.find("endpoint 0x01 OUT bulk"), std::string::npos) << listed;

  const std::vector<uint8_t> job = Pattern(1500000, 8);  // more than one request carries
  const std::filesystem::path file = root() / "job.prn";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(job.data()), job.size());
  auto [printed, said] = RunTool(root(), "print " + file.string());
  EXPECT_EQ(printed, 0) << said;
  for (HANDLE h : opened_) CloseHandle(h);
  opened_.clear();
  ASSERT_TRUE(Disconnect(3, 7));
  auto device = std::dynamic_pointer_cast<zarnet::sim::PrinterDevice>(server_->usb_device(3));
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(tavrin::test::Eventually([&] { return device->jobs() != 0; }));  // polling the server
  ASSERT_EQ(device->jobs(), 1);
  std::ifstream landed(device->file(), std::ios::binary);
  EXPECT_TRUE(std::vector<uint8_t>((std::istreambuf_iterator<char>(landed)), std::istreambuf_iterator<char>()) == job);

  ASSERT_NE(Connect(5, 0xFF), INVALID_HANDLE_VALUE);
  auto [looped, loopSaid] = RunTool(root(), "loop --depth 8 0x01 0x81 65536 16");
  EXPECT_EQ(looped, 0) << loopSaid;
  EXPECT_NE(loopSaid.find("1048576 bytes looped, identical"), std::string::npos) << loopSaid;
  EXPECT_EQ(RunTool(root(), "print " + file.string()).first, 1) << "a loopback device is no printer";

  // Isochronous transfers: what the packets of an IN transfer carried, samples to an OUT endpoint.
  auto [isoIn, isoInSaid] = RunTool(root(), "iso 0x83 4 32");
  EXPECT_EQ(isoIn, 0) << isoInSaid;
  std::string hex;
  size_t bytes = 0;
  char pair[4];
  for (uint32_t i = 0; i < 4; ++i)
    for (uint32_t j = 0; j < (i % 2 ? 16u : 32u); ++j, ++bytes) {
      std::snprintf(pair, sizeof pair, "%02X%s", Loop::IsoInByte(i, j), (bytes + 1) % 16 ? " " : "\n");
      hex += pair;
    }
  EXPECT_NE(isoInSaid.find(hex), std::string::npos) << isoInSaid;
  EXPECT_NE(isoInSaid.find("96 bytes read, 0 packets failed"), std::string::npos) << isoInSaid;
  const std::vector<uint8_t> samples = Pattern(3 * 48, 4);
  const std::filesystem::path samplesFile = root() / "samples.raw";
  std::ofstream(samplesFile, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()), samples.size());
  auto [isoOut, isoOutSaid] = RunTool(root(), "iso 0x03 3 48 " + samplesFile.string());
  EXPECT_EQ(isoOut, 0) << isoOutSaid;
  EXPECT_NE(isoOutSaid.find("144 bytes written in 3 packets, 0 failed"), std::string::npos) << isoOutSaid;
  auto loopback = std::dynamic_pointer_cast<Loop>(server_->usb_device(5));
  ASSERT_NE(loopback, nullptr);
  EXPECT_EQ(loopback->iso_out_received(), samples);
  EXPECT_EQ(RunTool(root(), "iso 0x03 3 50 " + samplesFile.string()).first, 2) << "no whole number of packets";
  EXPECT_EQ(RunTool(root(), "iso 0x81 2 64").first, 1) << "a bulk endpoint";
}

TEST_F(UsbKindsTest, EveryInterfaceOfACompositeDeviceIsADeviceOfItsOwn) {
  zarnet::sim::Device composite = Port(4, 0xEF, "composite");
  composite.interfaces = 2;
  StartServer({composite});
  StartProgram();
  // Connected as the administration program connects a device of several interfaces.
  DEVICE_ARRIVALREMOVAL_INFO r = PortRequest(true, 4, 0xEF);
  using namespace std::string_literals;
  ids_ = tavrin::test::DeviceIds(u"USB\\VID_5678&PID_4321&REV_0100\0USB\\VID_5678&PID_4321"s,
                                 u"usb\\devclass_00&subclass_00&prot_00\0usb\\devclass_00&subClass_00\0"
                                 u"usb\\devclass_00\0usb\\composite"s);
  ids_.FillRequest(r);
  ASSERT_TRUE(Ioctl(control_, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok);
  MSG message{};
  for (int arrived = 0; arrived < 2; ++arrived) ASSERT_TRUE(WaitForDeviceChange(window_, 10000, &message)) << arrived;

  // Each interface is a device of its own, its configuration holding that interface alone.
  auto [status, listed] = RunTool(root(), "list");
  EXPECT_EQ(status, 0) << listed;
  const size_t second = listed.find("device 1: VID_5678 PID_4321");
  ASSERT_NE(second, std::string::npos) << listed;
  const std::string first = listed.substr(0, second), other = listed.substr(second);
  EXPECT_NE(first.find("configuration 1: 1 interfaces"), std::string::npos) << listed;
  EXPECT_NE(first.find("interface 0 setting 0"), std::string::npos) << listed;
  EXPECT_EQ(first.find("interface 1"), std::string::npos) << listed;
  EXPECT_NE(other.find("interface 1 setting 2: class FF/01/02, 2 endpoints"), std::string::npos) << listed;
  EXPECT_EQ(other.find("interface 0"), std::string::npos) << listed;

  // Both are usable: the echo of the first, an alternate setting of the second and its endpoints.
  auto [looped, loopSaid] = RunTool(root(), "loop --device 0 0x01 0x81 512 4");
  EXPECT_EQ(looped, 0) << loopSaid;
  EXPECT_NE(loopSaid.find("2048 bytes looped, identical"), std::string::npos) << loopSaid;
  auto [selected, selectSaid] = RunTool(root(), "select --device 1 1 2");
  EXPECT_EQ(selected, 0) << selectSaid;
  auto [read, readSaid] = RunTool(root(), "read --device 1 0x82 64");
  EXPECT_EQ(read, 0) << readSaid;
  EXPECT_NE(readSaid.find("02 02 02 02"), std::string::npos) << readSaid;
  EXPECT_EQ(RunTool(root(), "read --device 1 0x83 100").first, 0);
  // An unplug takes the device with both interfaces.
  ASSERT_TRUE(Disconnect(4, 0xEF));
  ASSERT_TRUE(WaitForDeviceChange(window_, 10000, &message));
  EXPECT_EQ(FirstInterfacePath(GUID_DEVINTERFACE_USBFUNC), "");
}

// A server whose data connection the test watches: control requests are answered by a loopback device,
// every other request is only recorded (reads wait for ever).
class UnlinkWatchTest : public UsbKindsTest {
 protected:
  void Watch() {
    device_ = std::make_unique<Loop>(Port(6, 0xFF, "loopback"));
    device_->Attach({});
    server_->SetDataSessionHandler([this](const zarnet::sim::DataSession& session) { Serve(session); });
  }
  void Serve(const zarnet::sim::DataSession& session) {
    tavrin::test::ServeRequests(session, [&](zarnet::UsbRequestMessage& m) {
      if (m.header.EndPoint == 0 && m.header.Command == zarnet::RFC_CMD_CONTROL) {
        tavrin::test::AnswerControl(session, *device_, m);
        return;
      }
      std::lock_guard lock(mutex_);
      requests_.push_back(m.header);
      arrived_.notify_all();
    });
  }
  // Waits for `count` recorded requests (besides control ones) and gives them.
  std::vector<zarnet::RFC_HEADER> Requests(size_t count) {
    std::unique_lock lock(mutex_);
    EXPECT_TRUE(arrived_.wait_for(lock, 10s, [&] { return requests_.size() >= count; })) << requests_.size();
    return {requests_.begin(), requests_.end()};
  }
  void TearDown() override {
    UsbKindsTest::TearDown();
    if (device_) device_->Detach();
  }

  std::unique_ptr<Loop> device_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<zarnet::RFC_HEADER> requests_;
};

TEST_F(UnlinkWatchTest, CancelAndAbortSendUnlinksAndCompleteEachRequestOnce) {
  StartServer({Port(6, 0xFF, "loopback")});
  Watch();
  StartProgram();
  HANDLE usb = Connect(6, 0xFF);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);
  // A read the server never answers, cancelled when its time is up.
  StreamOutcome cancelled = Stream(usb, Loop::kBulkIn, 64, 1, 1, {}, 50);
  ASSERT_TRUE(cancelled.ok);
  EXPECT_EQ(+cancelled.result.IrpStatus, kStatusCancelled);
  EXPECT_EQ(+cancelled.result.Failed, 1u);
  EXPECT_EQ(+cancelled.result.Completed, 0u);
  std::vector<zarnet::RFC_HEADER> seen = Requests(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Command, zarnet::RFC_CMD_BULK);
  EXPECT_EQ(seen[1].Command, zarnet::RFC_CMD_UNLINK);
  EXPECT_EQ(seen[1].CommandLength, 28u);
  EXPECT_EQ(seen[1].EndPoint, Loop::kBulkIn);
  EXPECT_EQ(seen[1].TransferFlags, seen[0].SeqNo);

  // Three reads in flight from one handle, the pipe aborted from another.
  HANDLE second = OpenFirstInterface(GUID_DEVINTERFACE_USBFUNC);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  opened_.push_back(second);
  StreamOutcome aborted;
  std::thread reader([&] { aborted = Stream(usb, Loop::kBulkIn, 64, 3, 3); });
  Requests(5);
  USBFUNC_TRANSFER abort{};
  abort.Endpoint = Loop::kBulkIn;
  EXPECT_EQ(+Simple(second, IOCTL_USBFUNC_ABORT_PIPE, &abort, sizeof abort).IrpStatus, 0);
  reader.join();
  ASSERT_TRUE(aborted.ok);
  EXPECT_EQ(+aborted.result.Failed, 3u);
  EXPECT_EQ(+aborted.result.Completed, 0u);
  seen = Requests(8);
  ASSERT_EQ(seen.size(), 8u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(seen[2 + i].Command, zarnet::RFC_CMD_BULK);
    EXPECT_EQ(seen[5 + i].Command, zarnet::RFC_CMD_UNLINK);
    EXPECT_EQ(seen[5 + i].CommandLength, 28u);
    EXPECT_EQ(seen[5 + i].TransferFlags, seen[2 + i].SeqNo);
  }
}

// Threads and open descriptors of a process.
struct Footprint {
  size_t threads = 0, files = 0;
};
Footprint FootprintOf(pid_t pid) {
  Footprint f;
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(proc / "task", error); !error && it != std::filesystem::directory_iterator(); it.increment(error)) ++f.threads;
  for (auto it = std::filesystem::directory_iterator(proc / "fd", error); !error && it != std::filesystem::directory_iterator(); it.increment(error)) ++f.files;
  return f;
}

// tavrin-usb started on the test's sysroot, its output thrown away.
pid_t StartTool(const std::filesystem::path& sysroot, std::vector<std::string> arguments) {
  std::vector<std::string> args = {TAVRIN_USB_PROGRAM, "--sysroot", sysroot.string()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  return tavrin::test::StartChild(
      args, tavrin::test::ChildSetup().Open(STDOUT_FILENO, "/dev/null", O_WRONLY).Open(STDERR_FILENO, "/dev/null", O_WRONLY));
}

TEST_F(UnlinkWatchTest, AClientKilledWhileItsReadWaitsIsUnlinkedAndLeavesNothingBehind) {
  StartServer({Port(6, 0xFF, "loopback")});
  Watch();
  StartProgram();
  ASSERT_NE(Connect(6, 0xFF), INVALID_HANDLE_VALUE);
  // A finished connection waits to be reaped until the next one arrives: the measure is taken with one.
  ASSERT_EQ(RunTool(root(), "list").first, 0);
  const Footprint before = FootprintOf(process_->pid());
  char endpoint[8];
  std::snprintf(endpoint, sizeof endpoint, "0x%02X", Loop::kBulkIn);
  for (size_t i = 0; i < 20; ++i) {
    pid_t client = StartTool(root(), {"read", endpoint, "64"});
    ASSERT_GT(client, 0);
    std::vector<zarnet::RFC_HEADER> seen = Requests(2 * i + 1);  // its read waits at the server
    kill(client, SIGKILL);
    waitpid(client, nullptr, 0);
    seen = Requests(2 * i + 2);
    ASSERT_EQ(seen.size(), 2 * i + 2);
    EXPECT_EQ(seen[2 * i].Command, zarnet::RFC_CMD_BULK);
    EXPECT_EQ(seen[2 * i + 1].Command, zarnet::RFC_CMD_UNLINK);
    EXPECT_EQ(seen[2 * i + 1].TransferFlags, seen[2 * i].SeqNo);
  }
  Footprint after;
  EXPECT_TRUE(tavrin::test::Eventually([&] {
    // The last clients' connections may have finished only after the next one arrived: one more comes
    // on every try, so that each is reaped in the end.
    if (RunTool(root(), "list").first != 0) return false;
    after = FootprintOf(process_->pid());
    return after.threads <= before.threads && after.files <= before.files;
  })) << "threads " << before.threads << " -> " << after.threads << ", descriptors " << before.files << " -> "
      << after.files;
}

TEST_F(UnlinkWatchTest, AStopCancelsTheReadsItsServerNeverAnswers) {
  StartServer({Port(6, 0xFF, "loopback")});
  Watch();
  StartProgram();
  HANDLE usb = Connect(6, 0xFF);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);
  StreamOutcome read;
  std::thread reader([&] { read = Stream(usb, Loop::kBulkIn, 64, 1, 1); });
  Requests(1);
  // The read is cancelled first, so the host's threads can be joined: it ends at once.
  EXPECT_EQ(process_->Terminate(2000), 0);
  process_.reset();
  reader.join();
  EXPECT_FALSE(read.ok);
}

// The simulator program killed while 64 URBs wait at its device; the kernel runs in this process so that
// what it still holds afterwards can be counted.
class ServerKilledTest : public KernelHostTest {};

TEST_F(ServerKilledTest, EveryUrbInFlightFailsWithinASecondAndTheChildLeaves) {
  const std::filesystem::path conf = root() / "sim.conf";
  const uint16_t dataPort = zarnet::sim::FreeLoopbackPort(SOCK_STREAM, "127.0.0.15");
  std::ofstream(conf) << "[sim]\nbroadcast = 127.0.0.1:" << deviceLists_.port()
                      << "\nbroadcast_period_ms = 1000\n[server k]\naddress = 127.0.0.15\ncommand_port = 0\n"
                         "data_port = " << dataPort << "\nserver_id = 15\nfolder = " << root().string()
                      << "\n[device]\nport = 1\nclass = 255\nvid = 0x5678\npid = 0x4321\nusb_device = loopback\n";
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t sim = tavrin::test::StartChild({ZARNET_SIM_PROGRAM, "--config", conf.string(), "--quiet"},
                                             tavrin::test::ChildSetup().Dup(pipeFds[1], STDOUT_FILENO).Close(pipeFds[0]));
  close(pipeFds[1]);
  ASSERT_GT(sim, 0);
  // Running once it says so.
  std::string line;
  char c;
  pollfd ready{pipeFds[0], POLLIN, 0};
  while (line.find("running") == std::string::npos && poll(&ready, 1, 10000) > 0 && read(pipeFds[0], &c, 1) == 1)
    line.push_back(c);
  close(pipeFds[0]);
  ASSERT_NE(line.find("running"), std::string::npos) << line;

  tavrin::kernel_host::Options options;
  options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
  StartHost(options);
  HWND window = MakeWindow();
  HDEVNOTIFY notices = RegisterInterfaceNotices(window, GUID_DEVINTERFACE_USBFUNC);
  HANDLE busEnum = OpenFirstInterface(GUID_DEVINTERFACE_BUSENUM);
  ASSERT_NE(busEnum, INVALID_HANDLE_VALUE);
  const uint32_t address = htonl(0x7F00000F);
  ServerRoundTrip(busEnum, ServerRequest(SPECIAL_SERVER_REQUEST_ID, true, 0));
  ASSERT_EQ(+ServerRoundTrip(busEnum, ServerRequest(1, true, address)).Status, ARRM_STATUS_SUCCESS);
  host_->kernel().WaitForPnpIdle();
  HANDLE control = OpenFirstInterface(GUID_DEVINTERFACE_BUSDRIVER);
  ASSERT_NE(control, INVALID_HANDLE_VALUE);
  const tavrin::test::DeviceIds ids(u"USB\\VID_5678&PID_4321", u"USB\\Class_FF");
  DEVICE_ARRIVALREMOVAL_INFO r = DeviceRequest(2, true, address, 1);
  r.DataPort = htons(dataPort);
  r.Class = 0xFF;
  ids.FillRequest(r);
  ASSERT_TRUE(Ioctl(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r).ok);
  MSG message{};
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));
  HANDLE usb = OpenFirstInterface(GUID_DEVINTERFACE_USBFUNC);
  ASSERT_NE(usb, INVALID_HANDLE_VALUE);

  // Sixty-four reads wait at the device (nothing to echo); their IRPs are counted as they go down.
  const ULONG irpTag = PoolTag("Irp ");
  const size_t irpsBefore = tavrin::wdk::PoolBlocksOutstanding(irpTag);
  StreamOutcome reads;
  std::chrono::steady_clock::time_point returned;
  std::thread reader([&] {
    reads = Stream(usb, Loop::kBulkIn, 512, 64, 64);
    returned = std::chrono::steady_clock::now();
  });
  // The reader's progress, polled.
  ASSERT_TRUE(tavrin::test::Eventually([&] { return tavrin::wdk::PoolBlocksOutstanding(irpTag) >= irpsBefore + 64; }));
  const auto killed = std::chrono::steady_clock::now();
  kill(sim, SIGKILL);
  waitpid(sim, nullptr, 0);
  reader.join();
  EXPECT_LT(returned - killed, 1s);
  ASSERT_TRUE(reads.ok);
  EXPECT_EQ(+reads.result.Failed, 64u);
  EXPECT_EQ(+reads.result.Completed, 0u);
  EXPECT_NE(+reads.result.IrpStatus, 0);
  // The administration program's removal of the dead server's device: the child leaves at once, its
  // function driver's interface with it.
  DEVICE_ARRIVALREMOVAL_INFO removal = DeviceRequest(3, false, address, 1);
  removal.DataPort = htons(dataPort);
  ASSERT_TRUE(Ioctl(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &removal, sizeof removal, &removal, sizeof removal).ok);
  ASSERT_TRUE(WaitForDeviceChange(window, 10000, &message));
  EXPECT_EQ(message.wParam, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
  CloseHandle(usb);
  host_->kernel().WaitForPnpIdle();
  EXPECT_EQ(pelkobus::LiveChildren(), 0);
  CloseHandle(control);
  CloseHandle(busEnum);
  UnregisterDeviceNotification(notices);
  DestroyWindow(window);
  host_.reset();
  EXPECT_EQ(pelkobus::LiveChildren(), 0);
  EXPECT_EQ(tavrin::wdk::TransportSocketsOpen(), 0);
}

}  // namespace
}  // namespace kernel_host_test
