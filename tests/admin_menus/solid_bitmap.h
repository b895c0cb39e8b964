// A bitmap resource's bytes for the menu tests: a 24-bit picture in one grey, header and rows.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace menu_test {

inline std::vector<uint8_t> SolidBitmap(int width, int height, uint8_t grey) {
  const int stride = width * 3;
  std::vector<uint8_t> bytes(40 + stride * height, grey);
  std::fill(bytes.begin(), bytes.begin() + 40, 0);
  const uint32_t header[3] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  std::memcpy(bytes.data(), header, sizeof header);
  const uint16_t planesAndBits[2] = {1, 24};
  std::memcpy(bytes.data() + 12, planesAndBits, sizeof planesAndBits);
  return bytes;
}

}  // namespace menu_test
