// The kinds of virtual device.
#include <algorithm>
#include <cstring>

#include "zarnet/sim/server.h"
#include "zarnet/sim/usb_device.h"

namespace zarnet::sim {
namespace {

constexpr uint8_t kBulk = 2, kInterrupt = 3, kIso = 1;
constexpr uint8_t kIsoAsync = 0x04;  // synchronisation type bits of an isochronous endpoint

uint16_t BulkPacket(const Device& d) { return d.speed >= 2 ? 512 : 64; }

UsbDeviceLayout BaseLayout(const Device& d) {
  UsbDeviceLayout l;
  l.device_class = d.device_class;
  l.device_subclass = d.subclass;
  l.device_protocol = d.protocol;
  l.vid = d.vid;
  l.pid = d.pid;
  l.rev = d.rev;
  l.manufacturer = d.manufacturer.empty() ? "Zarnet" : d.manufacturer;
  l.product = d.product;
  l.serial = "ZS" + std::to_string(d.port);
  if (d.speed < 2) l.bcd_usb = 0x0110;
  return l;
}

UsbDeviceLayout LoopbackLayout(const Device& d) {
  UsbDeviceLayout l = BaseLayout(d);
  UsbAlternate a{0xFF, 0, 0, {}, {}};
  a.endpoints = {{LoopbackDevice::kBulkOut, kBulk, BulkPacket(d), 0},
                 {LoopbackDevice::kBulkIn, kBulk, BulkPacket(d), 0},
                 {LoopbackDevice::kInterruptOut, kInterrupt, 64, 1},
                 {LoopbackDevice::kInterruptIn, kInterrupt, 64, 1},
                 {LoopbackDevice::kIsoOut, kIso | kIsoAsync, 1024, 1},
                 {LoopbackDevice::kIsoIn, kIso | kIsoAsync, 1024, 1},
                 {LoopbackDevice::kStallIn, kBulk, 64, 0}};
  l.interfaces = {UsbInterface{{a}}};
  return l;
}

// The report descriptor of a boot keyboard: modifier byte, reserved byte, five LED bits, six key codes.
const std::vector<uint8_t> kKeyboardReport = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

std::vector<uint8_t> HidDescriptor() {
  const auto n = static_cast<uint16_t>(kKeyboardReport.size());
  return {9, 0x21, 0x11, 0x01, 0, 1, 0x22, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
}

UsbDeviceLayout KeyboardLayout(const Device& d) {
  UsbDeviceLayout l = BaseLayout(d);
  l.max_packet0 = 8;
  UsbAlternate a{3, 1, 1, HidDescriptor(), {{0x81, kInterrupt, 8, 10}}};
  l.interfaces = {UsbInterface{{a}}};
  l.attributes = 0xA0;  // remote wake-up
  return l;
}

UsbDeviceLayout PrinterLayout(const Device& d) {
  UsbDeviceLayout l = BaseLayout(d);
  UsbAlternate a{7, 1, 2, {}, {{0x01, kBulk, BulkPacket(d), 0}, {0x82, kBulk, BulkPacket(d), 0}}};
  l.interfaces = {UsbInterface{{a}}};
  l.attributes = 0xC0;  // self powered
  return l;
}

UsbDeviceLayout CompositeLayout(const Device& d) {
  UsbDeviceLayout l = BaseLayout(d);
  UsbInterface echo{{UsbAlternate{0xFF, 0, 0, {}, {{0x01, kBulk, BulkPacket(d), 0}, {0x81, kBulk, BulkPacket(d), 0}}}}};
  UsbInterface settings{{UsbAlternate{0xFF, 1, 0, {}, {}},
                         UsbAlternate{0xFF, 1, 1, {}, {{0x82, kInterrupt, 8, 4}}},
                         UsbAlternate{0xFF, 1, 2, {}, {{0x82, kInterrupt, 64, 4}, {0x83, kBulk, BulkPacket(d), 0}}}}};
  l.interfaces = {echo, settings};
  return l;
}

UsbAnswer Pending() {
  UsbAnswer a;
  a.pending = true;
  return a;
}

// A FIFO of bytes: the bulk echo of the loopback and composite devices.
bool EchoPut(std::vector<uint8_t>& fifo, size_t& head, std::span<const uint8_t> data, size_t capacity) {
  if (fifo.size() - head + data.size() > capacity) return false;
  if (head > 0 && head >= fifo.size() / 2) {
    fifo.erase(fifo.begin(), fifo.begin() + static_cast<ptrdiff_t>(head));
    head = 0;
  }
  fifo.insert(fifo.end(), data.begin(), data.end());
  return true;
}

std::vector<uint8_t> EchoTake(std::vector<uint8_t>& fifo, size_t& head, size_t most) {
  const size_t n = std::min(most, fifo.size() - head);
  std::vector<uint8_t> out(fifo.begin() + static_cast<ptrdiff_t>(head), fifo.begin() + static_cast<ptrdiff_t>(head + n));
  head += n;
  if (head == fifo.size()) fifo.clear(), head = 0;
  return out;
}

}  // namespace

UsbDeviceKind DefaultUsbDeviceKind(const Device& device) {
  if (!device.usb_device.empty()) {
    UsbDeviceKind kind;
    if (ParseUsbDeviceKind(device.usb_device, &kind)) return kind;
  }
  if (device.device_class == 7) return UsbDeviceKind::kPrinter;
  if (device.device_class == 3) return UsbDeviceKind::kKeyboard;
  if (device.interfaces > 1) return UsbDeviceKind::kComposite;
  return UsbDeviceKind::kLoopback;
}

std::unique_ptr<VirtualUsbDevice> MakeVirtualUsbDevice(const Device& device, const std::string& folder) {
  switch (DefaultUsbDeviceKind(device)) {
    case UsbDeviceKind::kPrinter: {
      std::string file = device.print_file.empty() ? "print-port" + std::to_string(device.port) + ".prn"
                                                   : device.print_file;
      if (file.front() != '/' && !folder.empty()) file = folder + "/" + file;
      return std::make_unique<PrinterDevice>(device, file);
    }
    case UsbDeviceKind::kKeyboard:
      return std::make_unique<KeyboardDevice>(device);
    case UsbDeviceKind::kComposite:
      return std::make_unique<CompositeDevice>(device);
    case UsbDeviceKind::kLoopback:
      break;
  }
  return std::make_unique<LoopbackDevice>(device);
}

// --- loopback ---

LoopbackDevice::LoopbackDevice(const Device& device) : VirtualUsbDevice(LoopbackLayout(device)) {}

void LoopbackDevice::OnReset() {
  echo_.clear();
  echo_head_ = 0;
  interrupt_.clear();
  iso_out_.clear();
}

std::vector<uint8_t> LoopbackDevice::iso_out_received() const {
  std::lock_guard lock(mutex_);
  return iso_out_;
}

UsbAnswer LoopbackDevice::OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t> out) {
  // Vendor request to the device only.
  if ((setup.bmRequestType & 0x7F) != 0x40 || setup.bRequest != kVendorScratch) return Stall();
  UsbAnswer a;
  if (setup.in()) a.data = scratch_;
  else if (out.size() > 256) return Stall();
  else scratch_.assign(out.begin(), out.end());
  return a;
}

UsbAnswer LoopbackDevice::OnTransfer(const UsbEndpoint& ep, std::span<const uint8_t> out, uint32_t in_length) {
  UsbAnswer a;
  switch (ep.address) {
    case kBulkOut:
      if (!EchoPut(echo_, echo_head_, out, kEchoCapacity)) return Pending();
      Changed();
      return a;
    case kBulkIn:
      if (echo_head_ == echo_.size()) return Pending();
      a.data = EchoTake(echo_, echo_head_, in_length);
      Changed();
      return a;
    case kInterruptOut:
      if (out.size() > ep.max_packet) return Stall();
      if (interrupt_.size() >= 64) return Pending();
      interrupt_.emplace_back(out.begin(), out.end());
      Changed();
      return a;
    case kInterruptIn:
      if (interrupt_.empty()) return Pending();
      a.data = std::move(interrupt_.front());
      interrupt_.erase(interrupt_.begin());
      Changed();
      return a;
    case kStallIn:
      // Asked for more than one packet, the endpoint halts until its pipe is reset.
      if (in_length > ep.max_packet) {
        Halt(ep.address);
        return Stall();
      }
      for (uint32_t i = 0; i < in_length; ++i) a.data.push_back(static_cast<uint8_t>(0xC0 + i));
      return a;
    default:
      return Stall();
  }
}

UsbIsoAnswer LoopbackDevice::OnIsochronous(const UsbEndpoint& ep, std::span<const RFC_ISO_DESC> packets,
                                           std::span<const uint8_t> out, uint32_t) {
  UsbIsoAnswer a;
  a.packets.assign(packets.begin(), packets.end());
  if (!(ep.address & 0x80)) {
    iso_out_.clear();
    for (RFC_ISO_DESC& p : a.packets) {
      iso_out_.insert(iso_out_.end(), out.begin() + p.Offset, out.begin() + p.Offset + p.Length);
      p.ActualLength = p.Length;
      p.Status = 0;
      a.accepted += p.Length;
    }
    return a;
  }
  for (uint32_t i = 0; i < a.packets.size(); ++i) {
    RFC_ISO_DESC& p = a.packets[i];
    p.ActualLength = (i % 2 == 0) ? p.Length : p.Length / 2;
    p.Status = 0;
    if (p.ActualLength == 0) continue;
    if (a.data.size() < p.Offset + p.ActualLength) a.data.resize(p.Offset + p.ActualLength);
    for (uint32_t j = 0; j < p.ActualLength; ++j) a.data[p.Offset + j] = IsoInByte(i, j);
  }
  return a;
}

// --- printer ---

PrinterDevice::PrinterDevice(const Device& device, std::string file)
    : VirtualUsbDevice(PrinterLayout(device)),
      file_(std::move(file)),
      device_id_("MFG:" + layout().manufacturer + ";MDL:" + (device.product.empty() ? "Printer" : device.product) +
                 ";CMD:PJL,PCL;CLS:PRINTER;") {}

PrinterDevice::~PrinterDevice() {
  std::lock_guard lock(mutex_);
  EndJobLocked();
}

int PrinterDevice::jobs() const {
  std::lock_guard lock(mutex_);
  return jobs_;
}

void PrinterDevice::EndJobLocked() {
  if (!job_) return;
  std::fclose(job_);
  job_ = nullptr;
  ++jobs_;
}

void PrinterDevice::OnReset() { EndJobLocked(); }

UsbAnswer PrinterDevice::OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t>) {
  if ((setup.bmRequestType & 0x7F) != 0x21) return Stall();  // class, interface
  UsbAnswer a;
  switch (setup.bRequest) {
    case 0: {  // GET_DEVICE_ID: a big-endian length that counts itself, then the text
      if (!setup.in()) return Stall();
      const size_t n = device_id_.size() + 2;
      a.data = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
      a.data.insert(a.data.end(), device_id_.begin(), device_id_.end());
      return a;
    }
    case 1:  // GET_PORT_STATUS: selected, no error, paper present
      if (!setup.in()) return Stall();
      a.data = {0x18};
      return a;
    case 2:  // SOFT_RESET
      if (setup.in()) return Stall();
      EndJobLocked();
      return a;
    default:
      return Stall();
  }
}

