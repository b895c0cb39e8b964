// The Mac side's reading of a received device list: only whole entries within what arrived.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PelkoFramework/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the bytes received, so that the sanitizer sees any read beyond them.
  std::vector<uint8_t> datagram(data, data + size);
  int count = DeviceListEntryCount(datagram.data(), static_cast<long>(datagram.size()));
  if (count < 0 || (count > 0 && 8 + static_cast<size_t>(count) * sizeof(__dev_info__) > datagram.size()))
    __builtin_trap();
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) {
    __dev_info__ entry;
    memcpy(&entry, datagram.data() + 8 + i * sizeof entry, sizeof entry);
    sum += entry.portnum + entry.vid;
  }
  return static_cast<int>(sum & 0);
}
