#include "zarnet/sim/usb_device.h"

#include <algorithm>

#include "zarnet/sim/server.h"

namespace zarnet::sim {
namespace {

// Standard requests and descriptor types.
constexpr uint8_t kGetStatus = 0, kClearFeature = 1, kSetFeature = 3, kSetAddress = 5, kGetDescriptor = 6,
                  kGetConfiguration = 8, kSetConfiguration = 9, kGetInterface = 10, kSetInterface = 11;
constexpr uint8_t kDescDevice = 1, kDescConfiguration = 2, kDescString = 3, kDescInterface = 4,
                  kDescEndpoint = 5, kDescQualifier = 6;
constexpr uint16_t kFeatureEndpointHalt = 0;
constexpr uint16_t kLanguageEnglishUs = 0x0409;

enum Recipient { kToDevice = 0, kToInterface = 1, kToEndpoint = 2 };

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

VirtualUsbDevice::VirtualUsbDevice(UsbDeviceLayout layout) : layout_(std::move(layout)) {
  alternates_.assign(layout_.interfaces.size(), 0);
}

VirtualUsbDevice::~VirtualUsbDevice() = default;

void VirtualUsbDevice::Attach(std::function<void()> changed) {
  std::lock_guard lock(mutex_);
  changed_ = std::move(changed);
  configuration_ = 0;
  ResetStateLocked();
}

void VirtualUsbDevice::Detach() {
  std::lock_guard lock(mutex_);
  changed_ = nullptr;
  configuration_ = 0;
  ResetStateLocked();
}

void VirtualUsbDevice::ResetStateLocked() {
  alternates_.assign(layout_.interfaces.size(), 0);
  halted_.clear();
  device_status_ = 0;
  OnReset();
}

void VirtualUsbDevice::Changed() {
  if (changed_) changed_();
}

UsbAnswer VirtualUsbDevice::Gone() {
  UsbAnswer a;
  a.status = kWireStatusDeviceGone;
  return a;
}

UsbAnswer VirtualUsbDevice::Stall() {
  UsbAnswer a;
  a.status = kWireStatusStall;
  return a;
}

void VirtualUsbDevice::Halt(uint8_t endpoint) {
  if (std::find(halted_.begin(), halted_.end(), endpoint) == halted_.end()) halted_.push_back(endpoint);
}

bool VirtualUsbDevice::halted(uint8_t endpoint) const {
  std::lock_guard lock(mutex_);
  return std::find(halted_.begin(), halted_.end(), endpoint) != halted_.end();
}

uint8_t VirtualUsbDevice::configuration() const {
  std::lock_guard lock(mutex_);
  return configuration_;
}

uint8_t VirtualUsbDevice::alternate_setting(uint8_t interface) const {
  std::lock_guard lock(mutex_);
  return interface < alternates_.size() ? alternates_[interface] : 0;
}

void VirtualUsbDevice::Unplug() {
  std::lock_guard lock(mutex_);
  gone_ = true;
  Changed();  // waiting transfers fail now
}

bool VirtualUsbDevice::gone() const {
  std::lock_guard lock(mutex_);
  return gone_;
}

void VirtualUsbDevice::ResetPipe(uint8_t endpoint) {
  std::lock_guard lock(mutex_);
  std::erase(halted_, endpoint);
  Changed();
}

const UsbEndpoint* VirtualUsbDevice::ActiveEndpoint(uint8_t address) const {
  if (configuration_ == 0) return nullptr;
  for (size_t i = 0; i < layout_.interfaces.size(); ++i) {
    const UsbInterface& intf = layout_.interfaces[i];
    if (alternates_[i] >= intf.alternates.size()) continue;
    for (const UsbEndpoint& ep : intf.alternates[alternates_[i]].endpoints)
      if (ep.address == address) return &ep;
  }
  return nullptr;
}

std::vector<uint8_t> VirtualUsbDevice::DeviceDescriptor() const {
  std::vector<uint8_t> d = {18, kDescDevice};
  Put16(d, layout_.bcd_usb);
  d.insert(d.end(), {layout_.device_class, layout_.device_subclass, layout_.device_protocol, layout_.max_packet0});
  Put16(d, layout_.vid);
  Put16(d, layout_.pid);
  Put16(d, layout_.rev);
  d.insert(d.end(), {static_cast<uint8_t>(layout_.manufacturer.empty() ? 0 : 1),
                     static_cast<uint8_t>(layout_.product.empty() ? 0 : 2),
                     static_cast<uint8_t>(layout_.serial.empty() ? 0 : 3), 1});
  return d;
}

std::vector<uint8_t> VirtualUsbDevice::ConfigurationDescriptor() const {
  std::vector<uint8_t> d = {9, kDescConfiguration, 0, 0, static_cast<uint8_t>(layout_.interfaces.size()), 1, 0,
                            layout_.attributes, layout_.max_power};
  for (size_t i = 0; i < layout_.interfaces.size(); ++i) {
    const UsbInterface& intf = layout_.interfaces[i];
    for (size_t alt = 0; alt < intf.alternates.size(); ++alt) {
      const UsbAlternate& a = intf.alternates[alt];
      d.insert(d.end(), {9, kDescInterface, static_cast<uint8_t>(i), static_cast<uint8_t>(alt),
                         static_cast<uint8_t>(a.endpoints.size()), a.interface_class, a.interface_subclass,
                         a.interface_protocol, 0});
      d.insert(d.end(), a.class_descriptors.begin(), a.class_descriptors.end());
      for (const UsbEndpoint& ep : a.endpoints) {
        d.insert(d.end(), {7, kDescEndpoint, ep.address, ep.attributes});
        Put16(d, ep.max_packet);
        d.push_back(ep.interval);
      }
    }
  }
  d[2] = static_cast<uint8_t>(d.size());
  d[3] = static_cast<uint8_t>(d.size() >> 8);
  return d;
}

std::vector<uint8_t> VirtualUsbDevice::StringDescriptor(uint8_t index, uint16_t) const {
  if (index == 0) return {4, kDescString, kLanguageEnglishUs & 0xFF, kLanguageEnglishUs >> 8};
  const std::string* text = index == 1 ? &layout_.manufacturer
                          : index == 2 ? &layout_.product
                          : index == 3 ? &layout_.serial
                                       : nullptr;
  if (!text || text->empty()) return {};
  const size_t chars = std::min<size_t>(text->size(), 126);  // bLength is one byte
  std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * chars), kDescString};
  for (size_t i = 0; i < chars; ++i) Put16(d, static_cast<uint8_t>((*text)[i]));
  return d;
}

