// The system's version: Windows XP (NT 5.1, service pack 2) unless TAVRIN_WINDOWS_VERSION says otherwise
// ("major.minor" or "major.minor.platform", e.g. "4.10.1" for a Windows 98), or a test sets one.
#pragma once
#include "win32/types.h"

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFO {
  DWORD dwOSVersionInfoSize;  // 148
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
using LPOSVERSIONINFO = OSVERSIONINFO*;
static_assert(sizeof(OSVERSIONINFO) == 148);

struct OSVERSIONINFOEX {
  DWORD dwOSVersionInfoSize;  // 156
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEX) == 156);

// Fills the record of the size its first field names (148 or 156); ERROR_INSUFFICIENT_BUFFER otherwise.
BOOL GetVersionEx(LPOSVERSIONINFO lpVersionInformation);
// The version in one word: major in the low byte, minor in the next; the high word is the build number on
// the NT family, and has its high bit set elsewhere.
DWORD GetVersion();

namespace tavrin::os {
// Overrides the answered version in this process; major 0 goes back to the default.
void SetVersionForTest(DWORD major, DWORD minor, DWORD platformId);
}  // namespace tavrin::os