UsbAnswer PrinterDevice::OnTransfer(const UsbEndpoint& ep, std::span<const uint8_t> out, uint32_t) {
  UsbAnswer a;
  if (ep.address & 0x80) return a;  // nothing to tell
  if (out.empty()) return a;
  if (!job_) job_ = std::fopen(file_.c_str(), "wb");
  if (!job_ || std::fwrite(out.data(), 1, out.size(), job_) != out.size() || std::fflush(job_) != 0) {
    a.status = kWireStatusStall;
    return a;
  }
  return a;
}

// --- keyboard ---

KeyboardDevice::KeyboardDevice(const Device& device) : VirtualUsbDevice(KeyboardLayout(device)) {}

const std::vector<uint8_t>& KeyboardDevice::ReportDescriptor() { return kKeyboardReport; }

uint8_t KeyboardDevice::leds() const {
  std::lock_guard lock(mutex_);
  return leds_;
}

void KeyboardDevice::QueueReport(const std::vector<uint8_t>& report) {
  std::lock_guard lock(mutex_);
  reports_.push_back(report);
  Changed();
}

void KeyboardDevice::Type(const std::string& text) {
  std::lock_guard lock(mutex_);
  for (char c : text) {
    uint8_t modifiers = 0, key = 0;
    if (c >= 'a' && c <= 'z') key = static_cast<uint8_t>(4 + c - 'a');
    else if (c >= 'A' && c <= 'Z') key = static_cast<uint8_t>(4 + c - 'A'), modifiers = 0x02;  // left shift
    else if (c >= '1' && c <= '9') key = static_cast<uint8_t>(30 + c - '1');
    else if (c == '0') key = 39;
    else if (c == '\n') key = 40;
    else if (c == ' ') key = 44;
    else continue;
    reports_.push_back({modifiers, 0, key, 0, 0, 0, 0, 0});
    reports_.push_back(std::vector<uint8_t>(8, 0));
  }
  Changed();
}

