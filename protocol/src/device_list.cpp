#include "zarnet/device_list.h"

#include <algorithm>

#include "zarnet/wire.h"

namespace zarnet {

void EncodeDevInfo(const __dev_info__& device, uint8_t* out) {
  out[0] = device.cid[0];
  out[1] = device.cid[1];
  out[2] = device.cid[2];
  wire::StoreLe16(out + 3, device.rev);
  wire::StoreLe16(out + 5, device.pid);
  wire::StoreLe16(out + 7, device.vid);
  out[9] = device.b_f;
  wire::StoreLe16(out + 10, device.portnum);
  out[12] = device.speed;
  out[13] = device.numINT;
}

__dev_info__ DecodeDevInfo(const uint8_t* in) {
  __dev_info__ device{};
  device.cid[0] = in[0];
  device.cid[1] = in[1];
  device.cid[2] = in[2];
  device.rev = wire::LoadLe16(in + 3);
  device.pid = wire::LoadLe16(in + 5);
  device.vid = wire::LoadLe16(in + 7);
  device.b_f = in[9];
  device.portnum = wire::LoadLe16(in + 10);
  device.speed = in[12];
  device.numINT = in[13];
  return device;
}

std::vector<uint8_t> EncodeServerDeviceList(uint32_t server_id, std::span<const __dev_info__> devices) {
  size_t count = std::min(devices.size(), kMaxDevicesPerList);
  std::vector<uint8_t> out(kDeviceListHeaderSize + count * kDevInfoSize);
  wire::StoreLe32(out.data(), static_cast<uint32_t>(out.size()));
  wire::StoreLe32(out.data() + 4, server_id);
  for (size_t i = 0; i < count; ++i) EncodeDevInfo(devices[i], out.data() + kDeviceListHeaderSize + i * kDevInfoSize);
  return out;
}

std::optional<DeviceListView> DecodeServerDeviceList(std::span<const uint8_t> datagram) {
  if (datagram.size() < kDeviceListHeaderSize) return std::nullopt;
  DeviceListView view;
  view.infolen = wire::LoadLe32(datagram.data());
  view.server_id = wire::LoadLe32(datagram.data() + 4);
  if (view.infolen < kDeviceListHeaderSize) return std::nullopt;
  size_t named = (view.infolen - kDeviceListHeaderSize) / kDevInfoSize;
  size_t arrived = (datagram.size() - kDeviceListHeaderSize) / kDevInfoSize;
  size_t count = std::min(named, arrived);
  view.cut = count < named;
  view.devices.reserve(count);
  for (size_t i = 0; i < count; ++i)
    view.devices.push_back(DecodeDevInfo(datagram.data() + kDeviceListHeaderSize + i * kDevInfoSize));
  return view;
}

}  // namespace zarnet
