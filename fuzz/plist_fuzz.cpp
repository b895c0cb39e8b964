// A preferences file as it may be found on disk: any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cocoa/CoreFoundation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const long before = cocoa::LiveObjectCount();
  std::string text(reinterpret_cast<const char*>(data), size);
  CFPropertyListRef value = cocoa::ReadPropertyList(text);
  if (value) {
    // What was read writes back and reads again to an equal value.
    CFPropertyListRef again = cocoa::ReadPropertyList(cocoa::WritePropertyList(value));
    if (!again || !CFEqual(value, again)) __builtin_trap();
    CFRelease(again);
    CFRelease(value);
  }
  if (cocoa::LiveObjectCount() != before) __builtin_trap();  // nothing kept, nothing freed twice
  return 0;
}
