// The bus driver's response handling with requests in flight: a child is connected to a scripted server
// and configured, reads of every kind go out, then a byte stream is handed to the child's response path as
// its receive would, split at points the input chooses. The stream is the input laid over well-formed
// answers to those reads (byte for byte exclusive-or), so that short inputs already reach the matching
// and every stream is still some input. The child then leaves, which fails whatever is
// still pending. Each request must complete exactly once (a second completion stops the kernel), within
// its own buffer, with no more than it asked for.
#include <arpa/inet.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel_host/kernel_host.h"
#include "pelkobus/busenum.h"
#include "pelkobus/pelkobus.h"
#include "pelkobus/records.h"
#include "testsupport/device_ids.h"
#include "testsupport/interfaces.h"
#include "testsupport/urb.h"
#include "testsupport/usb_requests.h"
#include "wdk/kernel.h"
#include "wdk/usb.h"
#include "win32/file.h"
#include "win32/ioctl.h"
#include "win32/setupapi.h"
#include "win32/sysroot.h"
#include "zarnet/sim/simulator.h"
#include "zarnet/sim/usb_device.h"
#include "zarnet/usb_wire.h"

namespace {

using namespace std::chrono_literals;
using Loop = zarnet::sim::LoopbackDevice;
constexpr int kServerHost = 16;
constexpr size_t kGuard = 64;

uint32_t ServerAddress() { return htonl(0x7F000000u | kServerHost); }

HANDLE OpenFirst(const GUID& interfaceClass) {
  const std::string path = tavrin::test::FirstInterfacePath(interfaceClass);
  return path.empty() ? INVALID_HANDLE_VALUE : CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Ioctl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD bytes = 0;
  return DeviceIoControl(device, code, in, inSize, out, outSize, &bytes, nullptr);
}

// The server: standard control requests answered by a loopback device, every other request only counted.
struct Server {
  Server() {
    zarnet::sim::Device d;
    d.port = 1;
    d.device_class = 0xFF;
    d.vid = 0x5678;
    d.pid = 0x4321;
    d.usb_device = "loopback";
    device = std::make_unique<Loop>(d);
    device->Attach({});
    zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(kServerHost, zarnet::sim::FreeLoopbackPort(SOCK_DGRAM));
    o.devices.push_back(d);
    server = std::make_unique<zarnet::sim::Server>(o);
    server->SetDataSessionHandler([this](const zarnet::sim::DataSession& s) { Serve(s); });
    std::string error;
    if (!server->Start(&error)) abort();
  }
  void Serve(const zarnet::sim::DataSession& session) {
    tavrin::test::ServeRequests(session, [&](zarnet::UsbRequestMessage& m) {
      zarnet::UsbSetupPacket setup = zarnet::SetupOf(m.header);
      if (m.header.EndPoint == 0 && m.header.Command == zarnet::RFC_CMD_CONTROL && (setup.bmRequestType & 0x60) == 0) {
        tavrin::test::AnswerControl(session, *device, m);
        return;
      }
      std::lock_guard lock(mutex);
      ++requests;
      headers.push_back(m.header);
      arrived.notify_all();
    });
  }
  bool WaitRequests(uint64_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, 5s, [&] { return requests >= count; });
  }

  std::unique_ptr<Loop> device;
  std::unique_ptr<zarnet::sim::Server> server;
  std::mutex mutex;
  std::condition_variable arrived;
  uint64_t requests = 0;
  std::vector<zarnet::RFC_HEADER> headers;  // of the requests counted
};

// Well-formed answers to the requests, in the order they arrived; some longer than asked for.
std::vector<uint8_t> Answers(const std::vector<zarnet::RFC_HEADER>& requests) {
  std::vector<uint8_t> out;
  for (const zarnet::RFC_HEADER& r : requests) {
    std::vector<uint8_t> data(r.TransferLength / 2 + 3, static_cast<uint8_t>(r.SeqNo + r.EndPoint));
    std::vector<zarnet::RFC_ISO_DESC> packets;
    if (r.Command == zarnet::RFC_CMD_ISOCH) {
      data.assign(r.TransferLength, 0x1F);
      for (uint32_t i = 0; i < r.NumberOfPackets; ++i)
        packets.push_back({i * 32, 32, i % 2 ? 16u : 32u, 0});
    }
    zarnet::AppendResponse(out, zarnet::ResponseTo(r, 0), data, packets);
  }
  return out;
}

// One URB sent down with its buffer between two guard areas.
struct Pending {
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  std::vector<uint8_t> memory;  // the URB (an isochronous one has its packets behind it)
  std::vector<uint8_t> buffer;  // guard, data, guard
  ULONG length = 0;
  URB* urb() { return reinterpret_cast<URB*>(memory.data()); }
  uint8_t* data() { return buffer.data() + kGuard; }
};

