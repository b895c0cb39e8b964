// The program's resources in their Windows byte layouts: a registry that each program fills once at
// start-up from the tables the resource compiler (tools/rescomp) generates from text manifests, and the
// calls that read it (FindResource and friends, LoadString, LoadBitmap, LoadAccelerators, the version
// block).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "win32/gdi.h"
#include "win32/user.h"
#include "win32/version.h"

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = HANDLE;
struct HACCEL__;
using HACCEL = HACCEL__*;
using PUINT = UINT*;

inline LPCSTR MAKEINTRESOURCE(WORD id) { return reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(id)); }

// Resource types.
constexpr WORD kRtCursor = 1, kRtBitmap = 2, kRtIcon = 3, kRtMenu = 4, kRtDialog = 5, kRtString = 6,
               kRtAccelerator = 9, kRtGroupCursor = 12, kRtGroupIcon = 14, kRtVersion = 16, kRtToolbar = 241;
inline const LPCSTR RT_CURSOR = MAKEINTRESOURCE(kRtCursor);
inline const LPCSTR RT_BITMAP = MAKEINTRESOURCE(kRtBitmap);
inline const LPCSTR RT_ICON = MAKEINTRESOURCE(kRtIcon);
inline const LPCSTR RT_MENU = MAKEINTRESOURCE(kRtMenu);
inline const LPCSTR RT_DIALOG = MAKEINTRESOURCE(kRtDialog);
inline const LPCSTR RT_STRING = MAKEINTRESOURCE(kRtString);
inline const LPCSTR RT_ACCELERATOR = MAKEINTRESOURCE(kRtAccelerator);
inline const LPCSTR RT_GROUP_CURSOR = MAKEINTRESOURCE(kRtGroupCursor);
inline const LPCSTR RT_GROUP_ICON = MAKEINTRESOURCE(kRtGroupIcon);
inline const LPCSTR RT_VERSION = MAKEINTRESOURCE(kRtVersion);
inline const LPCSTR RT_TOOLBAR = MAKEINTRESOURCE(kRtToolbar);
// The named type "AVI" (animation clips) is kept in the tables under this number.
constexpr WORD kRtNamedAvi = 0x8001;

constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// Names are numbers (MAKEINTRESOURCE), "#123", or text (case ignored). The module is ignored: a program
// has one resource table.
HRSRC FindResource(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL data);

// The string of a string-table resource (16 strings a block); the copied length, 0 when there is none.
int LoadString(HINSTANCE instance, UINT id, LPSTR buffer, int bufferSize);
// A bitmap resource (a packed DIB) as a DIB section of its own size and depth.
HBITMAP LoadBitmap(HINSTANCE instance, LPCSTR name);

// Icons: RT_GROUP_ICON directories (GRPICONDIR, 14-byte entries) naming RT_ICON images (a DIB of double
// height, colour rows then the AND mask). The entry nearest the asked size is taken (32 x 32 by default).
HICON LoadIcon(HINSTANCE instance, LPCSTR name);
constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT LR_DEFAULTCOLOR = 0x0000;
constexpr UINT LR_DEFAULTSIZE = 0x0040;
constexpr UINT LR_CREATEDIBSECTION = 0x2000;
constexpr UINT LR_SHARED = 0x8000;
// Bitmaps (always DIB sections here) and icons of the program's resources.
HANDLE LoadImage(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);

// Accelerator tables: ACCEL records; TranslateAccelerator turns a matching WM_KEYDOWN/WM_SYSKEYDOWN into
// WM_COMMAND (HIWORD 1) sent to the window.
constexpr BYTE FVIRTKEY = 0x01;
constexpr BYTE FNOINVERT = 0x02;
constexpr BYTE FSHIFT = 0x04;
constexpr BYTE FCONTROL = 0x08;
constexpr BYTE FALT = 0x10;
struct ACCEL {
  BYTE fVirt;
  WORD key;
  WORD cmd;
};
HACCEL LoadAccelerators(HINSTANCE instance, LPCSTR name);
int TranslateAccelerator(HWND hwnd, HACCEL table, LPMSG msg);
BOOL DestroyAcceleratorTable(HACCEL table);

// The version block (VS_VERSIONINFO) of a program file: the registered RT_VERSION resource 1 answers
// for the running program's own file (its name, with or without folder and case).
// GetFileVersionInfo and VerQueryValue (win32/version.h) answer from this block first; the same in the
// block's own layout (VS_VERSIONINFO nodes) for those calls.
namespace tavrin::res {
DWORD OwnVersionInfoSize(LPCSTR file, LPDWORD handle);
BOOL OwnVersionInfo(LPCSTR file, DWORD handle, DWORD size, LPVOID data);
BOOL QueryOwnVersionValue(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);
}  // namespace tavrin::res

namespace tavrin::res {

// One resource of a generated table: numeric type and id, or a name when `name` is set.
struct Entry {
  WORD type;
  WORD id;
  const char* name;
  const uint8_t* data;
  size_t size;
};

// Adds a program's table (the data stays the caller's: generated tables are static). An entry of a type
// and name already known replaces the earlier one.
void Register(std::span<const Entry> entries);
// The file name (without folder) whose version block the table's RT_VERSION 1 is.
void SetProgramFileName(const char* name);

}  // namespace tavrin::res
