#include "mfc/comctl.h"

#include "win32/resources.h"

IMPLEMENT_DYNAMIC(CProgressCtrl, CWnd)
IMPLEMENT_DYNAMIC(CAnimateCtrl, CWnd)
IMPLEMENT_DYNAMIC(CIPAddressCtrl, CWnd)
IMPLEMENT_DYNAMIC(CToolBarCtrl, CWnd)
IMPLEMENT_DYNAMIC(CStatusBarCtrl, CWnd)

namespace mfc {

BOOL CreateCommonControl(CWnd& object, LPCSTR className, LPCSTR text, DWORD style, const RECT& rect, CWnd* parent,
                         UINT id, DWORD exStyle) {
  tavrin::controls::RegisterCommonControls();
  HWND hwnd = ::CreateWindowEx(exStyle, className, text, style, rect.left, rect.top, rect.right - rect.left,
                               rect.bottom - rect.top, parent ? parent->GetSafeHwnd() : nullptr,
                               reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
  if (!hwnd) return FALSE;
  if (object.SubclassWindow(hwnd)) return TRUE;
  ::DestroyWindow(hwnd);
  return FALSE;
}

}  // namespace mfc

namespace {

template <class T = LRESULT>
T Send(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(::SendMessage(hwnd, message, wParam, lParam));
  else return static_cast<T>(::SendMessage(hwnd, message, wParam, lParam));
}
LPARAM Ptr(const void* p) { return reinterpret_cast<LPARAM>(p); }

}  // namespace

// ---- CProgressCtrl
BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return mfc::CreateCommonControl(*this, PROGRESS_CLASS, "", style, rect, parent, id);
}
void CProgressCtrl::SetRange(short low, short high) { Send(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(low, high)); }
void CProgressCtrl::SetRange32(int low, int high) {
  Send(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}
void CProgressCtrl::GetRange(int& low, int& high) const {
  PBRANGE range{};
  Send(m_hWnd, PBM_GETRANGE, TRUE, Ptr(&range));
  low = range.iLow;
  high = range.iHigh;
}
int CProgressCtrl::SetPos(int pos) { return Send<int>(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(pos)); }
int CProgressCtrl::GetPos() const { return Send<int>(m_hWnd, PBM_GETPOS); }
int CProgressCtrl::OffsetPos(int delta) { return Send<int>(m_hWnd, PBM_DELTAPOS, static_cast<WPARAM>(delta)); }
int CProgressCtrl::SetStep(int step) { return Send<int>(m_hWnd, PBM_SETSTEP, static_cast<WPARAM>(step)); }
int CProgressCtrl::StepIt() { return Send<int>(m_hWnd, PBM_STEPIT); }
COLORREF CProgressCtrl::SetBarColor(COLORREF color) { return Send<COLORREF>(m_hWnd, PBM_SETBARCOLOR, 0, color); }
COLORREF CProgressCtrl::SetBkColor(COLORREF color) { return Send<COLORREF>(m_hWnd, PBM_SETBKCOLOR, 0, color); }

// ---- CAnimateCtrl
BOOL CAnimateCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return mfc::CreateCommonControl(*this, ANIMATE_CLASS, "", style, rect, parent, id);
}
BOOL CAnimateCtrl::Open(UINT resourceId) {
  return Send<BOOL>(m_hWnd, ACM_OPENA, 0, Ptr(MAKEINTRESOURCE(static_cast<WORD>(resourceId))));
}
BOOL CAnimateCtrl::Open(LPCSTR fileOrName) { return Send<BOOL>(m_hWnd, ACM_OPENA, 0, Ptr(fileOrName)); }
BOOL CAnimateCtrl::Play(UINT from, UINT to, UINT repeat) {
  return Send<BOOL>(m_hWnd, ACM_PLAY, repeat, MAKELPARAM(static_cast<int>(from & 0xFFFF), static_cast<int>(to & 0xFFFF)));
}
BOOL CAnimateCtrl::Stop() { return Send<BOOL>(m_hWnd, ACM_STOP); }
BOOL CAnimateCtrl::Close() { return Send<BOOL>(m_hWnd, ACM_OPENA, 0, 0); }
BOOL CAnimateCtrl::IsPlaying() const { return Send<BOOL>(m_hWnd, ACM_ISPLAYING); }

