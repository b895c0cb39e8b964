// The document's side of the window: which commands are enabled (menu bar, toolbar, context menus), the
// context menus it decides, and the Server Manager and printer commands that gather the selected servers
// and run their dialogs.
#include <algorithm>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/comm/ServerComm.h"
#include "win32/winsock.h"

namespace {

constexpr char kLocked[] = "Locked";

bool IsOneOf(const CString& text, std::initializer_list<LPCSTR> texts) {
  return std::any_of(texts.begin(), texts.end(), [&](LPCSTR candidate) { return text == candidate; });
}

CString Loaded(UINT id) {
  CString text;
  text.LoadString(id);
  return text;
}

}  // namespace

// ---- the rules ----

ServerSelection CTavrinAdminDoc::GetServerSelection() const {
  ServerSelection selection;
  if (!m_pPanes) return selection;
  const std::vector<ServerListRow> rows = m_pPanes->GetSelectedServerRows();
  selection.Count = static_cast<int>(rows.size());
  selection.AnyLocked = std::any_of(rows.begin(), rows.end(), [](const ServerListRow& row) { return row.Status == kLocked; });
  selection.OneLocked = selection.Count == 1 && selection.AnyLocked;
  selection.OneUnlocked = selection.Count == 1 && !selection.AnyLocked;
  return selection;
}

BOOL CTavrinAdminDoc::IsCommandEnabled(UINT id) const {
  const BOOL mapping = IsDeviceMappingStarted() != 0;
  switch (id) {
    case ID_START_DEVICE_MAPPING: return !mapping;
    case ID_STOP_DEVICE_MAPPING: return mapping;
    case ID_PRINTER_AUTO_CONNECT: return mapping && m_pServerDialogs != nullptr;
    case ID_CONNECT:
    case ID_DISCONNECT: {
      CString serverIp, state;
      WORD port = 0;
      if (!mapping || !m_pPanes || !m_pPanes->GetSelectedDevice(&serverIp, &port, &state)) return FALSE;
      if (id == ID_DISCONNECT) return IsOneOf(state, {"Connected", "Loading...", "Loading Failed"});
      return !IsOneOf(state, {"Connected", "Loading...", "Loading Failed", "Unload Failed", "Busy", "Unloading..."});
    }
    case ID_SEARCH_SERVERS: return m_pServerDialogs != nullptr;
    case ID_UNLOCK: return m_pServerDialogs && GetServerSelection().OneLocked;
    case ID_UPGRADE_FIRMWARE: {
      const ServerSelection selection = GetServerSelection();
      return m_pServerDialogs && ((selection.Count >= 2 && !selection.AnyLocked) || selection.OneUnlocked);
    }
    case ID_SERVER_CONFIGURATION: return m_pServerDialogs && GetServerSelection().OneUnlocked;
    case ID_RESTORE_FACTORY_DEFAULTS: return GetServerSelection().OneUnlocked;
    default: return FALSE;
  }
}

void CTavrinAdminDoc::OnUpdateCommandUI(CCmdUI* ui) { ui->Enable(IsCommandEnabled(ui->m_nID)); }

// ---- context menus ----

BOOL CTavrinAdminDoc::TrackMenu(const ContextMenu& menu, CWnd* owner, POINT at, BOOL serverManager) {
  if (m_pPanes && m_pPanes->TrackContextMenu(menu, owner ? owner->GetSafeHwnd() : nullptr, at)) return TRUE;
  if (serverManager) TraceError(" pPopup is NULL... Returning \n");
  else TraceInfo("pPopup is NULL... Returning\n");
  return FALSE;
}

void CTavrinAdminDoc::ShowServerManagerMenu(CWnd* owner, POINT at) {
  ContextMenu menu;
  menu.MenuId = IDR_SERVER_MANAGER;
  menu.IconBitmap = IDB_SERVER_MANAGER_MENU_ICONS;
  menu.IconCommands = {ID_SEARCH_SERVERS, ID_UNLOCK, ID_UPGRADE_FIRMWARE, ID_SERVER_CONFIGURATION,
                       ID_RESTORE_FACTORY_DEFAULTS};
  for (UINT id : menu.IconCommands)
    if (!IsCommandEnabled(id)) menu.Disabled.push_back(id);
  TrackMenu(menu, owner, at, TRUE);
}

void CTavrinAdminDoc::ShowDeviceMappingMenu(CWnd* owner, POINT at, BOOL deviceRowSelected, BOOL deviceRowForm) {
  if (deviceRowForm && !deviceRowSelected) return;  // a server row has no menu
  ContextMenu menu;
  menu.MenuId = IDR_DEVICE_MAPPING;
  menu.IconBitmap = IDB_DEVICE_MAPPING_MENU_ICONS;
  menu.IconCommands = {ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_CONNECT, ID_DISCONNECT,
                       ID_PRINTER_AUTO_CONNECT};
  if (deviceRowForm) {
    menu.Removed = {ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_PRINTER_AUTO_CONNECT};
    menu.RemoveSeparators = TRUE;
  }
  for (UINT id : menu.IconCommands) {
    const bool removed = std::find(menu.Removed.begin(), menu.Removed.end(), id) != menu.Removed.end();
    if (!removed && !IsCommandEnabled(id)) menu.Disabled.push_back(id);
  }
  TrackMenu(menu, owner, at, FALSE);
}

