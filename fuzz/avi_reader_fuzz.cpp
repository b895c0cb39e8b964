// The AVI reader takes any bytes: a clip it accepts decodes every frame within the data.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "win32/avi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  tavrin::avi::Clip clip;
  if (!tavrin::avi::Parse(bytes, clip)) return 0;
  std::vector<uint32_t> pixels;
  for (size_t i = 0; i < clip.frames.size() && i < 4; ++i) tavrin::avi::DecodeFrame(bytes, clip, i, pixels);
  return 0;
}
