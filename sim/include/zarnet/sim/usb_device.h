// Virtual USB devices behind the simulated servers' ports: real descriptors, standard requests, and the
// endpoints of each kind of device (loopback, printer, keyboard, composite).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "zarnet/usb_wire.h"

namespace zarnet::sim {

struct Device;

// The answer of a device to one transfer.
struct UsbAnswer {
  int32_t status = kWireStatusSuccess;
  std::vector<uint8_t> data;  // IN data
  bool pending = false;       // the device cannot take or give it yet (ask again when it changes)
};

// The answer to an isochronous transfer: per packet its returned length and status.
struct UsbIsoAnswer {
  int32_t status = kWireStatusSuccess;
  std::vector<uint8_t> data;          // IN: laid out as the transfer buffer, each packet at its offset
  std::vector<RFC_ISO_DESC> packets;  // ActualLength and Status filled
  uint32_t accepted = 0;              // OUT: bytes taken
  uint32_t error_count = 0;
};

struct UsbEndpoint {
  uint8_t address = 0;     // bEndpointAddress, direction bit included
  uint8_t attributes = 0;  // bmAttributes: & 3 is the transfer type
  uint16_t max_packet = 0;
  uint8_t interval = 0;
  uint8_t type() const { return attributes & 3; }
};

struct UsbAlternate {
  uint8_t interface_class = 0, interface_subclass = 0, interface_protocol = 0;
  std::vector<uint8_t> class_descriptors;  // between the interface descriptor and its endpoints
  std::vector<UsbEndpoint> endpoints;
};

struct UsbInterface {
  std::vector<UsbAlternate> alternates;  // alternate setting n at index n
};

struct UsbDeviceLayout {
  uint16_t bcd_usb = 0x0200;
  uint8_t device_class = 0, device_subclass = 0, device_protocol = 0;
  uint8_t max_packet0 = 64;
  uint16_t vid = 0, pid = 0, rev = 0;
  std::string manufacturer, product, serial;
  uint8_t attributes = 0x80;  // bus powered
  uint8_t max_power = 50;     // in 2 mA units
  std::vector<UsbInterface> interfaces;  // of its single configuration (value 1)
};

// One virtual device. The data session of its port calls it from one thread; tests and the device's own
// events may reach it from others, so every entry point takes the device's lock.
class VirtualUsbDevice {
 public:
  explicit VirtualUsbDevice(UsbDeviceLayout layout);
  virtual ~VirtualUsbDevice();
  VirtualUsbDevice(const VirtualUsbDevice&) = delete;
  VirtualUsbDevice& operator=(const VirtualUsbDevice&) = delete;

  // A data connection begins (the device is reset: unconfigured, no halts) or ends. `changed` is called
  // whenever a transfer that was pending may have become possible.
  void Attach(std::function<void()> changed);
  void Detach();

  UsbAnswer Control(const UsbSetupPacket& setup, std::span<const uint8_t> out);
  // Bulk and interrupt transfers: out data for an OUT endpoint, up to in_length bytes for an IN one.
  UsbAnswer Transfer(uint8_t endpoint, std::span<const uint8_t> out, uint32_t in_length);
  UsbIsoAnswer Isochronous(uint8_t endpoint, std::span<const RFC_ISO_DESC> packets, std::span<const uint8_t> out,
                           uint32_t transfer_length);
  // Clears the endpoint's halt (a reset pipe).
  void ResetPipe(uint8_t endpoint);
  // The device has left its port: from now on every transfer fails with kWireStatusDeviceGone.
  void Unplug();
  bool gone() const;

  const UsbDeviceLayout& layout() const { return layout_; }
  std::vector<uint8_t> DeviceDescriptor() const;
  std::vector<uint8_t> ConfigurationDescriptor() const;
  uint8_t configuration() const;
  uint8_t alternate_setting(uint8_t interface) const;
  bool halted(uint8_t endpoint) const;

 protected:
  // Hooks of the kinds of device, called with the lock held. An endpoint reaching them exists in the
  // active setting, has the right type and is not halted.
  virtual UsbAnswer OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t> out);
  virtual UsbAnswer OnTransfer(const UsbEndpoint& endpoint, std::span<const uint8_t> out, uint32_t in_length);
  virtual UsbIsoAnswer OnIsochronous(const UsbEndpoint& endpoint, std::span<const RFC_ISO_DESC> packets,
                                     std::span<const uint8_t> out, uint32_t transfer_length);
  virtual std::vector<uint8_t> OnInterfaceDescriptor(uint8_t type, uint8_t index, uint16_t interface);
  // Called (lock held) on Attach, Detach and every configuration change.
  virtual void OnReset() {}
  void Halt(uint8_t endpoint);
  void Changed();  // lock held
  static UsbAnswer Stall();
  static UsbAnswer Gone();

  mutable std::mutex mutex_;

 private:
  UsbAnswer Standard(const UsbSetupPacket& setup, std::span<const uint8_t> out);
  std::vector<uint8_t> StringDescriptor(uint8_t index, uint16_t language) const;
  const UsbEndpoint* ActiveEndpoint(uint8_t address) const;
  void ResetStateLocked();

  const UsbDeviceLayout layout_;
  std::function<void()> changed_;
  uint8_t configuration_ = 0;
  std::vector<uint8_t> alternates_;  // per interface
  std::vector<uint8_t> halted_;      // endpoint addresses
  uint16_t device_status_ = 0;
  bool gone_ = false;
};

