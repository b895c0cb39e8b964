// USB requests through the bus driver against a raw client, on loopback, side by side, both served by the
// simulator's data session with its loopback devices (bulk echo 0x01 -> 0x81), the simulator running in a
// child process so that the CPU time measured here is the client side's alone:
//   (a) a raw TCP client framed like the protocol (56-byte headers with data, same sizes, same depth);
//   (b) URBs submitted inside the kernel stand-in to pelkobus's child, through the transport to the server;
//   (c) the same through the function driver's interface by DeviceIoControl, what programs use: at depth 1
//       one transfer per call, at depth 8 a thread streaming the OUT data beside one streaming the IN URBs on
//       a second handle, 15 URBs a request and 8 in flight each.
// Reported: MB/s, p50/p99 latency and CPU seconds per GB of 64 KiB bulk OUT+IN pairs at queue depth 1, 8
// and 32, 4 devices at once (depth 8 each) against 4 raw streams, and the round trip of an 8-byte control
// transfer; then the ratios to (a) and which goals are met.
// Each round measures the baseline and the path under test back to back (a b a b ...); the ratios are the
// median (min-max) of the rounds' own ratios, so a load change on the machine touches both sides alike.
//
//   bench_usb [--seconds 0.5] [--rounds 5] [--only bulk|bulk8|pelkobus8|control|four|ioctl|ioctl8|streams]
// (streams: (b) in the shape of (c) at depth 8, to tell what the I/O control path adds to the bus driver's;
// pelkobus8 and ioctl8: the path alone, for profiling)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernel_host/kernel_host.h"
#include "kernel_host/usb_function_records.h"
#include "bench_util.h"
#include "latency_stats.h"
#include "pelkobus/busenum.h"
#include "pelkobus/records.h"
#include "testsupport/device_ids.h"
#include "testsupport/interfaces.h"
#include "testsupport/urb.h"
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

using bench::Clock;
using bench::Result;
using bench::Start;
using bench::Summary;
using Loop = zarnet::sim::LoopbackDevice;

double Us(Clock::time_point t) { return std::chrono::duration<double, std::micro>(Clock::now() - t).count(); }

// ---- (a) raw client --------------------------------------------------------------------------------

struct RawClient {
  int fd = -1;
  uint32_t seq = 0;
  zarnet::UsbStreamDecoder decoder{zarnet::UsbStreamDecoder::Direction::kResponses};
  zarnet::UsbResponseCollector collector;
  uint8_t buffer[65536];
  void Send(uint32_t command, uint32_t endpoint, uint32_t length, const std::vector<uint8_t>& data,
            const zarnet::UsbSetupPacket& setup = {}) {
    zarnet::RFC_HEADER h{};
    h.Command = command;
    h.PortNum = 1;
    h.SeqNo = seq++;
    h.EndPoint = endpoint;
    h.TransferLength = length;
    zarnet::SetSetup(h, setup);
    bytes.clear();
    zarnet::AppendRequest(bytes, h, data);
    for (size_t at = 0; at < bytes.size();) {
      ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        at += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      // The socket is full: take in what the server answered meanwhile, so that neither side waits for ever.
      pollfd p{fd, POLLIN | POLLOUT, 0};
      ::poll(&p, 1, -1);
      if ((p.revents & POLLIN) && !ReadSome()) return;
    }
  }
  bool ReadSome() {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    return n > 0 && decoder.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), collector);
  }
  bool Receive() {
    while (collector.messages().empty())
      if (!ReadSome()) return false;
    collector.messages().pop_front();
    return true;
  }
  std::vector<uint8_t> bytes;
};

