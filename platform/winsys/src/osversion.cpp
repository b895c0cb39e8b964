#include "win32/osversion.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32/sync.h"

namespace {

std::atomic<DWORD> g_major{0}, g_minor{0}, g_platform{0};

void Answered(DWORD* major, DWORD* minor, DWORD* platform) {
  *major = 5, *minor = 1, *platform = VER_PLATFORM_WIN32_NT;
  if (g_major) {
    *major = g_major, *minor = g_minor, *platform = g_platform;
    return;
  }
  if (const char* text = std::getenv("TAVRIN_WINDOWS_VERSION")) {
    unsigned a = 0, b = 0, c = VER_PLATFORM_WIN32_NT;
    if (std::sscanf(text, "%u.%u.%u", &a, &b, &c) >= 2 && a) *major = a, *minor = b, *platform = c;
  }
}

}  // namespace

BOOL GetVersionEx(LPOSVERSIONINFO info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFO) && size != sizeof(OSVERSIONINFOEX)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
  Answered(&info->dwMajorVersion, &info->dwMinorVersion, &info->dwPlatformId);
  info->dwBuildNumber = info->dwPlatformId == VER_PLATFORM_WIN32_NT ? 2600 : 2222;
  std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%s",
                info->dwPlatformId == VER_PLATFORM_WIN32_NT ? "Service Pack 2" : "");
  if (size == sizeof(OSVERSIONINFOEX)) {
    auto* ex = reinterpret_cast<OSVERSIONINFOEX*>(info);
    ex->wServicePackMajor = info->dwPlatformId == VER_PLATFORM_WIN32_NT ? 2 : 0;
    ex->wProductType = 1;  // a workstation
  }
  return TRUE;
}

DWORD GetVersion() {
  DWORD major, minor, platform;
  Answered(&major, &minor, &platform);
  const DWORD version = (major & 0xFF) | (minor & 0xFF) << 8;
  return platform == VER_PLATFORM_WIN32_NT ? version | 2600u << 16 : version | 0x80000000u;
}

namespace tavrin::os {
void SetVersionForTest(DWORD major, DWORD minor, DWORD platformId) {
  g_major = 0;
  g_minor = minor;
  g_platform = platformId;
  g_major = major;
}
}  // namespace tavrin::os
