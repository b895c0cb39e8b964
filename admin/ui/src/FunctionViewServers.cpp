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
  ListDiscoveredServers(m_lstServers, servers, true);
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
