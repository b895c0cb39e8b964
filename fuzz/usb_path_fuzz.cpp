// The bus driver's response handling with requests in flight: a child is connected to a scripted server
// and configured once; for each input, reads of every kind go out, then a byte stream is handed to the
// child's response path as its receive would, split at points the input chooses. The stream is the input
// laid over well-formed answers to those reads (byte for byte exclusive-or; sequence numbers offset by the
// input instead, so that an input means the same whatever the counters stand at), so that short inputs
// already reach the matching and every stream is still some input. Reads still pending afterwards are
// cancelled. Each request must complete exactly once (a second completion stops the kernel), within its own
// buffer, with no more than it asked for.
//
// All of it runs on the fuzzing thread: the child sends each request on the submitting thread, and this
// target reads them from the server's end of the connection itself. The child is kept for the next input,
// so the stream must leave it as it found it: it stops before a header that is out of frame (which ends the
// connection: the kernel-host tests cover that), a message the input cuts short is finished with zeros once
// the reads are cancelled, and an answer that says the device has gone (which disconnects the port for
// good) says it stalled instead. A child that refuses requests all the same is plugged in anew.
#include <arpa/inet.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
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
#include "wdk/ntddk.h"
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
constexpr ULONG kIsoPackets = 4;

uint32_t ServerAddress() { return htonl(0x7F000000u | kServerHost); }

HANDLE OpenFirst(const GUID& interfaceClass) {
  const std::string path = tavrin::test::FirstInterfacePath(interfaceClass);
  return path.empty() ? INVALID_HANDLE_VALUE : CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Ioctl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD bytes = 0;
  return DeviceIoControl(device, code, in, inSize, out, outSize, &bytes, nullptr);
}

uint32_t LoadLe32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The server: a claimed connection's standard control requests are answered by a loopback device until
// the target takes the connection over; from then on the target reads it.
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
    zarnet::UsbStreamDecoder decoder(zarnet::UsbStreamDecoder::Direction::kRequests);
    zarnet::UsbRequestCollector collector;
    std::vector<uint8_t> bytes(70000);
    for (;;) {
      pollfd fds[3] = {{session.socket, POLLIN, 0}, {session.stop_fd, POLLIN, 0}, {takeOver, POLLIN, 0}};
      if (poll(fds, 3, -1) < 0 || fds[1].revents) return;
      if (fds[2].revents) break;
      ssize_t n = recv(session.socket, bytes.data(), bytes.size(), 0);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return;
      if (n > 0 && !decoder.Feed(std::span(bytes.data(), static_cast<size_t>(n)), collector)) return;
      for (; !collector.messages().empty(); collector.messages().pop_front())
        tavrin::test::AnswerControl(session, *device, collector.messages().front());
    }
    uint64_t count;
    if (read(takeOver, &count, sizeof count) != sizeof count) abort();
    {
      std::lock_guard lock(mutex);
      socket = session.socket;
      changed.notify_all();
    }
    // The connection is the target's until the server stops.
    pollfd stop{session.stop_fd, POLLIN, 0};
    poll(&stop, 1, -1);
  }
  // The claimed connection's socket (non-blocking), once the handler has let it go.
  int TakeOver() {
    const uint64_t one = 1;
    if (write(takeOver, &one, sizeof one) != sizeof one) abort();
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, 10s, [&] { return socket >= 0; })) abort();
    return socket;
  }
  const int takeOver = eventfd(0, EFD_CLOEXEC);
  std::unique_ptr<Loop> device;
  std::unique_ptr<zarnet::sim::Server> server;
  std::mutex mutex;
  std::condition_variable changed;
  int socket = -1;
};

// One URB sent down with its buffer between two guard areas. Its IRP is kept after the completion, so
// that the target may still cancel it.
struct Pending {
  KEVENT completed;
  IO_STATUS_BLOCK iosb{};
  PIRP irp = nullptr;
  std::vector<uint8_t> memory;  // the URB (an isochronous one has its packets behind it)
  std::vector<uint8_t> buffer;  // guard, data, guard
  ULONG length = 0;
  URB* urb() { return reinterpret_cast<URB*>(memory.data()); }
  uint8_t* data() { return buffer.data() + kGuard; }
};

