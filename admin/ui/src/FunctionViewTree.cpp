// The device tree of the functional pane: a row per server heard on the network, a row per USB device
// under it, each showing the state of its requests to the drivers. A refresh changes only the rows whose
// state changed, so that only they are painted again.
#include <cstdlib>
#include <cstring>
#include <string>

#include "PaneUtil.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/NoticeDlg.h"

namespace {

constexpr DWORD kUnloadAnswerLimitMs = 30000;  // a disconnect without answer after this counts as failed
constexpr LPARAM kBusyRefreshesBeforeShown = 3;

constexpr COLORREF kServerRowColour = RGB(0, 0, 255);
constexpr COLORREF kNewDeviceColour = RGB(127, 220, 127);
constexpr COLORREF kBusyColour = RGB(255, 0, 0);
constexpr COLORREF kFreeColour = RGB(85, 177, 45);
constexpr COLORREF kConnectColour = RGB(0, 147, 181);
constexpr int kServerRowFont = 4;
constexpr int kDeviceStateFont = 2;

struct DeviceLook {
  const char* text;
  int image;
  COLORREF colour;
};

DeviceLook FreeOrBusy(const DeviceEntry& device) {
  return device.BusyFlag ? DeviceLook{"Busy", TREE_IMAGE_BUSY, kBusyColour}
                         : DeviceLook{"Free", TREE_IMAGE_FREE, kFreeColour};
}

// The look of a device row by its request kind and status bits (the pending bit first).
DeviceLook DeviceState(const DeviceEntry& device) {
  const DWORD bits = device.RequestStatus;
  switch (device.State) {
    case DEVICE_STATE_FREE:
      return FreeOrBusy(device);
    case DEVICE_STATE_CONNECT_REQUESTED:
    case DEVICE_STATE_CONNECTED:
      if (bits & ARRM_STATUS_PENDING) return {"Loading...", TREE_IMAGE_CHANGING, kConnectColour};
      if (bits & ARRM_STATUS_FAILED) return {"Loading Failed", TREE_IMAGE_CHANGING, kConnectColour};
      if (bits & ARRM_STATUS_SUCCESS) return {"Connected", TREE_IMAGE_CHANGING, kConnectColour};
      break;
    case DEVICE_STATE_DISCONNECT_REQUESTED:
    case DEVICE_STATE_DISCONNECTED:
      if (bits & ARRM_STATUS_PENDING) return {"Unloading...", TREE_IMAGE_CHANGING, kFreeColour};
      if (bits & ARRM_STATUS_FAILED) return {"Unload Failed", TREE_IMAGE_CHANGING, kFreeColour};
      if (bits & ARRM_STATUS_SUCCESS) return FreeOrBusy(device);
      break;
  }
  return {"", TREE_IMAGE_CHANGING, kFreeColour};
}

CString ParsedServerIp(const CString& rowText) {
  const int open = rowText.Find('(');
  CString ip = open >= 0 ? rowText.Left(open) : rowText;
  return ip.Trim();
}

// The state between "(" and ")" of a server row.
CString ParsedServerState(const CString& rowText) {
  const int open = rowText.Find('(');
  const int close = rowText.Find(')', open + 1);
  if (open < 0 || close < 0) return CString();
  CString state = rowText.Mid(open + 1, close - open - 1);
  return state.Trim();
}

CString ServerRowText(const CString& ip, const CString& state) { return ip + " ( " + state + " )"; }

// New rows move every row below them: while a refresh adds rows the tree is not painted, and once it is
// done it is painted once. A refresh that only changes rows paints just those.
class RowsAdded {
 public:
  explicit RowsAdded(COXTreeCtrl& tree) : tree_(tree) {}
  ~RowsAdded() {
    if (adding_) tree_.SetRedraw(TRUE);
  }
  RowsAdded(const RowsAdded&) = delete;
  RowsAdded& operator=(const RowsAdded&) = delete;
  void Begin() {
    if (!adding_) tree_.SetRedraw(FALSE);
    adding_ = true;
  }

 private:
  COXTreeCtrl& tree_;
  bool adding_ = false;
};

}  // namespace

