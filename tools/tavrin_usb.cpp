// tavrin-usb: the connected remote USB devices as a user program sees them, through the function driver's
// device interface in the kernel host. DEVICE is the device's index in `list` (0 when not given).
//   [--sysroot DIR] list   each device: its identifiers and vendor name, then its configuration's interfaces
//                          (every alternate setting) and endpoints
//   read [--device N] [--depth D] [--count C] EP LENGTH [FILE]
//                          C transfers of LENGTH bytes from endpoint EP (e.g. 0x81), D in flight; the data to
//                          FILE, else as hex to standard output
//   write [--device N] [--depth D] [--length L] EP FILE
//                          FILE to endpoint EP in transfers of L bytes (65536), D in flight
//   loop [--device N] [--depth D] OUT_EP IN_EP LENGTH COUNT
//                          COUNT blocks of LENGTH bytes written to OUT_EP and read back from IN_EP, compared
//   select [--device N] INTERFACE SETTING
//                          selects an alternate setting
//   print [--device N] FILE
//                          FILE as one job to a printer: its interface of class 7, its bulk OUT endpoint
//   iso [--device N] [--count C] EP PACKETS SIZE [FILE]
//                          isochronous transfers of PACKETS packets of SIZE bytes: from an IN endpoint (EP
//                          with bit 7 set) C of them, what the packets carried to FILE, else as hex; to an
//                          OUT endpoint FILE (a whole number of packets), PACKETS packets a transfer
// Exit status 0 on success, 1 when a transfer failed or data differed, 2 on a usage error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "admin/util/UsbVendors.h"
#include "kernel_host/usb_function_records.h"
#include "win32/file.h"
#include "win32/ioctl.h"
#include "win32/setupapi.h"
#include "win32/sysroot.h"

namespace {

// Bytes of data one request may carry: the kernel link takes up to 1 MiB a message.
constexpr uint32_t kChunk = 15 * 65536;

std::vector<std::string> DevicePaths() {
  std::vector<std::string> paths;
  HDEVINFO set = SetupDiGetClassDevs(&GUID_DEVINTERFACE_USBFUNC, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBFUNC, i, &data); ++i) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetail(set, &data, nullptr, 0, &required, nullptr);
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA);
    if (SetupDiGetDeviceInterfaceDetail(set, &data, detail, required, nullptr, nullptr))
      paths.emplace_back(buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA, DevicePath));
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

HANDLE OpenDevice(size_t index) {
  std::vector<std::string> paths = DevicePaths();
  if (index >= paths.size()) {
    std::fprintf(stderr, "tavrin-usb: no device %zu (%zu connected)\n", index, paths.size());
    return INVALID_HANDLE_VALUE;
  }
  HANDLE device = CreateFile(paths[index].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) std::fprintf(stderr, "tavrin-usb: cannot open %s\n", paths[index].c_str());
  return device;
}

bool Descriptors(HANDLE device, std::vector<uint8_t>* out) {
  out->assign(65536, 0);
  DWORD bytes = 0;
  if (!DeviceIoControl(device, IOCTL_USBFUNC_GET_DESCRIPTORS, nullptr, 0, out->data(), static_cast<DWORD>(out->size()),
                       &bytes, nullptr))
    return false;
  out->resize(bytes);
  return bytes >= 18;
}

const char* TypeName(uint8_t attributes) {
  static const char* const names[] = {"control", "isochronous", "bulk", "interrupt"};
  return names[attributes & 3];
}

