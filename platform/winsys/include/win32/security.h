// The few process-security and shut-down calls of the program: enabling a privilege of the process token
// and restarting the machine. This system has no per-process security: OpenProcessToken answers
// ERROR_CALL_NOT_IMPLEMENTED, as Windows does without security. A restart is never carried out here: it
// is recorded, so that the programs and their tests see that it was asked for.
#pragma once
#include "win32/types.h"

constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
constexpr UINT EWX_LOGOFF = 0x00000000;
constexpr UINT EWX_SHUTDOWN = 0x00000001;
constexpr UINT EWX_REBOOT = 0x00000002;
constexpr UINT EWX_FORCE = 0x00000004;

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);
HANDLE GetCurrentProcess();
BOOL LookupPrivilegeValue(LPCSTR systemName, LPCSTR name, LUID* luid);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState, DWORD bufferLength,
                           TOKEN_PRIVILEGES* previousState, DWORD* returnLength);
BOOL ExitWindowsEx(UINT flags, DWORD reason);

namespace tavrin::shutdown {

// The restarts asked for by this process: how many, and the last one.
struct Request {
  UINT flags;
  DWORD reason;
};
int RequestCount();
Request LastRequest();

}  // namespace tavrin::shutdown