BOOL CFunctionView::GetServerIPFromItem(HTREEITEM item, CString& serverIp) const {
  if (!item || !m_treeDevices.Resolve(item)) return FALSE;
  serverIp = ParsedServerIp(m_treeDevices.GetItemText(item, TREE_COL_INFO));
  return TRUE;
}

BOOL CFunctionView::IsServerItem(HTREEITEM item) const {
  return item && m_treeDevices.Resolve(item) && m_treeDevices.GetParentItem(item) == m_treeDevices.GetRootItem();
}

BOOL CFunctionView::IsDeviceItemSelected() const {
  HTREEITEM item = m_treeDevices.GetSafeHwnd() ? m_treeDevices.GetFirstSelectedItem() : nullptr;
  return !IsServerItem(item);
}

HTREEITEM CFunctionView::FindServerRow(const CString& serverIp) const {
  auto row = m_serverRows.find(serverIp.str());
  return row == m_serverRows.end() ? nullptr : row->second;
}

HTREEITEM CFunctionView::FindDeviceRow(HTREEITEM serverRow, const CString& port) const {
  for (HTREEITEM child = m_treeDevices.GetChildItem(serverRow); child; child = m_treeDevices.GetNextSiblingItem(child))
    if (m_treeDevices.GetItemText(child, TREE_COL_PORT) == port) return child;
  return nullptr;
}

HTREEITEM CFunctionView::AddServerRow(const CString& serverIp, const CString& text) {
  HTREEITEM row = m_treeDevices.InsertItem(text, TVI_ROOT, TVI_LAST);
  if (!row) return nullptr;
  m_treeDevices.SetItemImage(row, TREE_IMAGE_SERVER, TREE_IMAGE_SERVER);
  m_treeDevices.SetItemColor(row, kServerRowColour, TREE_COL_INFO);
  m_treeDevices.SetItemFont(row, m_fonts.GetFont(kServerRowFont), TREE_COL_INFO);
  m_treeDevices.Expand(row, TVE_EXPAND);
  m_serverRows[serverIp.str()] = row;
  return row;
}

void CFunctionView::RefreshServerList() {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc || !m_treeDevices.GetSafeHwnd()) return;
  RowsAdded added(m_treeDevices);
  doc->ForEachServer([&](const ServerPresenceEntry& server) {
    const CString ip(server.ServerIp, static_cast<int>(strnlen(server.ServerIp, sizeof server.ServerIp)));
    // A departed server goes only once none of its devices is still held.
    const BOOL canGo = server.Active || !(server.RequestStatus & ARRM_STATUS_SUCCESS) || doc->CanRemoveServer(ip);
    const CString state = ServerStateText(server, canGo);
    if (HTREEITEM row = FindServerRow(ip)) {
      const CString text = m_treeDevices.GetItemText(row, TREE_COL_INFO);
      if (!(ParsedServerState(text) == state)) m_treeDevices.SetItemText(row, ServerRowText(ip, state), TREE_COL_INFO);
    } else {
      added.Begin();
      AddServerRow(ip, ServerRowText(ip, state));
    }
  });
}

