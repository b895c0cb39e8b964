#include "win32/shlwapi.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "win32/sync.h"
#include "win32/sysroot.h"

LONG SHDeleteKey(HKEY hKey, LPCSTR pszSubKey) {
  if (!pszSubKey) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  LONG status = RegOpenKeyEx(hKey, pszSubKey, 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  for (;;) {  // always the first subkey: each one goes before the next is asked for
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyEx(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    status = SHDeleteKey(key, name);
    if (status != ERROR_SUCCESS) {
      RegCloseKey(key);
      return status;
    }
  }
  RegCloseKey(key);
  return RegDeleteKey(hKey, pszSubKey);
}

LPSTR PathGetArgs(LPCSTR pszPath) {
  if (!pszPath) return nullptr;
  const char* p = pszPath;
  bool quoted = false;
  for (; *p; ++p) {
    if (*p == '"') quoted = !quoted;
    if (*p == ' ' && !quoted) return const_cast<LPSTR>(p + 1);
  }
  return const_cast<LPSTR>(p);
}

void PathRemoveArgs(LPSTR pszPath) {
  if (!pszPath) return;
  char* args = PathGetArgs(pszPath);
  if (*args) {
    args[-1] = '\0';
  } else if (args > pszPath && args[-1] == ' ') {
    args[-1] = '\0';
  }
}

BOOL PathUnquoteSpaces(LPSTR lpsz) {
  if (!lpsz) return FALSE;
  size_t n = std::strlen(lpsz);
  if (n < 2 || lpsz[0] != '"' || lpsz[n - 1] != '"') return FALSE;
  std::memmove(lpsz, lpsz + 1, n - 2);
  lpsz[n - 2] = '\0';
  return TRUE;
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int length, WCHAR* wide, int wideLength) {
  if (!text) return 0;
  size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  if (wideLength == 0) return static_cast<int>(n);
  if (!wide || static_cast<size_t>(wideLength) < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (size_t i = 0; i < n; ++i) wide[i] = static_cast<unsigned char>(text[i]);  // Latin-1 as the ANSI page
  return static_cast<int>(n);
}

namespace {

thread_local int t_comInits = 0;

constexpr uint32_t kHasName = 0x04, kHasRelativePath = 0x08, kHasWorkingDir = 0x10, kHasArguments = 0x20,
                   kIsUnicode = 0x80;

void Put16(std::string& out, uint16_t v) { out += char(v & 0xFF), out += char(v >> 8); }
void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}
void PutString(std::string& out, const std::string& text) {
  Put16(out, static_cast<uint16_t>(text.size()));
  for (char c : text) Put16(out, static_cast<unsigned char>(c));
}

class ShellLink final : public IShellLinkA, public IPersistFile {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellLinkA) {
      *object = static_cast<IShellLinkA*>(this);
    } else if (riid == IID_IPersistFile) {
      *object = static_cast<IPersistFile*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    ++refs_;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT SetPath(LPCSTR file) override { return Set(path_, file); }
  HRESULT SetDescription(LPCSTR name) override { return Set(description_, name); }
  HRESULT SetArguments(LPCSTR args) override { return Set(arguments_, args); }
  HRESULT SetWorkingDirectory(LPCSTR dir) override { return Set(workingDir_, dir); }

  HRESULT Save(const WCHAR* fileName, BOOL) override {
    if (!fileName) return E_INVALIDARG;
    std::string name;
    for (const WCHAR* p = fileName; *p; ++p) name += *p < 0x100 ? static_cast<char>(*p) : '?';
    uint32_t flags = kIsUnicode | (description_.empty() ? 0 : kHasName) | (path_.empty() ? 0 : kHasRelativePath) |
                     (workingDir_.empty() ? 0 : kHasWorkingDir) | (arguments_.empty() ? 0 : kHasArguments);
    std::string out;
    Put32(out, 0x4C);
    const GUID& c = CLSID_ShellLink;
    Put32(out, c.Data1), Put16(out, c.Data2), Put16(out, c.Data3);
    out.append(reinterpret_cast<const char*>(c.Data4), 8);
    Put32(out, flags);
    Put32(out, 0x20);              // the target's attributes: an archive file
    out.append(24, '\0');          // three file times
    Put32(out, 0), Put32(out, 0);  // size, icon index
    Put32(out, 1);                 // SW_SHOWNORMAL
    Put16(out, 0), Put16(out, 0), Put32(out, 0), Put32(out, 0);
    if (!description_.empty()) PutString(out, description_);
    if (!path_.empty()) PutString(out, path_);
    if (!workingDir_.empty()) PutString(out, workingDir_);
    if (!arguments_.empty()) PutString(out, arguments_);
    Put32(out, 0);  // no extra data blocks
    const auto target = tavrin::sysroot::MapPath(name);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);  // the user's folders exist on a real machine
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    file << out;
    return file ? S_OK : E_FAIL;
  }

 private:
  static HRESULT Set(std::string& field, LPCSTR text) {
    if (!text) return E_INVALIDARG;
    field = text;
    return S_OK;
  }
  std::atomic<ULONG> refs_{1};
  std::string path_, description_, arguments_, workingDir_;
};

}  // namespace

HRESULT CoInitialize(LPVOID) { return t_comInits++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_comInits > 0) --t_comInits;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (t_comInits == 0) return CO_E_NOTINITIALIZED;
  if (outer || !(rclsid == CLSID_ShellLink)) return REGDB_E_CLASSNOTREG;
  auto* link = new ShellLink;
  HRESULT hr = link->QueryInterface(riid, object);
  link->Release();
  return hr;
}

namespace tavrin::shell {

std::string ReadLinkTarget(const std::string& windowsPath) {
  std::ifstream in(sysroot::MapPath(windowsPath), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto u16 = [&](size_t at) { return uint32_t(uint8_t(data[at])) | uint32_t(uint8_t(data[at + 1])) << 8; };
  if (data.size() < 0x4C + 4 || u16(0) != 0x4C) return {};
  uint32_t flags = u16(20) | u16(22) << 16;
  size_t at = 0x4C;
  auto next = [&](std::string* text) {
    if (at + 2 > data.size()) return false;
    size_t n = u16(at);
    at += 2;
    if (at + 2 * n > data.size()) return false;
    text->clear();
    for (size_t i = 0; i < n; ++i) *text += static_cast<char>(u16(at + 2 * i));
    at += 2 * n;
    return true;
  };
  std::string text;
  if ((flags & kHasName) && !next(&text)) return {};
  if (!(flags & kHasRelativePath) || !next(&text)) return {};
  return text;
}

}  // namespace tavrin::shell