struct Environment {
  Environment() {
    char dir[] = "/tmp/tavrin-fuzz-usb-path-XXXXXX";
    if (!mkdtemp(dir)) abort();
    tavrin::sysroot::SetRoot(dir);
    pelkobus::SetAbortPipeDelay(0);
    server = std::make_unique<Server>();
    tavrin::kernel_host::Options options;
    options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
    host = std::make_unique<tavrin::kernel_host::KernelHost>(options);
    std::string error;
    if (!host->Start(&error)) abort();
    HANDLE busEnum = OpenFirst(GUID_DEVINTERFACE_BUSENUM);
    if (busEnum == INVALID_HANDLE_VALUE) abort();
    for (uint32_t id : {SPECIAL_SERVER_REQUEST_ID, 1u}) {
      SERVER_ARRIVALREMOVAL_INFO r{};
      r.RequestId = id;
      r.Taken = 1;
      r.Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
      r.Arrival = 1;
      r.ServerId = id == SPECIAL_SERVER_REQUEST_ID ? 0 : 0x1001;
      r.ServerIp = id == SPECIAL_SERVER_REQUEST_ID ? 0 : ServerAddress();
      r.DataPort = r.ServerIp ? 3240 : 0;
      r.Status = r.ServerIp ? ARRM_STATUS_PENDING : 0;
      Ioctl(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &r, sizeof r, nullptr, 0);
      SERVER_ARRIVALREMOVAL_INFO answer{};
      do {
        if (!Ioctl(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer)) abort();
      } while (answer.Status & ARRM_STATUS_MORE);
    }
    CloseHandle(busEnum);
    host->kernel().WaitForPnpIdle();
    control = OpenFirst(GUID_DEVINTERFACE_BUSDRIVER);
    if (control == INVALID_HANDLE_VALUE) abort();
    ids = tavrin::test::DeviceIds(u"USB\\VID_5678&PID_4321", u"USB\\Class_FF");
  }

  bool Plug(bool arrival) {
    DEVICE_ARRIVALREMOVAL_INFO r{};
    r.RequestId = ++requestId;
    r.Taken = 1;
    r.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
    r.Arrival = arrival ? 1 : 0;
    r.DeviceInfoLength = DEVICE_INFO_LENGTH;
    r.PortNum = 1;
    r.Pid = 0x4321;
    r.Vid = 0x5678;
    r.ServerIp = ServerAddress();
    r.DataPort = htons(server->server->data_port());
    r.ArRmStatus = ARRM_STATUS_PENDING;
    r.Class = 0xFF;
    ids.FillRequest(r);
    if (!Ioctl(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r)) return false;
    host->kernel().WaitForPnpIdle();
    return true;
  }
  // The started child's stack, once plug and play has it.
  PDEVICE_OBJECT Stack() {
    for (int i = 0; i < 500; ++i) {
      host->kernel().WaitForPnpIdle();
      for (const auto& node : host->kernel().DeviceNodes())
        if (node.instanceId.rfind("USB\\VID_5678&PID_4321\\", 0) == 0 && node.started)
          return host->kernel().ReferenceDeviceStack(node.instanceId);
      std::this_thread::sleep_for(2ms);
    }
    return nullptr;
  }

  static std::unique_ptr<Pending> Make(size_t urbSize, ULONG length) {
    auto p = std::make_unique<Pending>();
    KeInitializeEvent(&p->done, NotificationEvent, FALSE);
    p->memory.assign(urbSize, 0);
    p->buffer.assign(length + 2 * kGuard, 0xA5);
    p->length = length;
    return p;
  }
  static void Send(PDEVICE_OBJECT stack, Pending& p) {
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, stack, nullptr, 0, nullptr, 0, TRUE, &p.done, &p.iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = p.urb();
    if (IoCallDriver(stack, irp) != STATUS_PENDING) KeSetEvent(&p.done, IO_NO_INCREMENT, FALSE);
  }
  static NTSTATUS Wait(Pending& p) {
    KeWaitForSingleObject(&p.done, Executive, KernelMode, FALSE, nullptr);
    return p.iosb.Status;
  }

  std::unique_ptr<Server> server;
  std::unique_ptr<tavrin::kernel_host::KernelHost> host;
  HANDLE control = INVALID_HANDLE_VALUE;
  tavrin::test::DeviceIds ids;
  uint32_t requestId = 10;
};

Environment* env = nullptr;

