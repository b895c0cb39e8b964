// Server discovery on UDP port 1341: the computer sends DISCOVERY_REQUEST (to the broadcast address),
// each server answers the sender's address and port with one DISCOVERY_REPLY of at most 30 bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zarnet {

#pragma pack(push, 1)
// Exactly the six ASCII bytes "Tavrin", no terminating zero.
struct DISCOVERY_REQUEST {
  char signature[6];
};

// A reply at its largest; a server sends 11 bytes plus its name.
struct DISCOVERY_REPLY {
  uint8_t model;        // 0 and 1 are the two known models
  uint8_t mac[6];       // first byte first
  uint8_t locked;       // 1 = password-locked
  uint8_t fw_major;
  uint8_t fw_minor;
  uint8_t name_length;  // n
  char name[19];        // n bytes, no terminating zero
};
#pragma pack(pop)
static_assert(sizeof(DISCOVERY_REQUEST) == 6);
static_assert(sizeof(DISCOVERY_REPLY) == 30);

inline constexpr char kDiscoverySignature[] = "Tavrin";
inline constexpr size_t kDiscoveryRequestSize = 6;
inline constexpr size_t kDiscoveryReplyMaxSize = 30;
inline constexpr size_t kDiscoveryReplyNameOffset = 11;
inline constexpr size_t kDiscoveryReplyMaxName = kDiscoveryReplyMaxSize - kDiscoveryReplyNameOffset;

// The fields of a reply, in host form.
struct DiscoveryInfo {
  uint8_t model = 0;
  std::array<uint8_t, 6> mac{};
  bool locked = false;
  uint8_t fw_major = 0;
  uint8_t fw_minor = 0;
  std::string name;
};

std::vector<uint8_t> EncodeDiscoveryRequest();
bool IsDiscoveryRequest(std::span<const uint8_t> datagram);

// 11 bytes plus the name, cut to 19 bytes so that the reply stays within 30.
std::vector<uint8_t> EncodeDiscoveryReply(const DiscoveryInfo& info);
// Reads a received reply: none when it is longer than 30 bytes; fields that it does not carry read as
// zero, and the name holds only bytes that arrived.
std::optional<DiscoveryInfo> DecodeDiscoveryReply(std::span<const uint8_t> datagram);

}  // namespace zarnet
