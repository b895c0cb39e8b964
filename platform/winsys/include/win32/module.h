// Libraries ("DLLs"). A DLL in the sysroot is a Linux shared object built against this platform layer
// without a copy of it: its platform calls bind to the one in the loading program, which links the layer
// whole and exports it (tavrin_module_host in cmake/Tavrin.cmake). The platform layer can also offer
// built-in modules under a DLL's name.
#pragma once
#include <cstdint>

#include "win32/types.h"

// The generic function type, cast by the caller to the export's own type (the compiler accepts that cast
// from void (*)() without a warning).
using FARPROC = void(WINAPI*)();

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;

// `name` without an extension gets ".dll" (a trailing "." keeps it bare). A name with a path is that file;
// a bare name is a built-in module, else looked for in the system directory, the Windows directory and
// the current directory, in that order. Loading a module again counts it once more and gives the same
// handle. ERROR_MOD_NOT_FOUND when there is none; ERROR_PROC_NOT_FOUND when the library needs a function
// the program does not have; ERROR_BAD_EXE_FORMAT when it is no library.
HMODULE LoadLibrary(LPCSTR name);
// ERROR_PROC_NOT_FOUND when the module has no such export.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// Unloads the module when its last load is freed.
BOOL FreeLibrary(HMODULE module);
// A module loaded already (by the same rules as LoadLibrary, without loading), or null.
HMODULE GetModuleHandle(LPCSTR name);