// Reads the configuration and selects it; the pipe handles by endpoint address.
bool Configure(PDEVICE_OBJECT stack, PVOID pipes[256]) {
  std::vector<uint8_t> config = Loop(zarnet::sim::Device{}).ConfigurationDescriptor();
  constexpr ULONG kPipes = 8;
  std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + InterfaceInformationSize(kPipes));
  auto* sel = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
  sel->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
  sel->ConfigurationDescriptor = config.data();
  sel->Interface.Length = InterfaceInformationSize(kPipes);
  if (!NT_SUCCESS(tavrin::test::SubmitUrbAndWait(stack, sel))) return false;
  for (ULONG i = 0; i < sel->Interface.NumberOfPipes; ++i)
    pipes[sel->Interface.Pipes[i].EndpointAddress] = sel->Interface.Pipes[i].PipeHandle;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  env = new Environment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 300000) return 0;
  if (!env->Plug(true)) return 0;
  PDEVICE_OBJECT stack = env->Stack();
  if (!stack) __builtin_trap();
  PVOID pipes[256] = {};
  if (!Configure(stack, pipes)) __builtin_trap();
  {
    std::lock_guard lock(env->server->mutex);
    env->server->requests = 0;
    env->server->headers.clear();
  }

  // Reads of every kind: bulk (two on one pipe), interrupt, isochronous, a vendor control request.
  std::vector<std::unique_ptr<Pending>> reads;
  for (auto [endpoint, length] : {std::pair<UCHAR, ULONG>{Loop::kBulkIn, 64}, {Loop::kBulkIn, 512},
                                  {Loop::kInterruptIn, 8}}) {
    auto p = Environment::Make(sizeof(URB), length);
    auto& b = p->urb()->UrbBulkOrInterruptTransfer;
    b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    b.PipeHandle = pipes[endpoint];
    b.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    b.T.TransferBuffer = p->data();
    b.T.TransferBufferLength = length;
    reads.push_back(std::move(p));
  }
  constexpr ULONG kPackets = 4;
  {
    auto p = Environment::Make(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + kPackets * sizeof(USBD_ISO_PACKET_DESCRIPTOR),
                         kPackets * 32);
    auto* iso = &p->urb()->UrbIsochronousTransfer;
    iso->Hdr = {static_cast<USHORT>(p->memory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
    iso->PipeHandle = pipes[Loop::kIsoIn];
    iso->T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
    iso->T.TransferBuffer = p->data();
    iso->T.TransferBufferLength = kPackets * 32;
    iso->NumberOfPackets = kPackets;
    for (ULONG i = 0; i < kPackets; ++i) iso->IsoPacket[i].Offset = i * 32;
    reads.push_back(std::move(p));
  }
  {
    auto p = Environment::Make(sizeof(URB), 16);
    auto& v = p->urb()->UrbControlVendorClassRequest;
    v.Hdr = {sizeof v, URB_FUNCTION_VENDOR_DEVICE, 0, nullptr, 0};
    v.Request = 1;
    v.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
    v.T.TransferBuffer = p->data();
    v.T.TransferBufferLength = 16;
    reads.push_back(std::move(p));
  }
  for (auto& p : reads) Environment::Send(stack, *p);
  env->server->WaitRequests(reads.size());  // all on the wire: each may be answered
  std::vector<uint8_t> stream;
  {
    std::lock_guard lock(env->server->mutex);
    stream = Answers(env->server->headers);
  }

  // The input after its first two bytes over the answers (the whole answers, or cut at the input's end
  // when bit 0 of the first byte is clear), fed in pieces whose sizes follow from those two bytes.
  const size_t body = size - 2;
  stream.resize(data[0] & 1 ? std::max(stream.size(), body) : body, 0);
  for (size_t i = 0; i < body; ++i) stream[i] ^= data[2 + i];
  uint32_t seed = data[0] | data[1] << 8;
  for (size_t at = 0; at < stream.size();) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = std::min<size_t>(stream.size() - at, 1 + (seed >> 16) % (seed & 2 ? 8 : 200));
    pelkobus::FeedResponseBytes(stack, stream.data() + at, piece);
    at += piece;
  }

  // The device leaves; what is still pending fails.
  env->Plug(false);
  for (auto& p : reads) {
    Environment::Wait(*p);
    for (size_t i = 0; i < kGuard; ++i)
      if (p->buffer[i] != 0xA5 || p->buffer[kGuard + p->length + i] != 0xA5) __builtin_trap();
    if (p->urb()->UrbBulkOrInterruptTransfer.T.TransferBufferLength > p->length) __builtin_trap();
  }
  ObDereferenceObject(stack);
  for (int i = 0; i < 1000 && pelkobus::LiveChildren() != 0; ++i) {
    env->host->kernel().WaitForPnpIdle();
    if (pelkobus::LiveChildren() != 0) std::this_thread::sleep_for(1ms);
  }
  if (pelkobus::LiveChildren() != 0) __builtin_trap();
  return 0;
}
