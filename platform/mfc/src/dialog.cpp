#include "mfc/dialog.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dialog_internal.h"
#include "mfc/app.h"
#include "win32/resources.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CFormView, CView)
IMPLEMENT_DYNAMIC(CEdit, CWnd)
IMPLEMENT_DYNAMIC(CComboBox, CWnd)
IMPLEMENT_DYNAMIC(CListBox, CWnd)
IMPLEMENT_DYNAMIC(CScrollBar, CWnd)

namespace {

// The object whose dialog window is being made on this thread: it takes the window at its first message.
thread_local CWnd* t_dialogObject = nullptr;

// What Fail throws: it ends the exchange inside UpdateData and goes no further.
struct ExchangeFailed {};

INT_PTR CALLBACK MfcDialogProc(HWND hwnd, UINT, WPARAM, LPARAM) {
  if (t_dialogObject && !CWnd::FromHandlePermanent(hwnd)) {
    CWnd* object = t_dialogObject;
    t_dialogObject = nullptr;
    object->SubclassWindow(hwnd);
  }
  return FALSE;  // everything else is the object's, through its window procedure
}

HWND CreateFor(CWnd* object, LPCSTR name, LPCDLGTEMPLATE indirect, HWND parent) {
  tavrin::controls::RegisterStandardControls();
  CWnd* outer = t_dialogObject;
  t_dialogObject = object;
  HWND hwnd = indirect ? ::CreateDialogIndirectParam(nullptr, indirect, parent, MfcDialogProc, 0)
                       : ::CreateDialogParam(nullptr, name, parent, MfcDialogProc, 0);
  t_dialogObject = outer;
  return hwnd;
}

template <class Exchange>
BOOL RunExchange(CWnd* wnd, BOOL save, Exchange exchange) {
  CDataExchange dx(wnd, save);
  try {
    exchange(&dx);
  } catch (const ExchangeFailed&) {
    return FALSE;
  }
  return TRUE;
}

HWND ParentHwnd(CWnd* parent) {
  if (parent) return parent->GetSafeHwnd();
  CWnd* main = AfxGetMainWnd();
  return main ? main->GetSafeHwnd() : nullptr;
}

void Tell(CDataExchange* dx, const char* text) {
  ::MessageBox(dx->m_pDlgWnd ? dx->m_pDlgWnd->GetSafeHwnd() : nullptr, text,
               AfxGetApp() && AfxGetApp()->m_pszAppName ? AfxGetApp()->m_pszAppName : "", MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

// ---- data exchange ----

HWND CDataExchange::PrepareCtrl(int id) {
  m_hWndLastControl = ::GetDlgItem(m_pDlgWnd->GetSafeHwnd(), id);
  m_bEditLastControl = FALSE;
  return m_hWndLastControl;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
  HWND hwnd = PrepareCtrl(id);
  m_bEditLastControl = TRUE;
  return hwnd;
}

void CDataExchange::Fail() {
  if (m_hWndLastControl && ::IsWindow(m_hWndLastControl)) {
    ::SetFocus(m_hWndLastControl);
    if (m_bEditLastControl) ::SendMessage(m_hWndLastControl, EM_SETSEL, 0, -1);
  }
  throw ExchangeFailed{};
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  HWND control = dx->PrepareEditCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) {
    int length = ::GetWindowTextLength(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    ::GetWindowText(control, text.data(), length + 1);
    value = text.c_str();
  } else {
    ::SendMessage(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(static_cast<LPCSTR>(value)));
  }
}

namespace {
bool ParseInteger(HWND control, bool isSigned, long long& out) {
  char text[64] = {};
  ::GetWindowText(control, text, sizeof text);
  char* end = nullptr;
  const char* p = text;
  while (*p == ' ') ++p;
  if (!*p || (!isSigned && *p == '-')) return false;
  errno = 0;
  out = std::strtoll(p, &end, 10);
  while (end && *end == ' ') ++end;
  if (errno || !end || *end) return false;
  return isSigned ? (out >= INT32_MIN && out <= INT32_MAX) : (out >= 0 && out <= UINT32_MAX);
}
}  // namespace

void DDX_Text(CDataExchange* dx, int id, int& value) {
  HWND control = dx->PrepareEditCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) {
    long long parsed = 0;
    if (!ParseInteger(control, true, parsed)) {
      Tell(dx, "Please enter an integer.");
      dx->Fail();
    }
    value = static_cast<int>(parsed);
  } else {
    ::SendMessage(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::to_string(value).c_str()));
  }
}

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
  HWND control = dx->PrepareEditCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) {
    long long parsed = 0;
    if (!ParseInteger(control, false, parsed)) {
      Tell(dx, "Please enter a positive integer.");
      dx->Fail();
    }
    value = static_cast<UINT>(parsed);
  } else {
    ::SendMessage(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::to_string(value).c_str()));
  }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
  HWND control = dx->PrepareCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) value = static_cast<int>(::SendMessage(control, BM_GETCHECK, 0, 0));
  else ::SendMessage(control, BM_SETCHECK, static_cast<WPARAM>(value < 0 || value > 2 ? 0 : value), 0);
}

