#include "admin/ui/BottemFormView.h"

#include "admin/TavrinAdminDoc.h"
#include "admin/ui/MainFrame.h"
#include "admin/Resource.h"
#include "PaneUtil.h"
#include "admin/ui/SelectLogFileDlg.h"

IMPLEMENT_DYNCREATE(CBottemFormView, CFormView)

namespace {

constexpr UINT WM_FLUSH_LOG_ROWS = WM_APP + 20;  // rows added by other threads wait for the pane's thread
constexpr COLORREF kTabBack = RGB(179, 174, 179);
constexpr DWORD kTabDrawFlags = 2 | 4 | 8;

}  // namespace

CString FormatSavedLogLine(const CString& serial, const CString& time, const CString& text) {
  CString line = serial + "\t" + time + "\t" + text;
  line.Remove(',');
  return line;
}

CBottemFormView::CBottemFormView() : CFormView(IDD_LOG_FORM) {}

CBottemFormView::~CBottemFormView() = default;

const mfc::MessageMap* CBottemFormView::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CBottemFormView::OnNotify>(WM_NOTIFY),
      mfc::OnMessage<&CBottemFormView::OnFlushPendingRows>(WM_FLUSH_LOG_ROWS),
      mfc::OnCommand<&CBottemFormView::OnClear>(ID_LOG_CLEAR),
      mfc::OnCommand<&CBottemFormView::OnSaveToFile>(ID_LOG_SAVE),
  };
  static const mfc::MessageMap map{CFormView::GetMessageMap(), entries};
  return &map;
}

void CBottemFormView::DoDataExchange(CDataExchange* dx) {
  CFormView::DoDataExchange(dx);
  DDX_Control(dx, IDC_SERVER_MANAGER_LOG, m_lstServerManagerLog);
  DDX_Control(dx, IDC_DEVICE_MAPPING_LOG, m_lstDeviceMappingLog);
  DDX_Control(dx, IDC_LOG_TABS, m_tabLogs);
}

void CBottemFormView::OnInitialUpdate() {
  CFormView::OnInitialUpdate();
  for (CHeaderListCtrl* list : {&m_lstDeviceMappingLog, &m_lstServerManagerLog}) {
    SetUpDataList(*list, m_fonts);
    list->InsertColumn(0, "S.No", LVCFMT_CENTER, 50);
    list->InsertColumn(1, "Date : Time", LVCFMT_CENTER, 150);
    list->InsertColumn(2, "Description", LVCFMT_LEFT, 700);
  }
  m_tabLogs.InsertItem(0, "Device Mapping Log");
  m_tabLogs.InsertItem(1, "Server Manager Log");
  m_tabLogs.ModifyStyle(0, TCS_BOTTOM);
  ShowLog(0);
}

void CBottemFormView::OnUpdate(CView*, LPARAM, CObject*) {
  auto* doc = dynamic_cast<CTavrinAdminDoc*>(GetDocument());
  if (!doc) return;
  DWORD& serverManager = doc->m_ViewModeFlags[kLogServerManager];
  DWORD& deviceMapping = doc->m_ViewModeFlags[kLogDeviceMapping];
  if (serverManager) {
    ShowLog(1);
  } else if (deviceMapping) {
    ShowLog(0);
  } else {
    deviceMapping = 1;
    serverManager = 0;
  }
  RelayoutMainWindow(m_nSizeToggle, false);
}

void CBottemFormView::ShowLog(int tab) {
  if (!m_tabLogs.GetSafeHwnd()) return;
  m_lstDeviceMappingLog.ShowWindow(tab == 0 ? SW_SHOW : SW_HIDE);
  m_lstServerManagerLog.ShowWindow(tab == 1 ? SW_SHOW : SW_HIDE);
  m_tabLogs.SetCurSel(tab);
}

int CBottemFormView::GetSelectedLog() const {
  return m_tabLogs.GetSafeHwnd() && m_tabLogs.GetCurSel() == 1 ? 1 : 0;
}

CHeaderListCtrl& CBottemFormView::SelectedList() {
  return GetSelectedLog() == 1 ? m_lstServerManagerLog : m_lstDeviceMappingLog;
}

