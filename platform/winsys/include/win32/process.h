// Processes. A program image in the sysroot (e.g. C:\WINDOWS\TftpServer.exe) is an installed Linux
// program; CreateProcess runs it with the caller's environment, and the child's GetCommandLine is exactly
// the command line it was given. A process handle is signalled when the process ends and works in every
// wait function; so does its thread handle (the process's main thread).
#pragma once
#include "win32/handle.h"
#include "win32/sync.h"
#include "win32/types.h"

// Creation flags. CREATE_NEW_PROCESS_GROUP makes the child lead a process group of its own, so a
// terminal's interrupt meant for the parent does not reach it. The console and priority flags are
// accepted and mean nothing here; CREATE_SUSPENDED is refused (ERROR_NOT_SUPPORTED).
constexpr DWORD DEBUG_PROCESS = 0x00000001;
constexpr DWORD DETACHED_PROCESS = 0x00000008;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x00000200;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;

constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;

struct STARTUPINFO {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFO = STARTUPINFO*;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

// The image is `applicationName` or, without one, the first (optionally quoted) word of `commandLine`;
// a bare file name is looked for in the Windows and system directories, ".exe" added when missing.
// The Linux program gets the image path as argv[0] and the words of the command line (without the
// image's word when it named the image). ERROR_FILE_NOT_FOUND when there is no such image,
// ERROR_ACCESS_DENIED or ERROR_BAD_EXE_FORMAT when it cannot run. `environment` ("NAME=value\0...\0")
// replaces the caller's environment; `currentDirectory` is a Windows-form path.
BOOL CreateProcess(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                   LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFO startupInfo,
                   LPPROCESS_INFORMATION processInformation);
// STILL_ACTIVE while the process runs, then its exit status; a process ended by a signal gives 128 + the
// signal number.
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
DWORD GetProcessId(HANDLE process);
// Ends the process (SIGKILL); its exit code becomes `exitCode`. GetCurrentProcess() ends the caller at once
// (its exit code is that of SIGKILL).
BOOL TerminateProcess(HANDLE process, UINT exitCode);

// The line this process was started with by CreateProcess; for a process started otherwise, its
// arguments joined by blanks (quoted where they hold blanks).
LPSTR GetCommandLine();

// "windir" and "SystemRoot" (any case) are the Windows directory, "C:\WINDOWS"; other names are looked
// up in the process's environment, ignoring case. The length without the NUL, or the size needed with
// the NUL when the buffer is too small; 0 with ERROR_ENVVAR_NOT_FOUND when not set.
DWORD GetEnvironmentVariable(LPCSTR name, LPSTR buffer, DWORD size);