NTSTATUS Hold(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(&static_cast<Pending*>(context)->completed, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

std::unique_ptr<Pending> Make(size_t urbSize, ULONG length) {
  auto p = std::make_unique<Pending>();
  KeInitializeEvent(&p->completed, NotificationEvent, FALSE);
  p->memory.assign(urbSize, 0);
  p->buffer.assign(length + 2 * kGuard, 0xA5);
  p->length = length;
  return p;
}

// Sends it; false when it was refused at once.
bool Send(PDEVICE_OBJECT stack, Pending& p) {
  p.irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, stack, nullptr, 0, nullptr, 0, TRUE, nullptr, &p.iosb);
  if (!p.irp) abort();
  IoGetNextIrpStackLocation(p.irp)->Parameters.Others.Argument1 = p.urb();
  IoSetCompletionRoutine(p.irp, Hold, &p, TRUE, TRUE, TRUE);
  return IoCallDriver(stack, p.irp) == STATUS_PENDING;
}

// Waits for the completion (a cancel completes at once) and lets the IRP go.
void Finish(Pending& p) {
  KeWaitForSingleObject(&p.completed, Executive, KernelMode, FALSE, nullptr);
  IoCompleteRequest(p.irp, IO_NO_INCREMENT);
  p.irp = nullptr;
}

std::unique_ptr<Pending> IsochronousRead(PVOID pipe) {
  auto p = Make(offsetof(URB_ISOCH_TRANSFER, IsoPacket) + kIsoPackets * sizeof(USBD_ISO_PACKET_DESCRIPTOR), kIsoPackets * 32);
  auto* iso = &p->urb()->UrbIsochronousTransfer;
  iso->Hdr = {static_cast<USHORT>(p->memory.size()), URB_FUNCTION_ISOCH_TRANSFER, 0, nullptr, 0};
  iso->PipeHandle = pipe;
  iso->T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  iso->T.TransferBuffer = p->data();
  iso->T.TransferBufferLength = kIsoPackets * 32;
  iso->NumberOfPackets = kIsoPackets;
  for (ULONG i = 0; i < kIsoPackets; ++i) iso->IsoPacket[i].Offset = i * 32;
  return p;
}

// Reads of every kind: bulk (two on one pipe), interrupt, isochronous, a vendor control request.
std::vector<std::unique_ptr<Pending>> Reads(PVOID const pipes[256]) {
  std::vector<std::unique_ptr<Pending>> reads;
  for (auto [endpoint, length] : {std::pair<UCHAR, ULONG>{Loop::kBulkIn, 64}, {Loop::kBulkIn, 512},
                                  {Loop::kInterruptIn, 8}}) {
    auto p = Make(sizeof(URB), length);
    auto& b = p->urb()->UrbBulkOrInterruptTransfer;
    b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
    b.PipeHandle = pipes[endpoint];
    b.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    b.T.TransferBuffer = p->data();
    b.T.TransferBufferLength = length;
    reads.push_back(std::move(p));
  }
  reads.push_back(IsochronousRead(pipes[Loop::kIsoIn]));
  auto p = Make(sizeof(URB), 16);
  auto& v = p->urb()->UrbControlVendorClassRequest;
  v.Hdr = {sizeof v, URB_FUNCTION_VENDOR_DEVICE, 0, nullptr, 0};
  v.Request = 1;
  v.T.TransferFlags = USBD_TRANSFER_DIRECTION_IN;
  v.T.TransferBuffer = p->data();
  v.T.TransferBufferLength = 16;
  reads.push_back(std::move(p));
  return reads;
}

// Well-formed answers to the requests, in the order they arrived; some longer than asked for. The start
// of each answer is noted.
std::vector<uint8_t> Answers(const std::vector<zarnet::RFC_HEADER>& requests, std::vector<size_t>* starts) {
  std::vector<uint8_t> out;
  for (size_t n = 0; n < requests.size(); ++n) {
    const zarnet::RFC_HEADER& r = requests[n];
    std::vector<uint8_t> data(r.TransferLength / 2 + 3, static_cast<uint8_t>(n + r.EndPoint));
    std::vector<zarnet::RFC_ISO_DESC> packets;
    if (r.Command == zarnet::RFC_CMD_ISOCH) {
      data.assign(r.TransferLength, 0x1F);
      for (uint32_t i = 0; i < r.NumberOfPackets; ++i) packets.push_back({i * 32, 32, i % 2 ? 16u : 32u, 0});
    }
    starts->push_back(out.size());
    zarnet::AppendResponse(out, zarnet::ResponseTo(r, 0), data, packets);
  }
  return out;
}

// How the stream is handed over without spoiling the child for the next input: `feed` bytes of it, then
// (once the reads are cancelled) `finish` zero bytes that end a message the stream cut inside its payload.
// A device-gone status in a header fed is made a stall.
struct Cut {
  size_t feed = 0;
  uint64_t finish = 0;
};
Cut CutStream(std::vector<uint8_t>& stream) {
  size_t at = 0;
  while (stream.size() - at >= zarnet::RFC_HEADER_SIZE) {
    const zarnet::RFC_RESPONSE_HEADER header = zarnet::DecodeResponseHeader(stream.data() + at);
    const auto frame = zarnet::FrameOfResponse(header, zarnet::UsbStreamDecoder::kDefaultMaxResponse);
    if (!frame) return {at, 0};
    if (header.Status == zarnet::kWireStatusDeviceGone)
      StoreLe32(stream.data() + at + 24, static_cast<uint32_t>(zarnet::kWireStatusStall));
    if (frame->stream_length > stream.size() - at) return {stream.size(), frame->stream_length - (stream.size() - at)};
    at += frame->stream_length;
  }
  return {at, 0};  // a piece of a header is left out
}

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
    Connect();
  }

  bool PlugIn() {
    DEVICE_ARRIVALREMOVAL_INFO r{};
    r.RequestId = ++requestId;
    r.Taken = 1;
    r.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
    r.Arrival = 1;
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
  PDEVICE_OBJECT FindStack() {
    for (int i = 0; i < 500; ++i) {
      host->kernel().WaitForPnpIdle();
      for (const auto& node : host->kernel().DeviceNodes())
        if (node.instanceId.rfind("USB\\VID_5678&PID_4321\\", 0) == 0 && node.started)
          return host->kernel().ReferenceDeviceStack(node.instanceId);
      std::this_thread::sleep_for(2ms);  // plug and play's progress, outside the input path
    }
    return nullptr;
  }

  // Reads the configuration and selects it; the pipe handles by endpoint address.
  bool Configure() {
    std::vector<uint8_t> config = Loop(zarnet::sim::Device{}).ConfigurationDescriptor();
    constexpr ULONG kPipes = 8;
    std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + InterfaceInformationSize(kPipes));
    auto* sel = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
    sel->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
    sel->ConfigurationDescriptor = config.data();
    sel->Interface.Length = InterfaceInformationSize(kPipes);
    if (!NT_SUCCESS(tavrin::test::SubmitUrbAndWait(stack, sel))) return false;
    std::fill(std::begin(pipes), std::end(pipes), nullptr);
    for (ULONG i = 0; i < sel->Interface.NumberOfPipes; ++i)
      pipes[sel->Interface.Pipes[i].EndpointAddress] = sel->Interface.Pipes[i].PipeHandle;
    return true;
  }

  // A configured child whose connection this target reads. The first isochronous request of a pipe is
  // held back a moment; it goes here, so that every later one leaves at once.
  void Connect() {
    if (!PlugIn() || !(stack = FindStack()) || !Configure()) abort();
    socket = server->TakeOver();
    auto iso = IsochronousRead(pipes[Loop::kIsoIn]);
    if (!Send(stack, *iso)) abort();
    std::vector<zarnet::RFC_HEADER> sent;
    if (!Requests(1, 10000, &sent)) abort();
    IoCancelIrp(iso->irp);
    Finish(*iso);
  }
  // The requests the child has sent, unlinks left out, until `count` are there (waiting up to `ms` for
  // more to arrive: they are sent on the submitting thread, so they normally are).
  bool Requests(size_t count, int ms, std::vector<zarnet::RFC_HEADER>* out) {
    for (;;) {
      for (;;) {
        ssize_t n = recv(socket, received.data(), received.size(), MSG_DONTWAIT);
        if (n <= 0) break;
        if (!decoder.Feed(std::span(received.data(), static_cast<size_t>(n)), collector)) __builtin_trap();
      }
      for (; !collector.messages().empty(); collector.messages().pop_front())
        if (collector.messages().front().header.Command != zarnet::RFC_CMD_UNLINK)
          out->push_back(collector.messages().front().header);
      if (out->size() >= count) return true;
      pollfd p{socket, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) return false;
    }
  }

  std::unique_ptr<Server> server;
  std::unique_ptr<tavrin::kernel_host::KernelHost> host;
  HANDLE control = INVALID_HANDLE_VALUE;
  tavrin::test::DeviceIds ids;
  uint32_t requestId = 10;
  PDEVICE_OBJECT stack = nullptr;
  PVOID pipes[256] = {};
  int socket = -1;
  zarnet::UsbStreamDecoder decoder{zarnet::UsbStreamDecoder::Direction::kRequests};
  zarnet::UsbRequestCollector collector;
  std::vector<uint8_t> received = std::vector<uint8_t>(70000);
  size_t poolBlocks = 0;  // pool blocks while no request is in flight
};

