// The device tree of the functional pane: a row per server heard on the network, a row per USB device
// under it, each showing the state of its requests to the drivers.
#include <cstring>
#include <string>
#include <unordered_map>

#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/ui/FunctionView.h"

namespace {

constexpr DWORD kUnloadAnswerLimitMs = 30000;  // a disconnect without answer after this counts as failed
constexpr int kBusyRefreshesBeforeShown = 3;

constexpr COLORREF kColourBusy = 0x0000FF;
constexpr COLORREF kColourFree = 0x2DB155;
constexpr COLORREF kColourConnect = 0xB59300;
constexpr int kDeviceRowFont = 2;

struct DeviceLook {
  const char* text;
  int image;
  COLORREF colour;
};

CString ServerStateText(CTavrinAdminDoc& doc, const ServerPresenceEntry& server) {
  const DWORD bits = server.RequestStatus;
  if (server.Active) {
    if (bits & ARRM_STATUS_PENDING) return "Loading...";
    if (bits & ARRM_STATUS_FAILED) return "Loading Failed";
    if (bits & ARRM_STATUS_SUCCESS) return "Loaded Successfully";
    return "";
  }
  if (bits & ARRM_STATUS_PENDING) return "Unloading...";
  if (bits & ARRM_STATUS_FAILED) return "Unload Failed";
  if (bits & ARRM_STATUS_SUCCESS) {
    const CString address(server.ServerIp, static_cast<int>(strnlen(server.ServerIp, sizeof server.ServerIp)));
    return doc.CanRemoveServer(address) ? "Unload Success" : "Unloading...";
  }
  return "";
}

DeviceLook FreeOrBusy(const DeviceEntry& device) {
  return device.BusyFlag ? DeviceLook{"Busy", 3, kColourBusy} : DeviceLook{"Free", 1, kColourFree};
}

// The look of a device row by its request kind and status bits; text null when it shows no state.
DeviceLook DeviceState(const DeviceEntry& device) {
  const DWORD bits = device.RequestStatus;
  switch (device.State) {
    case DEVICE_STATE_FREE:
      return FreeOrBusy(device);
    case DEVICE_STATE_CONNECT_REQUESTED:
    case DEVICE_STATE_CONNECTED:
      if (bits & ARRM_STATUS_PENDING) return {"Loading...", 2, kColourConnect};
      if (bits & ARRM_STATUS_FAILED) return {"Loading Failed", 2, kColourConnect};
      if (bits & ARRM_STATUS_SUCCESS) return {"Connected", 2, kColourConnect};
      break;
    case DEVICE_STATE_DISCONNECT_REQUESTED:
    case DEVICE_STATE_DISCONNECTED:
      if (bits & ARRM_STATUS_PENDING) return {"Unloading...", 2, kColourFree};
      if (bits & ARRM_STATUS_FAILED) return {"Unload Failed", 2, kColourFree};
      if (bits & ARRM_STATUS_SUCCESS) return FreeOrBusy(device);
      break;
  }
  return {"", 2, kColourFree};
}

CString ParsedServerIp(const CString& rowText) {
  int open = rowText.Find('(');
  CString ip = open >= 0 ? rowText.Left(open) : rowText;
  return ip.Trim();
}

CString PortText(WORD port) {
  CString text;
  text.Format("%d", port);
  return text;
}

}  // namespace

BOOL CFunctionView::GetServerIPFromItem(const TreeServerItem* item, CString& serverIp) const {
  if (item == nullptr) return FALSE;
  serverIp = ParsedServerIp(item->Text);
  return TRUE;
}

// The server rows by address, built once per refresh (a refresh walks every server and device).
std::unordered_map<std::string, size_t> CFunctionView::ServerRowsByIp() const {
  std::unordered_map<std::string, size_t> rows;
  for (size_t index = 0; index < m_DeviceTree.size(); ++index)
    rows.emplace(ParsedServerIp(m_DeviceTree[index].Text).str(), index);
  return rows;
}

void CFunctionView::RefreshServerList() {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  std::unordered_map<std::string, size_t> rows = ServerRowsByIp();
  doc->ForEachServer([&](const ServerPresenceEntry& server) {
    const std::string ip(server.ServerIp, strnlen(server.ServerIp, sizeof server.ServerIp));
    const CString text = CString(ip) + " ( " + ServerStateText(*doc, server) + " )";
    auto row = rows.find(ip);
    if (row == rows.end()) {
      rows.emplace(ip, m_DeviceTree.size());
      m_DeviceTree.push_back(TreeServerItem{text, {}});
    } else if (!(m_DeviceTree[row->second].Text == text)) {
      m_DeviceTree[row->second].Text = text;
    }
  });
}

