// The broadcast listener: receives the servers' device lists and, after the computer resumes from
// standby or hibernation, disconnects everything.
#include <cstring>

#include "Presence.h"
#include "admin/TavrinAdminApp.h"
#include "admin/Trace.h"
#include "win32/security.h"
#include "admin/util/Utilities.h"
#include "zarnet/device_list.h"

using presence::Load;

DWORD WINAPI CTavrinAdminDoc::DetectServer(LPVOID document) {
  return static_cast<CTavrinAdminDoc*>(document)->ListenForDeviceLists();
}

void CTavrinAdminDoc::OnBusUp() {
  if (!m_hDetectServerThread) {
    m_hDetectServerThread = CreateThread(nullptr, 0, &CTavrinAdminDoc::DetectServer, this, 0, nullptr);
    if (!m_hDetectServerThread) TraceInfo("CreateThread() func failed\n");
  }
  StartPrinterMonitors();
}

void CTavrinAdminDoc::StopBroadcastListener() {
  // The stop flag first, so that a listener woken here never receives again. The socket is only shut
  // down (which wakes a blocked receive): the listener closes it itself once it no longer uses it.
  InterlockedExchange(&m_lStop, 1);
  std::lock_guard guard(m_BroadcastSocketLock);
  if (m_BroadcastSocket != INVALID_SOCKET) shutdown(m_BroadcastSocket, SD_BOTH);
}

void CTavrinAdminDoc::DisconnectAllAfterResume() {
  TraceInfo("DisConnecting all the devices & Servers...!\n");
  BOOL timedOut = DisconnectAll(TRUE, TRUE, TRUE);
  if (Load(m_nPendingDeviceRsp) != 0 || Load(m_nPendingServerRsp) != 0) Sleep(m_dwResumeSettlePeriod);
  if (Load(m_nPendingDeviceRsp) == 0 && Load(m_nPendingServerRsp) == 0) timedOut = FALSE;
  TraceInfo("DisConnected all the devices & Servers\n");
  InterlockedExchange(&m_lSuspend, 0);
  InterlockedExchange(&m_lResume, 0);
  if (!timedOut) return;
  // Without a user interface nobody answers: as a Cancel.
  auto AskUserFromListener = [this](LPCSTR text, UINT style) { return m_pPanes ? m_pPanes->ShowMessageBox(text, style) : IDCANCEL; };
  if (AskUserFromListener("One of the device/server is not unloaded properly.It is recommended to reboot the PC.\n Press OK to "
              "Reboot the System (OR)CANCEL to Reboot Later.",
              MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) {
    EnablePrivilege("SeShutdownPrivilege");
    ExitWindowsEx(3, 0xFFFFFFFF);
  } else {
    AskUserFromListener("Some of the devices may not work properly.\n Press 'OK' to proceed further.", MB_ICONINFORMATION);
  }
}

DWORD CTavrinAdminDoc::ListenForDeviceLists() {
  SOCKET listener = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (listener == INVALID_SOCKET) {
    TraceError("DetectServer >> socket() error:%d\n", WSAGetLastError());
    return 0;
  }
  {
    std::lock_guard guard(m_BroadcastSocketLock);
    m_BroadcastSocket = listener;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = m_ulDeviceListAddress;
  local.sin_port = htons(m_wDeviceListPort);
  if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
    TraceError("DetectServer >> bind() error:%d\n", WSAGetLastError());
  } else {
    BYTE buffer[zarnet::kDeviceListBufferSize];
    while (!Load(m_lStop)) {
      if (Load(m_lSuspend) && !Load(m_lResume)) {
        Sleep(100);  // nothing is received while the computer sleeps
        continue;
      }
      if (Load(m_lSuspend) && Load(m_lResume)) DisconnectAllAfterResume();
      TraceInfo("Detecting Servers.....\n");
      memset(buffer, 0, sizeof buffer);
      sockaddr_in sender{};
      int senderLength = sizeof sender;
      int received = recvfrom(listener, reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                              reinterpret_cast<sockaddr*>(&sender), &senderLength);
      // A datagram longer than the buffer arrives cut to it: its whole entries are read.
      if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) received = sizeof buffer;
      if (received == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        TraceError("DetectServer: >> recvfrom() func failed  error = %d\n", error);
        if (error == WSAESHUTDOWN || error == WSAENOTSOCK) {
          // Only the stop shuts the socket down (or closes it) and it sets m_lStop right after; the
          // descriptor is not received on again, as it may already belong to another socket.
          while (!Load(m_lStop)) Sleep(1);
          break;
        }
        Sleep(0);
        continue;
      }
      if (Load(m_lResume)) continue;
      char address[28] = {};
      strncpy(address, inet_ntoa(sender.sin_addr), sizeof address - 1);
      OnDeviceListDatagram(address, buffer, received);
      // No yield here: the next receive gives the processor up while nothing waits, and a yield at every
      // datagram cost the listener half its time under load.
    }
  }
  std::lock_guard guard(m_BroadcastSocketLock);
  if (m_BroadcastSocket == listener) {  // not yet closed by someone else
    CloseSocket(listener);
    m_BroadcastSocket = INVALID_SOCKET;
  }
  return 0;
}
