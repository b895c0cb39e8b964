// Libraries that exist inside the process, by file name: "uxtheme.dll" (IsThemeActive, SetWindowTheme),
// and in a program with the windowing layer "msimg32.dll" (GradientFill, AlphaBlend, TransparentBlt), are
// registered from the start. The loader (LoadLibrary / GetProcAddress) asks here before it looks for a file.
// Tests switch a module off to take the roads where it is missing, and so does the variable
// TAVRIN_NO_BUILTIN (names separated by commas).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "win32/types.h"

using HRESULT = LONG;

namespace tavrin::modules {

using Exports = std::vector<std::pair<std::string, void*>>;
// The key of a module name: the file name without its path, lower case, ".dll" added when it has no
// extension.
std::string BuiltinKey(const std::string& nameOrPath);
// Adds or replaces a module.
void RegisterBuiltinModule(const std::string& name, Exports exports);
void SetBuiltinModuleEnabled(const std::string& name, bool enabled);
// Registered and switched on.
bool IsBuiltinModule(const std::string& nameOrPath);
// The export of an enabled module; null for a name it does not export.
void* BuiltinExport(const std::string& nameOrPath, const std::string& exportName);
std::vector<std::string> BuiltinModuleNames();

}  // namespace tavrin::modules

// uxtheme: no visual styles here.
BOOL IsThemeActive();
HRESULT SetWindowTheme(HWND hwnd, const WCHAR* subAppName, const WCHAR* subIdList);