UsbAnswer VirtualUsbDevice::Control(const UsbSetupPacket& setup, std::span<const uint8_t> out) {
  std::lock_guard lock(mutex_);
  if (gone_) return Gone();
  UsbAnswer answer = ((setup.bmRequestType >> 5) & 3) == 0 ? Standard(setup, out) : OnClassOrVendor(setup, out);
  if (answer.data.size() > setup.wLength) answer.data.resize(setup.wLength);
  return answer;
}

UsbAnswer VirtualUsbDevice::Standard(const UsbSetupPacket& setup, std::span<const uint8_t>) {
  const int recipient = setup.bmRequestType & 0x1F;
  const uint8_t ep_address = static_cast<uint8_t>(setup.wIndex);
  UsbAnswer a;
  switch (setup.bRequest) {
    case kGetStatus:
      if (!setup.in()) return Stall();
      if (recipient == kToDevice) a.data = {static_cast<uint8_t>(device_status_), 0};
      else if (recipient == kToInterface && configuration_ && setup.wIndex < layout_.interfaces.size()) a.data = {0, 0};
      else if (recipient == kToEndpoint && (ep_address & 0x7F) == 0) a.data = {0, 0};
      else if (recipient == kToEndpoint && ActiveEndpoint(ep_address))
        a.data = {static_cast<uint8_t>(std::count(halted_.begin(), halted_.end(), ep_address) ? 1 : 0), 0};
      else return Stall();
      return a;
    case kClearFeature:
    case kSetFeature:
      if (recipient == kToDevice) {
        if (setup.wValue != 1) return Stall();  // remote wake-up only
        device_status_ = setup.bRequest == kSetFeature ? 2 : 0;
        return a;
      }
      if (recipient != kToEndpoint || setup.wValue != kFeatureEndpointHalt) return Stall();
      if ((ep_address & 0x7F) == 0) return a;
      if (!ActiveEndpoint(ep_address)) return Stall();
      if (setup.bRequest == kSetFeature) Halt(ep_address);
      else std::erase(halted_, ep_address);
      Changed();
      return a;
    case kSetAddress:
      return a;
    case kGetDescriptor: {
      if (!setup.in()) return Stall();
      const uint8_t type = static_cast<uint8_t>(setup.wValue >> 8), index = static_cast<uint8_t>(setup.wValue);
      if (recipient == kToInterface) a.data = OnInterfaceDescriptor(type, index, setup.wIndex);
      else if (recipient != kToDevice) return Stall();
      else if (type == kDescDevice) a.data = DeviceDescriptor();
      else if (type == kDescConfiguration && index == 0) a.data = ConfigurationDescriptor();
      else if (type == kDescString) a.data = StringDescriptor(index, setup.wIndex);
      else if (type == kDescQualifier && layout_.bcd_usb >= 0x0200) {
        // A high-speed device tells what it would be at the other speed: the same.
        a.data = DeviceDescriptor();
        a.data = {10, kDescQualifier, a.data[2], a.data[3], a.data[4], a.data[5], a.data[6], a.data[7], 1, 0};
      }
      if (a.data.empty()) return Stall();
      return a;
    }
    case kGetConfiguration:
      if (!setup.in()) return Stall();
      a.data = {configuration_};
      return a;
    case kSetConfiguration:
      if (setup.wValue > 1) return Stall();
      configuration_ = static_cast<uint8_t>(setup.wValue);
      ResetStateLocked();
      Changed();
      return a;
    case kGetInterface:
      if (!setup.in() || !configuration_ || setup.wIndex >= layout_.interfaces.size()) return Stall();
      a.data = {alternates_[setup.wIndex]};
      return a;
    case kSetInterface: {
      if (!configuration_ || setup.wIndex >= layout_.interfaces.size() ||
          setup.wValue >= layout_.interfaces[setup.wIndex].alternates.size())
        return Stall();
      // The endpoints of the interface start afresh in the new setting.
      for (const UsbAlternate& alt : layout_.interfaces[setup.wIndex].alternates)
        for (const UsbEndpoint& ep : alt.endpoints) std::erase(halted_, ep.address);
      alternates_[setup.wIndex] = static_cast<uint8_t>(setup.wValue);
      Changed();
      return a;
    }
    default:
      return Stall();
  }
}

