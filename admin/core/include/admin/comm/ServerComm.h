// CServerComm: the client of one network USB server for discovery (UDP broadcast) and for the command
// protocol (one TCP connection per command), with the server's configuration as read through the shared
// configuration file.
#pragma once
#include <atomic>
#include <memory>

#include "admin/comm/CommResult.h"
#include "admin/comm/CommSettings.h"
#include "admin/comm/ConfRecords.h"
#include "admin/comm/Discovery.h"
#include "win32/handle.h"
#include "win32/sync.h"
#include "win32/types.h"
#include "win32/winsock.h"

class CServerComm;

// Command numbers of the command protocol.
constexpr DWORD CMD_RESTORE_FACTORY_DEFAULTS = 1;
constexpr DWORD CMD_RESET_SERVER = 2;
constexpr DWORD CMD_UNLOCK_SERVER = 3;
constexpr DWORD CMD_GET_CONFIG_INFO = 4;
constexpr DWORD CMD_SET_CONFIG_INFO = 5;
constexpr DWORD CMD_GET_CONNECTED_CLIENTS = 6;
constexpr DWORD CMD_GET_IPRODUCT_STRING = 7;
constexpr DWORD CMD_UPGRADE_FIRMWARE = 8;
constexpr DWORD SCMD_GET_IPRODUCT_STRING = 3;

#pragma pack(push, 1)
// One command in flight.
struct CommandContext {
  char ServerIp[30];
  DWORD Port;
  DWORD Result;
  DWORD Command;
  char* Request;  // owned (malloc); freed by ProcessRsp
  DWORD RequestLength;
  char* Response;  // owned (malloc); freed by ProcessRsp
  DWORD ResponseLength;
  DWORD* Cancel;  // the caller's flag or null; 1 cancels
  HWND Window;    // window to notify, or null
  DWORD Message;  // message to post, or 0
  CServerComm* Owner;
};
#pragma pack(pop)

class CServerComm {
 public:
  CServerComm();
  // Waits for a command or discovery thread still running on this object before freeing what it uses.
  ~CServerComm();
  CServerComm(const CServerComm&) = delete;
  CServerComm& operator=(const CServerComm&) = delete;

  // Addresses, ports and time-outs; a new object takes the process defaults (CommSettings.h). The command
  // thread reads them: FALSE (unchanged) while a command runs.
  const ServerCommSettings& Settings() const { return m_Settings; }
  BOOL SetSettings(const ServerCommSettings& settings);

  // The commands. With a window and a message both non-zero each returns at once (0 started, 10 not
  // started) and posts (window, message, result, 0) when done. Otherwise RestoreFactoryDefaults,
  // UnLockServer and SetConfigInfo still return at once and report nothing, while the others wait for the
  // command and return its result code. One command at a time per object: starting another while one
  // runs returns 10.
  DWORD RestoreFactoryDefaults(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message);
  DWORD ResetServer(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message);
  DWORD UnLockServer(LPCSTR serverIp, const BYTE* password, DWORD length, DWORD* cancel, HWND window,
                     DWORD message);
  DWORD GetConfigInfo(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message);
  // Sends the sections of m_TavrinConfInfo whose change flags are set.
  DWORD SetConfigInfo(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message);
  DWORD GetConnectedClientDetails(LPCSTR serverIp, DWORD* cancel, HWND window, DWORD message);
  DWORD UpGradeFirmware(LPCSTR serverIp, const BYTE* fileName, DWORD length, DWORD* cancel, HWND window,
                        DWORD message);

  // Allocates (malloc) a buffer of exactly the request's length and writes the request of the command;
  // the sub-command is used by command 7 only, command 5 carries the configuration file. FALSE when the
  // buffer cannot be had.
  BOOL BuildRequest(char** request, DWORD* length, DWORD command, const BYTE* data, DWORD dataLength,
                    DWORD subCommand);

  // Discovery (calling order: BroadcastInit, StartEnumerationForServers, SendBroadcastPacket any number
  // of times, cancel flag set to 1, wait for GetEnumThreadHandle, BroadcastClose).
  BOOL BroadcastInit(ServerDiscoveryList* list, CRITICAL_SECTION* lock, DWORD* cancel);
  BOOL SendBroadcastPacket();
  DWORD StartEnumerationForServers();
  HANDLE GetEnumThreadHandle() const { return m_hEnumThread; }
  // Ends the run: stops and waits for its thread if the caller has not, closes the socket, frees the run.
  BOOL BroadcastClose();

