// The text of a system error code: FormatMessage (FORMAT_MESSAGE_FROM_SYSTEM) and LocalFree.
#pragma once
#include <cstdarg>

#include "win32/types.h"

using HLOCAL = void*;

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Only FORMAT_MESSAGE_FROM_SYSTEM is served. With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer is really an
// LPSTR* that receives a LocalAlloc'ed text (free it with LocalFree); else the text is copied into lpBuffer
// of nSize characters. Returns the text's length without its NUL, 0 on failure (GetLastError tells).
DWORD FormatMessage(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                    DWORD nSize, va_list* arguments);
HLOCAL LocalAlloc(UINT uFlags, size_t uBytes);
HLOCAL LocalFree(HLOCAL hMem);
