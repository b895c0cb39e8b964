// PNG files of surfaces (8-bit RGB out; RGB, RGBA, grey and palette images in).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "draw/surface.h"

namespace tavrin::draw {

// Opaque RGB; alpha is not written.
bool EncodePng(const Surface& surface, std::vector<uint8_t>& out);
bool WritePngFile(const Surface& surface, const std::string& path);
// Refuses damaged data and pictures larger than maxPixels. Decoded pixels have alpha 0xFF where the
// file has none.
std::optional<Surface> DecodePng(const uint8_t* data, size_t size, size_t maxPixels = 64u << 20);
std::optional<Surface> ReadPngFile(const std::string& path, size_t maxPixels = 64u << 20);

}  // namespace tavrin::draw
