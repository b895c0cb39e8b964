// The servers' device-list broadcasts on UDP port 6000: one SERVER_DEVICE_LIST header followed by one
// 14-byte __dev_info__ per USB device. All numbers little-endian, records packed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zarnet {

#pragma pack(push, 1)
struct SERVER_DEVICE_LIST {
  uint32_t infolen;    // length of the whole datagram, this header included
  uint32_t server_id;  // the server's own identifier, never changing
  // __dev_info__ entries follow: (infolen - 8) / 14 of them
};

struct __dev_info__ {
  uint8_t cid[3];    // class, subclass, protocol
  uint16_t rev;      // device release number
  uint16_t pid;
  uint16_t vid;
  uint8_t b_f;       // busy: nonzero while some computer holds the device
  uint16_t portnum;  // the server's USB port of the device
  uint8_t speed;
  uint8_t numINT;    // number of interfaces; above 1 a composite device
};
#pragma pack(pop)
static_assert(sizeof(SERVER_DEVICE_LIST) == 8);
static_assert(sizeof(__dev_info__) == 14);

inline constexpr size_t kDeviceListHeaderSize = sizeof(SERVER_DEVICE_LIST);
inline constexpr size_t kDevInfoSize = sizeof(__dev_info__);
// The receiver's buffer, and so the most entries one datagram carries.
inline constexpr size_t kDeviceListBufferSize = 1024;
inline constexpr size_t kMaxDevicesPerList = (kDeviceListBufferSize - kDeviceListHeaderSize) / kDevInfoSize;

void EncodeDevInfo(const __dev_info__& device, uint8_t* out);  // writes kDevInfoSize bytes
__dev_info__ DecodeDevInfo(const uint8_t* in);                 // reads kDevInfoSize bytes

// One datagram listing the devices; more than kMaxDevicesPerList are not sent.
std::vector<uint8_t> EncodeServerDeviceList(uint32_t server_id, std::span<const __dev_info__> devices);

struct DeviceListView {
  uint32_t infolen = 0;
  uint32_t server_id = 0;
  std::vector<__dev_info__> devices;
  bool cut = false;  // infolen named more entries than arrived
};
// Reads a received datagram: none when it is shorter than the header or its infolen is below 8; the
// entries are those that infolen names and that arrived whole.
std::optional<DeviceListView> DecodeServerDeviceList(std::span<const uint8_t> datagram);

}  // namespace zarnet
