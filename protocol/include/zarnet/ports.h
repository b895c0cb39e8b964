// Well-known ports of the servers' services.
#pragma once
#include <cstdint>

namespace zarnet {

inline constexpr uint16_t kDiscoveryPort = 1341;   // UDP: DISCOVERY_REQUEST / DISCOVERY_REPLY
inline constexpr uint16_t kCommandPort = 1341;     // TCP: the command protocol
inline constexpr uint16_t kDeviceListPort = 6000;  // UDP: SERVER_DEVICE_LIST broadcasts
inline constexpr uint16_t kDataPort = 3240;        // TCP: device data
inline constexpr const char* kBroadcastAddress = "255.255.255.255";

}  // namespace zarnet
