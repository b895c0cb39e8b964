#include "zarnet/discovery.h"

#include <algorithm>
#include <cstring>

namespace zarnet {

std::vector<uint8_t> EncodeDiscoveryRequest() {
  return std::vector<uint8_t>(kDiscoverySignature, kDiscoverySignature + kDiscoveryRequestSize);
}

bool IsDiscoveryRequest(std::span<const uint8_t> datagram) {
  return datagram.size() == kDiscoveryRequestSize &&
         std::memcmp(datagram.data(), kDiscoverySignature, kDiscoveryRequestSize) == 0;
}

std::vector<uint8_t> EncodeDiscoveryReply(const DiscoveryInfo& info) {
  size_t name_length = std::min(info.name.size(), kDiscoveryReplyMaxName);
  std::vector<uint8_t> out(kDiscoveryReplyNameOffset + name_length);
  out[0] = info.model;
  std::copy(info.mac.begin(), info.mac.end(), out.begin() + 1);
  out[7] = info.locked ? 1 : 0;
  out[8] = info.fw_major;
  out[9] = info.fw_minor;
  out[10] = static_cast<uint8_t>(name_length);
  std::memcpy(out.data() + kDiscoveryReplyNameOffset, info.name.data(), name_length);
  return out;
}

std::optional<DiscoveryInfo> DecodeDiscoveryReply(std::span<const uint8_t> datagram) {
  if (datagram.size() > kDiscoveryReplyMaxSize) return std::nullopt;
  uint8_t bytes[kDiscoveryReplyMaxSize] = {};
  std::memcpy(bytes, datagram.data(), datagram.size());
  DiscoveryInfo info;
  info.model = bytes[0];
  std::copy(bytes + 1, bytes + 7, info.mac.begin());
  info.locked = bytes[7] == 1;
  info.fw_major = bytes[8];
  info.fw_minor = bytes[9];
  size_t present = datagram.size() > kDiscoveryReplyNameOffset ? datagram.size() - kDiscoveryReplyNameOffset : 0;
  size_t name_length = std::min<size_t>(bytes[10], present);
  info.name.assign(reinterpret_cast<const char*>(bytes + kDiscoveryReplyNameOffset), name_length);
  return info;
}

}  // namespace zarnet