void CFunctionView::RefreshDeviceTree() {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc || !m_treeDevices.GetSafeHwnd()) return;
  std::vector<CString> notices;
  RowsAdded added(m_treeDevices);
  doc->ForEachDevice([&](DeviceEntry& device) {
    const CString ip(device.ServerIp, static_cast<int>(strnlen(device.ServerIp, sizeof device.ServerIp)));
    HTREEITEM serverRow = FindServerRow(ip);
    const CString serverState = serverRow ? ParsedServerState(m_treeDevices.GetItemText(serverRow, TREE_COL_INFO)) : CString();
    if (!(serverState == "Loaded Successfully") && !(serverState == "Unloading...")) {
      // A server whose arrival is still under way shows its devices later; only a device that outlives
      // its server is an error.
      if (!serverRow || serverState == "Unload Success" || serverState == "Unload Failed")
        TraceInfo("Error : Element not deleted even though it is not alive\n");
      return;
    }
    if (device.ProductStringState != 2) {
      TraceInfo("Could not get iProduct for Serer:%s\n", ip.GetString());
      return;
    }
    CString name;
    if (device.ProductStringLength != 0 && device.ProductString != nullptr)
      name = device.ProductString;
    else
      name.Format("Vid_%.4x&Pid_%.4x", device.Vid, device.Pid);

    const CString port = DecimalText(device.PortNum);
    HTREEITEM row = FindDeviceRow(serverRow, port);
    if (!row) {
      added.Begin();
      m_treeDevices.Expand(serverRow, TVE_EXPAND);
      row = m_treeDevices.InsertItem(name, serverRow, TVI_LAST);
      if (!row) return;
      m_treeDevices.SetSubItem(row, TREE_COL_PORT, COXTreeCell::kText, port);
      m_treeDevices.SetSubItem(row, TREE_COL_CLASS, COXTreeCell::kText, CTavrinAdminDoc::GetDeviceClassName(device.Class));
      m_treeDevices.SetSubItem(row, TREE_COL_STATUS, COXTreeCell::kText, "");
      m_treeDevices.SetItemColor(row, kNewDeviceColour, TREE_COL_STATUS);
      m_treeDevices.SetItemFont(row, m_fonts.GetFont(kDeviceStateFont), TREE_COL_STATUS);
    }

    // A disconnect that got no answer in time counts as failed, and the user is told the PC needs a reboot.
    const bool disconnecting =
        device.State == DEVICE_STATE_DISCONNECT_REQUESTED || device.State == DEVICE_STATE_DISCONNECTED;
    if (disconnecting && device.RequestStatus == ARRM_STATUS_PENDING && device.UnloadStartTick != 0 &&
        GetTickCount() - device.UnloadStartTick > kUnloadAnswerLimitMs) {
      device.RequestStatus = ARRM_STATUS_FAILED;
      CString notice;
      notice.Format("PC needs a reboot. Otherwise ' %s ' device may not work properly.\n", name.GetString());
      notices.push_back(notice);
    }

    const DeviceLook look = DeviceState(device);
    const bool busyAfterDisconnect = disconnecting && (device.RequestStatus & ARRM_STATUS_SUCCESS) && device.BusyFlag;
    if (!(m_treeDevices.GetItemText(row, TREE_COL_STATUS) == look.text)) {
      const LPARAM busyRefreshes = m_treeDevices.GetItemData(row);
      if (busyAfterDisconnect && busyRefreshes < kBusyRefreshesBeforeShown) {
        m_treeDevices.SetItemData(row, busyRefreshes + 1);  // the server may still be taking the device back
      } else {
        m_treeDevices.SetSubItem(row, TREE_COL_STATUS, COXTreeCell::kText, look.text);
        m_treeDevices.SetItemImage(row, look.image, look.image);
        m_treeDevices.SetItemColor(row, look.colour, TREE_COL_STATUS);
        m_treeDevices.SetItemData(row, 0);
      }
    } else if (device.State == DEVICE_STATE_FREE) {
      m_treeDevices.SetItemData(row, 0);
    }
    device.SeenCount = 0;  // the next broadcasts count it up again
  });
  // The notice windows are made once the device list is free again.
  for (const CString& notice : notices) m_pendingNotices.push_back(notice);
}

void CFunctionView::ShowPendingNotices() {
  std::vector<CString> notices;
  notices.swap(m_pendingNotices);
  for (const CString& notice : notices) ShowUnloadFailureNotice(notice);
}

void CFunctionView::ShowUnloadFailureNotice(const CString& text) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  // One notice at a time: the newer one replaces it.
  if (CWnd* old = doc->GetUnloadNotice()) {
    doc->SetUnloadNotice(nullptr);
    old->DestroyWindow();
    delete old;
  }
  auto* notice = new CNoticeDlg;
  notice->SetTexts("Unload Failure", text);
  if (!notice->CreateAndShow()) {
    delete notice;
    return;
  }
  doc->SetUnloadNotice(notice);
}

