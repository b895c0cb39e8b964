#include "admin/util/FindPattern.h"

#include <string_view>

#include "zarnet/command.h"

const BYTE* FindPattern(const BYTE* buf, DWORD len, const BYTE* pat, DWORD patLen) {
  if (buf == nullptr || pat == nullptr || patLen > len) return nullptr;
  if (patLen == 0) return buf;  // the empty pattern occurs at the start
  // The protocol's tag search is this very comparison (ASCII letters without case, other bytes as they are).
  size_t at = zarnet::FindTag(std::string_view(reinterpret_cast<const char*>(buf), len),
                              std::string_view(reinterpret_cast<const char*>(pat), patLen));
  return at == std::string_view::npos ? nullptr : buf + at;
}
