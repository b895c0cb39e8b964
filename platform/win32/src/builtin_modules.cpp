#include "win32/builtin_modules.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

#include "win32/gdi.h"
#include "win32/setupapi.h"

namespace tavrin::modules {
namespace {

struct Module {
  std::map<std::string, void*> exports;
  bool enabled = true;
};

std::mutex g_lock;

template <class F>
void* Proc(F* f) {
  return reinterpret_cast<void*>(f);
}

std::map<std::string, Module>& Modules() {
  static auto* modules = [] {
    auto* m = new std::map<std::string, Module>();
    (*m)["msimg32.dll"] = Module{{{"GradientFill", Proc(&::GradientFill)},
                                  {"AlphaBlend", Proc(&::AlphaBlend)},
                                  {"TransparentBlt", Proc(&::TransparentBlt)}}};
    (*m)["uxtheme.dll"] = Module{{{"IsThemeActive", Proc(&::IsThemeActive)}, {"SetWindowTheme", Proc(&::SetWindowTheme)}}};
    (*m)["setupapi.dll"] = Module{{{"SetupCopyOEMInfA", Proc(&::SetupCopyOEMInf)}}};
    (*m)["newdev.dll"] = Module{{{"UpdateDriverForPlugAndPlayDevicesA", Proc(&::UpdateDriverForPlugAndPlayDevices)}}};
    if (const char* off = std::getenv("TAVRIN_NO_BUILTIN")) {
      std::string list(off);
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        auto it = m->find(BuiltinKey(name));
        if (!name.empty() && it != m->end()) it->second.enabled = false;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
    return m;
  }();
  return *modules;
}

}  // namespace

std::string BuiltinKey(const std::string& nameOrPath) {
  std::string s(nameOrPath);
  size_t slash = s.find_last_of("\\/");
  if (slash != std::string::npos) s = s.substr(slash + 1);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!s.empty() && s.find('.') == std::string::npos) s += ".dll";
  return s;
}

void RegisterBuiltinModule(const std::string& name, Exports exports) {
  std::lock_guard<std::mutex> lock(g_lock);
  Module& m = Modules()[BuiltinKey(name)];
  m.exports.clear();
  for (auto& [n, p] : exports) m.exports[n] = p;
}

void SetBuiltinModuleEnabled(const std::string& name, bool enabled) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = Modules().find(BuiltinKey(name));
  if (it != Modules().end()) it->second.enabled = enabled;
}

bool IsBuiltinModule(const std::string& nameOrPath) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = Modules().find(BuiltinKey(nameOrPath));
  return it != Modules().end() && it->second.enabled;
}

void* BuiltinExport(const std::string& nameOrPath, const std::string& exportName) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = Modules().find(BuiltinKey(nameOrPath));
  if (it == Modules().end() || !it->second.enabled) return nullptr;
  auto e = it->second.exports.find(exportName);
  return e == it->second.exports.end() ? nullptr : e->second;
}

std::vector<std::string> BuiltinModuleNames() {
  std::lock_guard<std::mutex> lock(g_lock);
  std::vector<std::string> names;
  for (const auto& [name, m] : Modules())
    if (m.enabled) names.push_back(name);
  return names;
}

}  // namespace tavrin::modules

BOOL IsThemeActive() { return FALSE; }

HRESULT SetWindowTheme(HWND, const WCHAR*, const WCHAR*) { return 0; }