UsbAnswer KeyboardDevice::OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t> out) {
  if ((setup.bmRequestType & 0x7F) != 0x21) return Stall();
  UsbAnswer a;
  switch (setup.bRequest) {
    case 0x01:  // GET_REPORT
      a.data = next_report_ > 0 ? reports_[next_report_ - 1] : std::vector<uint8_t>(8, 0);
      return a;
    case 0x02:  // GET_IDLE
      a.data = {idle_};
      return a;
    case 0x03:  // GET_PROTOCOL
      a.data = {protocol_};
      return a;
    case 0x09:  // SET_REPORT: the LEDs
      if (!out.empty()) leds_ = out[0];
      return a;
    case 0x0A:  // SET_IDLE
      idle_ = static_cast<uint8_t>(setup.wValue >> 8);
      return a;
    case 0x0B:  // SET_PROTOCOL
      protocol_ = static_cast<uint8_t>(setup.wValue);
      return a;
    default:
      return Stall();
  }
}

UsbAnswer KeyboardDevice::OnTransfer(const UsbEndpoint&, std::span<const uint8_t>, uint32_t) {
  if (next_report_ >= reports_.size()) return Pending();
  UsbAnswer a;
  a.data = reports_[next_report_++];
  return a;
}

std::vector<uint8_t> KeyboardDevice::OnInterfaceDescriptor(uint8_t type, uint8_t, uint16_t interface) {
  if (interface != 0) return {};
  if (type == 0x21) return HidDescriptor();
  if (type == 0x22) return kKeyboardReport;
  return {};
}

// --- composite ---

CompositeDevice::CompositeDevice(const Device& device) : VirtualUsbDevice(CompositeLayout(device)) {}

void CompositeDevice::OnReset() { echo_.clear(); }

UsbAnswer CompositeDevice::OnTransfer(const UsbEndpoint& ep, std::span<const uint8_t> out, uint32_t in_length) {
  UsbAnswer a;
  size_t head = 0;
  switch (ep.address) {
    case 0x01:
      if (!EchoPut(echo_, head, out, 1024 * 1024)) return Pending();
      Changed();
      return a;
    case 0x81:
      if (echo_.empty()) return Pending();
      a.data = EchoTake(echo_, head, in_length);
      echo_.erase(echo_.begin(), echo_.begin() + static_cast<ptrdiff_t>(head));
      Changed();
      return a;
    case 0x82:  // the number of the setting in use, one packet of it
      a.data.assign(ep.max_packet, ep.max_packet == 8 ? 1 : 2);
      return a;
    case 0x83:
      a.data.assign(in_length, 0xA2);
      return a;
    default:
      return Stall();
  }
}

}  // namespace zarnet::sim
