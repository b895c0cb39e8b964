#include "win32/builtin_modules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

#include "win32/gdi.h"
#include "win32/sync.h"

namespace tavrin::modules {
namespace {

struct Module {
  std::string name;
  std::map<std::string, void*> exports;
  bool enabled = true;
  int references = 0;
};

std::mutex g_lock;

std::string Key(const char* nameOrPath) {
  std::string s(nameOrPath);
  size_t slash = s.find_last_of("\\/");
  if (slash != std::string::npos) s = s.substr(slash + 1);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (s.find('.') == std::string::npos) s += ".dll";
  return s;
}

template <class F>
void* Proc(F* f) {
  return reinterpret_cast<void*>(f);
}

std::map<std::string, Module>& Modules() {
  static auto* modules = [] {
    auto* m = new std::map<std::string, Module>();
    (*m)["msimg32.dll"] = Module{"msimg32.dll",
                                 {{"GradientFill", Proc(&::GradientFill)},
                                  {"AlphaBlend", Proc(&::AlphaBlend)},
                                  {"TransparentBlt", Proc(&::TransparentBlt)}}};
    (*m)["uxtheme.dll"] = Module{"uxtheme.dll",
                                 {{"IsThemeActive", Proc(&::IsThemeActive)}, {"SetWindowTheme", Proc(&::SetWindowTheme)}}};
    if (const char* off = std::getenv("TAVRIN_NO_BUILTIN")) {
      std::string list(off);
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!name.empty()) {
          auto it = m->find(Key(name.c_str()));
          if (it != m->end()) it->second.enabled = false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
    return m;
  }();
  return *modules;
}

Module* Find(HMODULE module) {
  for (auto& [key, m] : Modules())
    if (reinterpret_cast<HMODULE>(&m) == module) return &m;
  return nullptr;
}

}  // namespace

void RegisterBuiltinModule(const std::string& name, Exports exports) {
  std::lock_guard<std::mutex> lock(g_lock);
  Module& m = Modules()[Key(name.c_str())];
  m.name = Key(name.c_str());
  m.exports.clear();
  for (auto& [n, p] : exports) m.exports[n] = p;
}

void SetBuiltinModuleEnabled(const std::string& name, bool enabled) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = Modules().find(Key(name.c_str()));
  if (it != Modules().end()) it->second.enabled = enabled;
}

HMODULE LoadBuiltinModule(const char* nameOrPath) {
  if (!nameOrPath || !*nameOrPath) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = Modules().find(Key(nameOrPath));
  if (it == Modules().end() || !it->second.enabled) return nullptr;
  ++it->second.references;
  // std::map nodes do not move, so the record's address serves as the handle.
  return reinterpret_cast<HMODULE>(&it->second);
}

bool IsBuiltinModule(HMODULE module) {
  std::lock_guard<std::mutex> lock(g_lock);
  return Find(module) != nullptr;
}

FARPROC BuiltinProcAddress(HMODULE module, const char* name) {
  // Ordinals (values below 0x10000) are not served.
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;
  std::lock_guard<std::mutex> lock(g_lock);
  Module* m = Find(module);
  if (!m || m->references <= 0) return nullptr;
  auto it = m->exports.find(name);
  return it == m->exports.end() ? nullptr : reinterpret_cast<FARPROC>(it->second);
}

bool FreeBuiltinModule(HMODULE module) {
  std::lock_guard<std::mutex> lock(g_lock);
  Module* m = Find(module);
  if (!m || m->references <= 0) return false;
  --m->references;
  return true;
}

}  // namespace tavrin::modules

HMODULE LoadLibrary(LPCSTR name) {
  HMODULE m = tavrin::modules::LoadBuiltinModule(name);
  if (!m) SetLastError(ERROR_MOD_NOT_FOUND);
  return m;
}

HMODULE LoadLibraryA(LPCSTR name) { return LoadLibrary(name); }

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC p = tavrin::modules::BuiltinProcAddress(module, name);
  if (!p) SetLastError(tavrin::modules::IsBuiltinModule(module) ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
  return p;
}

BOOL FreeLibrary(HMODULE module) {
  if (tavrin::modules::FreeBuiltinModule(module)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL IsThemeActive() { return FALSE; }

HRESULT SetWindowTheme(HWND, const WCHAR*, const WCHAR*) { return 0; }