void DDX_Radio(CDataExchange* dx, int id, int& value) {
  HWND first = dx->PrepareCtrl(id);
  if (!first) return;
  HWND dialog = dx->m_pDlgWnd->GetSafeHwnd();
  if (dx->m_bSaveAndValidate) value = -1;
  int index = 0;
  HWND h = first;
  for (int n = 0; h && n < 256; ++n, ++index) {
    if (dx->m_bSaveAndValidate) {
      if (::SendMessage(h, BM_GETCHECK, 0, 0)) value = index;
    } else {
      ::SendMessage(h, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    h = ::GetWindow(h, GW_HWNDNEXT);
    if (!h || (::GetWindowLongPtr(h, GWL_STYLE) & WS_GROUP) || ::GetParent(h) != dialog) break;
  }
}

void DDX_CBIndex(CDataExchange* dx, int id, int& index) {
  HWND control = dx->PrepareCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) index = static_cast<int>(::SendMessage(control, CB_GETCURSEL, 0, 0));
  else ::SendMessage(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDX_CBString(CDataExchange* dx, int id, CString& value) {
  HWND control = dx->PrepareCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) {
    char text[512] = {};
    ::GetWindowText(control, text, sizeof text);
    value = text;
  } else {
    ::SendMessage(control, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(static_cast<LPCSTR>(value)));
  }
}

void DDX_LBIndex(CDataExchange* dx, int id, int& index) {
  HWND control = dx->PrepareCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) index = static_cast<int>(::SendMessage(control, LB_GETCURSEL, 0, 0));
  else ::SendMessage(control, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.GetSafeHwnd()) return;
  if (HWND item = dx->PrepareCtrl(id)) control.SubclassWindow(item);
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars) {
  if (dx->m_bSaveAndValidate) {
    if (value.GetLength() > maxChars) {
      CString text;
      text.Format("Please enter no more than %d characters.", maxChars);
      Tell(dx, text);
      dx->Fail();
    }
  } else if (dx->m_hWndLastControl && dx->m_bEditLastControl) {
    ::SendMessage(dx->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
  }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue) {
  if (!dx->m_bSaveAndValidate || (value >= minValue && value <= maxValue)) return;
  CString text;
  text.Format("Please enter an integer between %d and %d.", minValue, maxValue);
  Tell(dx, text);
  dx->Fail();
}

// ---- CDialog ----

CDialog::CDialog(UINT idTemplate, CWnd* parent)
    : m_nIDHelp(idTemplate), m_lpszTemplateName(MAKEINTRESOURCE(static_cast<WORD>(idTemplate))), m_pParentWnd(parent) {}

CDialog::CDialog(LPCSTR templateName, CWnd* parent) : m_lpszTemplateName(templateName), m_pParentWnd(parent) {}

HWND CDialog::MakeWindow(HWND parent) {
  ended_ = false;
  result_ = -1;
  return CreateFor(this, m_lpszTemplateName, m_lpDialogTemplate, parent);
}

BOOL CDialog::Create(UINT idTemplate, CWnd* parent) { return Create(MAKEINTRESOURCE(static_cast<WORD>(idTemplate)), parent); }

BOOL CDialog::Create(LPCSTR templateName, CWnd* parent) {
  if (m_hWnd) return FALSE;
  m_lpszTemplateName = templateName;
  m_lpDialogTemplate = nullptr;
  if (parent) m_pParentWnd = parent;
  modal_ = false;
  HWND hwnd = MakeWindow(ParentHwnd(m_pParentWnd));
  return hwnd && m_hWnd == hwnd;
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent) {
  if (m_hWnd || !dialogTemplate) return FALSE;
  m_lpDialogTemplate = dialogTemplate;
  if (parent) m_pParentWnd = parent;
  modal_ = false;
  HWND hwnd = MakeWindow(ParentHwnd(m_pParentWnd));
  return hwnd && m_hWnd == hwnd;
}

BOOL CDialog::InitModalIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent) {
  if (!dialogTemplate) return FALSE;
  m_lpDialogTemplate = dialogTemplate;
  if (parent) m_pParentWnd = parent;
  return TRUE;
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;
  HWND parent = ParentHwnd(m_pParentWnd);
  HWND owner = parent ? ::GetAncestor(parent, GA_ROOT) : nullptr;
  modal_ = true;
  HWND hwnd = MakeWindow(parent);
  if (!hwnd) {
    modal_ = false;
    return -1;
  }
  bool ownerDisabled = false;
  if (owner && !ended_ && ::IsWindowEnabled(owner)) {
    ::EnableWindow(owner, FALSE);
    ownerDisabled = true;
  }
  if (!ended_ && !::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);
  bool quit = false;
  int quitCode = 0;
  while (!ended_ && ::IsWindow(hwnd)) {
    MSG msg;
    BOOL got = ::GetMessage(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      quitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) break;
    // The windows the message is for, up to the dialog, may take it first; then the dialog's navigation.
    bool taken = false;
    for (HWND h = msg.hwnd; h && !taken; h = (h == hwnd ? nullptr : ::GetParent(h))) {
      if (CWnd* wnd = CWnd::FromHandlePermanent(h)) taken = wnd->PreTranslateMessage(&msg);
      if (h != hwnd && !::IsChild(hwnd, h)) break;
    }
    if (!taken) {
      ::TranslateMessage(&msg);
      ::DispatchMessage(&msg);
    }
  }
  if (ownerDisabled && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
  bool wasActive = ::GetActiveWindow() == hwnd;
  INT_PTR result = ended_ ? result_ : -1;
  if (::IsWindow(hwnd)) ::DestroyWindow(hwnd);
  if (wasActive && owner && ::IsWindow(owner)) ::SetForegroundWindow(owner);
  modal_ = false;
  if (quit) ::PostQuitMessage(quitCode);
  return result;
}

void CDialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
  if (!m_hWnd) return;
  if (modal_) {
    ::EndDialog(m_hWnd, result);
  } else {
    ::ShowWindow(m_hWnd, SW_HIDE);
  }
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  return RunExchange(this, saveAndValidate, [this](CDataExchange* dx) { DoDataExchange(dx); });
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (CWnd::OnCommand(wParam, lParam)) return TRUE;
  if (HIWORD(wParam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOK();
      return TRUE;
    case IDCANCEL:
      OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  bool dialogColour = message == WM_CTLCOLORDLG || message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN ||
                      message == WM_CTLCOLORMSGBOX;
  CWinApp* app = AfxGetApp();
  if (dialogColour && app && app->GetDialogBkBrush()) {
    auto hdc = reinterpret_cast<HDC>(wParam);
    SetBkColor(hdc, app->GetDialogBkColor());
    SetTextColor(hdc, app->GetDialogTextColor());
    return reinterpret_cast<LRESULT>(app->GetDialogBkBrush());
  }
  return CWnd::DefWindowProc(message, wParam, lParam);
}

void CDialog::OnClose() { ::SendMessage(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    RECT before{};
    ::GetWindowRect(m_hWnd, &before);
    const bool wasVisible = (GetStyle() & WS_VISIBLE) != 0;
    // The message map may take it; else the virtual.
    const mfc::MessageEntry* entry = mfc::FindEntry(GetMessageMap(), message, 0);
    const LRESULT result = entry ? entry->invoke(this, wParam, lParam) : OnInitDialog();
    // A dialog that placed itself nowhere opens centred over its owner, as every dialog of the framework does.
    RECT after{};
    ::GetWindowRect(m_hWnd, &after);
    const bool placedItself = after.left != before.left || after.top != before.top;
    if (::IsWindow(m_hWnd) && !wasVisible && !(GetStyle() & (WS_VISIBLE | WS_CHILD)) && !placedItself)
      CenterWindow();
    return result;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (!m_hWnd || !msg) return FALSE;
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  return ::IsDialogMessage(m_hWnd, msg);
}

void CDialog::NextDlgCtrl() const { ::SendMessage(m_hWnd, WM_NEXTDLGCTL, 0, 0); }
void CDialog::PrevDlgCtrl() const { ::SendMessage(m_hWnd, WM_NEXTDLGCTL, 1, 0); }
void CDialog::GotoDlgCtrl(CWnd* control) {
  if (control) ::SendMessage(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control->GetSafeHwnd()), TRUE);
}
void CDialog::SetDefID(UINT id) { ::SendMessage(m_hWnd, DM_SETDEFID, id, 0); }
DWORD CDialog::GetDefID() const { return static_cast<DWORD>(::SendMessage(m_hWnd, DM_GETDEFID, 0, 0)); }
void CDialog::MapDialogRect(LPRECT rect) const { ::MapDialogRect(m_hWnd, rect); }

int CDialog::GetDlgItemText(int id, CString& text) const {
  HWND item = ::GetDlgItem(m_hWnd, id);
  if (!item) {
    text = "";
    return 0;
  }
  int length = ::GetWindowTextLength(item);
  std::string buffer(static_cast<size_t>(length) + 1, '\0');
  ::GetWindowText(item, buffer.data(), length + 1);
  text = buffer.c_str();
  return text.GetLength();
}

// ---- CFormView ----

CFormView::CFormView(UINT idTemplate) : m_lpszTemplateName(MAKEINTRESOURCE(static_cast<WORD>(idTemplate))) {}
CFormView::CFormView(LPCSTR templateName) : m_lpszTemplateName(templateName) {}

namespace mfc::detail {

HWND CreateChildDialog(CWnd* object, LPCSTR templateName, HWND parent, DWORD style, DWORD exStyle) {
  HRSRC found = ::FindResource(nullptr, templateName, RT_DIALOG);
  if (!found || object->GetSafeHwnd()) return nullptr;
  auto* data = static_cast<const uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
  DWORD size = ::SizeofResource(nullptr, found);
  if (!data || size < sizeof(DLGTEMPLATE)) return nullptr;
  // A copy made into a child of the parent: whatever frame the template asks for goes.
  std::vector<uint8_t> copy(data, data + size);
  bool extended = size >= 16 && copy[0] == 1 && copy[1] == 0 && copy[2] == 0xFF && copy[3] == 0xFF;
  size_t styleAt = extended ? 12 : 0, exStyleAt = extended ? 8 : 4;
  DWORD templateStyle, templateExStyle;
  std::memcpy(&templateStyle, &copy[styleAt], 4);
  std::memcpy(&templateExStyle, &copy[exStyleAt], 4);
  templateStyle &= ~(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | WS_VISIBLE | DS_CENTER);
  templateStyle |= WS_CHILD | DS_CONTROL | style;
  templateExStyle |= exStyle | WS_EX_CONTROLPARENT;
  std::memcpy(&copy[styleAt], &templateStyle, 4);
  std::memcpy(&copy[exStyleAt], &templateExStyle, 4);
  HWND hwnd = CreateFor(object, nullptr, reinterpret_cast<LPCDLGTEMPLATE>(copy.data()), parent);
  return hwnd && object->GetSafeHwnd() == hwnd ? hwnd : nullptr;
}

std::string DialogTemplateTitle(LPCSTR templateName) {
  HRSRC found = ::FindResource(nullptr, templateName, RT_DIALOG);
  if (!found) return {};
  auto* data = static_cast<const uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
  size_t size = ::SizeofResource(nullptr, found);
  if (!data) return {};
  bool extended = size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
  size_t at = extended ? 26 : 18;
  auto skip = [&]() {  // a name or an ordinal
    if (at + 2 <= size && data[at] == 0xFF && data[at + 1] == 0xFF) {
      at += 4;
      return;
    }
    while (at + 2 <= size && (data[at] || data[at + 1])) at += 2;
    at += 2;
  };
  skip();  // menu
  skip();  // class
  std::string title;
  while (at + 2 <= size && (data[at] || data[at + 1]) && title.size() < 256) {
    title += data[at + 1] ? '?' : static_cast<char>(data[at]);
    at += 2;
  }
  return title;
}

}  // namespace mfc::detail

BOOL CFormView::CreateEx(DWORD exStyle, LPCSTR, DWORD style, int x, int y, int width, int height, HWND parent,
                         UINT_PTR id, LPVOID) {
  HWND hwnd = mfc::detail::CreateChildDialog(this, m_lpszTemplateName, parent, style & (WS_VISIBLE | WS_BORDER), exStyle);
  if (!hwnd) return FALSE;
  ::SetWindowLongPtr(hwnd, GWLP_ID, static_cast<LONG_PTR>(id));
  if (width > 0 && height > 0) ::MoveWindow(hwnd, x, y, width, height, TRUE);
  return TRUE;
}

BOOL CFormView::UpdateData(BOOL saveAndValidate) {
  return RunExchange(this, saveAndValidate, [this](CDataExchange* dx) { DoDataExchange(dx); });
}

void CFormView::OnInitialUpdate() {
  UpdateData(FALSE);
  CView::OnInitialUpdate();
}

BOOL CFormView::PreTranslateMessage(MSG* msg) {
  if (!m_hWnd || !msg || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  return ::IsDialogMessage(m_hWnd, msg);
}

LRESULT CFormView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return FALSE;  // a view takes the focus only when the user gives it
  return CView::WindowProc(message, wParam, lParam);
}

void CFormView::OnPaint() { DefWindowProc(WM_PAINT, 0, 0); }

// ---- controls ----

namespace {
HWND MakeStandard(LPCSTR className, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  tavrin::controls::RegisterStandardControls();
  return ::CreateWindowEx(0, className, "", style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                          parent ? parent->GetSafeHwnd() : nullptr, reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)),
                          nullptr, nullptr);
}
LPARAM Text(LPCSTR text) { return reinterpret_cast<LPARAM>(text ? text : ""); }
// A line of a list box or a combo box read by its length and text messages; "" for a bad index.
CString LineText(HWND hwnd, UINT lengthMessage, UINT textMessage, int index) {
  const auto line = static_cast<WPARAM>(index);
  const int length = static_cast<int>(::SendMessage(hwnd, lengthMessage, line, 0));
  if (length < 0) return "";
  std::string buffer(static_cast<size_t>(length) + 1, '\0');
  ::SendMessage(hwnd, textMessage, line, reinterpret_cast<LPARAM>(buffer.data()));
  return buffer.c_str();
}
}  // namespace

BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = MakeStandard("Edit", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}
void CEdit::SetSel(int start, int end, BOOL) { ::SendMessage(m_hWnd, EM_SETSEL, static_cast<WPARAM>(start), end); }
void CEdit::GetSel(int& start, int& end) const {
  DWORD from = 0, to = 0;
  ::SendMessage(m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  start = static_cast<int>(from);
  end = static_cast<int>(to);
}
void CEdit::ReplaceSel(LPCSTR text, BOOL canUndo) { ::SendMessage(m_hWnd, EM_REPLACESEL, canUndo, Text(text)); }

BOOL CComboBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = MakeStandard("ComboBox", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}
int CComboBox::AddString(LPCSTR text) { return static_cast<int>(::SendMessage(m_hWnd, CB_ADDSTRING, 0, Text(text))); }
int CComboBox::InsertString(int index, LPCSTR text) {
  return static_cast<int>(::SendMessage(m_hWnd, CB_INSERTSTRING, static_cast<WPARAM>(index), Text(text)));
}
int CComboBox::DeleteString(UINT index) { return static_cast<int>(::SendMessage(m_hWnd, CB_DELETESTRING, index, 0)); }
void CComboBox::ResetContent() { ::SendMessage(m_hWnd, CB_RESETCONTENT, 0, 0); }
int CComboBox::GetCount() const { return static_cast<int>(::SendMessage(m_hWnd, CB_GETCOUNT, 0, 0)); }
int CComboBox::GetCurSel() const { return static_cast<int>(::SendMessage(m_hWnd, CB_GETCURSEL, 0, 0)); }
int CComboBox::SetCurSel(int index) {
  return static_cast<int>(::SendMessage(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0));
}
int CComboBox::GetLBText(int index, LPSTR buffer) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)));
}
void CComboBox::GetLBText(int index, CString& text) const {
  text = LineText(m_hWnd, CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}
int CComboBox::GetLBTextLen(int index) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0));
}
int CComboBox::FindString(int startAfter, LPCSTR text) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_FINDSTRING, static_cast<WPARAM>(startAfter), Text(text)));
}
int CComboBox::FindStringExact(int startAfter, LPCSTR text) const {
  return static_cast<int>(::SendMessage(m_hWnd, CB_FINDSTRINGEXACT, static_cast<WPARAM>(startAfter), Text(text)));
}
int CComboBox::SelectString(int startAfter, LPCSTR text) {
  return static_cast<int>(::SendMessage(m_hWnd, CB_SELECTSTRING, static_cast<WPARAM>(startAfter), Text(text)));
}
DWORD_PTR CComboBox::GetItemData(int index) const {
  return static_cast<DWORD_PTR>(::SendMessage(m_hWnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}
int CComboBox::SetItemData(int index, DWORD_PTR data) {
  return static_cast<int>(::SendMessage(m_hWnd, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
}
void CComboBox::ShowDropDown(BOOL show) { ::SendMessage(m_hWnd, CB_SHOWDROPDOWN, show, 0); }
BOOL CComboBox::GetDroppedState() const { return static_cast<BOOL>(::SendMessage(m_hWnd, CB_GETDROPPEDSTATE, 0, 0)); }

BOOL CListBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = MakeStandard("ListBox", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}
int CListBox::AddString(LPCSTR text) { return static_cast<int>(::SendMessage(m_hWnd, LB_ADDSTRING, 0, Text(text))); }
int CListBox::InsertString(int index, LPCSTR text) {
  return static_cast<int>(::SendMessage(m_hWnd, LB_INSERTSTRING, static_cast<WPARAM>(index), Text(text)));
}
int CListBox::DeleteString(UINT index) { return static_cast<int>(::SendMessage(m_hWnd, LB_DELETESTRING, index, 0)); }
void CListBox::ResetContent() { ::SendMessage(m_hWnd, LB_RESETCONTENT, 0, 0); }
int CListBox::GetCount() const { return static_cast<int>(::SendMessage(m_hWnd, LB_GETCOUNT, 0, 0)); }
int CListBox::GetCurSel() const { return static_cast<int>(::SendMessage(m_hWnd, LB_GETCURSEL, 0, 0)); }
int CListBox::SetCurSel(int index) {
  return static_cast<int>(::SendMessage(m_hWnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0));
}
int CListBox::GetText(int index, LPSTR buffer) const {
  return static_cast<int>(::SendMessage(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)));
}
void CListBox::GetText(int index, CString& text) const { text = LineText(m_hWnd, LB_GETTEXTLEN, LB_GETTEXT, index); }
int CListBox::GetTextLen(int index) const {
  return static_cast<int>(::SendMessage(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0));
}
int CListBox::FindString(int startAfter, LPCSTR text) const {
  return static_cast<int>(::SendMessage(m_hWnd, LB_FINDSTRING, static_cast<WPARAM>(startAfter), Text(text)));
}
int CListBox::FindStringExact(int startAfter, LPCSTR text) const {
  return static_cast<int>(::SendMessage(m_hWnd, LB_FINDSTRINGEXACT, static_cast<WPARAM>(startAfter), Text(text)));
}
int CListBox::SelectString(int startAfter, LPCSTR text) {
  return static_cast<int>(::SendMessage(m_hWnd, LB_SELECTSTRING, static_cast<WPARAM>(startAfter), Text(text)));
}
DWORD_PTR CListBox::GetItemData(int index) const {
  return static_cast<DWORD_PTR>(::SendMessage(m_hWnd, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}
int CListBox::SetItemData(int index, DWORD_PTR data) {
  return static_cast<int>(::SendMessage(m_hWnd, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
}
int CListBox::GetTopIndex() const { return static_cast<int>(::SendMessage(m_hWnd, LB_GETTOPINDEX, 0, 0)); }
int CListBox::SetTopIndex(int index) {
  return static_cast<int>(::SendMessage(m_hWnd, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0));
}

BOOL CScrollBar::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  HWND hwnd = MakeStandard("ScrollBar", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}
BOOL CScrollBar::GetScrollInfo(LPSCROLLINFO info, UINT mask) const {
  if (!info) return FALSE;
  info->fMask = mask;
  return ::GetScrollInfo(m_hWnd, SB_CTL, info);
}