// ---- CIPAddressCtrl
BOOL CIPAddressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return mfc::CreateCommonControl(*this, WC_IPADDRESS, "", style, rect, parent, id);
}
BOOL CIPAddressCtrl::IsBlank() const { return Send<BOOL>(m_hWnd, IPM_ISBLANK); }
void CIPAddressCtrl::ClearAddress() { Send(m_hWnd, IPM_CLEARADDRESS); }
int CIPAddressCtrl::GetAddress(BYTE& field0, BYTE& field1, BYTE& field2, BYTE& field3) {
  DWORD address = 0;
  int filled = GetAddress(address);
  field0 = static_cast<BYTE>(FIRST_IPADDRESS(address));
  field1 = static_cast<BYTE>(SECOND_IPADDRESS(address));
  field2 = static_cast<BYTE>(THIRD_IPADDRESS(address));
  field3 = static_cast<BYTE>(FOURTH_IPADDRESS(address));
  return filled;
}
int CIPAddressCtrl::GetAddress(DWORD& address) { return Send<int>(m_hWnd, IPM_GETADDRESS, 0, Ptr(&address)); }
void CIPAddressCtrl::SetAddress(BYTE field0, BYTE field1, BYTE field2, BYTE field3) {
  SetAddress(MAKEIPADDRESS(field0, field1, field2, field3));
}
void CIPAddressCtrl::SetAddress(DWORD address) { Send(m_hWnd, IPM_SETADDRESS, 0, static_cast<LPARAM>(address)); }
void CIPAddressCtrl::SetFieldFocus(WORD field) { Send(m_hWnd, IPM_SETFOCUS, field); }
void CIPAddressCtrl::SetFieldRange(int field, BYTE low, BYTE high) {
  Send(m_hWnd, IPM_SETRANGE, static_cast<WPARAM>(field), MAKEIPRANGE(low, high));
}

// ---- CToolBarCtrl
BOOL CToolBarCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  if (!mfc::CreateCommonControl(*this, TOOLBARCLASSNAME, "", style, rect, parent, id)) return FALSE;
  SetButtonStructSize(sizeof(TBBUTTON));
  return TRUE;
}
void CToolBarCtrl::SetButtonStructSize(int size) { Send(m_hWnd, TB_BUTTONSTRUCTSIZE, static_cast<WPARAM>(size)); }
BOOL CToolBarCtrl::SetBitmapSize(CSize size) { return Send<BOOL>(m_hWnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(size.cx, size.cy)); }
BOOL CToolBarCtrl::SetButtonSize(CSize size) { return Send<BOOL>(m_hWnd, TB_SETBUTTONSIZE, 0, MAKELPARAM(size.cx, size.cy)); }
CSize CToolBarCtrl::GetButtonSize() const {
  DWORD size = Send<DWORD>(m_hWnd, TB_GETBUTTONSIZE);
  return CSize(LOWORD(size), HIWORD(size));
}
int CToolBarCtrl::AddBitmap(int count, UINT bitmapId) {
  TBADDBITMAP add{reinterpret_cast<HINSTANCE>(GetModuleHandle(nullptr)), bitmapId};
  if (!add.hInst) add.hInst = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(1));  // any module: one resource table
  return Send<int>(m_hWnd, TB_ADDBITMAP, static_cast<WPARAM>(count), Ptr(&add));
}
int CToolBarCtrl::AddBitmap(int count, CBitmap* bitmap) {
  TBADDBITMAP add{nullptr, bitmap ? reinterpret_cast<UINT_PTR>(bitmap->m_hObject) : 0};
  return Send<int>(m_hWnd, TB_ADDBITMAP, static_cast<WPARAM>(count), Ptr(&add));
}
BOOL CToolBarCtrl::AddButtons(int count, const TBBUTTON* buttons) {
  return Send<BOOL>(m_hWnd, TB_ADDBUTTONSA, static_cast<WPARAM>(count), Ptr(buttons));
}
BOOL CToolBarCtrl::InsertButton(int index, const TBBUTTON* button) {
  return Send<BOOL>(m_hWnd, TB_INSERTBUTTONA, static_cast<WPARAM>(index), Ptr(button));
}
BOOL CToolBarCtrl::DeleteButton(int index) { return Send<BOOL>(m_hWnd, TB_DELETEBUTTON, static_cast<WPARAM>(index)); }
BOOL CToolBarCtrl::GetButton(int index, TBBUTTON* button) const {
  return Send<BOOL>(m_hWnd, TB_GETBUTTON, static_cast<WPARAM>(index), Ptr(button));
}
int CToolBarCtrl::GetButtonCount() const { return Send<int>(m_hWnd, TB_BUTTONCOUNT); }
int CToolBarCtrl::CommandToIndex(UINT id) const { return Send<int>(m_hWnd, TB_COMMANDTOINDEX, id); }
BOOL CToolBarCtrl::EnableButton(int id, BOOL enable) { return Send<BOOL>(m_hWnd, TB_ENABLEBUTTON, static_cast<WPARAM>(id), enable); }
BOOL CToolBarCtrl::CheckButton(int id, BOOL check) { return Send<BOOL>(m_hWnd, TB_CHECKBUTTON, static_cast<WPARAM>(id), check); }
BOOL CToolBarCtrl::PressButton(int id, BOOL press) { return Send<BOOL>(m_hWnd, TB_PRESSBUTTON, static_cast<WPARAM>(id), press); }
BOOL CToolBarCtrl::HideButton(int id, BOOL hide) { return Send<BOOL>(m_hWnd, TB_HIDEBUTTON, static_cast<WPARAM>(id), hide); }
BOOL CToolBarCtrl::IsButtonEnabled(int id) const { return Send<BOOL>(m_hWnd, TB_ISBUTTONENABLED, static_cast<WPARAM>(id)); }
BOOL CToolBarCtrl::IsButtonChecked(int id) const { return Send<BOOL>(m_hWnd, TB_ISBUTTONCHECKED, static_cast<WPARAM>(id)); }
BOOL CToolBarCtrl::IsButtonPressed(int id) const { return Send<BOOL>(m_hWnd, TB_ISBUTTONPRESSED, static_cast<WPARAM>(id)); }
BOOL CToolBarCtrl::IsButtonHidden(int id) const { return Send<BOOL>(m_hWnd, TB_ISBUTTONHIDDEN, static_cast<WPARAM>(id)); }
BOOL CToolBarCtrl::SetState(int id, UINT state) { return Send<BOOL>(m_hWnd, TB_SETSTATE, static_cast<WPARAM>(id), state); }
int CToolBarCtrl::GetState(int id) const { return Send<int>(m_hWnd, TB_GETSTATE, static_cast<WPARAM>(id)); }
BOOL CToolBarCtrl::GetItemRect(int index, LPRECT rect) const {
  return Send<BOOL>(m_hWnd, TB_GETITEMRECT, static_cast<WPARAM>(index), Ptr(rect));
}
BOOL CToolBarCtrl::GetRect(int id, LPRECT rect) const { return Send<BOOL>(m_hWnd, TB_GETRECT, static_cast<WPARAM>(id), Ptr(rect)); }
int CToolBarCtrl::HitTest(LPPOINT point) const { return Send<int>(m_hWnd, TB_HITTEST, 0, Ptr(point)); }
HIMAGELIST CToolBarCtrl::SetImageList(HIMAGELIST list) { return Send<HIMAGELIST>(m_hWnd, TB_SETIMAGELIST, 0, Ptr(list)); }
HIMAGELIST CToolBarCtrl::SetHotImageList(HIMAGELIST list) { return Send<HIMAGELIST>(m_hWnd, TB_SETHOTIMAGELIST, 0, Ptr(list)); }
HIMAGELIST CToolBarCtrl::SetDisabledImageList(HIMAGELIST list) {
  return Send<HIMAGELIST>(m_hWnd, TB_SETDISABLEDIMAGELIST, 0, Ptr(list));
}
HIMAGELIST CToolBarCtrl::GetImageList() const { return Send<HIMAGELIST>(m_hWnd, TB_GETIMAGELIST); }
DWORD CToolBarCtrl::SetExtendedStyle(DWORD style) { return Send<DWORD>(m_hWnd, TB_SETEXTENDEDSTYLE, 0, static_cast<LPARAM>(style)); }
DWORD CToolBarCtrl::GetExtendedStyle() const { return Send<DWORD>(m_hWnd, TB_GETEXTENDEDSTYLE); }
HWND CToolBarCtrl::GetToolTips() const { return Send<HWND>(m_hWnd, TB_GETTOOLTIPS); }
void CToolBarCtrl::SetOwner(CWnd* owner) { Send(m_hWnd, TB_SETPARENT, reinterpret_cast<WPARAM>(owner ? owner->GetSafeHwnd() : nullptr)); }
void CToolBarCtrl::AutoSize() { Send(m_hWnd, TB_AUTOSIZE); }