Environment* env = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  env = new Environment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 300000) return 0;
  // The child takes every read, whatever came before: it is never left disconnected.
  std::vector<std::unique_ptr<Pending>> reads = Reads(env->pipes);
  for (auto& p : reads)
    if (!Send(env->stack, *p)) __builtin_trap();
  std::vector<zarnet::RFC_HEADER> requests;
  if (!env->Requests(reads.size(), 10000, &requests)) __builtin_trap();
  std::vector<size_t> starts;
  std::vector<uint8_t> stream = Answers(requests, &starts);

  // The input after its first two bytes over the answers (the whole answers, or cut at the input's end
  // when bit 0 of the first byte is clear), fed in pieces whose sizes follow from those two bytes.
  const size_t body = size - 2;
  const std::vector<uint8_t> answers = stream;
  stream.resize(data[0] & 1 ? std::max(stream.size(), body) : body, 0);
  for (size_t i = 0; i < body; ++i) stream[i] ^= data[2 + i];
  for (size_t start : starts) {
    const size_t seq = start + 16;
    if (seq + 4 > stream.size()) break;
    uint8_t offset[4] = {};
    for (size_t i = 0; i < 4; ++i) offset[i] = seq + i < body ? data[2 + seq + i] : 0;
    StoreLe32(stream.data() + seq, LoadLe32(answers.data() + seq) + LoadLe32(offset));
  }
  const Cut cut = CutStream(stream);
  uint32_t seed = data[0] | data[1] << 8;
  for (size_t at = 0; at < cut.feed;) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = std::min<size_t>(cut.feed - at, 1 + (seed >> 16) % (seed & 2 ? 8 : 200));
    pelkobus::FeedResponseBytes(env->stack, stream.data() + at, piece);
    at += piece;
  }

  // What is still pending is cancelled, then the message under way ends: nothing waits for its payload.
  for (auto& p : reads)
    if (p->irp && !KeReadStateEvent(&p->completed)) IoCancelIrp(p->irp);
  for (auto& p : reads) {
    if (p->irp) Finish(*p);
    for (size_t i = 0; i < kGuard; ++i)
      if (p->buffer[i] != 0xA5 || p->buffer[kGuard + p->length + i] != 0xA5) __builtin_trap();
    if (p->urb()->UrbBulkOrInterruptTransfer.T.TransferBufferLength > p->length) __builtin_trap();
  }
  static const std::vector<uint8_t> zeros(65536, 0);
  for (uint64_t left = cut.finish; left > 0;) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, zeros.size()));
    pelkobus::FeedResponseBytes(env->stack, zeros.data(), piece);
    left -= piece;
  }
  // Every request gave back what it took (counted from the end of the first input: what the start and
  // the warm-up set going may still be finishing on other threads when the child is ready).
  const size_t blocks = tavrin::wdk::PoolBlocksOutstanding();
  if (!env->poolBlocks) env->poolBlocks = blocks;
  if (blocks != env->poolBlocks) __builtin_trap();
  return 0;
}
