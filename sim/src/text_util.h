// Reading numbers and names of the simulator's text settings.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace zarnet::sim::text {

// Decimal, or hexadecimal after "0x"; the whole text must be the number and at most max.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* out);
bool ParseBool(std::string_view text, bool* out);  // 1/0, yes/no, true/false, on/off
std::string_view Trim(std::string_view text);

template <class T>
bool ParseAs(std::string_view text, T* out, uint64_t max = static_cast<uint64_t>(static_cast<T>(~T{}))) {
  uint64_t value;
  if (!ParseNumber(text, max, &value)) return false;
  *out = static_cast<T>(value);
  return true;
}

}  // namespace zarnet::sim::text
