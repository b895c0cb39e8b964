// Private profile (INI) files. A bare file name lies in the Windows directory, as on Windows; any other
// name is a Windows-form path. Section and key names are case-insensitive; the file keeps its order,
// comments and unknown lines, and is written with CR LF line ends.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

// With lpAppName NULL: the section names, with lpKeyName NULL: the section's key names, each ended by NUL
// and the list by a second NUL; a list cut short by nSize ends in two NULs and returns nSize - 2. Otherwise
// the value (or lpDefault, trailing blanks removed), cut to nSize - 1 characters and returning nSize - 1
// when it does not fit.
DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                              DWORD nSize, LPCSTR lpFileName);
// The value's leading decimal number (sign allowed); nDefault when the key is missing.
UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// lpKeyName NULL deletes the section, lpString NULL deletes the key; otherwise sets the key, creating the
// section and the file as needed.
BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