void CTavrinAdminDoc::ShowLogMenu(CWnd* owner, POINT at) {
  ContextMenu menu;
  menu.MenuId = IDR_LOG_MENU;
  menu.IconBitmap = IDB_LOG_MENU_ICONS;
  menu.IconCommands = {ID_LOG_CLEAR, ID_LOG_SAVE};
  TrackMenu(menu, owner, at, FALSE);
}

void CTavrinAdminDoc::ShowDetailsMenu(CWnd* owner, POINT at) {
  ContextMenu menu;
  menu.MenuId = IDR_DETAILS_MENU;
  if (GetServerSelection().Count == 0) menu.Disabled.push_back(ID_REFRESH_DETAILS);
  TrackMenu(menu, owner, at, FALSE);
}

void CTavrinAdminDoc::ShowAutoConnectMenu(CWnd* owner, POINT at) {
  ContextMenu menu;
  menu.MenuId = IDR_AUTO_CONNECT_MENU;
  menu.IconBitmap = IDB_LOG_MENU_ICONS;  // the log's icons: none of them is this menu's
  menu.IconCommands = {ID_LOG_CLEAR, ID_LOG_SAVE};
  TrackMenu(menu, owner, at, FALSE);
}

void CTavrinAdminDoc::ShowTrayMenu(CWnd* owner, POINT at) {
  ContextMenu menu;
  menu.MenuId = IDR_TRAY_MENU;
  menu.IconBitmap = IDB_TRAY_MENU_ICONS;
  menu.IconCommands = {ID_TRAY_SHOW, ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_TRAY_EXIT};
  menu.TrackFlags = TPM_RIGHTBUTTON | TPM_BOTTOMALIGN;
  // The frame routes the mapping commands through the rules above; the menu shows them as they stand.
  for (UINT id : {ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING})
    if (!IsCommandEnabled(id)) menu.Disabled.push_back(id);
  TrackMenu(menu, owner, at, FALSE);
}

// ---- the Server Manager commands ----

void CTavrinAdminDoc::AddSelectedServer(const ServerListRow& row) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  const CString ip = row.Ip.Left(static_cast<int>(sizeof entry.ServerIp) - 1);
  memcpy(entry.ServerIp, static_cast<LPCSTR>(ip), static_cast<size_t>(ip.GetLength()));
  FindDiscoveredServer(row.Ip, &entry.Server);
  m_SelectedServers.AddTail(entry);
}

void CTavrinAdminDoc::OnSearchServers() {
  if (!m_pServerDialogs) return;
  {
    tavrin::CriticalSectionGuard hold(m_csDiscoveredServers);
    m_DiscoveredServers.RemoveAll();
  }
  ClearServerDetails();
  m_pServerDialogs->RunServerSearch();
  if (!m_pPanes) return;
  tavrin::CriticalSectionGuard hold(m_csDiscoveredServers);
  m_pPanes->ShowSearchResults(m_DiscoveredServers);
}

void CTavrinAdminDoc::OnUnlock() {
  m_SelectedServers.RemoveAll();
  if (!m_pServerDialogs || !m_pPanes) return;
  const std::vector<ServerListRow> rows = m_pPanes->GetSelectedServerRows();
  if (rows.empty()) return;
  AddSelectedServer(rows.front());
  if (m_pServerDialogs->RunUnlock() != IDOK) return;
  m_pPanes->SetServerRowText(rows.front().Row, kServerListStatusColumn, "Unlocked");
  AddServerManagerLog(Loaded(IDS_UNLOCK_DONE));
}

void CTavrinAdminDoc::OnUpgradeFirmware() {
  m_SelectedServers.RemoveAll();
  if (!m_pServerDialogs || !m_pPanes) return;
  for (const ServerListRow& row : m_pPanes->GetSelectedServerRows()) AddSelectedServer(row);
  m_pServerDialogs->RunUpgradeFirmware();
}

void CTavrinAdminDoc::OnServerConfiguration() {
  m_SelectedServers.RemoveAll();
  if (!m_pServerDialogs || !m_pPanes) return;
  const std::vector<ServerListRow> rows = m_pPanes->GetSelectedServerRows();
  if (!rows.empty()) AddSelectedServer(rows.front());
  int passwordEnable = -1;
  CString newIp;
  if (m_pServerDialogs->RunServerConfiguration(&passwordEnable, &newIp) != IDOK || rows.empty()) return;
  const ServerListRow& row = rows.front();
  m_pPanes->SetServerRowText(row.Row, kServerListStatusColumn, passwordEnable != 0 ? "Unlocked" : "");
  if (!newIp.IsEmpty()) m_pPanes->SetServerRowText(row.Row, kServerListIpColumn, newIp);
  CString text;
  text.Format(Loaded(IDS_CONFIGURATION_SAVED), m_SelectedServers.GetHead().ServerIp);
  ShowMessageBox(text, MB_ICONINFORMATION);
  AddServerManagerLog(text);
  TraceInfo("%s\n", static_cast<LPCSTR>(text));
}

