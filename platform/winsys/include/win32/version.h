// Version information of programs and libraries. A Linux program or library of the sysroot carries its
// version resource in the ELF section ".tavrin_version" (tavrin_version_info in cmake/Tavrin.cmake):
// lines "\StringFileInfo\040904B0\FileVersion=1.0.0.1". The block that GetFileVersionInfo fills is for
// VerQueryValue only.
#pragma once
#include "win32/types.h"

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // 0xFEEF04BD
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// The size of the block, 0 when the file has none (ERROR_RESOURCE_TYPE_NOT_FOUND) or cannot be read.
DWORD GetFileVersionInfoSize(LPCSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfo(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data);
// "\" gives the VS_FIXEDFILEINFO, "\VarFileInfo\Translation" the language and code page word,
// "\StringFileInfo\<language><codepage>\<name>" a string (its length counts the NUL). Names ignore case.
BOOL VerQueryValue(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length);
