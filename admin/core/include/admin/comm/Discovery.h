// Discovery of the servers by a UDP broadcast: the record of one found server, the run's context, and
// the free functions of the receiving thread.
#pragma once
#include "mfc/collections.h"
#include "mfc/string.h"
#include "win32/sync.h"
#include "win32/types.h"
#include "win32/winsock.h"

#pragma pack(push, 1)
// One found server.
struct ServerDiscoveryRecord {
  DWORD CommandPort;
  char ServerIp[25];
  BYTE ModelCode;
  BYTE MacAddress[6];
  BYTE LockFlag;  // 1: password-locked
  BYTE FwVersionMajor;
  BYTE FwVersionMinor;
  char ServerName[16];  // zero-filled after the name; a 16-byte name has no terminating zero
};

// What the receiving thread hands to AddDiscoveredServer: the sender's address text and the reply bytes
// (zero beyond what arrived).
struct DISCOVERY_DATAGRAM {
  char SenderIp[25];
  BYTE Reply[30];
};
#pragma pack(pop)

using ServerDiscoveryList = CList<ServerDiscoveryRecord>;

// One discovery run (created by CServerComm::BroadcastInit, freed by CServerComm::BroadcastClose).
struct DiscoveryContext {
  DWORD State;  // 100 while the run lasts, then the thread's exit code (1 cancelled, 7 receive failure)
  SOCKET Socket;
  DWORD* Cancel;  // the caller's flag; the thread stops when it reads 1
  CRITICAL_SECTION* Lock;  // guards List
  ServerDiscoveryList* List;
  // Not part of the caller's interface: what the run was opened with.
  DWORD CommandPort;  // written into every record
  long Stop;  // set by BroadcastClose when the caller left the thread running
};

// The server name of a record as text (at most 16 characters).
CString GetDiscoveredServerName(const ServerDiscoveryRecord& record);
// 0 "Zarnet", 1 "Zarnet-1", any other "Unknown"; TRUE.
BOOL GetServerModelName(BYTE modelCode, CString& text);
// Position of the first record with that IP text (exact) and command port; null when none.
POSITION FindEnumeratedServer(ServerDiscoveryList* list, LPCSTR serverIp, DWORD port);
// Appends the record built from the datagram at the tail of the run's list. TRUE.
BOOL AddDiscoveredServer(const DISCOVERY_DATAGRAM& datagram, DiscoveryContext* context);
DWORD WINAPI EnumerateServersTh(LPVOID context);
