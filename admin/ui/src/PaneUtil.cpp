#include "PaneUtil.h"

#include <cstring>
#include <ctime>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/MainFrame.h"

void SetUpDataList(CListCtrl& list, const CUiFontSet& fonts) {
  list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  list.SetBkColor(kPaneBack);
  list.SetTextBkColor(kPaneBack);
  list.SetTextColor(kListText);
  if (CHeaderCtrl* header = list.GetHeaderCtrl()) {
    header->ModifyStyle(HDS_BUTTONS, 0);
    CFont* bold = fonts.GetFont(1);
    header->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(bold ? bold->GetSafeHandle() : nullptr), TRUE);
  }
}

void SetUpDialogButton(CShadedButton& button, UINT icon, UINT pressedIcon) {
  LOGFONT font{};
  font.lfHeight = -12;
  font.lfWeight = FW_BOLD;
  strncpy(font.lfFaceName, "Courier New", sizeof font.lfFaceName - 1);
  button.SetTextFont(&font);
  button.SetShade(3, 8, 100, 5, RGB(179, 174, 179));
  button.SetTextColor(RGB(0, 0, 128));
  button.SetIcon(icon, BS_RIGHT, pressedIcon, pressedIcon);
}

void RelayoutMainWindow(int& toggle, bool width) {
  CMainFrame* frame = GetAdminMainFrame();
  if (!frame || !frame->GetSafeHwnd()) return;
  RECT rect;
  frame->GetWindowRect(&rect);
  const int cx = rect.right - rect.left + (width ? toggle : 0);
  const int cy = rect.bottom - rect.top + (width ? 0 : toggle);
  frame->SetWindowPos(nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Every pane and its lists too: the frame's own paint does not spare its children.
  frame->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  toggle = -toggle;
}

void FillPaneBackground(CWnd& pane) {
  CPaintDC dc(&pane);
  RECT client;
  pane.GetClientRect(&client);
  dc.FillSolidRect(&client, kPaneBack);
}

CPoint ContextMenuPoint(const CWnd& pane) {
  const DWORD position = ::GetMessagePos();
  CPoint point(GET_X_LPARAM(position), GET_Y_LPARAM(position));
  if (point.x == -1 && point.y == -1) {
    point = CPoint(0, 0);
    pane.ClientToScreen(&point);
    point.Offset(5, 5);
  }
  return point;
}

CString NowText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64] = {};
  std::strftime(text, sizeof text, format, &local);
  return text;
}

bool IsPaneThread(const CWnd& pane) {
  return !pane.GetSafeHwnd() || ::GetWindowThreadProcessId(pane.GetSafeHwnd(), nullptr) == ::GetCurrentThreadId();
}

int ShowMainFrameMessage(LPCSTR text, UINT type) {
  if (CMainFrame* frame = GetAdminMainFrame(); frame && frame->GetSafeHwnd()) return frame->ShowMessageBox(text, type, 0);
  return ::MessageBox(nullptr, text, kAdminAppTitle, type);
}

CString LoadStringText(UINT id) {
  CString text;
  text.LoadString(id);
  return text;
}

CString ServerStateText(const ServerPresenceEntry& server, BOOL canGo) {
  const DWORD bits = server.RequestStatus;
  if (server.Active) {
    if (bits & ARRM_STATUS_PENDING) return "Loading...";
    if (bits & ARRM_STATUS_FAILED) return "Loading Failed";
    if (bits & ARRM_STATUS_SUCCESS) return "Loaded Successfully";
    return "";
  }
  if (bits & ARRM_STATUS_PENDING) return "Unloading...";
  if (bits & ARRM_STATUS_FAILED) return "Unload Failed";
  if (bits & ARRM_STATUS_SUCCESS) return canGo ? "Unload Success" : "Unloading...";
  return "";
}

CString DecimalText(int value) {
  CString text;
  text.Format("%d", value);
  return text;
}

void ListDiscoveredServers(CListCtrl& list, const ServerDiscoveryList& servers, bool withStatus) {
  list.DeleteAllItems();
  CString lastIp;
  for (POSITION position = servers.GetHeadPosition(); position;) {
    const ServerDiscoveryRecord& server = servers.GetNext(position);
    const CString ip(server.ServerIp, static_cast<int>(strnlen(server.ServerIp, sizeof server.ServerIp)));
    const int row = list.GetItemCount();
    if (row > 0 && ip == lastIp) continue;
    lastIp = ip;
    CString model, mac;
    GetServerModelName(server.ModelCode, model);
    const BYTE* m = server.MacAddress;
    mac.Format("%x-%x-%x-%x-%x-%x", m[0], m[1], m[2], m[3], m[4], m[5]);
    list.InsertItem(row, DecimalText(row + 1));
    list.SetItemText(row, kServerListIpColumn - 2, model);
    list.SetItemText(row, kServerListIpColumn - 1, mac);
    list.SetItemText(row, kServerListIpColumn, ip);
    if (withStatus) list.SetItemText(row, kServerListStatusColumn, server.LockFlag == 1 ? "Locked" : "");
  }
}

bool IsForwardedCommand(UINT id) {
  switch (id) {
    case ID_START_DEVICE_MAPPING: case ID_STOP_DEVICE_MAPPING: case ID_CONNECT: case ID_DISCONNECT:
    case ID_PRINTER_AUTO_CONNECT: case ID_SEARCH_SERVERS: case ID_UNLOCK: case ID_UPGRADE_FIRMWARE:
    case ID_SERVER_CONFIGURATION: case ID_RESTORE_FACTORY_DEFAULTS:
      return true;
    default:
      return false;
  }
}

bool ForwardToDocument(CTavrinAdminDoc* doc, UINT id) {
  if (!IsForwardedCommand(id)) return false;
  if (!doc) return true;
  switch (id) {
    case ID_START_DEVICE_MAPPING: doc->StartDeviceMapping(); break;
    case ID_STOP_DEVICE_MAPPING: doc->StopDeviceMapping(TRUE); break;
    case ID_CONNECT: case ID_DISCONNECT: doc->OnConnectDisconnect(); break;
    case ID_PRINTER_AUTO_CONNECT: doc->OnPrinterAutoConnect(); break;
    case ID_SEARCH_SERVERS: doc->OnSearchServers(); break;
    case ID_UNLOCK: doc->OnUnlock(); break;
    case ID_UPGRADE_FIRMWARE: doc->OnUpgradeFirmware(); break;
    case ID_SERVER_CONFIGURATION: doc->OnServerConfiguration(); break;
    case ID_RESTORE_FACTORY_DEFAULTS: doc->OnRestoreFactoryDefaults(); break;
  }
  return true;
}
