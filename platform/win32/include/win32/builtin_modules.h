// Libraries that exist inside the process: LoadLibrary of their name (any case, with or without ".dll" or
// a path) gives a module whose GetProcAddress finds the registered functions. "msimg32.dll" (GradientFill,
// AlphaBlend, TransparentBlt) and "uxtheme.dll" (IsThemeActive, SetWindowTheme) are registered from the
// start; tests switch them off to take the roads where they are missing, and so does the variable
// TAVRIN_NO_BUILTIN (names separated by commas).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "win32/types.h"

using FARPROC = intptr_t(WINAPI*)();
using HRESULT = LONG;

namespace tavrin::modules {

using Exports = std::vector<std::pair<std::string, void*>>;
// Adds or replaces a module by its file name (e.g. "foo.dll").
void RegisterBuiltinModule(const std::string& name, Exports exports);
void SetBuiltinModuleEnabled(const std::string& name, bool enabled);
// What LoadLibrary finds first: null when the name is no enabled built-in module.
HMODULE LoadBuiltinModule(const char* nameOrPath);
bool IsBuiltinModule(HMODULE module);
// Null for a name the module does not export (or an ordinal).
FARPROC BuiltinProcAddress(HMODULE module, const char* name);
// Drops one reference; false for a module not loaded.
bool FreeBuiltinModule(HMODULE module);

}  // namespace tavrin::modules

// The loader over the built-in modules (ERROR_MOD_NOT_FOUND for any other name).
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
HMODULE LoadLibrary(LPCSTR name);
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// uxtheme: no visual styles here.
BOOL IsThemeActive();
HRESULT SetWindowTheme(HWND hwnd, const WCHAR* subAppName, const WCHAR* subIdList);
