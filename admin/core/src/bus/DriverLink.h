// What CBus and CBusEnum do alike: open the first interface of a class, fetch one queued answer.
#pragma once
#include <cstddef>

#include "win32/setupapi.h"
#include "win32/types.h"

namespace driver_link {

struct OpenTexts {
  const char* notRegistered;  // "Error:Interface ... is not registered\n"
  const char* opened;         // "Bus interface opened!!!\n"
};

// The opening algorithm of both links: *devInfo keeps the set (also after a later failure), *detail and
// *device are set only on success.
BOOL OpenFirstInterface(const GUID& interfaceClass, const OpenTexts& texts, HDEVINFO* devInfo,
                        PSP_DEVICE_INTERFACE_DETAIL_DATA* detail, HANDLE* device);
// Releases what OpenFirstInterface left, without trace lines.
void ReleaseInterface(HDEVINFO* devInfo, PSP_DEVICE_INTERFACE_DETAIL_DATA* detail, HANDLE* device);

// Sends `code` with a fresh buffer of `size` bytes as input and output and hands the buffer to *out in every
// case. A driver that asks for a bigger buffer gets one resend with the size it named (within bounds); the
// buffer handed out is never shorter than `size` and zeroed past what the driver wrote.
BOOL FetchAnswer(HANDLE device, DWORD code, DWORD size, const char* failedFormat, void** out);

// Error code for a driver answer that is shorter than its record.
constexpr DWORD kErrorInvalidData = 13;

}  // namespace driver_link