// The kinds of device a port can hold (key `usb_device` of a [device] section).
enum class UsbDeviceKind { kLoopback, kPrinter, kKeyboard, kComposite };
bool ParseUsbDeviceKind(const std::string& text, UsbDeviceKind* kind);
// The kind a port holds when none is given: printer for class 7, keyboard for class 3, composite for more
// than one interface, else loopback.
UsbDeviceKind DefaultUsbDeviceKind(const Device& device);

// A device for a port; printer jobs go to files under `folder`.
std::unique_ptr<VirtualUsbDevice> MakeVirtualUsbDevice(const Device& device, const std::string& folder);

// The loopback device: bulk 0x01 -> 0x81 echo, interrupt 0x02 -> 0x82 echo, isochronous OUT 0x03 and IN
// 0x83, bulk IN 0x84 that halts when asked for more than its 64-byte packet, vendor requests 0x01 (OUT:
// keep up to 256 bytes; IN: give them back).
class LoopbackDevice : public VirtualUsbDevice {
 public:
  static constexpr uint8_t kBulkOut = 0x01, kBulkIn = 0x81, kInterruptOut = 0x02, kInterruptIn = 0x82,
                           kIsoOut = 0x03, kIsoIn = 0x83, kStallIn = 0x84;
  static constexpr uint8_t kVendorScratch = 0x01;
  static constexpr size_t kEchoCapacity = 4 * 1024 * 1024;
  explicit LoopbackDevice(const Device& device);
  // Isochronous IN: packet i returns its whole length when i is even, half of it when odd; byte j of
  // packet i is (i * 16 + j) & 0xFF.
  static uint8_t IsoInByte(uint32_t packet, uint32_t index) { return static_cast<uint8_t>(packet * 16 + index); }
  std::vector<uint8_t> iso_out_received() const;  // the data of the last isochronous OUT transfer

 protected:
  UsbAnswer OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t> out) override;
  UsbAnswer OnTransfer(const UsbEndpoint& endpoint, std::span<const uint8_t> out, uint32_t in_length) override;
  UsbIsoAnswer OnIsochronous(const UsbEndpoint& endpoint, std::span<const RFC_ISO_DESC> packets,
                             std::span<const uint8_t> out, uint32_t transfer_length) override;
  void OnReset() override;

 private:
  std::vector<uint8_t> echo_;  // bulk FIFO
  size_t echo_head_ = 0;
  std::vector<std::vector<uint8_t>> interrupt_;  // interrupt messages
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> iso_out_;
};

// A printer: bulk OUT 0x01 writes the job (from the first data of a connection to its end) to its file,
// bulk IN 0x82 answers no data; class requests GET_DEVICE_ID (the IEEE 1284 identifier), GET_PORT_STATUS
// and SOFT_RESET.
class PrinterDevice : public VirtualUsbDevice {
 public:
  PrinterDevice(const Device& device, std::string file);
  ~PrinterDevice() override;
  const std::string& file() const { return file_; }
  std::string device_id() const { return device_id_; }
  int jobs() const;  // jobs finished

 protected:
  UsbAnswer OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t> out) override;
  UsbAnswer OnTransfer(const UsbEndpoint& endpoint, std::span<const uint8_t> out, uint32_t in_length) override;
  void OnReset() override;

 private:
  void EndJobLocked();
  const std::string file_;
  const std::string device_id_;
  std::FILE* job_ = nullptr;
  int jobs_ = 0;
};

// A boot keyboard: interrupt IN 0x81 gives 8-byte reports as keys are typed; the HID class requests.
class KeyboardDevice : public VirtualUsbDevice {
 public:
  explicit KeyboardDevice(const Device& device);
  // Queues the press and release reports of each character (letters, digits, space, newline).
  void Type(const std::string& text);
  void QueueReport(const std::vector<uint8_t>& report);
  uint8_t leds() const;
  static const std::vector<uint8_t>& ReportDescriptor();

 protected:
  UsbAnswer OnClassOrVendor(const UsbSetupPacket& setup, std::span<const uint8_t> out) override;
  UsbAnswer OnTransfer(const UsbEndpoint& endpoint, std::span<const uint8_t> out, uint32_t in_length) override;
  std::vector<uint8_t> OnInterfaceDescriptor(uint8_t type, uint8_t index, uint16_t interface) override;

 private:
  std::vector<std::vector<uint8_t>> reports_;
  size_t next_report_ = 0;
  uint8_t leds_ = 0;
  uint8_t idle_ = 0;
  uint8_t protocol_ = 1;
};

// Two interfaces: 0 a vendor bulk echo (0x01 -> 0x81); 1 with three alternate settings: 0 no endpoints,
// 1 interrupt IN 0x82 (8 bytes), 2 interrupt IN 0x82 (64 bytes) and bulk IN 0x83. The interrupt endpoint
// reports the alternate setting it serves: its reports are 8 or 64 bytes of that number.
class CompositeDevice : public VirtualUsbDevice {
 public:
  explicit CompositeDevice(const Device& device);

 protected:
  UsbAnswer OnTransfer(const UsbEndpoint& endpoint, std::span<const uint8_t> out, uint32_t in_length) override;
  void OnReset() override;

 private:
  std::vector<uint8_t> echo_;
};

}  // namespace zarnet::sim
