// A registry hive file as it may be found on disk: any bytes must parse within the depth bound, and what
// is taken from them must be written out and read back the same.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "win32/registry_hive.h"

namespace hive = tavrin::registry::hive;

namespace {

size_t Depth(const hive::Key& root) {
  size_t deepest = 0;
  struct Frame {
    const hive::Key* key;
    size_t depth;
  };
  std::vector<Frame> stack{{&root, 0}};
  while (!stack.empty()) {
    Frame frame = stack.back();
    stack.pop_back();
    deepest = std::max(deepest, frame.depth);
    for (const auto& entry : frame.key->subkeys) stack.push_back({entry.second.get(), frame.depth + 1});
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hive::Parsed parsed = hive::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (Depth(parsed.root) > hive::kMaxDepth) __builtin_trap();
  const std::string written = hive::Serialize(parsed.root, 0x0123456789ABCDEF);
  hive::Parsed again = hive::Parse(written);
  if (again.state != hive::Parsed::State::kGood || again.stamp != 0x0123456789ABCDEF) __builtin_trap();
  if (hive::Serialize(again.root, 0x0123456789ABCDEF) != written) __builtin_trap();
  return 0;
}
