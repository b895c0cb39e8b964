// Access rights, share modes and file attributes, as user mode and the kernel share them.
#pragma once
#include "wincommon/types.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD FILE_READ_DATA = 0x0001;
constexpr DWORD FILE_WRITE_DATA = 0x0002;
constexpr DWORD FILE_APPEND_DATA = 0x0004;

// Share modes (accepted; files are not locked against other openers).
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

// Attributes. READONLY and DIRECTORY are kept; a plain file reports ARCHIVE as a fresh file does on Windows.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x800;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Rights on events (accepted; every handle may wait, set and reset).
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;

