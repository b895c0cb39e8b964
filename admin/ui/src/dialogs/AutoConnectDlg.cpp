#include "admin/ui/AutoConnectDlg.h"

#include <cstring>

#include "admin/RegistryStore.h"
#include "admin/Resource.h"
#include "admin/Trace.h"
#include "admin/ui/dialogs/DialogLook.h"
#include "win32/resources.h"
#include "win32/sync.h"
#include "win32/winsock.h"

namespace {

constexpr UINT WM_REFUSE_CHECK = WM_APP + 57;
constexpr COLORREF kNoteBackground = RGB(255, 255, 247);
constexpr COLORREF kPrinterText = RGB(8, 16, 115);
constexpr char kNote[] =
    "The Printer Auto Connect feature, automatically Connects and Disconnects your printer from your computer every "
    "time you give a print.\n\nPlease make sure your printer has been setup and configured properly to print from your "
    "machine, before enabling Auto Connect for your printer.\n\nTo enable Auto Connect, click the check box next to "
    "your Printer's name.";

}  // namespace

CAutoConnectDlg::CAutoConnectDlg(CTavrinAdminDoc* doc, CWnd* parent, DialogServices services)
    : CNewDialog(IDD_AUTO_CONNECT, parent), m_pDoc(doc), m_services(services) {}

const mfc::MessageMap* CAutoConnectDlg::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnCommand<&CAutoConnectDlg::OnSave>(IDC_AUTO_CONNECT_SAVE),
      mfc::OnCommand<&CAutoConnectDlg::OnExit>(IDC_AUTO_CONNECT_EXIT),
      mfc::OnCommand<&CAutoConnectDlg::OnRemove>(ID_REMOVE_PRINTER),
      mfc::OnMessage<&CAutoConnectDlg::OnNotify>(WM_NOTIFY),
      mfc::OnMessage<&CAutoConnectDlg::OnRefuseCheck>(WM_REFUSE_CHECK),
  };
  static const mfc::MessageMap map{CNewDialog::GetMessageMap(), entries};
  return &map;
}

BOOL CAutoConnectDlg::PreTranslateMessage(MSG* msg) {
  if (msg->wParam == VK_ESCAPE) return FALSE;
  return CNewDialog::PreTranslateMessage(msg);
}

BOOL CAutoConnectDlg::OnInitDialog() {
  CNewDialog::OnInitDialog();
  StyleDialogButton(m_btnSave, this, IDC_AUTO_CONNECT_SAVE, -12, IDI_OK, IDI_OK_PRESSED, BS_LEFT);
  StyleDialogButton(m_btnExit, this, IDC_AUTO_CONNECT_EXIT, -12, IDI_CANCEL, IDI_CANCEL_PRESSED, BS_LEFT);

  m_notePanel.SetTitle("Note:");
  m_notePanel.SetText(kNote);
  m_notePanel.AttachToWindow(this);
  m_notePanel.ShiftHostControls(this);
  m_notePanel.SetBkColor(kNoteBackground);

  SetUpDataList(m_lstPrinters, this, IDC_AUTO_CONNECT_PRINTERS, m_fonts,
                {{"Printer Name", 200}, {"ServerIP", 130}, {"Port", 64, LVCFMT_LEFT}});
  m_lstPrinters.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  m_lstPrinters.SetTextColor(kPrinterText);
  m_imageList.Create(16, 16, ILC_MASK, 4, 4);
  if (HICON icon = ::LoadIcon(nullptr, MAKEINTRESOURCE(IDI_PRINTER_AUTO_CONNECT))) {
    m_imageList.Add(icon);
    ::DestroyIcon(icon);
  }
  m_lstPrinters.SetImageList(&m_imageList, LVSIL_SMALL);

  RegisterPrinters();
  FillList();
  return TRUE;
}

void CAutoConnectDlg::RegisterPrinters() {
  if (!m_pDoc) return;
  tavrin::CriticalSectionGuard hold(m_pDoc->m_csDeviceList);
  for (POSITION position = m_pDoc->m_DeviceList.GetHeadPosition(); position;) {
    const DeviceEntry& device = m_pDoc->m_DeviceList.GetNext(position);
    if (device.Class == 7 || device.Class == 255) CRegistryStore().AddAutoConnectPrinter(*m_pDoc, device);
  }
}

