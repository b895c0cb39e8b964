#include "admin/TavrinAdminDoc.h"

#include <cstring>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "win32/security.h"
#include "admin/comm/DocServices.h"
#include "admin/comm/ServerComm.h"
#include "admin/util/Utilities.h"
#include "win32/user.h"

IMPLEMENT_DYNCREATE(CTavrinAdminDoc, CDocument)

const mfc::MessageMap* CTavrinAdminDoc::GetMessageMap() const {
  // Only the update rules: the frame and the panes forward the commands themselves.
  static const mfc::MessageEntry entries[] = {
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_START_DEVICE_MAPPING),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_STOP_DEVICE_MAPPING),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_PRINTER_AUTO_CONNECT),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_CONNECT),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_DISCONNECT),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_SEARCH_SERVERS),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_UNLOCK),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_UPGRADE_FIRMWARE),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_SERVER_CONFIGURATION),
      mfc::OnUpdateCommand<&CTavrinAdminDoc::OnUpdateCommandUI>(ID_RESTORE_FACTORY_DEFAULTS),
  };
  static const mfc::MessageMap map{CDocument::GetMessageMap(), entries};
  return &map;
}

CTavrinAdminDoc::CTavrinAdminDoc() {
  InitializeCriticalSection(&m_csDiscoveredServers);
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetDocument(this);
  m_bWinsockStarted = WinsockStart() == 0;  // Windows Sockets 2.2 for the document's whole run
}

CTavrinAdminDoc::~CTavrinAdminDoc() {
  // A document closed while mapping runs (the program's end without a stop) still ends its threads first.
  if (IsDeviceMappingStarted()) StopDeviceMapping(FALSE);
  m_pRestoreComm.reset();  // waits for a restore's command thread still running
  if (m_bWinsockStarted) WinsockStop();
  DeleteCriticalSection(&m_csDiscoveredServers);
  delete m_pUnloadNotice;  // the notice shown last, if any
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetDocument(nullptr);
}

BOOL CTavrinAdminDoc::OnNewDocument() {
  if (!CDocument::OnNewDocument()) return FALSE;
  for (DWORD& flag : m_ViewModeFlags) flag = 0;
  __atomic_store_n(&m_bMappingStarted, 0u, __ATOMIC_SEQ_CST);
  return TRUE;
}

void CTavrinAdminDoc::OnCloseDocument() {
  // The threads of a mapping run use the panes (the broadcast listener holds the functional pane).
  if (IsDeviceMappingStarted()) StopDeviceMapping(FALSE);
  CDocument::OnCloseDocument();
}


void CTavrinAdminDoc::AddDeviceMappingLog(CString text) {
  if (m_pPanes) m_pPanes->AddDeviceMappingLog(text);
}

void CTavrinAdminDoc::AddServerManagerLog(CString text) {
  if (m_pPanes) m_pPanes->AddServerManagerLog(text);
}

void CTavrinAdminDoc::ClearServerDetails() {
  if (m_pPanes) m_pPanes->ClearServerDetails();
}

void CTavrinAdminDoc::ShowDeviceDetails(CString strIP, WORD wPort) {
  if (m_pPanes) m_pPanes->ShowDeviceDetails(strIP, wPort);
}

void CTavrinAdminDoc::ShowServerManagerDetails(CString strIP) {
  if (m_pPanes) m_pPanes->ShowServerManagerDetails(strIP);
}

void CTavrinAdminDoc::SetStatusText(LPCSTR text) {
  if (m_pPanes) m_pPanes->SetStatusText(text);
}

int CTavrinAdminDoc::ShowMessageBox(LPCSTR text, UINT style) {
  return m_pPanes ? m_pPanes->ShowMessageBox(text, style) : ::MessageBox(nullptr, text, kAdminAppTitle, style);
}

void CTavrinAdminDoc::ForEachServer(const std::function<void(ServerPresenceEntry&)>& visit) {
  if (!m_bLocksReady) return;
  tavrin::CriticalSectionGuard hold(m_csServerPresence);
  for (POSITION position = m_ServerPresenceList.GetHeadPosition(); position;) visit(m_ServerPresenceList.GetNext(position));
}

void CTavrinAdminDoc::ForEachDevice(const std::function<void(DeviceEntry&)>& visit) {
  if (!m_bLocksReady) return;
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  for (POSITION position = m_DeviceList.GetHeadPosition(); position;) visit(m_DeviceList.GetNext(position));
}