int ConnectClaimed(uint16_t dataPort, uint16_t port) {
  // The negotiation's claim record: the data connection that follows is served by the port's device.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(dataPort);
  a.sin_addr.s_addr = htonl(0x7F00000D);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  uint8_t claim[7] = {7, 0, 0, 0, 2, static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
  ::send(fd, claim, sizeof claim, MSG_NOSIGNAL);
  uint8_t reply[8];
  size_t got = 0;
  while (got < sizeof reply) {
    ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
    if (n <= 0) return -1;
    got += static_cast<size_t>(n);
  }
  return fd;
}

Result RawPairs(RawClient& c, int depth, double seconds) {
  const std::vector<uint8_t> data(65536, 0x5A);
  std::vector<double> latencies;
  std::deque<Clock::time_point> sent;
  uint64_t bytes = 0;
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  auto pair = [&] {
    c.Send(zarnet::RFC_CMD_BULK, Loop::kBulkOut, 65536, data);
    c.Send(zarnet::RFC_CMD_BULK, Loop::kBulkIn, 65536, {});
    sent.push_back(Clock::now());
  };
  for (int i = 0; i < depth; ++i) pair();
  while (!sent.empty()) {
    if (!c.Receive() || !c.Receive()) break;
    latencies.push_back(Us(sent.front()));
    sent.pop_front();
    bytes += 2 * 65536;
    if (Clock::now() < until) pair();
  }
  return Summary(latencies, bytes, start);
}

Result RawControl(RawClient& c, double seconds) {
  std::vector<double> latencies;
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < until) {
    auto t = Clock::now();
    c.Send(zarnet::RFC_CMD_CONTROL, 0, 8, {}, zarnet::UsbSetupPacket{0x80, 6, 0x0100, 0, 8});
    if (!c.Receive()) break;
    latencies.push_back(Us(t));
  }
  return Summary(latencies, 0, start);
}

// ---- (b) URBs inside the kernel stand-in -----------------------------------------------------------

struct Submission {
  KEVENT done;
  IO_STATUS_BLOCK iosb{};
  URB urb{};
  Clock::time_point start;
};

void Submit(PDEVICE_OBJECT stack, Submission& s) {
  KeInitializeEvent(&s.done, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, stack, nullptr, 0, nullptr, 0, TRUE, &s.done, &s.iosb);
  IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &s.urb;
  if (IoCallDriver(stack, irp) != STATUS_PENDING) KeSetEvent(&s.done, IO_NO_INCREMENT, FALSE);
}
void Wait(Submission& s) { KeWaitForSingleObject(&s.done, Executive, KernelMode, FALSE, nullptr); }

void Bulk(Submission& s, PVOID pipe, bool in, void* buffer, ULONG length) {
  s.urb = {};
  auto& b = s.urb.UrbBulkOrInterruptTransfer;
  b.Hdr = {sizeof b, URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, 0, nullptr, 0};
  b.PipeHandle = pipe;
  b.T.TransferFlags = in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0;
  b.T.TransferBuffer = buffer;
  b.T.TransferBufferLength = length;
}

std::map<UCHAR, PVOID> SelectConfiguration(PDEVICE_OBJECT stack, std::vector<uint8_t>& config) {
  tavrin::test::GetDescriptorAndWait(stack, 2, config, 2048);
  std::vector<uint8_t> memory(offsetof(URB_SELECT_CONFIGURATION, Interface) + InterfaceInformationSize(8));
  auto* sel = reinterpret_cast<URB_SELECT_CONFIGURATION*>(memory.data());
  sel->Hdr = {static_cast<USHORT>(memory.size()), URB_FUNCTION_SELECT_CONFIGURATION, 0, nullptr, 0};
  sel->ConfigurationDescriptor = config.data();
  sel->Interface.Length = InterfaceInformationSize(8);
  tavrin::test::SubmitUrbAndWait(stack, sel);
  std::map<UCHAR, PVOID> pipes;
  for (ULONG i = 0; i < sel->Interface.NumberOfPipes; ++i) pipes[sel->Interface.Pipes[i].EndpointAddress] = sel->Interface.Pipes[i].PipeHandle;
  return pipes;
}

