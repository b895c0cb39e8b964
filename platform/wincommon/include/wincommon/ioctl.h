// I/O control codes, as a program and the driver it talks to share them.
#pragma once
#include "wincommon/guid.h"
#include "wincommon/types.h"

using DEVICE_TYPE = ULONG;
constexpr DWORD CTL_CODE(DWORD deviceType, DWORD function, DWORD method, DWORD access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr DWORD METHOD_BUFFERED = 0;
constexpr DWORD METHOD_IN_DIRECT = 1;
constexpr DWORD METHOD_OUT_DIRECT = 2;
constexpr DWORD METHOD_NEITHER = 3;
constexpr DWORD FILE_ANY_ACCESS = 0;
constexpr DWORD FILE_READ_ACCESS = 1;
constexpr DWORD FILE_WRITE_ACCESS = 2;
constexpr DEVICE_TYPE FILE_DEVICE_BUS_EXTENDER = 0x2A;
constexpr DEVICE_TYPE FILE_DEVICE_UNKNOWN = 0x22;
constexpr DWORD METHOD_FROM_CTL_CODE(DWORD code) { return code & 3; }
