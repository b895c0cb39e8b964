// The registry: one hive file in the sysroot shared by every process of the machine. Key names are
// case-insensitive and keep their spelling; values are typed. Every change is a read-modify-write of the
// hive under an exclusive file lock, written atomically; reads see other processes' changes.
#pragma once
#include <optional>
#include <string>

#include "win32/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003));

// Value types (REG_SZ, REG_DWORD...): wincommon/types.h.

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;

// RegCreateKeyEx options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;  // kept like the others: this machine never reboots
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegOpenKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                    const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition);
// A string value (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) stored without its terminating NUL(s) is answered
// with them: the size asked for and returned counts them, and a buffer without room for them gets
// ERROR_MORE_DATA, so a caller never sees an unterminated string.
LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                     LPDWORD lpcbData);
LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);
// Subkeys come in name order (ignoring case), values in the order they were first set.
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                  LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                  LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Deletes a key without subkeys; one with subkeys is refused with ERROR_ACCESS_DENIED.
LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey);
LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName);
LONG RegCloseKey(HKEY hKey);
LONG RegQueryInfoKey(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                     LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                     LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                     PFILETIME lpftLastWriteTime);

// Small helpers for tools and tests. keyPath is relative to root ("SOFTWARE\\Tavrin\\Parameters").
namespace tavrin::registry {

// Sets a value, creating its key and the keys above it.
LONG SetValue(HKEY root, const std::string& keyPath, const std::string& name, DWORD type, const void* data,
              DWORD size);
LONG SetString(HKEY root, const std::string& keyPath, const std::string& name, const std::string& text);  // with NUL
LONG SetDword(HKEY root, const std::string& keyPath, const std::string& name, DWORD value);
// The value's bytes exactly as stored, or nullopt when the key or the value is missing.
std::optional<std::string> ReadValue(HKEY root, const std::string& keyPath, const std::string& name,
                                     DWORD* type = nullptr);

// What is wrong with the hive file as last read ("" when nothing): damaged, of a version this system does
// not read, or unreadable. A damaged file is kept beside the hive before it is written over.
std::string HiveProblem();

}  // namespace tavrin::registry