Result UrbPairs(PDEVICE_OBJECT stack, std::map<UCHAR, PVOID>& pipes, int depth, double seconds) {
  std::vector<uint8_t> out(65536, 0x5A);
  std::vector<std::vector<uint8_t>> in(depth, std::vector<uint8_t>(65536));
  std::vector<Submission> writes(depth), reads(depth);
  std::vector<double> latencies;
  uint64_t bytes = 0;
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  auto pair = [&](int i) {
    writes[i].start = Clock::now();
    Bulk(writes[i], pipes[Loop::kBulkOut], false, out.data(), 65536);
    Bulk(reads[i], pipes[Loop::kBulkIn], true, in[i].data(), 65536);
    Submit(stack, writes[i]);
    Submit(stack, reads[i]);
  };
  for (int i = 0; i < depth; ++i) pair(i);
  for (int i = 0;; i = (i + 1) % depth) {
    Wait(writes[i]);
    Wait(reads[i]);
    latencies.push_back(Us(writes[i].start));
    bytes += 65536 + reads[i].urb.UrbBulkOrInterruptTransfer.T.TransferBufferLength;
    if (Clock::now() < until) {
      pair(i);
    } else {
      for (int k = 1; k < depth; ++k) {  // the rest in flight
        int j = (i + k) % depth;
        Wait(writes[j]);
        Wait(reads[j]);
      }
      break;
    }
  }
  return Summary(latencies, bytes, start);
}

// (b) in the shape of (c) at depth 8: 8 OUT URBs, all waited for, then 8 IN URBs.
Result UrbStreams(PDEVICE_OBJECT stack, std::map<UCHAR, PVOID>& pipes, double seconds) {
  constexpr int kUrbs = 8;
  std::vector<uint8_t> out(65536, 0x5A);
  std::vector<std::vector<uint8_t>> in(kUrbs, std::vector<uint8_t>(65536));
  std::vector<Submission> s(kUrbs);
  std::vector<double> latencies;
  uint64_t bytes = 0;
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < until) {
    auto t = Clock::now();
    for (int i = 0; i < kUrbs; ++i) {
      Bulk(s[i], pipes[Loop::kBulkOut], false, out.data(), 65536);
      Submit(stack, s[i]);
    }
    for (int i = 0; i < kUrbs; ++i) Wait(s[i]);
    for (int i = 0; i < kUrbs; ++i) {
      Bulk(s[i], pipes[Loop::kBulkIn], true, in[i].data(), 65536);
      Submit(stack, s[i]);
    }
    for (int i = 0; i < kUrbs; ++i) {
      Wait(s[i]);
      bytes += 65536 + s[i].urb.UrbBulkOrInterruptTransfer.T.TransferBufferLength;
    }
    latencies.push_back(Us(t) / kUrbs);
  }
  return Summary(latencies, bytes, start);
}

Result UrbControl(PDEVICE_OBJECT stack, double seconds) {
  std::vector<double> latencies;
  std::vector<uint8_t> buffer(8);
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < until) {
    Submission s;
    auto& d = s.urb.UrbControlDescriptorRequest;
    d.Hdr = {sizeof d, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, 0, nullptr, 0};
    d.T.TransferBuffer = buffer.data();
    d.T.TransferBufferLength = 8;
    d.DescriptorType = 1;
    auto t = Clock::now();
    Submit(stack, s);
    Wait(s);
    latencies.push_back(Us(t));
  }
  return Summary(latencies, 0, start);
}

// ---- (c) through the function driver's interface ---------------------------------------------------

HANDLE OpenInterface(const GUID& guid) {
  const std::string path = tavrin::test::FirstInterfacePath(guid);
  return path.empty() ? INVALID_HANDLE_VALUE : CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Io(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize) {
  DWORD bytes = 0;
  return DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize, &bytes, nullptr);
}

Result IoctlPairs(HANDLE usb, double seconds) {
  std::vector<uint8_t> out(sizeof(USBFUNC_TRANSFER) + 65536, 0x5A), in(sizeof(USBFUNC_RESULT) + 65536);
  USBFUNC_TRANSFER w{Loop::kBulkOut, {}, 65536, {}}, r{Loop::kBulkIn, {}, 65536, {}};
  std::memcpy(out.data(), &w, sizeof w);
  std::vector<double> latencies;
  uint64_t bytes = 0;
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < until) {
    auto t = Clock::now();
    if (!Io(usb, IOCTL_USBFUNC_TRANSFER, out.data(), static_cast<DWORD>(out.size()), in.data(), sizeof(USBFUNC_RESULT))) break;
    if (!Io(usb, IOCTL_USBFUNC_TRANSFER, &r, sizeof r, in.data(), static_cast<DWORD>(in.size()))) break;
    latencies.push_back(Us(t));
    bytes += 2 * 65536;
  }
  return Summary(latencies, bytes, start);
}

