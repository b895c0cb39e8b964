// What a program of this Mac reads through a device nub of the kernel driver: the device descriptor of
// the first connected device, by a control transfer (GET_DESCRIPTOR) through the nub's user client.
#pragma once
#include <cstdint>
#include <vector>

namespace tavrinmac {

// The 18 bytes of the descriptor; empty when no device is connected or the transfer failed.
std::vector<uint8_t> ReadDescriptorThroughTheNub();

}  // namespace tavrinmac
