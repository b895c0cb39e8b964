// The simulator's configuration text: any bytes must parse or be refused with a line number, never more.
#include <cstdint>
#include <string>
#include <string_view>

#include "zarnet/sim/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto config = zarnet::sim::ParseConfig(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  if (!config && error.rfind("line ", 0) != 0) __builtin_trap();
  if (config && !error.empty()) __builtin_trap();
  return 0;
}