// (c) at depth 8 as a program writes and reads a device at once: one thread streams the OUT data and
// another, on a handle of its own, the IN URBs that take the echo back, 8 in flight each. A request
// carries as many URBs as its answer can (15 of 64 KiB), as tavrin-usb's do. A stream of IN URBs goes down
// only for OUT data that is (being) sent, so none waits for ever: the device holds an IN until its echo
// is there.
Result IoctlStreams(HANDLE writer, HANDLE reader, double seconds) {
  constexpr uint32_t kUrbs = 15, kLength = 65536, kDepth = 8;
  std::vector<uint8_t> out(sizeof(USBFUNC_STREAM) + kUrbs * kLength, 0x5A), in(sizeof(USBFUNC_STREAM_RESULT) + kUrbs * kLength);
  const USBFUNC_STREAM w{Loop::kBulkOut, {}, kLength, 0, kDepth, 0}, r{Loop::kBulkIn, {}, kLength, kUrbs, kDepth, 10000};
  std::memcpy(out.data(), &w, sizeof w);
  std::vector<double> latencies;
  std::atomic<uint64_t> bytes{0};
  std::atomic<int> written{0};  // OUT streams begun; -1 - count once the writer is done
  const Start start;
  const auto until = start.wall + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::thread readThread([&] {
    for (int read = 0;; ++read) {
      int begun;
      while ((begun = written.load()) >= 0 && begun <= read) written.wait(begun);
      if (begun < 0 && read >= -1 - begun) break;
      auto t = Clock::now();
      if (!Io(reader, IOCTL_USBFUNC_STREAM, &r, sizeof r, in.data(), static_cast<DWORD>(in.size()))) break;
      USBFUNC_STREAM_RESULT result;
      std::memcpy(&result, in.data(), sizeof result);
      bytes += result.Actual;
      latencies.push_back(Us(t) / kUrbs);  // per IN URB, as the pairs' latency elsewhere
      if (result.Failed) break;
    }
  });
  int streams = 0;
  while (Clock::now() < until) {
    written = ++streams;
    written.notify_one();
    USBFUNC_STREAM_RESULT result{};
    if (!Io(writer, IOCTL_USBFUNC_STREAM, out.data(), static_cast<DWORD>(out.size()), &result, sizeof result)) break;
    bytes += result.Actual;
  }
  written = -1 - streams;
  written.notify_one();
  readThread.join();
  return Summary(latencies, bytes, start);
}

// Several measurements at once on threads of their own; the sum of their rates, the worst of their
// latencies, CPU per GB over all of them.
template <class Each>
Result AtOnce(int count, Each each) {
  std::vector<Result> results(count);
  const Start start;
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) threads.emplace_back([&, i] { results[i] = each(i); });
  for (auto& t : threads) t.join();
  Result sum;
  double gb = 0;
  for (const Result& r : results) {
    sum.mb_per_s += r.mb_per_s;
    sum.p50_us = std::max(sum.p50_us, r.p50_us);
    sum.p99_us = std::max(sum.p99_us, r.p99_us);
    gb += r.mb_per_s * std::chrono::duration<double>(Clock::now() - start.wall).count() / 1000;
  }
  sum.cpu_s_per_gb = gb > 0 ? (bench::ProcessCpuSeconds() - start.cpu) / gb : 0;
  return sum;
}

// One measurement's results over the rounds, with each round's ratio to its baseline.
struct Series {
  std::vector<Result> results;
  std::vector<double> ratios;
  void Add(const Result& r, double ratio = 0) {
    results.push_back(r);
    ratios.push_back(ratio);
  }
  double Median(double Result::*field) const {
    std::vector<double> v;
    for (const Result& r : results) v.push_back(r.*field);
    return bench::Median(v);
  }
  double MedianRatio() const { return bench::Median(ratios); }
  std::string RatioText() const {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", MedianRatio(), *std::min_element(ratios.begin(), ratios.end()),
                  *std::max_element(ratios.begin(), ratios.end()));
    return text;
  }
};

void Print(const std::string& label, const char* name, const Series& s) {
  std::printf("%-9s %-38s %9.0f %9.0f %9.0f %9.2f\n", label.c_str(), name, s.Median(&Result::mb_per_s), s.Median(&Result::p50_us),
              s.Median(&Result::p99_us), s.Median(&Result::cpu_s_per_gb));
}

