// USB requests through the bus driver against a raw client, on loopback, side by side, both served by the
// simulator's data session with its loopback device (bulk echo 0x01 -> 0x81):
//   (a) a raw TCP client framed like the protocol (56-byte headers with data, same sizes, same depth);
//   (b) URBs submitted inside the kernel stand-in to pelkobus's child, through the transport to the server;
//   (c) the same through the function driver's interface by DeviceIoControl (depth 1 only: one call at a time).
// Reported: MB/s and p50/p99 latency of 64 KiB bulk OUT+IN pairs at queue depth 1 and 8, and the round trip
// of an 8-byte control transfer; then the ratios to (a) and whether the goals are met: (b) at depth 8 at
// least 70% of (a) and 213 MB/s, (b)'s control round trip at most 1.5 times (a)'s.
// Each round measures a baseline and the path under test back to back; medians over the rounds are printed.
//
//   bench_usb [--seconds 0.5] [--rounds 5] [--only bulk|bulk8|control]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel_host/kernel_host.h"
#include "kernel_host/usb_function_records.h"
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
    std::vector<uint8_t> bytes;
    zarnet::AppendRequest(bytes, h, data);
    for (size_t at = 0; at < bytes.size();) {
      ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return;
      at += static_cast<size_t>(n);
    }
  }
  bool Receive() {
    while (collector.messages().empty()) {
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0 || !decoder.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), collector)) return false;
    }
    collector.messages().pop_front();
    return true;
  }
};

int ConnectClaimed(const zarnet::sim::Server& server, uint16_t port) {
  // The negotiation's claim record: the data connection that follows is served by the port's device.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(server.data_port());
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
  const auto start = Clock::now(), until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
  const auto start = Clock::now(), until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
  Submission s;
  config.assign(2048, 0);
  auto& d = s.urb.UrbControlDescriptorRequest;
  d.Hdr = {sizeof d, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, 0, nullptr, 0};
  d.T.TransferBuffer = config.data();
  d.T.TransferBufferLength = 2048;
  d.DescriptorType = 2;
  Submit(stack, s);
  Wait(s);
  config.resize(d.T.TransferBufferLength);
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
  const auto start = Clock::now(), until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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

Result UrbControl(PDEVICE_OBJECT stack, double seconds) {
  std::vector<double> latencies;
  std::vector<uint8_t> buffer(8);
  const auto start = Clock::now(), until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
  const auto start = Clock::now(), until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < until) {
    auto t = Clock::now();
    if (!Io(usb, IOCTL_USBFUNC_TRANSFER, out.data(), static_cast<DWORD>(out.size()), in.data(), sizeof(USBFUNC_RESULT))) break;
    if (!Io(usb, IOCTL_USBFUNC_TRANSFER, &r, sizeof r, in.data(), static_cast<DWORD>(in.size()))) break;
    latencies.push_back(Us(t));
    bytes += 2 * 65536;
  }
  return Summary(latencies, bytes, start);
}