UsbAnswer VirtualUsbDevice::Transfer(uint8_t endpoint, std::span<const uint8_t> out, uint32_t in_length) {
  std::lock_guard lock(mutex_);
  if (gone_) return Gone();
  const UsbEndpoint* ep = ActiveEndpoint(endpoint);
  if (!ep || ep->type() == 0 || ep->type() == 1) return Stall();
  if (std::find(halted_.begin(), halted_.end(), endpoint) != halted_.end()) return Stall();
  UsbAnswer answer = OnTransfer(*ep, (endpoint & 0x80) ? std::span<const uint8_t>() : out, in_length);
  if (answer.data.size() > in_length) answer.data.resize(in_length);
  return answer;
}

UsbIsoAnswer VirtualUsbDevice::Isochronous(uint8_t endpoint, std::span<const RFC_ISO_DESC> packets,
                                           std::span<const uint8_t> out, uint32_t transfer_length) {
  std::lock_guard lock(mutex_);
  UsbIsoAnswer answer;
  const UsbEndpoint* ep = ActiveEndpoint(endpoint);
  if (gone_) {
    answer.status = kWireStatusDeviceGone;
    answer.packets.assign(packets.begin(), packets.end());
    for (RFC_ISO_DESC& p : answer.packets) p.ActualLength = 0, p.Status = kWireStatusDeviceGone;
    answer.error_count = static_cast<uint32_t>(packets.size());
    return answer;
  }
  bool good = ep && ep->type() == 1 && !packets.empty() &&
              std::find(halted_.begin(), halted_.end(), endpoint) == halted_.end();
  // Every packet must lie within the transfer (and within the data sent with an OUT transfer).
  const uint64_t limit = (endpoint & 0x80) ? transfer_length : out.size();
  for (const RFC_ISO_DESC& p : packets) good = good && uint64_t{p.Offset} + p.Length <= limit;
  if (!good) {
    answer.status = kWireStatusStall;
    for (RFC_ISO_DESC p : packets) {
      p.ActualLength = 0;
      p.Status = kWireStatusStall;
      answer.packets.push_back(p);
    }
    answer.error_count = static_cast<uint32_t>(packets.size());
    return answer;
  }
  answer = OnIsochronous(*ep, packets, out, transfer_length);
  return answer;
}

UsbAnswer VirtualUsbDevice::OnClassOrVendor(const UsbSetupPacket&, std::span<const uint8_t>) { return Stall(); }

UsbAnswer VirtualUsbDevice::OnTransfer(const UsbEndpoint&, std::span<const uint8_t>, uint32_t) { return Stall(); }

UsbIsoAnswer VirtualUsbDevice::OnIsochronous(const UsbEndpoint&, std::span<const RFC_ISO_DESC> packets,
                                             std::span<const uint8_t>, uint32_t) {
  UsbIsoAnswer a;
  a.status = kWireStatusStall;
  a.packets.assign(packets.begin(), packets.end());
  for (RFC_ISO_DESC& p : a.packets) p.ActualLength = 0, p.Status = kWireStatusStall;
  a.error_count = static_cast<uint32_t>(packets.size());
  return a;
}

std::vector<uint8_t> VirtualUsbDevice::OnInterfaceDescriptor(uint8_t, uint8_t, uint16_t) { return {}; }

bool ParseUsbDeviceKind(const std::string& text, UsbDeviceKind* kind) {
  if (text == "loopback") *kind = UsbDeviceKind::kLoopback;
  else if (text == "printer") *kind = UsbDeviceKind::kPrinter;
  else if (text == "keyboard") *kind = UsbDeviceKind::kKeyboard;
  else if (text == "composite") *kind = UsbDeviceKind::kComposite;
  else return false;
  return true;
}

}  // namespace zarnet::sim
