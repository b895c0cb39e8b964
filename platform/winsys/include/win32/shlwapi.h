// Shell helpers: path text and whole-key deletion; the shell link object (a real .LNK file) behind
// CoCreateInstance.
#pragma once
#include "win32/ioctl.h"
#include "win32/registry.h"
#include "win32/types.h"

// Deletes a key with all its subkeys and values.
LONG SHDeleteKey(HKEY hKey, LPCSTR pszSubKey);
// The arguments after the first (optionally quoted) word; the empty text at the end when there are none.
LPSTR PathGetArgs(LPCSTR pszPath);
// Cuts the arguments (and the blank before them) off.
void PathRemoveArgs(LPSTR pszPath);
// Removes the quotes around a path that has them at both ends.
BOOL PathUnquoteSpaces(LPSTR lpsz);

// ---- COM, just enough for shell links ------------------------------------------------------------------------
using HRESULT = LONG;
using REFCLSID = const GUID&;
using REFIID = const GUID&;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

DEFINE_GUID(CLSID_ShellLink, 0x00021401, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IShellLinkA, 0x000214EE, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IPersistFile, 0x0000010B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};
struct IShellLinkA : IUnknown {
  virtual HRESULT SetPath(LPCSTR file) = 0;
  virtual HRESULT SetDescription(LPCSTR name) = 0;
  virtual HRESULT SetArguments(LPCSTR args) = 0;
  virtual HRESULT SetWorkingDirectory(LPCSTR dir) = 0;
};
struct IPersistFile : IUnknown {
  // fileName in UTF-16; writes the link there.
  virtual HRESULT Save(const WCHAR* fileName, BOOL remember) = 0;
};

HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
// Only CLSID_ShellLink, after CoInitialize on this thread.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsContext, REFIID riid, LPVOID* object);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, WCHAR* wide, int wideLength);
constexpr UINT CP_ACP = 0;

namespace tavrin::shell {
// The target path of a .LNK file written by the shell link object; empty when it is none.
std::string ReadLinkTarget(const std::string& windowsPath);
}  // namespace tavrin::shell
