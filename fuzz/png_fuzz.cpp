// PNG files read back as surfaces (screenshots, pictures): any bytes must give a surface or a refusal.
#include <cstddef>
#include <cstdint>

#include "draw/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto surface = tavrin::draw::DecodePng(data, size, 1u << 20);
  if (surface && (surface->width() <= 0 || surface->height() <= 0)) __builtin_trap();
  return 0;
}
