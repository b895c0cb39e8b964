// The server list of the functional pane: the servers of the last search and the selection that the Server
// Manager commands act on.
#include "PaneUtil.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "admin/ui/FunctionView.h"
#include "admin/Resource.h"

void CFunctionView::ShowSearchResults(const ServerDiscoveryList& servers) {
  CTavrinAdminDoc* doc = GetDocument();
  if (!m_lstServers.GetSafeHwnd()) return;
  m_lstServers.DeleteAllItems();
  CString lastIp;
  for (POSITION position = servers.GetHeadPosition(); position;) {
    const ServerDiscoveryRecord& server = servers.GetNext(position);
    const CString ip(server.ServerIp, static_cast<int>(strnlen(server.ServerIp, sizeof server.ServerIp)));
    if (m_lstServers.GetItemCount() > 0 && ip == lastIp) continue;  // a server that answered twice in a row
    lastIp = ip;
    const int row = m_lstServers.GetItemCount();
    CString model, mac;
    GetServerModelName(server.ModelCode, model);
    const BYTE* m = server.MacAddress;
    mac.Format("%x-%x-%x-%x-%x-%x", m[0], m[1], m[2], m[3], m[4], m[5]);
    m_lstServers.InsertItem(row, DecimalText(row + 1));
    m_lstServers.SetItemText(row, SERVER_COL_MODEL, model);
    m_lstServers.SetItemText(row, SERVER_COL_MAC, mac);
    m_lstServers.SetItemText(row, SERVER_COL_IP, ip);
    m_lstServers.SetItemText(row, SERVER_COL_STATUS, server.LockFlag == 1 ? "Locked" : "");
  }
  if (!doc) return;
  if (servers.IsEmpty()) {
    const CString text = LoadStringText(IDS_NO_SERVERS_FOUND);
    doc->AddServerManagerLog(text);
    TraceInfo("%s\n", text.GetString());
    return;
  }
  CString found;
  found.Format("%d Server(s) Found", m_lstServers.GetItemCount());
  doc->AddServerManagerLog(found);
}

int CFunctionView::FirstSelectedServer() const {
  return m_lstServers.GetSafeHwnd() ? m_lstServers.GetNextItem(-1, LVNI_SELECTED) : -1;
}

BOOL CFunctionView::IsSelectedServerUnlocked() const {
  const int row = FirstSelectedServer();
  return row < 0 || !(m_lstServers.GetItemText(row, SERVER_COL_STATUS) == "Locked");
}

int CFunctionView::GetSelectedServerCount() const {
  return m_lstServers.GetSafeHwnd() ? static_cast<int>(m_lstServers.GetSelectedCount()) : 0;
}

std::vector<ServerListRow> CFunctionView::GetSelectedServerRows() const {
  std::vector<ServerListRow> rows;
  for (int row = FirstSelectedServer(); row >= 0; row = m_lstServers.GetNextItem(row, LVNI_SELECTED))
    rows.push_back({row, m_lstServers.GetItemText(row, SERVER_COL_IP), m_lstServers.GetItemText(row, SERVER_COL_STATUS)});
  return rows;
}

void CFunctionView::SetServerRowText(int row, int column, LPCSTR text) {
  if (!m_lstServers.GetSafeHwnd() || row < 0 || row >= m_lstServers.GetItemCount()) return;
  m_lstServers.SetItemText(row, column, text);
}