// The device descriptor, then the configuration walked descriptor by descriptor.
void Describe(size_t index, const std::vector<uint8_t>& d) {
  const unsigned vid = d[8] | d[9] << 8, pid = d[10] | d[11] << 8, rev = d[12] | d[13] << 8;
  const char* vendor = GetUsbVendorName(static_cast<WORD>(vid));
  std::printf("device %zu: VID_%04X PID_%04X REV_%04X %s, USB %x.%02x, class %02X/%02X/%02X\n", index, vid, pid, rev,
              vendor ? vendor : "(unknown vendor)", d[3], d[2], d[4], d[5], d[6]);
  for (size_t at = 18; at + 2 <= d.size() && d[at] >= 2 && at + d[at] <= d.size(); at += d[at]) {
    const uint8_t* x = &d[at];
    if (x[1] == 2 && x[0] >= 9)
      std::printf("  configuration %u: %u interfaces, %u bytes\n", x[5], x[4], x[2] | x[3] << 8);
    else if (x[1] == 4 && x[0] >= 9)
      std::printf("  interface %u setting %u: class %02X/%02X/%02X, %u endpoints\n", x[2], x[3], x[5], x[6], x[7], x[4]);
    else if (x[1] == 5 && x[0] >= 7)
      std::printf("    endpoint 0x%02X %s %s, %u bytes\n", x[2], x[2] & 0x80 ? "IN" : "OUT", TypeName(x[3]),
                  x[4] | x[5] << 8);
  }
}

int List() {
  std::vector<std::string> paths = DevicePaths();
  if (paths.empty()) std::printf("no device connected\n");
  for (size_t i = 0; i < paths.size(); ++i) {
    HANDLE device = OpenDevice(i);
    std::vector<uint8_t> d;
    if (device != INVALID_HANDLE_VALUE && Descriptors(device, &d)) Describe(i, d);
    else std::printf("device %zu: descriptors unreadable\n", i);
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
  }
  return 0;
}

struct StreamResult {
  bool ok = false;
  USBFUNC_STREAM_RESULT result{};
  std::vector<uint8_t> data;
};

StreamResult Stream(HANDLE device, uint8_t endpoint, uint32_t length, uint32_t count, uint32_t depth,
                    const uint8_t* out = nullptr, size_t outSize = 0) {
  USBFUNC_STREAM request{};
  request.Endpoint = endpoint;
  request.Length = length;
  request.Count = count;
  request.QueueDepth = depth;
  std::vector<uint8_t> in(sizeof request + outSize);
  std::memcpy(in.data(), &request, sizeof request);
  if (outSize) std::memcpy(in.data() + sizeof request, out, outSize);
  std::vector<uint8_t> answer(sizeof(USBFUNC_STREAM_RESULT) + (endpoint & 0x80 ? size_t{length} * count : 0));
  DWORD bytes = 0;
  StreamResult r;
  r.ok = DeviceIoControl(device, IOCTL_USBFUNC_STREAM, in.data(), static_cast<DWORD>(in.size()), answer.data(),
                         static_cast<DWORD>(answer.size()), &bytes, nullptr) &&
         bytes >= sizeof r.result;
  if (r.ok) {
    std::memcpy(&r.result, answer.data(), sizeof r.result);
    r.data.assign(answer.begin() + sizeof r.result, answer.begin() + bytes);
    r.ok = r.result.Failed == 0 && r.result.IrpStatus == 0;
  }
  if (!r.ok)
    std::fprintf(stderr, "tavrin-usb: endpoint 0x%02X: status 0x%08X, URB status 0x%08X\n", endpoint,
                 static_cast<unsigned>(r.result.IrpStatus), static_cast<unsigned>(r.result.UrbStatus));
  return r;
}

// Writes data in requests of up to kChunk bytes, each split into `length`-byte transfers.
bool Write(HANDLE device, uint8_t endpoint, const std::vector<uint8_t>& data, uint32_t length, uint32_t depth) {
  const uint32_t chunk = kChunk / length * length;
  for (size_t at = 0; at < data.size(); at += chunk) {
    size_t size = std::min<size_t>(chunk, data.size() - at);
    if (!Stream(device, endpoint, length, 0, depth, data.data() + at, size).ok) return false;
  }
  return true;
}

