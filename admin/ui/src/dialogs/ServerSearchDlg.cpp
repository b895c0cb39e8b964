#include "admin/ui/ServerSearchDlg.h"

#include <cstring>

#include "../PaneUtil.h"
#include "admin/Resource.h"
#include "admin/ui/dialogs/DialogLook.h"
#include "admin/util/Utilities.h"

namespace {

constexpr UINT_PTR kStartTimer = 4;
constexpr UINT_PTR kTickTimer = 5;

}  // namespace

CServerSearchDlg::CServerSearchDlg(CWnd* parent) : CNewDialog(IDD_SERVER_SEARCH, parent) {
  InitializeCriticalSection(&m_csServers);
}

CServerSearchDlg::~CServerSearchDlg() { DeleteCriticalSection(&m_csServers); }

const mfc::MessageMap* CServerSearchDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CServerSearchDlg::OnStop>(IDC_SEARCH_STOP),
  };
  static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
  return &map;
}

BOOL CServerSearchDlg::PreTranslateMessage(MSG* msg) {
  if (msg->wParam == VK_ESCAPE) return FALSE;
  return CNewDialog::PreTranslateMessage(msg);
}

BOOL CServerSearchDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  SetUpDataList(m_lstServers, this, IDC_SEARCH_SERVERS, m_fonts,
                {{"No", 60}, {"Model", 120}, {"MAC Address", 130}, {"IP Address", 130}});
  StyleDialogButton(m_btnStop, this, IDC_SEARCH_STOP, 0, IDI_CANCEL, IDI_CANCEL_PRESSED, BS_LEFT);
  SetTimer(kStartTimer, m_nStartDelayMs);
  return TRUE;
}

void CServerSearchDlg::OnTimer(UINT_PTR id) {
  if (id == kStartTimer) {
    KillTimer(kStartTimer);
    SetTimer(kTickTimer, m_nTickMs);
    m_bStarted = m_ServerComm.BroadcastInit(m_pServerList, &m_csServers, &m_nCancel) &&
                 m_ServerComm.StartEnumerationForServers() == 0;
  } else if (id == kTickTimer && m_nTicks < kTicks) {
    if (m_bStarted) m_ServerComm.SendBroadcastPacket();
    ++m_nTicks;
    RefreshList();
    CString text;
    text.Format("Found %d Server(s), remaining time = %d second(s)", m_lstServers.GetItemCount(),
                kTicks - static_cast<int>(m_nTicks));
    SetDlgItemText(IDC_SEARCH_STATUS, text);
    if (m_nTicks == kTicks) EndSearch();
  }
  CNewDialog::OnTimer(id);
}

void CServerSearchDlg::RefreshList() {
  if (m_pServerList == nullptr) return;
  EnterCriticalSection(&m_csServers);
  ListDiscoveredServers(m_lstServers, *m_pServerList, false);
  LeaveCriticalSection(&m_csServers);
}

void CServerSearchDlg::EndSearch() {
  __atomic_store_n(&m_nCancel, 1, __ATOMIC_SEQ_CST);
  KillTimer(kTickTimer);
  KillTimer(kStartTimer);
  if (HANDLE thread = m_ServerComm.GetEnumThreadHandle()) WaitWithMessageLoop(&thread, 1);
  m_ServerComm.BroadcastClose();  // nothing to close when stopped before the discovery started
  m_bStarted = false;
  EndDialog(IDOK);
}

void CServerSearchDlg::OnStop() { EndSearch(); }
