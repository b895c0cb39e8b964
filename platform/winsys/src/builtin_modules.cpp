#include "win32/builtin_modules.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

#include "win32/setupapi.h"
#include "win32/system_hooks.h"

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

// The modules TAVRIN_NO_BUILTIN switches off, also when they are registered later.
const std::set<std::string>& SwitchedOffByEnvironment() {
  static const auto* names = [] {
    auto* off = new std::set<std::string>();
    if (const char* list = std::getenv("TAVRIN_NO_BUILTIN")) {
      std::string_view rest(list);
      while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string name(rest.substr(0, comma));
        if (!name.empty()) off->insert(BuiltinKey(name));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
      }
    }
    return off;
  }();
  return *names;
}

void Add(std::map<std::string, Module>& modules, const std::string& name, Exports exports) {
  const std::string key = BuiltinKey(name);
  auto [it, added] = modules.try_emplace(key);
  if (added) it->second.enabled = !SwitchedOffByEnvironment().contains(key);
  it->second.exports.clear();
  for (auto& [n, p] : exports) it->second.exports[n] = p;
}

// The modules of this layer and of the windowing layer ("msimg32.dll", its drawing calls).
std::map<std::string, Module>& Modules() {
  static auto* modules = [] {
    auto* m = new std::map<std::string, Module>();
    Add(*m, "uxtheme.dll", {{"IsThemeActive", Proc(&::IsThemeActive)}, {"SetWindowTheme", Proc(&::SetWindowTheme)}});
    Add(*m, "setupapi.dll", {{"SetupCopyOEMInfA", Proc(&::SetupCopyOEMInf)}});
    Add(*m, "newdev.dll", {{"UpdateDriverForPlugAndPlayDevicesA", Proc(&::UpdateDriverForPlugAndPlayDevices)}});
    for (const auto& [name, exports] : system_hooks::Installed().builtinModules) Add(*m, name, exports);
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
  Add(Modules(), name, std::move(exports));
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
