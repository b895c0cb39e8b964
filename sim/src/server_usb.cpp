// The USB data of a claimed connection: the port's virtual device answers it.
#include "server_core.h"
#include "zarnet/sim/usb_session.h"

namespace zarnet::sim {

std::shared_ptr<VirtualUsbDevice> ServerCore::UsbDevice(uint16_t port) {
  std::lock_guard lock(mutex_);
  if (auto it = usb_devices_.find(port); it != usb_devices_.end()) return it->second;
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.port == port; });
  if (it == devices_.end()) return nullptr;
  std::shared_ptr<VirtualUsbDevice> device = MakeVirtualUsbDevice(*it, factory_.folder);
  usb_devices_[port] = device;
  return device;
}

std::vector<Fault> ServerCore::TakeUsbFaults(uint32_t response_command) {
  return TakeFaults([response_command](const Fault& f) {
    return f.target == FaultTarget::kUsb && (f.command == 0 || f.command == response_command);
  });
}

void ServerCore::ServeUsbData(const DataSession& session) {
  std::shared_ptr<VirtualUsbDevice> device = UsbDevice(session.device.port);
  if (!device) return;  // unplugged between the claim and now: the connection ends
  UsbSessionOptions options;
  options.log = [this, port = session.device.port](const std::string& line) {
    Log("port " + std::to_string(port) + ": " + line);
  };
  options.faults = [this](uint32_t command) { return TakeUsbFaults(command); };
  ServeUsbDataSession(session, *device, options);
}

}  // namespace zarnet::sim