// One measurement's results over the rounds, with each round's ratio to its baseline.
struct Series {
  std::vector<Result> results;
  std::vector<double> ratios;
  void Add(const Result& r, double ratio = 0) {
    results.push_back(r);
    ratios.push_back(ratio);
  }
  static double MedianOf(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  double Median(double Result::*field) const {
    std::vector<double> v;
    for (const Result& r : results) v.push_back(r.*field);
    return MedianOf(v);
  }
  double MedianRatio() const { return MedianOf(ratios); }
};

void Print(const char* name, int depth, const Series& s) {
  char label[16] = "control";
  if (depth) std::snprintf(label, sizeof label, "depth %d", depth);
  if (depth) {
    std::printf("%-8s %-33s %10.0f %10.0f %10.0f\n", label, name, s.Median(&Result::mb_per_s), s.Median(&Result::p50_us),
                s.Median(&Result::p99_us));
  } else {
    std::printf("%-8s %-33s %10s %10.0f %10.0f\n", label, name, "", s.Median(&Result::p50_us), s.Median(&Result::p99_us));
  }
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.5;
  int rounds = 5;
  std::string only;  // "bulk", "bulk8" or "control": one part alone, for profiling
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--seconds") seconds = std::stod(argv[++i]);
    else if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::stoi(argv[++i]));
    else if (std::string(argv[i]) == "--only") only = argv[++i];
  }
  std::string dir = (std::filesystem::temp_directory_path() / "bench-usb-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  tavrin::sysroot::SetRoot(dir);

  zarnet::sim::ServerOptions o = zarnet::sim::LoopbackServerOptions(13, zarnet::sim::FreeLoopbackPort(SOCK_DGRAM));
  for (uint16_t port : {1, 2}) {
    zarnet::sim::Device d;
    d.port = port;
    d.device_class = 0xFF;
    d.vid = 0x5678;
    d.pid = 0x4321;
    d.usb_device = "loopback";
    o.devices.push_back(d);
  }
  zarnet::sim::Server server(o);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }

  // (a): port 2, claimed by hand.
  RawClient raw;
  raw.fd = ConnectClaimed(server, 2);
  if (raw.fd < 0) {
    std::fprintf(stderr, "no raw data connection\n");
    return 1;
  }
  raw.Send(zarnet::RFC_CMD_CONTROL, 0, 0, {}, zarnet::UsbSetupPacket{0x00, 9, 1, 0, 0});
  raw.Receive();

  // (b), (c): port 1 through the bus driver.
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
  DEVICE_ARRIVALREMOVAL_INFO r{};
  r.RequestId = 1;
  r.Taken = 1;
  r.Length = DEVICE_ARRIVALREMOVAL_INFO_LENGTH;
  r.Arrival = 1;
  r.DeviceInfoLength = DEVICE_INFO_LENGTH;
  r.PortNum = 1;
  r.Vid = 0x5678;
  r.Pid = 0x4321;
  r.Class = 0xFF;
  r.ServerIp = address;
  r.DataPort = htons(server.data_port());
  r.ArRmStatus = ARRM_STATUS_PENDING;
  ids.FillRequest(r);
  Io(control, IOCTL_BUS_DEVICE_ARRIVALREMOVAL, &r, sizeof r, &r, sizeof r);
  PDEVICE_OBJECT stack = nullptr;
  for (int i = 0; i < 500 && !stack; ++i) {
    host->kernel().WaitForPnpIdle();
    for (const auto& node : host->kernel().DeviceNodes())
      if (node.instanceId.rfind("USB\\VID_5678&PID_4321\\", 0) == 0 && node.started)
        stack = host->kernel().ReferenceDeviceStack(node.instanceId);
    if (!stack) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!stack) {
    std::fprintf(stderr, "the device did not start\n");
    return 1;
  }
  HANDLE usb = OpenInterface(GUID_DEVINTERFACE_USBFUNC);

  // Rounds, each measuring the baseline and the driver's path one after the other, so that a load
  // change on the machine touches both; medians over the rounds are reported.
  const bool bulk = only.empty() || only.rfind("bulk", 0) == 0, controlToo = only.empty() || only == "control";
  std::map<std::string, Series> series;
  // (c) first: the function driver's own pipe handles are replaced by (b)'s selection.
  if (bulk && only != "bulk8" && usb != INVALID_HANDLE_VALUE) {
    for (int round = 0; round < rounds; ++round) {
      Result a = RawPairs(raw, 1, seconds), c = IoctlPairs(usb, seconds);
      series["a1"].Add(a);
      series["c1"].Add(c, a.mb_per_s > 0 ? c.mb_per_s / a.mb_per_s : 0);
    }
  }
  std::vector<uint8_t> config;
  std::map<UCHAR, PVOID> pipes = SelectConfiguration(stack, config);
  for (int round = 0; round < rounds; ++round) {
    for (int depth : {1, 8}) {
      if (!bulk || (only == "bulk8" && depth != 8)) continue;
      Result a = RawPairs(raw, depth, seconds), b = UrbPairs(stack, pipes, depth, seconds);
      series["a" + std::to_string(depth)].Add(a);
      series["b" + std::to_string(depth)].Add(b, a.mb_per_s > 0 ? b.mb_per_s / a.mb_per_s : 0);
    }
    if (controlToo) {
      Result a = RawControl(raw, seconds), b = UrbControl(stack, seconds);
      series["aC"].Add(a);
      series["bC"].Add(b, a.p50_us > 0 ? b.p50_us / a.p50_us : 0);
    }
  }

  std::printf("medians of %d rounds of %.2f s each\n", rounds, seconds);
  std::printf("%-42s %10s %10s %10s\n", "64 KiB bulk OUT+IN pairs", "MB/s", "p50 us", "p99 us");
  for (int depth : {1, 8}) {
    const std::string d = std::to_string(depth);
    if (series.count("a" + d)) Print("(a) raw framed TCP", depth, series["a" + d]);
    if (series.count("b" + d)) Print("(b) URBs through pelkobus", depth, series["b" + d]);
    if (series.count("c" + d)) Print("(c) DeviceIoControl, function driver", depth, series["c" + d]);
  }
  if (series.count("aC")) {
    std::printf("%-42s %10s %10s %10s\n", "8-byte control round trip", "", "p50 us", "p99 us");
    Print("(a) raw framed TCP", 0, series["aC"]);
    Print("(b) URBs through pelkobus", 0, series["bC"]);
  }
  std::printf("ratios (median of the rounds' ratios):\n");
  if (series.count("b1")) std::printf("  depth 1  (b)/(a) throughput %.2f\n", series["b1"].MedianRatio());
  if (series.count("c1")) std::printf("  depth 1  (c)/(a) throughput %.2f\n", series["c1"].MedianRatio());
  if (series.count("b8")) {
    double ratio = series["b8"].MedianRatio(), rate = series["b8"].Median(&Result::mb_per_s);
    std::printf("  depth 8  (b)/(a) throughput %.2f   goal >= 0.70: %s\n", ratio, ratio >= 0.70 ? "met" : "NOT met");
    std::printf("  depth 8  (b) throughput %.0f MB/s   goal >= 213 MB/s: %s\n", rate, rate >= 213 ? "met" : "NOT met");
  }
  if (series.count("bC")) {
    double ratio = series["bC"].MedianRatio();
    std::printf("  control  (b)/(a) round trip p50 %.2f   goal <= 1.50: %s\n", ratio, ratio <= 1.5 ? "met" : "NOT met");
  }

  ObDereferenceObject(stack);
  if (usb != INVALID_HANDLE_VALUE) CloseHandle(usb);
  CloseHandle(control);
  CloseHandle(busEnum);
  host.reset();
  ::close(raw.fd);
  server.Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