// Reads `count` transfers of `length` bytes, as many a request as its answer can carry.
bool Read(HANDLE device, uint8_t endpoint, uint32_t length, uint32_t count, uint32_t depth, std::vector<uint8_t>* out) {
  const uint32_t perRequest = std::max<uint32_t>(1, kChunk / length);
  for (uint32_t done = 0; done < count;) {
    uint32_t n = std::min(perRequest, count - done);
    StreamResult r = Stream(device, endpoint, length, n, std::min(depth, n));
    if (!r.ok) return false;
    out->insert(out->end(), r.data.begin(), r.data.end());
    done += n;
  }
  return true;
}

bool ReadFile(const char* name, std::vector<uint8_t>* data) {
  std::ifstream file(name, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "tavrin-usb: cannot read %s\n", name);
    return false;
  }
  data->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

// One isochronous transfer; false when it failed. IN: what each packet carried is appended to `in`.
bool Isochronous(HANDLE device, uint8_t endpoint, uint32_t packets, uint32_t size, const uint8_t* out,
                 std::vector<uint8_t>* in, uint32_t* failedPackets) {
  const bool input = endpoint & 0x80;
  USBFUNC_ISOCH request{endpoint, {}, packets, size};
  std::vector<uint8_t> record(sizeof request + (input ? 0 : size_t{packets} * size));
  std::memcpy(record.data(), &request, sizeof request);
  if (!input) std::memcpy(record.data() + sizeof request, out, size_t{packets} * size);
  const size_t head = sizeof(USBFUNC_RESULT) + packets * sizeof(USBFUNC_ISO_PACKET);
  std::vector<uint8_t> answer(head + (input ? size_t{packets} * size : 0));
  DWORD bytes = 0;
  USBFUNC_RESULT result{};
  bool ok = DeviceIoControl(device, IOCTL_USBFUNC_ISOCH, record.data(), static_cast<DWORD>(record.size()),
                            answer.data(), static_cast<DWORD>(answer.size()), &bytes, nullptr) &&
            bytes >= head;
  if (ok) {
    std::memcpy(&result, answer.data(), sizeof result);
    for (uint32_t i = 0; i < packets; ++i) {
      USBFUNC_ISO_PACKET packet;
      std::memcpy(&packet, answer.data() + sizeof result + i * sizeof packet, sizeof packet);
      if (packet.Status != 0) ++*failedPackets;
      const uint8_t* data = answer.data() + head + size_t{i} * size;
      if (input && bytes >= head + size_t{packets} * size) in->insert(in->end(), data, data + std::min(packet.Length, size));
    }
    ok = result.IrpStatus == 0;
  }
  if (!ok)
    std::fprintf(stderr, "tavrin-usb: endpoint 0x%02X: status 0x%08X, URB status 0x%08X\n", endpoint,
                 static_cast<unsigned>(result.IrpStatus), static_cast<unsigned>(result.UrbStatus));
  return ok;
}

// The verb `iso`: IN transfers to a file or as hex, or a file to an OUT endpoint.
int IsochronousVerb(size_t deviceIndex, uint32_t count, uint8_t endpoint, uint32_t packets, uint32_t size,
                    const char* file) {
  const bool input = endpoint & 0x80;
  std::vector<uint8_t> data;
  if (!input) {
    if (!file || !ReadFile(file, &data)) return file ? 1 : 2;
    if (data.empty() || data.size() % size) {
      std::fprintf(stderr, "tavrin-usb: %s is no whole number of %u-byte packets\n", file, size);
      return 2;
    }
  }
  HANDLE device = OpenDevice(deviceIndex);
  if (device == INVALID_HANDLE_VALUE) return 1;
  uint32_t failed = 0, sent = 0;
  std::vector<uint8_t> arrived;
  bool ok = true;
  if (input) {
    for (uint32_t i = 0; i < count && ok; ++i) ok = Isochronous(device, endpoint, packets, size, nullptr, &arrived, &failed);
  } else {
    for (size_t at = 0; at < data.size() && ok; at += size_t{packets} * size) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(packets, (data.size() - at) / size));
      ok = Isochronous(device, endpoint, n, size, data.data() + at, nullptr, &failed);
      if (ok) sent += n;
    }
  }
  CloseHandle(device);
  if (input) {
    if (file) std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(arrived.data()), arrived.size());
    else
      for (size_t i = 0; i < arrived.size(); ++i)
        std::printf("%02X%s", arrived[i], (i + 1) % 16 && i + 1 < arrived.size() ? " " : "\n");
    std::fprintf(stderr, "%zu bytes read, %u packets failed\n", arrived.size(), failed);
  } else if (ok) {
    std::printf("%zu bytes written in %u packets, %u failed\n", size_t{sent} * size, sent, failed);
  }
  return ok ? 0 : 1;
}