// ---- CStatusBarCtrl
BOOL CStatusBarCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return mfc::CreateCommonControl(*this, STATUSCLASSNAME, "", style, rect, parent, id);
}
BOOL CStatusBarCtrl::SetParts(int count, const int* rightEdges) {
  return Send<BOOL>(m_hWnd, SB_SETPARTS, static_cast<WPARAM>(count), Ptr(rightEdges));
}
int CStatusBarCtrl::GetParts(int count, int* rightEdges) const {
  return Send<int>(m_hWnd, SB_GETPARTS, static_cast<WPARAM>(count), Ptr(rightEdges));
}
BOOL CStatusBarCtrl::SetText(LPCSTR text, int part, int type) {
  return Send<BOOL>(m_hWnd, SB_SETTEXTA, static_cast<WPARAM>(part | type), Ptr(text));
}
CString CStatusBarCtrl::GetText(int part, int* type) const {
  int length = GetTextLength(part, type);
  if (type && (*type & SBT_OWNERDRAW)) return CString();
  std::string buffer(static_cast<size_t>(length) + 1, '\0');
  Send(m_hWnd, SB_GETTEXTA, static_cast<WPARAM>(part), Ptr(buffer.data()));
  return CString(buffer.c_str());
}
int CStatusBarCtrl::GetTextLength(int part, int* type) const {
  DWORD result = Send<DWORD>(m_hWnd, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part));
  if (type) *type = HIWORD(result);
  return LOWORD(result);
}
BOOL CStatusBarCtrl::GetRect(int part, LPRECT rect) const { return Send<BOOL>(m_hWnd, SB_GETRECT, static_cast<WPARAM>(part), Ptr(rect)); }
void CStatusBarCtrl::SetSimple(BOOL simple) { Send(m_hWnd, SB_SIMPLE, static_cast<WPARAM>(simple)); }
BOOL CStatusBarCtrl::IsSimple() const { return Send<BOOL>(m_hWnd, SB_ISSIMPLE); }
void CStatusBarCtrl::SetMinHeight(int height) { Send(m_hWnd, SB_SETMINHEIGHT, static_cast<WPARAM>(height)); }
