// A root driver that offers both driver-link interfaces and answers with sizes a sound driver never gives,
// so the links' checks of answer sizes can be exercised.
#pragma once
#include <atomic>

#include "wdk/wdm.h"

namespace lying_driver {

inline constexpr char kHardwareId[] = "root\\liar";

enum class Mode {
  AsksForLessThanTheRecord,  // STATUS_BUFFER_TOO_SMALL naming 8 bytes
  AsksForHugeBuffer,         // STATUS_BUFFER_TOO_SMALL naming 0x7FFFFFFF bytes
  ShortAnswer,               // success with 10 bytes
  AsksForMoreOnce,           // STATUS_BUFFER_TOO_SMALL naming 100 bytes, then a sound 100-byte answer
  CountNotWritten,           // GET_DEVCOUNT: success, nothing returned
  CountTooLarge,             // GET_DEVCOUNT: count 0xFFFFFFFF
  ListCountGrows,            // GET_DEVCOUNT: count 3, then a list that claims 50 entries
};
extern std::atomic<Mode> g_mode;

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

}  // namespace lying_driver