int CTavrinAdminDoc::GetServerCount() {
  if (!m_bLocksReady) return 0;
  tavrin::CriticalSectionGuard hold(m_csServerPresence);
  return m_ServerPresenceList.GetCount();
}

int CTavrinAdminDoc::GetDeviceCount() {
  if (!m_bLocksReady) return 0;
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  return m_DeviceList.GetCount();
}

BOOL CTavrinAdminDoc::GetDevice(LPCSTR address, WORD port, DeviceEntry* out) {
  if (!m_bLocksReady) return FALSE;
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  POSITION position = GetDevicePosition(address, port);
  if (!position) return FALSE;
  *out = m_DeviceList.GetAt(position);
  return TRUE;
}

void CTavrinAdminDoc::Refresh(const std::function<void()>& showServers, const std::function<void()>& showDevices) {
  if (!m_bLocksReady) return;
  // Without the kernel host nothing can be announced: the lists wait for it as they are.
  if (m_bKernelHostLost && !LookForKernelHost()) return;
  {
    tavrin::CriticalSectionGuard hold(m_csServerPresence);
    if (!m_ServerPresenceList.IsEmpty()) {
      CheckServerArrivalRemoval();
      if (showServers) showServers();
    }
  }
  tavrin::CriticalSectionGuard hold(m_csDeviceList);
  if (!m_DeviceList.IsEmpty()) {
    CheckDeviceDeparture();
    if (showDevices) showDevices();
  }
}

// The list services below find nothing while mapping is off: the lists and their locks exist only while it runs.

BOOL CTavrinAdminDoc::SetProductStringState(CString strIP, WORD wPort, DWORD state) {
  if (!m_bLocksReady) return FALSE;
  return ::SetProductStringState(m_DeviceList, &m_csDeviceList, strIP, wPort, state);
}

BOOL CTavrinAdminDoc::StoreProductString(CString strIP, WORD wPort, const zarnet::iproduct_string* productString) {
  if (!m_bLocksReady) return FALSE;
  return ::StoreProductString(m_DeviceList, &m_csDeviceList, strIP, wPort, productString);
}

BOOL CTavrinAdminDoc::CanRemoveServer(CString strIP) {
  return !m_bLocksReady || ::CanRemoveServer(m_DeviceList, &m_csDeviceList, strIP);
}

BOOL CTavrinAdminDoc::FindServerPresence(CString strIP, ServerPresenceEntry* out) {
  if (!m_bLocksReady) return FALSE;
  tavrin::CriticalSectionGuard hold(m_csServerPresence);
  POSITION position = m_ServerPresenceList.Find(strIP.str());
  if (!position) return FALSE;
  *out = m_ServerPresenceList.GetAt(position);
  return TRUE;
}

BOOL CTavrinAdminDoc::FindDiscoveredServer(CString strIP, ServerDiscoveryRecord* out) {
  tavrin::CriticalSectionGuard hold(m_csDiscoveredServers);
  return ::FindDiscoveredServer(m_DiscoveredServers, strIP, out);
}

BOOL CTavrinAdminDoc::EnablePrivilege(LPCSTR name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;  // a system without security
  }
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValue(nullptr, name, &privileges.Privileges[0].Luid)) {
    CloseHandle(token);
    return FALSE;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  const BOOL result = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
  return result;
}

namespace {

// Dispatches the waiting messages of one window (or, with null, of the thread). A WM_QUIT is put back for
// the message loop that owns it; FALSE then.
BOOL DispatchWaiting(HWND window) {
  MSG msg;
  while (PeekMessage(&msg, window, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return FALSE;
    }
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  return TRUE;
}

}  // namespace

void CTavrinAdminDoc::PumpMessages() {
  HWND mainWindow = m_pPanes ? m_pPanes->GetMainWindow() : nullptr;
  if (mainWindow && !DispatchWaiting(mainWindow)) return;
  DispatchWaiting(nullptr);
}

void CTavrinAdminDoc::SleepPumping(DWORD milliseconds) {
  for (DWORD slept = 0; slept < milliseconds; slept += 100) {
    Sleep(milliseconds - slept < 100 ? milliseconds - slept : 100);
    PumpMessages();
  }
}
