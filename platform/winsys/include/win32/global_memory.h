// Global memory blocks. A movable block does not move here: locking gives its address.
#pragma once
#include "win32/sync.h"
#include "win32/types.h"

using HGLOBAL = HANDLE;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// Null with ERROR_NOT_ENOUGH_MEMORY when it cannot be had.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// Null when freed; the block itself when it is not one (ERROR_INVALID_HANDLE).
HGLOBAL GlobalFree(HGLOBAL block);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
SIZE_T GlobalSize(HGLOBAL block);
