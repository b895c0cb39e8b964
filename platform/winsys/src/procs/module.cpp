// Modules: built-ins of the platform layer, or shared objects opened with dlopen. The handle is the
// module record, counted by its loads.
#include "win32/module.h"

#include "win32/builtin_modules.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "win32/file.h"
#include "win32/process.h"
#include "win32/sync.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::procs {
namespace {

struct BuiltinExport {
  const char* name;
  FARPROC function;
};

struct BuiltinModule {
  const char* fileName;  // lower case, with its extension
  std::vector<BuiltinExport> exports;
};

// Modules the platform layer provides itself, looked up by file name before any file is.
const std::vector<BuiltinModule>& BuiltinModules() {
  static const auto* modules = new std::vector<BuiltinModule>{};
  return *modules;
}

struct Module {
  std::string key;                         // the built-in's name or the file's host path
  const BuiltinModule* builtin = nullptr;  // or
  void* library = nullptr;                 // dlopen's handle
  unsigned loads = 0;
};

struct ModuleTable {
  std::mutex lock;
  std::map<std::string, Module*> byKey;
};

ModuleTable& Modules() {
  static auto* table = new ModuleTable;  // never destroyed: modules may be freed during exit
  return *table;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// What a name stands for: a built-in or a file.
struct ModuleSource {
  const BuiltinModule* builtin = nullptr;
  fs::path file;
};

// The one place that decides what LoadLibrary and GetModuleHandle load.
ModuleSource FindModule(std::string name) {
  if (!name.empty() && name.back() == '.') {
    name.pop_back();
  } else {
    size_t base = name.find_last_of("\\/");
    if (name.find('.', base == std::string::npos ? 0 : base + 1) == std::string::npos) name += ".dll";
  }
  ModuleSource source;
  std::error_code ec;
  if (name.find_first_of("\\/:") != std::string::npos) {
    if (auto path = sysroot::MapPath(name); fs::is_regular_file(path, ec)) source.file = path;
    return source;
  }
  const std::string lower = Lower(name);
  for (const auto& builtin : BuiltinModules()) {
    if (lower == builtin.fileName) {
      source.builtin = &builtin;
      return source;
    }
  }
  // The modules registered with win32/builtin_modules.h; their exports are asked for there.
  if (tavrin::modules::IsBuiltinModule(lower)) {
    static std::mutex registeredLock;
    static auto* registered = new std::map<std::string, BuiltinModule>;
    std::lock_guard guard(registeredLock);
    const std::string key = tavrin::modules::BuiltinKey(lower);
    auto it = registered->find(key);
    if (it == registered->end()) it = registered->emplace(key, BuiltinModule{strdup(key.c_str()), {}}).first;
    source.builtin = &it->second;
    return source;
  }
  char dir[MAX_PATH];
  std::vector<std::string> dirs;
  if (UINT n = GetSystemDirectory(dir, sizeof dir); n && n < sizeof dir) dirs.emplace_back(dir);
  if (UINT n = GetWindowsDirectory(dir, sizeof dir); n && n < sizeof dir) dirs.emplace_back(dir);
  for (const auto& folder : dirs)
    if (auto path = sysroot::MapPath(folder + "\\" + name); fs::is_regular_file(path, ec)) {
      source.file = path;
      return source;
    }
  if (auto path = fs::current_path(ec) / name; !ec && fs::is_regular_file(path, ec)) source.file = path;
  return source;
}

std::string KeyOf(const ModuleSource& source) {
  if (source.builtin) return std::string("builtin:") + source.builtin->fileName;
  std::error_code ec;
  auto canonical = fs::canonical(source.file, ec);
  return (ec ? source.file : canonical).string();
}

Module* Lookup(HMODULE handle) {
  auto* module = reinterpret_cast<Module*>(handle);
  for (auto& [key, known] : Modules().byKey)
    if (known == module) return module;
  return nullptr;
}

}  // namespace
}  // namespace tavrin::procs

HMODULE LoadLibrary(LPCSTR name) {
  using namespace tavrin::procs;
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ModuleSource source = FindModule(name);
  if (!source.builtin && source.file.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto& table = Modules();
  std::lock_guard guard(table.lock);
  const std::string key = KeyOf(source);
  if (auto it = table.byKey.find(key); it != table.byKey.end()) {
    ++it->second->loads;
    return reinterpret_cast<HMODULE>(it->second);
  }
  auto module = std::make_unique<Module>();
  module->key = key;
  module->builtin = source.builtin;
  if (!source.builtin) {
    module->library = dlopen(source.file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module->library) {
      const char* why = dlerror();
      SetLastError(why && strstr(why, "undefined symbol") ? ERROR_PROC_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
      return nullptr;
    }
  }
  module->loads = 1;
  Module* raw = module.release();
  table.byKey[key] = raw;
  return reinterpret_cast<HMODULE>(raw);
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR name) {
  using namespace tavrin::procs;
  auto& table = Modules();
  std::lock_guard guard(table.lock);
  Module* module = Lookup(handle);
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!name || !*name) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (module->builtin) {
    for (const auto& entry : module->builtin->exports)
      if (strcmp(entry.name, name) == 0) return entry.function;
    if (void* symbol = tavrin::modules::BuiltinExport(module->builtin->fileName, name))
      return reinterpret_cast<FARPROC>(symbol);
  } else if (void* symbol = dlsym(module->library, name)) {
    return reinterpret_cast<FARPROC>(symbol);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE handle) {
  using namespace tavrin::procs;
  void* library = nullptr;
  {
    auto& table = Modules();
    std::lock_guard guard(table.lock);
    Module* module = Lookup(handle);
    if (!module) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--module->loads > 0) return TRUE;
    library = module->library;
    table.byKey.erase(module->key);
    delete module;
  }
  if (library) dlclose(library);
  return TRUE;
}

HMODULE GetModuleHandle(LPCSTR name) {
  using namespace tavrin::procs;
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ModuleSource source = FindModule(name);
  if (source.builtin || !source.file.empty()) {
    auto& table = Modules();
    std::lock_guard guard(table.lock);
    if (auto it = table.byKey.find(KeyOf(source)); it != table.byKey.end())
      return reinterpret_cast<HMODULE>(it->second);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}
