#include "win32/registry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "base/hive.h"
#include "storage_internal.h"
#include "win32/handle.h"

namespace tavrin {
namespace {

namespace hive = base::hive;
using hive::Key;
using hive::Value;

using hive::KeyPath;

constexpr const char* kMachine = hive::kMachineRoot;
constexpr const char* kCurrentUser = hive::kCurrentUserRoot;
constexpr const char* kUsers = hive::kUsersRoot;
constexpr REGSAM kGenericRead = 0x80000000, kGenericWrite = 0x40000000, kGenericAll = 0x10000000;

class RegKeyObject : public KernelObject {
 public:
  RegKeyObject(KeyPath p, REGSAM a) : path(std::move(p)), access(a) {}
  const KeyPath path;
  const REGSAM access;
};

// ---- The hive --------------------------------------------------------------------------------------

// What every installed Windows has: the classes key, the program folder, the Run key and the user's
// desktop folder.
void FillWindowsKeys(Key& root) {
  root.EnsureChild(kMachine).EnsureChild("SOFTWARE").EnsureChild("Classes");
  Key& currentVersion = root.EnsureChild(kMachine).EnsureChild("SOFTWARE").EnsureChild("Microsoft")
                            .EnsureChild("Windows").EnsureChild("CurrentVersion");
  if (!currentVersion.FindValue("ProgramFilesDir")) currentVersion.SetValue("ProgramFilesDir", REG_SZ, "C:\\Program Files");
  currentVersion.EnsureChild("Run");
  Key& shellFolders = root.EnsureChild(kCurrentUser).EnsureChild("Software").EnsureChild("Microsoft")
                          .EnsureChild("Windows").EnsureChild("CurrentVersion").EnsureChild("Explorer")
                          .EnsureChild("Shell Folders");
  if (!shellFolders.FindValue("Desktop"))
    shellFolders.SetValue("Desktop", REG_SZ, "C:\\Documents and Settings\\User\\Desktop");
}

template <class Fn>
LONG ReadHive(Fn&& read) {
  LONG result = ERROR_SUCCESS;
  hive::Read([&](Key& root) { result = read(root); }, FillWindowsKeys);
  return result;
}

// change(root, changed) -> LONG. The hive is re-read under the lock when another process changed it, so no
// other process's change is lost.
template <class Fn>
LONG ChangeHive(Fn&& change) {
  LONG result = ERROR_SUCCESS;
  auto outcome = hive::Change(
      [&](Key& root) {
        bool changed = false;
        result = change(root, changed);
        return result == ERROR_SUCCESS && changed;
      },
      FillWindowsKeys);
  switch (outcome.commit) {
    case hive::ChangeResult::Commit::kLockFailed:
      return static_cast<LONG>(storage::ErrorFromErrno(outcome.error));
    case hive::ChangeResult::Commit::kWriteFailed:
      return ERROR_CANTWRITE;
    case hive::ChangeResult::Commit::kDone:
      break;
  }
  return result;
}

// ---- Handles -----------------------------------------------------------------------------------------

struct Target {
  KeyPath path;
  REGSAM access;
};

LONG Resolve(HKEY hKey, Target& out) {
  switch (reinterpret_cast<uintptr_t>(hKey)) {
    case 0x80000000: out = {{kMachine, "SOFTWARE", "Classes"}, KEY_ALL_ACCESS}; return ERROR_SUCCESS;
    case 0x80000001: out = {{kCurrentUser}, KEY_ALL_ACCESS}; return ERROR_SUCCESS;
    case 0x80000002: out = {{kMachine}, KEY_ALL_ACCESS}; return ERROR_SUCCESS;
    case 0x80000003: out = {{kUsers}, KEY_ALL_ACCESS}; return ERROR_SUCCESS;
  }
  auto key = LookupHandleAs<RegKeyObject>(reinterpret_cast<HANDLE>(hKey));
  if (!key) return ERROR_INVALID_HANDLE;
  out = {key->path, key->access};
  return ERROR_SUCCESS;
}

// Resolves hKey plus a relative "a\\b" path.
LONG Resolve(HKEY hKey, LPCSTR subKey, Target& out) {
  if (LONG error = Resolve(hKey, out)) return error;
  std::string_view rest = subKey ? subKey : "";
  while (!rest.empty()) {
    size_t sep = rest.find('\\');
    if (sep != 0) out.path.emplace_back(rest.substr(0, sep));
    rest.remove_prefix(sep == std::string_view::npos ? rest.size() : sep + 1);
  }
  return ERROR_SUCCESS;
}

REGSAM EffectiveAccess(REGSAM sam) {
  sam &= ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (sam & (MAXIMUM_ALLOWED | kGenericAll)) sam |= KEY_ALL_ACCESS;
  if (sam & kGenericRead) sam |= KEY_READ;
  if (sam & kGenericWrite) sam |= KEY_WRITE;
  return sam;
}

bool IsPredefined(HKEY hKey) {
  uintptr_t value = reinterpret_cast<uintptr_t>(hKey);
  return value >= 0x80000000 && value <= 0x80000003;
}

HKEY NewHandle(KeyPath path, REGSAM access) {
  return reinterpret_cast<HKEY>(InsertHandle(std::make_shared<RegKeyObject>(std::move(path), EffectiveAccess(access))));
}

// ---- Values out -------------------------------------------------------------------------------------

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

using hive::AnsweredData;

LONG CopyData(const Value& v, LPDWORD type, LPBYTE data, LPDWORD cbData) {
  if (type) *type = v.type;
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  if (!cbData) return ERROR_SUCCESS;
  const std::string bytes = IsStringType(v.type) ? AnsweredData(v) : v.data;
  const DWORD needed = static_cast<DWORD>(bytes.size());
  if (data && *cbData < needed) {
    *cbData = needed;
    return ERROR_MORE_DATA;
  }
  if (data) memcpy(data, bytes.data(), bytes.size());
  *cbData = needed;
  return ERROR_SUCCESS;
}

LONG CopyName(const std::string& name, LPSTR buffer, LPDWORD cchBuffer) {
  if (!buffer || !cchBuffer) return ERROR_INVALID_PARAMETER;
  if (name.size() >= *cchBuffer) return ERROR_MORE_DATA;
  memcpy(buffer, name.c_str(), name.size() + 1);
  *cchBuffer = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Runs read(key) on the key a handle names, once the handle is known to carry the access asked for.
template <class Fn>
LONG ReadOpenKey(HKEY hKey, REGSAM needed, Fn&& read) {
  Target target;
  if (LONG error = Resolve(hKey, target)) return error;
  if (!(target.access & needed)) return ERROR_ACCESS_DENIED;
  return ReadHive([&](Key& root) -> LONG {
    Key* key = hive::Find(root, target.path);
    if (!key) return ERROR_KEY_DELETED;
    return read(*key);
  });
}

// As ReadOpenKey, for a change(key) that alters the key whenever it succeeds.
template <class Fn>
LONG ChangeOpenKey(HKEY hKey, REGSAM needed, Fn&& change) {
  Target target;
  if (LONG error = Resolve(hKey, target)) return error;
  if (!(target.access & needed)) return ERROR_ACCESS_DENIED;
  return ChangeHive([&](Key& root, bool& changed) -> LONG {
    Key* key = hive::Find(root, target.path);
    if (!key) return ERROR_KEY_DELETED;
    changed = true;
    return change(*key);
  });
}

}  // namespace


}  // namespace tavrin

using namespace tavrin;

LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Target target;
  if (LONG error = Resolve(hKey, lpSubKey, target)) return error;
  LONG result = ReadHive([&](Key& root) -> LONG { return hive::Find(root, target.path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND; });
  if (result == ERROR_SUCCESS) *phkResult = NewHandle(std::move(target.path), samDesired);
  return result;
}

LONG RegOpenKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return RegOpenKeyEx(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/, DWORD /*dwOptions*/,
                    REGSAM samDesired, const LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                    LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Target base, target;
  if (LONG error = Resolve(hKey, base)) return error;
  if (LONG error = Resolve(hKey, lpSubKey, target)) return error;
  if (target.path.size() > hive::kMaxDepth) return ERROR_INVALID_PARAMETER;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  LONG result = ChangeHive([&](Key& root, bool& changed) -> LONG {
    Key* key = hive::Find(root, base.path);
    if (!key) return ERROR_KEY_DELETED;
    if (hive::Find(root, target.path)) return ERROR_SUCCESS;
    if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    for (size_t i = base.path.size(); i < target.path.size(); ++i) key = &key->EnsureChild(target.path[i]);
    disposition = REG_CREATED_NEW_KEY;
    changed = true;
    return ERROR_SUCCESS;
  });
  if (result != ERROR_SUCCESS) return result;
  if (lpdwDisposition) *lpdwDisposition = disposition;
  *phkResult = NewHandle(std::move(target.path), samDesired);
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD /*lpReserved*/, LPDWORD lpType, LPBYTE lpData,
                     LPDWORD lpcbData) {
  return ReadOpenKey(hKey, KEY_QUERY_VALUE, [&](Key& key) -> LONG {
    const Value* value = key.FindValue(lpValueName ? lpValueName : "");
    if (!value) return ERROR_FILE_NOT_FOUND;
    return CopyData(*value, lpType, lpData, lpcbData);
  });
}

LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  Target target;
  if (LONG error = Resolve(hKey, target)) return error;
  if (!(target.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!lpData && cbData) return ERROR_NOACCESS;
  std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
  return ChangeHive([&](Key& root, bool& changed) -> LONG {
    Key* key = hive::Find(root, target.path);
    if (!key) return ERROR_KEY_DELETED;
    key->SetValue(lpValueName ? lpValueName : "", dwType, std::move(data));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD /*lpReserved*/, LPSTR lpClass,
                  LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return ReadOpenKey(hKey, KEY_ENUMERATE_SUB_KEYS, [&](Key& key) -> LONG {
    if (dwIndex >= key.subkeys.size()) return ERROR_NO_MORE_ITEMS;
    if (LONG error = CopyName(std::next(key.subkeys.begin(), dwIndex)->first, lpName, lpcchName)) return error;
    if (lpClass && lpcchClass && *lpcchClass) *lpClass = '\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD /*lpReserved*/,
                  LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return ReadOpenKey(hKey, KEY_QUERY_VALUE, [&](Key& key) -> LONG {
    if (dwIndex >= key.values().size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = key.values()[dwIndex];
    if (LONG error = CopyName(value.name, lpValueName, lpcchValueName)) return error;
    return CopyData(value, lpType, lpData, lpcbData);
  });
}

LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  Target target;
  if (LONG error = Resolve(hKey, lpSubKey, target)) return error;
  Target base;
  Resolve(hKey, base);
  // A hive's root and the keys the predefined handles stand for stay.
  if (target.path.size() < 2 || (IsPredefined(hKey) && target.path.size() == base.path.size()))
    return ERROR_ACCESS_DENIED;
  return ChangeHive([&](Key& root, bool& changed) -> LONG {
    KeyPath parentPath(target.path.begin(), target.path.end() - 1);
    Key* parent = hive::Find(root, parentPath);
    Key* key = parent ? parent->Child(target.path.back()) : nullptr;
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (!key->subkeys.empty()) return ERROR_ACCESS_DENIED;
    parent->subkeys.erase(target.path.back());
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName) {
  std::string name = lpValueName ? lpValueName : "";
  return ChangeOpenKey(hKey, KEY_SET_VALUE, [&](Key& key) -> LONG {
    return key.DeleteValue(name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LONG RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  HANDLE handle = reinterpret_cast<HANDLE>(hKey);
  if (!LookupHandleAs<RegKeyObject>(handle) || !RemoveHandle(handle)) return ERROR_INVALID_HANDLE;
  hive::Commit();  // a run of writes through the key goes to the disk once, now
  return ERROR_SUCCESS;
}

LONG RegQueryInfoKey(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD /*lpReserved*/, LPDWORD lpcSubKeys,
                     LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                     LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                     PFILETIME lpftLastWriteTime) {
  return ReadOpenKey(hKey, KEY_QUERY_VALUE, [&](Key& key) -> LONG {
    DWORD maxSubKey = 0, maxName = 0, maxData = 0;
    for (const auto& entry : key.subkeys) maxSubKey = std::max(maxSubKey, static_cast<DWORD>(entry.first.size()));
    for (const Value& v : key.values()) {
      maxName = std::max(maxName, static_cast<DWORD>(v.name.size()));
      maxData = std::max(maxData, static_cast<DWORD>(AnsweredData(v).size()));
    }
    if (lpClass && lpcchClass && *lpcchClass) *lpClass = '\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key.subkeys.size());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSubKey;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = static_cast<DWORD>(key.values().size());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
  });
}

namespace tavrin::registry {

LONG SetValue(HKEY root, const std::string& keyPath, const std::string& name, DWORD type, const void* data,
              DWORD size) {
  HKEY key;
  LONG result = RegCreateKeyEx(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                               &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueEx(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return result;
}

LONG SetString(HKEY root, const std::string& keyPath, const std::string& name, const std::string& text) {
  return SetValue(root, keyPath, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY root, const std::string& keyPath, const std::string& name, DWORD value) {
  return SetValue(root, keyPath, name, REG_DWORD, &value, sizeof value);
}

std::optional<std::string> ReadValue(HKEY root, const std::string& keyPath, const std::string& name, DWORD* type) {
  Target target;
  if (Resolve(root, keyPath.c_str(), target) != ERROR_SUCCESS) return std::nullopt;
  std::optional<std::string> bytes;
  ReadHive([&](Key& hive) -> LONG {
    Key* key = hive::Find(hive, target.path);
    const Value* value = key ? key->FindValue(name) : nullptr;
    if (value) {
      bytes = value->data;
      if (type) *type = value->type;
    }
    return ERROR_SUCCESS;
  });
  return bytes;
}

std::string HiveProblem() { return base::hive::Problem(); }

}  // namespace tavrin::registry
