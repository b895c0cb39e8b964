// The configuration file "TavrinConf.ini" in the Windows directory: the text of commands 4, 5 and 6
// passes through it, and the private-profile functions move it into and out of the records.
#include "admin/comm/ConfFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "admin/Trace.h"
#include "admin/comm/ServerComm.h"
#include "win32/crt.h"
#include "win32/file.h"
#include "win32/profile.h"
#include "win32/sync.h"


namespace {

// The process-wide lock: a critical section (recursive), made on first use and kept for the process.
CRITICAL_SECTION& ConfSection() {
  static CRITICAL_SECTION* section = [] {
    auto* made = new CRITICAL_SECTION;
    InitializeCriticalSection(made);
    return made;
  }();
  return *section;
}
int g_lockDepth = 0;                      // guarded by ConfSection()
HANDLE g_lockFile = INVALID_HANDLE_VALUE;  // likewise

constexpr DWORD kFilePiece = 260;
// A server has a few USB ports; a longer table is cut here.
constexpr int kMaxConnectionEntries = 256;

// Text of a record field that may lack its terminating zero.
void CopyField(char (&dest)[CONF_TEXT_SIZE], const char* source) {
  size_t length = strnlen(source, CONF_TEXT_SIZE - 1);
  memcpy(dest, source, length);
  dest[length] = '\0';
}

}  // namespace

ConfFileLock::ConfFileLock(const char* confFilePath) {
  EnterCriticalSection(&ConfSection());
  if (g_lockDepth++ > 0) return;
  const std::string lockPath = std::string(confFilePath) + ".lock";
  g_lockFile = CreateFile(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_lockFile == INVALID_HANDLE_VALUE) {
    TraceError("ConfFileLock: cannot open %s\n", lockPath.c_str());
    return;
  }
  OVERLAPPED whole{};
  if (!LockFileEx(g_lockFile, LOCKFILE_EXCLUSIVE_LOCK, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole)) {
    TraceError("ConfFileLock: cannot lock %s\n", lockPath.c_str());
  }
}

ConfFileLock::~ConfFileLock() {
  if (--g_lockDepth == 0 && g_lockFile != INVALID_HANDLE_VALUE) {
    OVERLAPPED whole{};
    UnlockFileEx(g_lockFile, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole);
    CloseHandle(g_lockFile);
    g_lockFile = INVALID_HANDLE_VALUE;
  }
  LeaveCriticalSection(&ConfSection());
}

void CServerComm::SetConfFilePath(LPCSTR path) {
  snprintf(m_szConfFilePath, sizeof(m_szConfFilePath), "%s", path != nullptr ? path : "");
}

BOOL CServerComm::WriteRspToFile(const char* data, DWORD length) {
  ConfFileLock lock(m_szConfFilePath);
  DeleteFile(m_szConfFilePath);
  FILE* file = tavrin::OpenCrtFile(m_szConfFilePath, "wt");
  if (file == nullptr) {
    TraceError("WriteRspToFile() :: cannot create %s\n", m_szConfFilePath);
    return FALSE;
  }
  bool written = length == 0 || (data != nullptr && fwrite(data, 1, length, file) == length);
  if (fclose(file) != 0) written = false;
  if (!written) TraceError("WriteRspToFile() :: cannot write %s\n", m_szConfFilePath);
  return written ? TRUE : FALSE;
}

DWORD CServerComm::ReadConfFile(char* buffer, DWORD* size) {
  ConfFileLock lock(m_szConfFilePath);
  const DWORD capacity = *size;
  DWORD total = 0;
  FILE* file = tavrin::OpenCrtFile(m_szConfFilePath, "rt");
  if (file != nullptr) {
    char piece[kFilePiece];
    size_t got;
    while ((got = fread(piece, 1, sizeof(piece), file)) > 0) {
      if (buffer != nullptr && total + got <= capacity) memcpy(buffer + total, piece, got);
      total += static_cast<DWORD>(got);
    }
    fclose(file);
  }
  *size = total;
  return total <= capacity ? 0 : total;
}

void CServerComm::ReadConfInfo() {
  ConfFileLock lock(m_szConfFilePath);
  ReadGeneralSettings();
  ReadBasicSettings();
  ReadNetworkSettings();
  ReadPasswordSettings();
}

void CServerComm::ReadGeneralSettings() {
  TavrinConfInfo& info = m_TavrinConfInfo;
  info.server_model = static_cast<BYTE>(GetPrivateProfileInt("GeneralSettings", "server_model", 0, m_szConfFilePath));
  GetPrivateProfileString("GeneralSettings", "fw_version", "", info.fw_version, CONF_TEXT_SIZE, m_szConfFilePath);
  GetPrivateProfileString("GeneralSettings", "hw_version", "", info.hw_version, CONF_TEXT_SIZE, m_szConfFilePath);
  info.serial_no = GetPrivateProfileInt("GeneralSettings", "serial_no", 0, m_szConfFilePath);
}

void CServerComm::ReadBasicSettings() {
  GetPrivateProfileString("BasicSettings", "server_name", "", m_TavrinConfInfo.server_name, CONF_TEXT_SIZE,
                          m_szConfFilePath);
}