void CAutoConnectDlg::FillList() {
  m_bSettingChecks = TRUE;
  CRegistryStore store;
  for (const CString& name : store.GetPrinterKeyNames()) {
    PrinterInfo info{};
    if (!store.GetPrinterInfo(name, info)) continue;  // a printer key lacking a value is not listed
    const int row = m_lstPrinters.InsertItem(m_lstPrinters.GetItemCount(), name, info.AutoReconnect ? 0 : 1);
    in_addr address{};
    address.s_addr = info.DeviceIP;
    m_lstPrinters.SetItemText(row, 1, inet_ntoa(address));
    CString port;
    port.Format("%d", info.DevicePort);
    m_lstPrinters.SetItemText(row, 2, port);
    m_lstPrinters.SetCheck(row, info.AutoReconnect != 0);
    m_lstPrinters.SetItemData(row, info.AutoReconnect != 0);  // the saved state
  }
  m_bSettingChecks = FALSE;
}

LRESULT CAutoConnectDlg::OnNotify(WPARAM wParam, LPARAM lParam) {
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (!header || header->idFrom != IDC_AUTO_CONNECT_PRINTERS) return CNewDialog::DefWindowProc(WM_NOTIFY, wParam, lParam);
  if (header->code == LVN_ITEMCHANGED && !m_bSettingChecks) {
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
    const bool boxFlipped = (change->uChanged & LVIF_STATE) &&
                            ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK) && change->iItem >= 0;
    // The list has flipped the box already; the refusal comes once the list is done with the click.
    if (boxFlipped && m_pDoc && m_pDoc->IsPrinterConnected(m_lstPrinters.GetItemText(change->iItem, kNameColumn)))
      PostMessage(WM_REFUSE_CHECK, static_cast<WPARAM>(change->iItem), 0);
  } else if (header->code == NM_RCLICK && m_pDoc && m_lstPrinters.GetSelectedCount() > 0) {
    POINT at{};
    ::GetCursorPos(&at);
    m_pDoc->ShowAutoConnectMenu(this, at);
  }
  return 0;
}

LRESULT CAutoConnectDlg::OnRefuseCheck(WPARAM rowParam, LPARAM) {
  const int row = static_cast<int>(rowParam);
  if (row >= m_lstPrinters.GetItemCount()) return 0;
  const BOOL saved = static_cast<BOOL>(m_lstPrinters.GetItemData(row));
  if (m_lstPrinters.GetCheck(row) == saved) return 0;  // flipped back already (a second flip)
  CString text;
  text.Format("Disconnect %s Printer before choosing the Auto Reconncet Feature..!",
              m_lstPrinters.GetItemText(row, kNameColumn).GetString());
  m_services.ShowMessageBox(text, MB_ICONINFORMATION);
  m_bSettingChecks = TRUE;
  m_lstPrinters.SetCheck(row, saved);
  m_bSettingChecks = FALSE;
  m_lstPrinters.RedrawItems(row, row);
  return 0;
}

void CAutoConnectDlg::OnSave() {
  CRegistryStore store;
  for (int row = 0; row < m_lstPrinters.GetItemCount(); ++row) {
    const CString name = m_lstPrinters.GetItemText(row, kNameColumn);
    const DWORD checked = m_lstPrinters.GetCheck(row) ? 1 : 0;
    if (store.SetAutoReconnect(name, checked)) TraceInfo("Modified the Registry AutoReconncet value <==\n");
  }
  if (m_pDoc) {
    for (int row = 0; row < m_lstPrinters.GetItemCount(); ++row)
      m_pDoc->SetPrinterAutoReconnect(m_lstPrinters.GetItemText(row, kNameColumn), m_lstPrinters.GetCheck(row) ? 1 : 0);
    m_pDoc->StartPrinterMonitors();
  }
  EndDialog(IDCANCEL);
}

void CAutoConnectDlg::OnRemove() {
  const int row = m_lstPrinters.GetNextItem(-1, LVNI_SELECTED);
  if (row < 0) return;
  const CString name = m_lstPrinters.GetItemText(row, kNameColumn);
  CRegistryStore store;
  if (!store.IsObsoletePrinter(name)) {
    CString text;
    text.Format("%s: Is not a obsolete printer!!", name.GetString());
    m_services.ShowMessageBox(text, MB_ICONINFORMATION);
    TraceInfo("%s\n", text.GetString());
    return;
  }
  m_lstPrinters.DeleteItem(row);
  store.DeletePrinter(name);
  if (!m_pDoc) return;
  for (PrinterInfo printer : m_pDoc->GetPrinters()) {
    if (name != printer.PrinterName) continue;
    printer.AutoReconnect = 0;  // its monitor, if one runs, ends: the printer is gone
    m_pDoc->UpdatePrinterMonitorEntry(printer);
    m_pDoc->RemovePrinter(name);
    break;
  }
}
