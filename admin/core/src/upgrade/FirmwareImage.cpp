#include "admin/upgrade/FirmwareImage.h"

#include <cctype>
#include <cstring>

#include "win32/file.h"

namespace {

// atoi's reading (blanks, a sign, digits up to the first other character) without its overflow: the
// value wraps, and only its low byte is kept anyway.
BYTE ByteOf(const char* text, const char* end) {
  while (text < end && isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (text < end && (*text == '+' || *text == '-')) negative = *text++ == '-';
  uint32_t value = 0;
  for (; text < end && isdigit(static_cast<unsigned char>(*text)); ++text) value = value * 10 + static_cast<uint32_t>(*text - '0');
  return static_cast<BYTE>(negative ? 0u - value : value);
}

}  // namespace

BOOL ParseFirmwareImageName(LPCSTR name, BYTE* major, BYTE* minor) {
  if (!name || !major || !minor || !strstr(name, FIRMWARE_IMAGE_PREFIX)) return FALSE;
  // The version follows as many characters as the prefix has (the prefix need not be in front).
  const char* version = name + strlen(FIRMWARE_IMAGE_PREFIX);
  const char* end = version + strlen(version);
  const char* p1 = strchr(version, '.');
  if (!p1 || p1 == version) return FALSE;
  const char* p2 = strchr(p1 + 1, '.');
  const char* p3 = p2 ? strchr(p2 + 1, '.') : nullptr;
  if (!p3) return FALSE;
  *major = ByteOf(version, p1);
  *minor = ByteOf(p3 + 1, end);
  return TRUE;
}

DWORD CheckFirmwareImage(LPCSTR name, BYTE boardMajor, BYTE boardMinor) {
  BYTE major = 0, minor = 0;
  if (!ParseFirmwareImageName(name, &major, &minor)) return FW_CHECK_NOT_AN_IMAGE;
  if (major != boardMajor) return major < boardMajor ? FW_CHECK_BOARD_NEWER : FW_CHECK_GO;
  if (minor == boardMinor) return FW_CHECK_SAME_VERSION;
  return minor < boardMinor ? FW_CHECK_BOARD_NEWER : FW_CHECK_GO;
}

DWORD CheckUpgradeRun(const SelectedServerList& servers, LPCSTR imageFileName) {
  if (servers.GetCount() > MAX_UPGRADE_SERVERS) return FW_CHECK_TOO_MANY_SERVERS;
  if (servers.IsEmpty()) return FW_CHECK_NO_SERVER;
  for (POSITION position = servers.GetHeadPosition(); position;) {
    const SelectedServerEntry& entry = servers.GetNext(position);
    DWORD code = CheckFirmwareImage(imageFileName, entry.Server.FwVersionMajor, entry.Server.FwVersionMinor);
    if (code != FW_CHECK_GO) return code;
  }
  return FW_CHECK_GO;
}

CString FirmwareCheckMessage(DWORD code) {
  switch (code) {
    case FW_CHECK_NOT_AN_IMAGE: return "This is not a valid FW image. Please select a correct file !!";
    case FW_CHECK_SAME_VERSION: return "Same FW available on board, update not required !!";
    case FW_CHECK_BOARD_NEWER: return "Latest FW available on board, update not required !!";
    case FW_CHECK_TOO_MANY_SERVERS: {
      CString text;
      text.Format("At most %d servers can be upgraded at once. Please select fewer servers !!", MAX_UPGRADE_SERVERS);
      return text;
    }
    case FW_CHECK_NO_SERVER: return "Please select a server to upgrade !!";
    default: return "Internal Error!!";
  }
}

void SplitImagePath(const CString& path, CString& folder, CString& fileName) {
  int slash = path.ReverseFind('\\');
  folder = slash < 0 ? CString() : path.Left(slash);
  fileName = slash < 0 ? path : path.Mid(slash + 1);
}

BOOL GetImageFileSize(const CString& path, ULONGLONG* size) {
  HANDLE file = CreateFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  const BOOL ok = !(low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS);
  CloseHandle(file);
  if (ok && size) *size = (static_cast<ULONGLONG>(high) << 32) | low;
  return ok;
}