void CFunctionView::DeleteDeviceItem(const DeviceEntry& device) {
  const CString ip(device.ServerIp, static_cast<int>(strnlen(device.ServerIp, sizeof device.ServerIp)));
  HTREEITEM serverRow = FindServerRow(ip);
  if (!serverRow) {
    TraceInfo("ServerIP: %s hItem Not found", ip.GetString());
    return;
  }
  HTREEITEM row = FindDeviceRow(serverRow, DecimalText(device.PortNum));
  if (!row) {
    TraceInfo("ServerIP: %s Port: %d Device Not found", ip.GetString(), device.PortNum);
    return;
  }
  m_treeDevices.DeleteItem(row);
}

void CFunctionView::DeleteServerItem(LPCSTR serverIp) {
  auto row = m_serverRows.find(serverIp);
  if (row == m_serverRows.end()) return;
  HTREEITEM item = row->second;
  m_serverRows.erase(row);
  m_treeDevices.DeleteItem(item);
}

void CFunctionView::DeleteAllTreeItems() {
  m_serverRows.clear();
  if (m_treeDevices.GetSafeHwnd()) m_treeDevices.DeleteAllItems();
}

BOOL CFunctionView::GetSelectedDevice(CString* serverIp, WORD* port, CString* state) {
  HTREEITEM item = m_treeDevices.GetSafeHwnd() ? m_treeDevices.GetFirstSelectedItem() : nullptr;
  if (!item || IsServerItem(item)) return FALSE;
  GetServerIPFromItem(m_treeDevices.GetParentItem(item), *serverIp);
  *port = static_cast<WORD>(atoi(m_treeDevices.GetItemText(item, TREE_COL_PORT)));
  *state = m_treeDevices.GetItemText(item, TREE_COL_STATUS);
  return TRUE;
}

void CFunctionView::MarkSelectedDevice(BOOL requestQueued, BOOL connecting) {
  HTREEITEM item = m_treeDevices.GetSafeHwnd() ? m_treeDevices.GetFirstSelectedItem() : nullptr;
  if (!item || IsServerItem(item) || !requestQueued) return;
  m_treeDevices.SetSubItem(item, TREE_COL_STATUS, COXTreeCell::kText, connecting ? "Loading..." : "Unloading...");
  m_treeDevices.SetItemImage(item, TREE_IMAGE_CHANGING, TREE_IMAGE_CHANGING);
  m_treeDevices.SetItemColor(item, connecting ? kConnectColour : kFreeColour, TREE_COL_STATUS);
}

HTREEITEM CFunctionView::FindTreeRow(LPCSTR serverIp, WORD port) const {
  HTREEITEM serverRow = FindServerRow(serverIp);
  return serverRow && port != 0 ? FindDeviceRow(serverRow, DecimalText(port)) : serverRow;
}

std::vector<TreeServerItem> CFunctionView::GetDeviceTree() const {
  std::vector<TreeServerItem> tree;
  if (!m_treeDevices.GetSafeHwnd()) return tree;
  for (HTREEITEM server = m_treeDevices.GetChildItem(TVI_ROOT); server;
       server = m_treeDevices.GetNextSiblingItem(server)) {
    TreeServerItem serverItem{m_treeDevices.GetItemText(server, TREE_COL_INFO), {}};
    for (HTREEITEM device = m_treeDevices.GetChildItem(server); device; device = m_treeDevices.GetNextSiblingItem(device)) {
      TreeDeviceItem item;
      item.Name = m_treeDevices.GetItemText(device, TREE_COL_INFO);
      item.Port = m_treeDevices.GetItemText(device, TREE_COL_PORT);
      item.ClassName = m_treeDevices.GetItemText(device, TREE_COL_CLASS);
      item.State = m_treeDevices.GetItemText(device, TREE_COL_STATUS);
      int selectedImage = 0;
      m_treeDevices.GetItemImage(device, item.Image, selectedImage);
      item.StateColor = m_treeDevices.GetItemColor(device, TREE_COL_STATUS);
      item.BusyRefreshes = m_treeDevices.GetItemData(device);
      serverItem.Devices.push_back(item);
    }
    tree.push_back(serverItem);
  }
  return tree;
}
