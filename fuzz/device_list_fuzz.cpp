// A device-list datagram as it may arrive on the broadcast port: any bytes, any length, any infolen.
#include <cstdint>
#include <cstring>
#include <span>

#include "zarnet/device_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The listener's buffer holds 1024 bytes; a longer datagram arrives cut to it.
  if (size > zarnet::kDeviceListBufferSize) size = zarnet::kDeviceListBufferSize;
  // An exact copy, so that a read past the bytes received is caught.
  uint8_t* received = new uint8_t[size ? size : 1];
  if (size) memcpy(received, data, size);
  std::optional<zarnet::DeviceListView> list = zarnet::DecodeServerDeviceList(std::span<const uint8_t>(received, size));
  if (list) {
    if (size < zarnet::kDeviceListHeaderSize || list->infolen < zarnet::kDeviceListHeaderSize) __builtin_trap();
    const size_t named = (list->infolen - zarnet::kDeviceListHeaderSize) / zarnet::kDevInfoSize;
    const size_t arrived = (size - zarnet::kDeviceListHeaderSize) / zarnet::kDevInfoSize;
    if (list->devices.size() > named || list->devices.size() > arrived) __builtin_trap();
    if (list->devices.size() > zarnet::kMaxDevicesPerList) __builtin_trap();
    if (list->cut != (list->devices.size() < named)) __builtin_trap();
    // The entries are the bytes as they came.
    for (size_t i = 0; i < list->devices.size(); ++i) {
      uint8_t again[zarnet::kDevInfoSize];
      zarnet::EncodeDevInfo(list->devices[i], again);
      if (memcmp(again, received + zarnet::kDeviceListHeaderSize + i * zarnet::kDevInfoSize, sizeof again) != 0)
        __builtin_trap();
    }
  } else if (size >= zarnet::kDeviceListHeaderSize) {
    uint32_t infolen;
    memcpy(&infolen, received, sizeof infolen);
    if (infolen >= zarnet::kDeviceListHeaderSize) __builtin_trap();
  }
  delete[] received;
  return 0;
}