uint32_t Number(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); }

// The common options; the remaining arguments are left in `rest`.
struct Options {
  size_t device = 0;
  uint32_t depth = 1;
  uint32_t count = 1;
  uint32_t length = 65536;
  std::vector<char*> rest;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 < argc && a == "--device") o->device = Number(argv[++i]);
    else if (i + 1 < argc && a == "--depth") o->depth = Number(argv[++i]);
    else if (i + 1 < argc && a == "--count") o->count = Number(argv[++i]);
    else if (i + 1 < argc && a == "--length") o->length = Number(argv[++i]);
    else if (a.rfind("--", 0) == 0) return false;
    else o->rest.push_back(argv[i]);
  }
  return o->depth >= 1 && o->depth <= 64 && o->length >= 1 && o->length <= kChunk;
}

int Run(const std::string& verb, Options& o) {
  const auto& a = o.rest;
  if (verb == "read" && (a.size() == 2 || a.size() == 3)) {
    if (Number(a[1]) == 0 || Number(a[1]) > kChunk) return 2;
    HANDLE device = OpenDevice(o.device);
    if (device == INVALID_HANDLE_VALUE) return 1;
    std::vector<uint8_t> data;
    bool ok = Read(device, static_cast<uint8_t>(Number(a[0]) | 0x80), Number(a[1]), o.count, o.depth, &data);
    CloseHandle(device);
    if (a.size() == 3) {
      std::ofstream(a[2], std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
    } else {
      for (size_t i = 0; i < data.size(); ++i) std::printf("%02X%s", data[i], (i + 1) % 16 && i + 1 < data.size() ? " " : "\n");
    }
    std::fprintf(stderr, "%zu bytes read\n", data.size());
    return ok ? 0 : 1;
  }
  if (verb == "write" && a.size() == 2) {
    std::vector<uint8_t> data;
    if (!ReadFile(a[1], &data)) return 1;
    HANDLE device = OpenDevice(o.device);
    if (device == INVALID_HANDLE_VALUE) return 1;
    bool ok = data.empty() || Write(device, static_cast<uint8_t>(Number(a[0]) & 0x7F), data, o.length, o.depth);
    CloseHandle(device);
    if (ok) std::printf("%zu bytes written\n", data.size());
    return ok ? 0 : 1;
  }
  if (verb == "loop" && a.size() == 4) {
    const uint32_t length = Number(a[2]), count = Number(a[3]);
    if (length == 0 || length > kChunk || count == 0) return 2;
    std::vector<uint8_t> sent(size_t{length} * count);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 251);
    HANDLE device = OpenDevice(o.device);
    if (device == INVALID_HANDLE_VALUE) return 1;
    std::vector<uint8_t> back;
    bool ok = Write(device, static_cast<uint8_t>(Number(a[0]) & 0x7F), sent, length, o.depth);
    // A device may give the data back in other pieces than it took them: read until all is back.
    while (ok && back.size() < sent.size()) {
      size_t before = back.size();
      ok = Read(device, static_cast<uint8_t>(Number(a[1]) | 0x80), length, 1, 1, &back) && back.size() > before;
    }
    CloseHandle(device);
    if (!ok) return 1;
    if (back != sent) {
      std::printf("data differs\n");
      return 1;
    }
    std::printf("%zu bytes looped, identical\n", sent.size());
    return 0;
  }
  if (verb == "select" && a.size() == 2) {
    HANDLE device = OpenDevice(o.device);
    if (device == INVALID_HANDLE_VALUE) return 1;
    USBFUNC_SELECT select{static_cast<uint8_t>(Number(a[0])), static_cast<uint8_t>(Number(a[1])), {}};
    USBFUNC_RESULT result{};
    DWORD bytes = 0;
    bool ok = DeviceIoControl(device, IOCTL_USBFUNC_SELECT_INTERFACE, &select, sizeof select, &result, sizeof result,
                              &bytes, nullptr) &&
              result.IrpStatus == 0;
    CloseHandle(device);
    std::printf("interface %s setting %s %s\n", a[0], a[1], ok ? "selected" : "refused");
    return ok ? 0 : 1;
  }
  if (verb == "iso" && (a.size() == 3 || a.size() == 4)) {
    const uint32_t endpoint = Number(a[0]), packets = Number(a[1]), size = Number(a[2]);
    if (endpoint > 0xFF || packets < 1 || packets > 256 || size < 1 || size > 512 * 1024 / packets) return 2;
    return IsochronousVerb(o.device, o.count, static_cast<uint8_t>(endpoint), packets, size, a.size() == 4 ? a[3] : nullptr);
  }
  if (verb == "print" && a.size() == 1) {
    std::vector<uint8_t> job;
    if (!ReadFile(a[0], &job)) return 1;
    HANDLE device = OpenDevice(o.device);
    if (device == INVALID_HANDLE_VALUE) return 1;
    // The bulk OUT endpoint of the printer interface (class 7).
    std::vector<uint8_t> d;
    int endpoint = -1;
    bool printer = false;
    if (Descriptors(device, &d))
      for (size_t at = 18; at + 2 <= d.size() && d[at] >= 2 && at + d[at] <= d.size() && endpoint < 0; at += d[at]) {
        if (d[at + 1] == 4 && d[at] >= 9) printer = d[at + 5] == 7;
        if (printer && d[at + 1] == 5 && d[at] >= 7 && !(d[at + 2] & 0x80) && (d[at + 3] & 3) == 2) endpoint = d[at + 2];
      }
    if (endpoint < 0) {
      std::fprintf(stderr, "tavrin-usb: device %zu is no printer\n", o.device);
      CloseHandle(device);
      return 1;
    }
    bool ok = job.empty() || Write(device, static_cast<uint8_t>(endpoint), job, 65536, 4);
    CloseHandle(device);
    if (ok) std::printf("%zu bytes sent to the printer\n", job.size());
    return ok ? 0 : 1;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 2 && !std::strcmp(argv[1], "--sysroot")) {
    tavrin::sysroot::SetRoot(argv[2]);
    first = 3;
  }
  std::string verb = argc > first ? argv[first] : "";
  if (verb == "list" && argc == first + 1) return List();
  Options options;
  if (!verb.empty() && ParseOptions(argc - first - 1, argv + first + 1, &options)) {
    int result = Run(verb, options);
    if (result != 2) return result;
  }
  std::fprintf(stderr,
               "usage: tavrin-usb [--sysroot DIR] list | read [--device N] [--depth D] [--count C] EP LENGTH [FILE]\n"
               "       | write [--device N] [--depth D] [--length L] EP FILE | loop [--device N] [--depth D] OUT_EP "
               "IN_EP LENGTH COUNT\n       | select [--device N] INTERFACE SETTING | print [--device N] FILE\n"
               "       | iso [--device N] [--count C] EP PACKETS SIZE [FILE]\n");
  return 2;
}