void CFunctionView::RefreshDeviceTree() {
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  const std::unordered_map<std::string, size_t> rows = ServerRowsByIp();
  doc->ForEachDevice([&](DeviceEntry& device) {
    const std::string ip(device.ServerIp, strnlen(device.ServerIp, sizeof device.ServerIp));
    TreeServerItem* server = nullptr;
    bool serverGone = true;  // no row, or its departure was answered
    if (auto row = rows.find(ip); row != rows.end()) {
      TreeServerItem& candidate = m_DeviceTree[row->second];
      if (candidate.Text.Find("( Loaded Successfully )") >= 0 || candidate.Text.Find("( Unloading... )") >= 0)
        server = &candidate;
      serverGone = candidate.Text.Find("( Unload Success )") >= 0 || candidate.Text.Find("( Unload Failed )") >= 0;
    }
    if (server == nullptr) {
      // A server whose arrival is still under way shows its devices later; only a device that outlives
      // its server is an error.
      if (serverGone) TraceInfo("Error : Element not deleted even though it is not alive\n");
      return;
    }
    if (device.ProductStringState != 2) {
      TraceInfo("Could not get iProduct for Serer:%s\n", ip.c_str());
      return;
    }
    CString name;
    if (device.ProductStringLength != 0 && device.ProductString != nullptr)
      name = device.ProductString;
    else
      name.Format("Vid_%.4x&Pid_%.4x", device.Vid, device.Pid);

    const CString port = PortText(device.PortNum);
    TreeDeviceItem* row = nullptr;
    for (TreeDeviceItem& candidate : server->Devices)
      if (candidate.Port == port) row = &candidate;
    if (row == nullptr) {
      server->Devices.push_back(TreeDeviceItem{name, port, CTavrinAdminDoc::GetDeviceClassName(device.Class), ""});
      row = &server->Devices.back();
    }

    // A disconnect that got no answer in time counts as failed.
    const bool disconnecting =
        device.State == DEVICE_STATE_DISCONNECT_REQUESTED || device.State == DEVICE_STATE_DISCONNECTED;
    if (disconnecting && device.RequestStatus == ARRM_STATUS_PENDING && device.UnloadStartTick != 0 &&
        GetTickCount() - device.UnloadStartTick > kUnloadAnswerLimitMs)
      device.RequestStatus = ARRM_STATUS_FAILED;

    const DeviceLook look = DeviceState(device);
    const bool busyAfterDisconnect = disconnecting && (device.RequestStatus & ARRM_STATUS_SUCCESS) && device.BusyFlag;
    if (!(row->State == look.text)) {
      if (busyAfterDisconnect && row->BusyRefreshes < kBusyRefreshesBeforeShown) {
        ++row->BusyRefreshes;  // the server may still be taking the device back
      } else {
        row->State = look.text;
        row->Image = look.image;
        row->StateColor = look.colour;
        row->BusyRefreshes = 0;
      }
    } else if (device.State == DEVICE_STATE_FREE) {
      row->BusyRefreshes = 0;
    }
    row->StateFont = kDeviceRowFont;
    device.SeenCount = 0;  // the next broadcasts count it up again
  });
}

void CFunctionView::DeleteDeviceItem(const DeviceEntry& device) {
  const CString ip(device.ServerIp, static_cast<int>(strnlen(device.ServerIp, sizeof device.ServerIp)));
  for (size_t s = 0; s < m_DeviceTree.size(); ++s) {
    if (!(ParsedServerIp(m_DeviceTree[s].Text) == ip)) continue;
    std::vector<TreeDeviceItem>& devices = m_DeviceTree[s].Devices;
    const CString port = PortText(device.PortNum);
    for (size_t d = 0; d < devices.size(); ++d) {
      if (!(devices[d].Port == port)) continue;
      devices.erase(devices.begin() + static_cast<long>(d));
      if (m_nSelectedServer == static_cast<int>(s) && m_nSelectedDevice >= static_cast<int>(d))
        m_nSelectedDevice = m_nSelectedDevice == static_cast<int>(d) ? -1 : m_nSelectedDevice - 1;
      return;
    }
    TraceInfo("ServerIP: %s Port: %d Device Not found", static_cast<LPCSTR>(ip), device.PortNum);
    return;
  }
  TraceInfo("ServerIP: %s hItem Not found", static_cast<LPCSTR>(ip));
}

void CFunctionView::DeleteServerItem(LPCSTR serverIp) {
  for (size_t s = 0; s < m_DeviceTree.size(); ++s) {
    if (!(ParsedServerIp(m_DeviceTree[s].Text) == serverIp)) continue;
    m_DeviceTree.erase(m_DeviceTree.begin() + static_cast<long>(s));
    if (m_nSelectedServer == static_cast<int>(s)) {
      m_nSelectedServer = -1;
      m_nSelectedDevice = -1;
    } else if (m_nSelectedServer > static_cast<int>(s)) {
      --m_nSelectedServer;
    }
    return;
  }
}