  // The configuration file (one for every object of the program, guarded by ConfFileLock).
  void SetConfFilePath(LPCSTR path);
  LPCSTR GetConfFilePath() const { return m_szConfFilePath; }
  // Replaces the file with the bytes (text mode: a line feed is stored as CR LF). FALSE when the file
  // cannot be written.
  BOOL WriteRspToFile(const char* data, DWORD length);
  // Copies the file (text mode) into buffer while it fits *size; *size becomes the file's length. 0 when
  // it all fitted, else the length needed. A file that cannot be read reads as empty.
  DWORD ReadConfFile(char* buffer, DWORD* size);
  void ReadConfInfo();
  void ReadGeneralSettings();
  void ReadBasicSettings();
  void ReadNetworkSettings();
  void ReadPasswordSettings();
  void WriteConfInfo();
  void WriteBasicSettings();
  void WriteNetworkSettings();
  void WritePasswordSettings();
  // Replaces the connection table with the one in the file, for the server of the command in flight.
  void ReadConnectionTable();
  void FreeConnectedClients();
  // Copies the table into `out`, which must hold no chain.
  void CopyConnectedClients(ConnectedClientsInfo* out) const;

  TavrinConfInfo m_TavrinConfInfo;
  ConnectedClientsInfo m_ConnectedClientsInfo;
  CommandContext m_CommandContext;
  HANDLE m_hEnumThread;
  DiscoveryContext* m_pDiscoveryContext;
  char m_szConfFilePath[MAX_PATH];

 private:
  friend DWORD ProcessRsp(CServerComm* owner);
  // Claims the object for a command: FALSE (with a trace line) while another command runs.
  BOOL BeginCommand(LPCSTR operation);
  // Builds the request, fills the context and hands it to the command thread; `wait` blocks for the result.
  DWORD RunCommand(LPCSTR operation, LPCSTR serverIp, DWORD command, const BYTE* data, DWORD dataLength,
                   DWORD* cancel, HWND window, DWORD message, bool wait);
  void EndCommand() { m_CommandBusy.store(false, std::memory_order_release); }

  // The object's command thread: started by its first command, then kept waiting for the next one until
  // the object goes, so that a command costs no thread start.
  class CommandThread;
  ServerCommSettings m_Settings;
  std::unique_ptr<CommandThread> m_CommandThread;
  std::atomic<bool> m_CommandBusy{false};
};

// Creates an IPv4 TCP socket (stored in *socket at once, so the caller closes it whatever follows), sets
// the receive time-out and connects. 0, or 2, 3, 4 for the step that failed.
DWORD CommunicationInit(LPCSTR serverIp, DWORD port, SOCKET* socket, DWORD recvTimeoutMs = 1000);
BOOL CommunicationClose(SOCKET socket);
// Starts ExecuteCmdTh on the context; hands back its handle when asked. 0, or 10 when not started.
DWORD ExecuteCmd(CommandContext* context, HANDLE* thread);
DWORD WINAPI ExecuteCmdTh(LPVOID context);

// Turns the received response of the owner's command into its result code, frees the buffers and posts
// the result to the caller's window.
DWORD ProcessRsp(CServerComm* owner);
DWORD ProcessFactoryDefaultsRsp(CServerComm* owner);
DWORD ProcessResetServerRsp(CServerComm* owner);
DWORD ProcessUnLockRsp(CServerComm* owner);
DWORD ProcessGetConfigRsp(CServerComm* owner);
DWORD ProcessSetConfigRsp(CServerComm* owner);
DWORD ProcessGetConnectedClientsRsp(CServerComm* owner);
DWORD ProcessUpgradeFWRsp(CServerComm* owner);
DWORD ProcessIProdStrDescRsp(const char* buffer, DWORD length);

namespace tavrin {

// The reallocation used to grow response buffers; tests replace it to make it fail.
using ResponseReallocFn = void* (*)(void*, size_t);
void SetResponseReallocForTest(ResponseReallocFn fn);

}  // namespace tavrin