// The simulated server with `devices` loopback devices on ports 1.., in a child process; its data port.
// The child serves until its pipe closes.
struct ServerProcess {
  pid_t pid = -1;
  int pipe = -1;
  uint16_t dataPort = 0;
  bool Start(int devices) {
    int toParent[2], toChild[2];
    if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) return false;
    pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      ::close(toParent[0]);
      ::close(toChild[1]);
      zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(13, zarnet::sim::FreeLoopbackPort(SOCK_DGRAM));
      for (int port = 1; port <= devices; ++port) {
        zarnet::sim::Device d;
        d.port = static_cast<uint16_t>(port);
        d.device_class = 0xFF;
        d.vid = 0x5678;
        d.pid = 0x4321;
        d.usb_device = "loopback";
        o.devices.push_back(d);
      }
      zarnet::sim::Server server(o);
      std::string error;
      uint16_t port = server.Start(&error) ? server.data_port() : 0;
      if (!port) std::fprintf(stderr, "simulator: %s\n", error.c_str());
      if (::write(toParent[1], &port, sizeof port) != sizeof port) _exit(1);
      char byte;
      while (::read(toChild[0], &byte, 1) > 0) {
      }
      server.Stop();
      _exit(0);
    }
    ::close(toParent[1]);
    ::close(toChild[0]);
    pipe = toChild[1];
    bool ok = ::read(toParent[0], &dataPort, sizeof dataPort) == sizeof dataPort && dataPort != 0;
    ::close(toParent[0]);
    return ok;
  }
  ~ServerProcess() {
    if (pipe >= 0) ::close(pipe);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.5;
  int rounds = 5;
  std::string only;  // one part alone, for profiling
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--seconds") seconds = std::stod(argv[++i]);
    else if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::stoi(argv[++i]));
    else if (std::string(argv[i]) == "--only") only = argv[++i];
  }
  constexpr int kDevices = 4;  // ports 1-4 through the bus driver, 5-8 raw
  ServerProcess server;
  if (!server.Start(2 * kDevices)) return 1;
  std::string dir = (std::filesystem::temp_directory_path() / "bench-usb-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  tavrin::sysroot::SetRoot(dir);
  std::string error;

  // (a): ports 5-8, claimed by hand.
  std::vector<std::unique_ptr<RawClient>> raws;
  for (int i = 0; i < kDevices; ++i) {
    auto raw = std::make_unique<RawClient>();
    raw->fd = ConnectClaimed(server.dataPort, static_cast<uint16_t>(kDevices + 1 + i));
    if (raw->fd < 0) {
      std::fprintf(stderr, "no raw data connection\n");
      return 1;
    }
    raw->Send(zarnet::RFC_CMD_CONTROL, 0, 0, {}, zarnet::UsbSetupPacket{0x00, 9, 1, 0, 0});
    raw->Receive();
    raws.push_back(std::move(raw));
  }
  RawClient& raw = *raws[0];

  // (b), (c): ports 1-4 through the bus driver.
  tavrin::kernel_host::Options options;
  options.busDriver = tavrin::kernel_host::BusDriver::kPelkobus;
  auto host = std::make_unique<tavrin::kernel_host::KernelHost>(options);
  if (!host->Start(&error)) {
    std::fprintf(stderr, "kernel host: %s\n", error.c_str());
    return 1;
  }
  const uint32_t address = htonl(0x7F00000D);
  HANDLE busEnum = OpenInterface(GUID_DEVINTERFACE_BUSENUM);
  for (auto [id, ip] : {std::pair<uint32_t, uint32_t>{SPECIAL_SERVER_REQUEST_ID, 0}, {1, address}}) {
    SERVER_ARRIVALREMOVAL_INFO s{};
    s.RequestId = id;
    s.Taken = 1;
    s.Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
    s.Arrival = 1;
    s.ServerId = ip ? 0x1000 + id : 0;
    s.ServerIp = ip;
    s.DataPort = ip ? 3240 : 0;
    s.Status = ip ? ARRM_STATUS_PENDING : 0;
    Io(busEnum, IOCTL_BUSENUM_SERVER_ARRIVALREMOVAL, &s, sizeof s, nullptr, 0);
    SERVER_ARRIVALREMOVAL_INFO answer{};
    while (Io(busEnum, IOCTL_BUSENUM_GETSTATUS, &answer, sizeof answer, &answer, sizeof answer) && (answer.Status & ARRM_STATUS_MORE)) {
    }
  }
  host->kernel().WaitForPnpIdle();
  HANDLE control = OpenInterface(GUID_DEVINTERFACE_BUSDRIVER);
  const tavrin::test::DeviceIds ids(u"USB\\VID_5678&PID_4321", u"USB\\Class_FF");
  for (int i = 0; i < kDevices; ++i) {
    DEVICE_ARRIVALREMOVAL_INFO r{};
    r.RequestId = static_cast<ULONG>(1 + i);
    r.Taken = 1;
    r.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
    r.Arrival = 1;
    r.DeviceInfoLength = DEVICE_INFO_LENGTH;
    r.PortNum = static_cast<USHORT>(1 + i);
    r.Vid = 0x5678;
    r.Pid = 0x4321;
    r.Class = 0xFF;
    r.ServerIp = address;
    r.DataPort = htons(server.dataPort);
    r.ArRmStatus = ARRM_STATUS_PENDING;
    ids.FillRequest(r);
    Io(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r);
  }
  std::vector<PDEVICE_OBJECT> stacks;
  for (int i = 0; i < 500 && stacks.size() < kDevices; ++i) {
    host->kernel().WaitForPnpIdle();
    for (PDEVICE_OBJECT s : stacks) ObDereferenceObject(s);
    stacks.clear();
    for (const auto& node : host->kernel().DeviceNodes())
      if (node.instanceId.rfind("USB\\VID_5678&PID_4321\\", 0) == 0 && node.started)
        if (PDEVICE_OBJECT s = host->kernel().ReferenceDeviceStack(node.instanceId)) stacks.push_back(s);
    if (stacks.size() < kDevices) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (stacks.size() < kDevices) {
    std::fprintf(stderr, "the devices did not start\n");
    return 1;
  }
  PDEVICE_OBJECT stack = stacks[0];
  HANDLE usb = OpenInterface(GUID_DEVINTERFACE_USBFUNC), usbReader = OpenInterface(GUID_DEVINTERFACE_USBFUNC);

  auto wanted = [&](const char* part) { return only.empty() || only == part; };
  std::map<std::string, Series> series;
  auto measure = [&](const std::string& key, const Result& a, const Result& b, bool latency = false) {
    series["a" + key].Add(a);
    series["b" + key].Add(b, latency ? (a.p50_us > 0 ? b.p50_us / a.p50_us : 0) : (a.mb_per_s > 0 ? b.mb_per_s / a.mb_per_s : 0));
  };
  // (c) first: the function driver's own pipe handles are replaced by (b)'s selection.
  if ((wanted("bulk") || wanted("ioctl") || only == "ioctl8") && usb != INVALID_HANDLE_VALUE) {
    for (int round = 0; round < rounds; ++round) {
      if (only != "ioctl8") measure("c1", RawPairs(raw, 1, seconds), IoctlPairs(usb, seconds));
      Result a8 = only == "ioctl8" ? Result{} : RawPairs(raw, 8, seconds), c8 = IoctlStreams(usb, usbReader, seconds);
      measure("c8", a8, c8);
    }
  }
  std::vector<std::map<UCHAR, PVOID>> pipes;
  for (PDEVICE_OBJECT s : stacks) {
    std::vector<uint8_t> config;
    pipes.push_back(SelectConfiguration(s, config));
  }
  for (int round = 0; round < rounds; ++round) {
    for (int depth : {1, 8, 32}) {
      const bool want = wanted("bulk") || ((only == "bulk8" || only == "pelkobus8") && depth == 8);
      if (!want) continue;
      Result a = only == "pelkobus8" ? Result{} : RawPairs(raw, depth, seconds);
      Result b = UrbPairs(stack, pipes[0], depth, seconds);
      measure(std::to_string(depth), a, b);
    }
    if (only == "streams") measure("S", RawPairs(raw, 8, seconds), UrbStreams(stack, pipes[0], seconds));
    if (wanted("control")) measure("C", RawControl(raw, seconds), UrbControl(stack, seconds), true);
    if (wanted("four")) {
      Result a = AtOnce(kDevices, [&](int i) { return RawPairs(*raws[i], 8, seconds); });
      Result b = AtOnce(kDevices, [&](int i) { return UrbPairs(stacks[i], pipes[i], 8, seconds); });
      measure("4", a, b);
    }
  }

  std::printf("medians of %d rounds of %.2f s each (CPU: every thread of this process; the server runs apart)\n", rounds, seconds);
  std::printf("%-48s %9s %9s %9s %9s\n", "64 KiB bulk OUT+IN pairs", "MB/s", "p50 us", "p99 us", "CPU s/GB");
  struct Row {
    const char* key;
    const char* label;
  };
  for (Row row : {Row{"1", "depth 1"}, Row{"8", "depth 8"}, Row{"32", "depth 32"}, Row{"4", "4 devices"}}) {
    const std::string k = row.key;
    if (series.count("a" + k)) Print(row.label, k == "4" ? "(a) 4 raw framed TCP streams, depth 8" : "(a) raw framed TCP", series["a" + k]);
    if (series.count("b" + k)) Print(row.label, k == "4" ? "(b) 4 devices through pelkobus, depth 8" : "(b) URBs through pelkobus", series["b" + k]);
  }
  for (Row row : {Row{"c1", "depth 1"}, Row{"c8", "depth 8"}}) {
    const std::string k = row.key;
    if (!series.count("a" + k)) continue;
    Print(row.label, "(a) raw framed TCP", series["a" + k]);
    Print(row.label, "(c) DeviceIoControl, function driver", series["b" + k]);
  }
  if (series.count("aC")) {
    std::printf("%-48s %9s %9s %9s\n", "8-byte control round trip", "", "p50 us", "p99 us");
    Print("control", "(a) raw framed TCP", series["aC"]);
    Print("control", "(b) URBs through pelkobus", series["bC"]);
  }
  std::printf("ratios, median (min-max) of the rounds' own ratios:\n");
  auto goal = [](bool met) { return met ? "met" : "NOT met"; };
  for (const char* d : {"1", "32"})
    if (series.count(std::string("b") + d) && only != "pelkobus8")
      std::printf("  depth %-3s (b)/(a) throughput %s\n", d, series[std::string("b") + d].RatioText().c_str());
  if (series.count("b8") && only != "pelkobus8") {
    const Series& b = series["b8"];
    double cpu = b.Median(&Result::cpu_s_per_gb) / std::max(1e-9, series["a8"].Median(&Result::cpu_s_per_gb));
    std::printf("  depth 8   (b)/(a) throughput %s   goal >= 0.70: %s\n", b.RatioText().c_str(), goal(b.MedianRatio() >= 0.70));
    std::printf("  depth 8   (b)/(a) CPU per GB %.2f   goal <= 2.00: %s\n", cpu, goal(cpu <= 2.0));
  }
  if (series.count("bc1")) std::printf("  depth 1   (c)/(a) throughput %s\n", series["bc1"].RatioText().c_str());
  if (series.count("bc8"))
    std::printf("  depth 8   (c)/(a) throughput %s   goal >= 0.50: %s\n", series["bc8"].RatioText().c_str(),
                goal(series["bc8"].MedianRatio() >= 0.50));
  if (series.count("bS")) std::printf("  streams   (b)/(a) throughput %s\n", series["bS"].RatioText().c_str());
  if (series.count("b4"))
    std::printf("  4 devices (b)/(a) throughput %s   goal >= 0.70: %s\n", series["b4"].RatioText().c_str(),
                goal(series["b4"].MedianRatio() >= 0.70));
  if (series.count("bC"))
    std::printf("  control   (b)/(a) round trip p50 %s   goal <= 1.50: %s\n", series["bC"].RatioText().c_str(),
                goal(series["bC"].MedianRatio() <= 1.5));

  for (PDEVICE_OBJECT s : stacks) ObDereferenceObject(s);
  for (HANDLE h : {usb, usbReader})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  CloseHandle(control);
  CloseHandle(busEnum);
  host.reset();
  for (auto& r : raws) ::close(r->fd);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