void CTavrinAdminDoc::OnPrinterAutoConnect() {
  if (m_pServerDialogs) m_pServerDialogs->RunPrinterAutoConnect();
}

void CTavrinAdminDoc::OnRestoreFactoryDefaults() {
  if (ShowMessageBox(Loaded(IDS_RESTORE_QUESTION), MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL) return;
  const CString starting = Loaded(IDS_RESTORING_DEFAULTS);
  AddServerManagerLog(starting);
  TraceInfo("%s\n", static_cast<LPCSTR>(starting));
  if (!m_pPanes || m_pRestoreComm) return;  // one restore at a time: its answer is still to come
  const std::vector<ServerListRow> rows = m_pPanes->GetSelectedServerRows();
  if (rows.empty()) return;
  // Behind another operation's wait window nothing is sent: that operation's answer is still to come.
  if (!m_pPanes->OpenWaitWindow("Please Wait...", kWaitProgressMoving)) {
    TraceError("OnRestoreFactoryDefaults() :: another operation is under way; refused\n");
    return;
  }
  m_pRestoreComm = std::make_unique<CServerComm>();
  const HWND functionWindow = m_pPanes->GetFunctionWindow();
  const DWORD result =
      m_pRestoreComm->RestoreFactoryDefaults(rows.front().Ip, nullptr, functionWindow, WM_RESTORE_DEFAULTS_DONE);
  // A command that could not start ends the same way as one that failed.
  if (result != 0) ::PostMessage(functionWindow, WM_RESTORE_DEFAULTS_DONE, result, 0);
}

void CTavrinAdminDoc::OnRestoreFactoryDefaultsDone(int result) {
  if (m_pPanes) m_pPanes->CloseWaitWindow();
  if (result != 0) {
    const CString text = Loaded(IDS_RESTORE_FAILED);
    AddServerManagerLog(text);
    ShowMessageBox(text, MB_ICONERROR);
    TraceError("%sError Code: %d\n", static_cast<LPCSTR>(text), result);
  } else {
    const CString text = Loaded(IDS_RESTORE_DONE);
    AddServerManagerLog(text);
    ShowMessageBox(text, MB_ICONINFORMATION);
    TraceInfo("%s\n", static_cast<LPCSTR>(text));
  }
  m_pRestoreComm.reset();
}

void CTavrinAdminDoc::ClearDeviceDetails() {
  if (m_pPanes) m_pPanes->ClearDeviceDetails();
}

// ---- what the panes keep in the document ----

void CTavrinAdminDoc::SetViewMode(BOOL serverManager) {
  m_ViewModeFlags[kFunctionServerManager] = serverManager ? 1 : 0;
  m_ViewModeFlags[kFunctionDeviceMapping] = serverManager ? 0 : 1;
  m_ViewModeFlags[kDetailsServerManager] = serverManager ? 1 : 0;
  m_ViewModeFlags[kDetailsDeviceMapping] = serverManager ? 0 : 1;
  m_ViewModeFlags[kLogDeviceMapping] = serverManager ? 0 : 1;
  m_ViewModeFlags[kLogServerManager] = serverManager ? 1 : 0;
}

void CTavrinAdminDoc::SetUnloadNotice(CWnd* notice) { m_pUnloadNotice = notice; }

BOOL CTavrinAdminDoc::SetPrinterAutoReconnect(LPCSTR printerName, DWORD autoReconnect) {
  std::lock_guard guard(m_PrinterLock);
  for (POSITION position = m_PrinterList.GetHeadPosition(); position != nullptr;) {
    PrinterInfo& printer = m_PrinterList.GetNext(position);
    if (strncmp(printer.PrinterName, printerName, sizeof printer.PrinterName) != 0) continue;
    printer.AutoReconnect = autoReconnect;
    return TRUE;
  }
  return FALSE;
}

BOOL CTavrinAdminDoc::RemovePrinter(LPCSTR printerName) {
  std::lock_guard guard(m_PrinterLock);
  for (POSITION position = m_PrinterList.GetHeadPosition(); position != nullptr;) {
    const POSITION at = position;
    const PrinterInfo& printer = m_PrinterList.GetNext(position);
    if (strncmp(printer.PrinterName, printerName, sizeof printer.PrinterName) != 0) continue;
    m_PrinterList.RemoveAt(at);
    return TRUE;
  }
  return FALSE;
}
