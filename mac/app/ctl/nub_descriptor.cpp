#include "nub_descriptor.h"

#include "cocoa/IOKitLib.h"
#include "quorvel/quorvelNHCI.h"

namespace tavrinmac {

std::vector<uint8_t> ReadDescriptorThroughTheNub() {
  mach_port_t master = 0;
  IOMasterPort(MACH_PORT_NULL, &master);
  io_iterator_t iterator = 0;
  IOServiceGetMatchingServices(master, IOServiceMatching(quorvel::kNubClass), &iterator);
  io_service_t service = IOIteratorNext(iterator);
  IOObjectRelease(iterator);
  if (!service) return {};
  io_connect_t nub = 0;
  IOReturn opened = IOServiceOpen(service, mach_task_self(), 0, &nub);
  IOObjectRelease(service);
  if (opened != kIOReturnSuccess) return {};
  std::vector<uint8_t> setup = {0x80, 6, 0x00, 0x01, 0, 0, 18, 0};  // GET_DESCRIPTOR device, 18 bytes
  std::vector<uint8_t> out(18);
  IOByteCount size = out.size();
  IOReturn result = IOConnectMethodStructureIStructureO(nub, quorvel::kNubDeviceRequest,
                                                        static_cast<IOItemCount>(setup.size()), &size, setup.data(),
                                                        out.data());
  IOServiceClose(nub);
  if (result != kIOReturnSuccess) return {};
  out.resize(size);
  return out;
}

}  // namespace tavrinmac
