// File mappings backed by shared memory ("the paging file"): a named one is shared by every process of
// the sysroot and lives while some process holds a handle or a view of it. A view mapped for reading only
// is mapped without write access, so a write through it faults.
#pragma once
#include "win32/handle.h"
#include "win32/sync.h"
#include "win32/types.h"

// Page protections of CreateFileMapping.
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
// Access of OpenFileMapping and MapViewOfFile.
constexpr DWORD FILE_MAP_COPY = 0x0001;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

constexpr DWORD ERROR_INVALID_ADDRESS = 487;
constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;

// Only INVALID_HANDLE_VALUE as the file (ERROR_NOT_SUPPORTED otherwise). A name in use gives a handle to
// the same mapping, at its own size, with ERROR_ALREADY_EXISTS.
HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                         DWORD maximumSizeLow, LPCSTR name);
// ERROR_FILE_NOT_FOUND when no process holds a mapping of that name.
HANDLE OpenFileMapping(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
// FILE_MAP_WRITE needs a handle with write access (ERROR_ACCESS_DENIED). The offset is a multiple of the
// page size; 0 bytes maps the rest of the mapping.
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow,
                     SIZE_T numberOfBytesToMap);
BOOL UnmapViewOfFile(LPCVOID baseAddress);