void CServerComm::ReadNetworkSettings() {
  TavrinConfInfo& info = m_TavrinConfInfo;
  GetPrivateProfileString("NetworkSettings", "ip_address", "", info.ip_address, CONF_TEXT_SIZE, m_szConfFilePath);
  GetPrivateProfileString("NetworkSettings", "net_mask", "", info.net_mask, CONF_TEXT_SIZE, m_szConfFilePath);
  GetPrivateProfileString("NetworkSettings", "gate_way", "", info.gate_way, CONF_TEXT_SIZE, m_szConfFilePath);
  info.ip_config = GetPrivateProfileInt("NetworkSettings", "ip_config", 0, m_szConfFilePath);
  GetPrivateProfileString("NetworkSettings", "mac_addr", "", info.mac_addr, CONF_TEXT_SIZE, m_szConfFilePath);
}

void CServerComm::ReadPasswordSettings() {
  TavrinConfInfo& info = m_TavrinConfInfo;
  info.enable = GetPrivateProfileInt("Password", "enable", 1, m_szConfFilePath);
  GetPrivateProfileString("Password", "password", "", info.password, CONF_TEXT_SIZE, m_szConfFilePath);
}

void CServerComm::WriteConfInfo() {
  ConfFileLock lock(m_szConfFilePath);
  WriteBasicSettings();
  WriteNetworkSettings();
  WritePasswordSettings();
}

void CServerComm::WriteBasicSettings() {
  if (!m_TavrinConfInfo.basic_changed) return;
  char text[CONF_TEXT_SIZE];
  CopyField(text, m_TavrinConfInfo.server_name);
  WritePrivateProfileString("BasicSettings", "server_name", text, m_szConfFilePath);
}

void CServerComm::WriteNetworkSettings() {
  const TavrinConfInfo& info = m_TavrinConfInfo;
  if (!info.network_changed) return;
  char text[CONF_TEXT_SIZE];
  CopyField(text, info.ip_address);
  WritePrivateProfileString("NetworkSettings", "ip_address", text, m_szConfFilePath);
  CopyField(text, info.net_mask);
  WritePrivateProfileString("NetworkSettings", "net_mask", text, m_szConfFilePath);
  CopyField(text, info.gate_way);
  WritePrivateProfileString("NetworkSettings", "gate_way", text, m_szConfFilePath);
  snprintf(text, sizeof(text), "%u", static_cast<unsigned>(info.ip_config));
  WritePrivateProfileString("NetworkSettings", "ip_config", text, m_szConfFilePath);
  CopyField(text, info.mac_addr);
  WritePrivateProfileString("NetworkSettings", "mac_addr", text, m_szConfFilePath);
}

void CServerComm::WritePasswordSettings() {
  const TavrinConfInfo& info = m_TavrinConfInfo;
  if (!info.enable_changed && !info.password_changed) return;
  char text[CONF_TEXT_SIZE];
  snprintf(text, sizeof(text), "%u", static_cast<unsigned>(info.enable));
  WritePrivateProfileString("Password", "enable", text, m_szConfFilePath);
  CopyField(text, info.password);
  WritePrivateProfileString("Password", "password", text, m_szConfFilePath);
}

void CServerComm::ReadConnectionTable() {
  ConfFileLock lock(m_szConfFilePath);
  FreeConnectedClients();
  CopyField(m_ConnectedClientsInfo.server_ip, m_CommandContext.ServerIp);
  ConnectionEntry* last = nullptr;  // the records are packed: no pointers to their members
  for (int i = 1; i <= kMaxConnectionEntries; ++i) {
    char key[32];
    snprintf(key, sizeof(key), "port_no%d", i);
    UINT port = GetPrivateProfileInt("ConnectionTable", key, 0, m_szConfFilePath);
    if (port == 0) break;
    auto* entry = new (std::nothrow) ConnectionEntry{};
    if (entry == nullptr) {
      TraceError("ReadConnectionTable() :: out of memory\n");
      break;
    }
    entry->port_no = port;
    snprintf(key, sizeof(key), "client_ip%d", i);
    GetPrivateProfileString("ConnectionTable", key, "", entry->client_ip, CONF_TEXT_SIZE, m_szConfFilePath);
    if (last != nullptr) {
      last->next = entry;
    } else {
      m_ConnectedClientsInfo.first = entry;
    }
    last = entry;
  }
}

void CServerComm::FreeConnectedClients() {
  ConnectionEntry* entry = m_ConnectedClientsInfo.first;
  while (entry != nullptr) {
    ConnectionEntry* next = entry->next;
    delete entry;
    entry = next;
  }
  m_ConnectedClientsInfo.first = nullptr;
}

void CServerComm::CopyConnectedClients(ConnectedClientsInfo* out) const {
  CopyField(out->server_ip, m_ConnectedClientsInfo.server_ip);
  out->first = nullptr;
  ConnectionEntry* last = nullptr;
  for (const ConnectionEntry* entry = m_ConnectedClientsInfo.first; entry != nullptr; entry = entry->next) {
    auto* copy = new (std::nothrow) ConnectionEntry{};
    if (copy == nullptr) {
      TraceError("CopyConnectedClients() :: out of memory\n");
      return;
    }
    copy->port_no = entry->port_no;
    CopyField(copy->client_ip, entry->client_ip);
    if (last != nullptr) {
      last->next = copy;
    } else {
      out->first = copy;
    }
    last = copy;
  }
}