void CBottemFormView::OnSize(UINT type, int cx, int cy) {
  CFormView::OnSize(type, cx, cy);
  if (!m_tabLogs.GetSafeHwnd() || !m_lstDeviceMappingLog.GetSafeHwnd() || !m_lstServerManagerLog.GetSafeHwnd()) return;
  m_tabLogs.MoveWindow(0, 0, cx, cy);
  RECT display;
  m_tabLogs.GetClientRect(&display);
  m_tabLogs.AdjustRect(FALSE, &display);
  m_lstDeviceMappingLog.MoveWindow(&display);
  m_lstServerManagerLog.MoveWindow(&display);
  m_lstDeviceMappingLog.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  m_lstServerManagerLog.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CBottemFormView::OnPaint() {
  if (m_tabLogs.GetSafeHwnd()) {
    m_tabLogs.SetBkgndColor(kTabBack);
    m_tabLogs.SetPaintMode(1);
    CColoredTabCtrl::EnableCustomDraw(TRUE, kTabDrawFlags);
  }
  FillPaneBackground(*this);
}

LRESULT CBottemFormView::OnNotify(WPARAM, LPARAM lParam) {
  const auto* notify = reinterpret_cast<const NMHDR*>(lParam);
  if (!notify) return 0;
  if (notify->code == NM_RCLICK && (notify->idFrom == IDC_DEVICE_MAPPING_LOG || notify->idFrom == IDC_SERVER_MANAGER_LOG)) {
    if (auto* doc = dynamic_cast<CTavrinAdminDoc*>(GetDocument())) doc->ShowLogMenu(this, ContextMenuPoint(*this));
    return 0;
  }
  if (notify->code == TCN_SELCHANGE && notify->idFrom == IDC_LOG_TABS) {
    ShowLog(m_tabLogs.GetCurSel() == 1 ? 1 : 0);
    return 0;
  }
  return DefWindowProc(WM_NOTIFY, 0, lParam);
}

// --- rows ---

void CBottemFormView::AddDeviceMappingLog(LPCSTR strDescription) { AddLog(true, strDescription); }

void CBottemFormView::AddServerManagerLog(LPCSTR strDescription) { AddLog(false, strDescription); }

void CBottemFormView::AddLog(bool deviceMapping, LPCSTR text) {
  const CString time = NowText(deviceMapping ? kDeviceMappingLogTime : kServerManagerLogTime);
  if (IsPaneThread(*this)) {
    FlushPendingRows();
    AddRow(deviceMapping, time, text);
    return;
  }
  std::lock_guard hold(m_pendingLock);
  m_pendingRows.push_back({deviceMapping, time, text});
  if (m_pendingRows.size() == 1) PostMessage(WM_FLUSH_LOG_ROWS);
}

void CBottemFormView::AddRow(bool deviceMapping, const CString& time, const CString& text) {
  CHeaderListCtrl& list = deviceMapping ? m_lstDeviceMappingLog : m_lstServerManagerLog;
  if (!list.GetSafeHwnd()) return;
  const int index = list.GetItemCount();
  CString serial;
  serial.Format("%d", index + 1);
  list.InsertItem(index, serial);
  list.SetItemText(index, 1, time);
  list.SetItemText(index, 2, text);
  list.EnsureVisible(index, TRUE);
}

void CBottemFormView::FlushPendingRows() {
  std::vector<PendingRow> rows;
  {
    std::lock_guard hold(m_pendingLock);
    rows.swap(m_pendingRows);
  }
  for (const PendingRow& row : rows) AddRow(row.deviceMapping, row.time, row.text);
}

LRESULT CBottemFormView::OnFlushPendingRows(WPARAM, LPARAM) {
  FlushPendingRows();
  return 0;
}

std::vector<LogRow> CBottemFormView::ReadRows(CHeaderListCtrl& list) {
  FlushPendingRows();
  std::vector<LogRow> rows;
  if (!list.GetSafeHwnd()) return rows;
  const int count = list.GetItemCount();
  rows.reserve(static_cast<size_t>(count));
  for (int row = 0; row < count; ++row)
    rows.push_back({atoi(list.GetItemText(row, 0)), list.GetItemText(row, 1), list.GetItemText(row, 2)});
  return rows;
}

std::vector<LogRow> CBottemFormView::GetDeviceMappingLog() { return ReadRows(m_lstDeviceMappingLog); }

std::vector<LogRow> CBottemFormView::GetServerManagerLog() { return ReadRows(m_lstServerManagerLog); }

// --- commands ---

void CBottemFormView::OnClear() { SelectedList().DeleteAllItems(); }

void CBottemFormView::OnSaveToFile() {
  CSelectLogFileDlg dialog(this);
  if (dialog.DoModal() != IDOK) return;
  if (SaveSelectedLog(dialog.m_strFilePath)) return;
  if (::GetLastError() == ERROR_FILE_EXISTS) {
    // Someone made the file after it was chosen: it is not ours to write over.
    ShowMainFrameMessage(LoadStringText(IDS_LOG_FILE_EXISTS), MB_ICONEXCLAMATION);
    return;
  }
  ShowMainFrameMessage(GetSelectedLog() == 0 ? "Unable to create the log file !!" : "Unable to create of open file", 0);
}

BOOL CBottemFormView::SaveSelectedLog(const CString& path) {
  // A new file only: the chosen name was free when it was chosen, and a file that has appeared since is
  // someone else's.
  HANDLE file = ::CreateFile(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  CHeaderListCtrl& list = SelectedList();
  BOOL written = TRUE;
  const int count = list.GetSafeHwnd() ? list.GetItemCount() : 0;
  for (int row = 0; row < count && written; ++row) {
    const CString line =
        FormatSavedLogLine(list.GetItemText(row, 0), list.GetItemText(row, 1), list.GetItemText(row, 2)) + "\r\n";
    DWORD done = 0;
    written = ::WriteFile(file, line.GetString(), static_cast<DWORD>(line.GetLength()), &done, nullptr) &&
              done == static_cast<DWORD>(line.GetLength());
  }
  ::CloseHandle(file);
  if (!written) ::DeleteFile(path);  // a half-written file of ours is no saved log
  return written;
}
