#include "controls_internal.h"
#include "mfc/collections.h"
#include "mfc/dialog.h"

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)

namespace {

// A selection walk's POSITION: the item's index + 1, so that null ends it.
POSITION PositionOf(int item) { return item < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<uintptr_t>(item) + 1); }

}  // namespace

CListCtrl::~CListCtrl() {
  if (defaultHeader_.GetSafeHwnd()) defaultHeader_.UnsubclassWindow();
  if (editor_) editor_->m_hWnd = nullptr;  // the list's window owns it
}

BOOL CListCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  tavrin::controls::RegisterListControls();
  HWND hwnd = mfc::detail::MakeControl(WC_LISTVIEW, "", style, rect, parent, id);
  return hwnd && SubclassWindow(hwnd);
}

// ---- styles and looks ----

DWORD CListCtrl::GetExtendedStyle() const {
  return static_cast<DWORD>(::SendMessage(m_hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}
DWORD CListCtrl::SetExtendedStyle(DWORD exStyle) {
  return static_cast<DWORD>(::SendMessage(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(exStyle)));
}
COLORREF CListCtrl::GetBkColor() const { return static_cast<COLORREF>(::SendMessage(m_hWnd, LVM_GETBKCOLOR, 0, 0)); }
BOOL CListCtrl::SetBkColor(COLORREF color) {
  const BOOL ok = static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(color)));
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
  return ok;
}
COLORREF CListCtrl::GetTextColor() const { return static_cast<COLORREF>(::SendMessage(m_hWnd, LVM_GETTEXTCOLOR, 0, 0)); }
BOOL CListCtrl::SetTextColor(COLORREF color) {
  const BOOL ok = static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(color)));
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  return ok;
}
COLORREF CListCtrl::GetTextBkColor() const {
  return static_cast<COLORREF>(::SendMessage(m_hWnd, LVM_GETTEXTBKCOLOR, 0, 0));
}
BOOL CListCtrl::SetTextBkColor(COLORREF color) {
  const BOOL ok = static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(color)));
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  return ok;
}
CImageList* CListCtrl::GetImageList(int type) const {
  auto list = reinterpret_cast<HIMAGELIST>(::SendMessage(m_hWnd, LVM_GETIMAGELIST, static_cast<WPARAM>(type), 0));
  return list ? CImageList::FromHandle(list) : nullptr;
}
CImageList* CListCtrl::SetImageList(CImageList* images, int type) {
  auto old = reinterpret_cast<HIMAGELIST>(::SendMessage(m_hWnd, LVM_SETIMAGELIST, static_cast<WPARAM>(type),
                                                        reinterpret_cast<LPARAM>(images ? images->GetSafeHandle() : nullptr)));
  return old ? CImageList::FromHandle(old) : nullptr;
}

// ---- columns ----

int CListCtrl::InsertColumn(int col, const LVCOLUMN* column) {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_INSERTCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(column)));
}
int CListCtrl::InsertColumn(int col, LPCSTR heading, int format, int width, int subItem) {
  LVCOLUMN column{};
  column.mask = LVCF_FMT | LVCF_TEXT | (width >= 0 ? LVCF_WIDTH : 0) | (subItem >= 0 ? LVCF_SUBITEM : 0);
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<LPSTR>(heading ? heading : "");
  column.iSubItem = subItem;
  return InsertColumn(col, &column);
}
BOOL CListCtrl::DeleteColumn(int col) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_DELETECOLUMN, static_cast<WPARAM>(col), 0));
}
BOOL CListCtrl::GetColumn(int col, LVCOLUMN* column) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_GETCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(column)));
}
BOOL CListCtrl::SetColumn(int col, const LVCOLUMN* column) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(column)));
}
int CListCtrl::GetColumnWidth(int col) const {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(col), 0));
}
BOOL CListCtrl::SetColumnWidth(int col, int cx) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(col), MAKELPARAM(cx, 0)));
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() const {
  auto header = reinterpret_cast<HWND>(::SendMessage(m_hWnd, LVM_GETHEADER, 0, 0));
  if (!header) return nullptr;
  CWnd* attached = CWnd::FromHandlePermanent(header);
  if (auto* object = dynamic_cast<CHeaderCtrl*>(attached)) return object;
  if (attached) return nullptr;  // taken by an object of another kind
  return defaultHeader_.SubclassWindow(header) ? &defaultHeader_ : nullptr;
}

// ---- items ----

int CListCtrl::GetItemCount() const { return static_cast<int>(::SendMessage(m_hWnd, LVM_GETITEMCOUNT, 0, 0)); }

int CListCtrl::InsertItem(const LVITEM* item) {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(item)));
}
int CListCtrl::InsertItem(int item, LPCSTR text) { return InsertItem(LVIF_TEXT, item, text, 0, 0, 0, 0); }
int CListCtrl::InsertItem(int item, LPCSTR text, int image) {
  return InsertItem(LVIF_TEXT | LVIF_IMAGE, item, text, 0, 0, image, 0);
}
int CListCtrl::InsertItem(UINT mask, int item, LPCSTR text, UINT state, UINT stateMask, int image, LPARAM param) {
  LVITEM lv{};
  lv.mask = mask;
  lv.iItem = item;
  lv.pszText = const_cast<LPSTR>(text ? text : "");
  lv.state = state;
  lv.stateMask = stateMask;
  lv.iImage = image;
  lv.lParam = param;
  return InsertItem(&lv);
}
BOOL CListCtrl::DeleteItem(int item) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_DELETEITEM, static_cast<WPARAM>(item), 0));
}
BOOL CListCtrl::DeleteAllItems() { return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_DELETEALLITEMS, 0, 0)); }
BOOL CListCtrl::GetItem(LVITEM* item) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(item)));
}
BOOL CListCtrl::SetItem(const LVITEM* item) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(item)));
}
BOOL CListCtrl::SetItem(int item, int subItem, UINT mask, LPCSTR text, int image, UINT state, UINT stateMask,
                        LPARAM param) {
  LVITEM lv{};
  lv.mask = mask;
  lv.iItem = item;
  lv.iSubItem = subItem;
  lv.pszText = const_cast<LPSTR>(text);
  lv.iImage = image;
  lv.state = state;
  lv.stateMask = stateMask;
  lv.lParam = param;
  return SetItem(&lv);
}
BOOL CListCtrl::SetItemText(int item, int subItem, LPCSTR text) {
  LVITEM lv{};
  lv.iSubItem = subItem;
  lv.pszText = const_cast<LPSTR>(text);
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv)));
}
int CListCtrl::GetItemText(int item, int subItem, LPSTR text, int length) const {
  LVITEM lv{};
  lv.iSubItem = subItem;
  lv.pszText = text;
  lv.cchTextMax = length;
  return static_cast<int>(::SendMessage(m_hWnd, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv)));
}
CString CListCtrl::GetItemText(int item, int subItem) const {
  // A text that fills the buffer may be longer: asked again with more room.
  for (int size = 256;; size *= 4) {
    CString text;
    const int got = GetItemText(item, subItem, text.GetBuffer(size), size);
    text.ReleaseBuffer(got);
    if (got < size - 1 || size >= (1 << 24)) return text;
  }
}
DWORD_PTR CListCtrl::GetItemData(int item) const {
  LVITEM lv{};
  lv.mask = LVIF_PARAM;
  lv.iItem = item;
  return GetItem(&lv) ? static_cast<DWORD_PTR>(lv.lParam) : 0;
}
BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) {
  return SetItem(item, 0, LVIF_PARAM, nullptr, 0, 0, 0, static_cast<LPARAM>(data));
}
UINT CListCtrl::GetItemState(int item, UINT mask) const {
  return static_cast<UINT>(::SendMessage(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(item), static_cast<LPARAM>(mask)));
}
BOOL CListCtrl::SetItemState(int item, LVITEM* state) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(state)));
}
BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
  LVITEM lv{};
  lv.state = state;
  lv.stateMask = mask;
  return SetItemState(item, &lv);
}
BOOL CListCtrl::GetCheck(int item) const {
  return (GetItemState(item, LVIS_STATEIMAGEMASK) >> 12) == 2 ? TRUE : FALSE;
}
BOOL CListCtrl::SetCheck(int item, BOOL check) {
  return SetItemState(item, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), LVIS_STATEIMAGEMASK);
}
int CListCtrl::FindItem(LVFINDINFO* find, int start) const {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_FINDITEMA, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(find)));
}

// ---- selection ----

UINT CListCtrl::GetSelectedCount() const { return static_cast<UINT>(::SendMessage(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0)); }
POSITION CListCtrl::GetFirstSelectedItemPosition() const { return PositionOf(GetNextItem(-1, LVNI_SELECTED)); }
int CListCtrl::GetNextSelectedItem(POSITION& position) const {
  if (!position) return -1;
  const int item = static_cast<int>(reinterpret_cast<uintptr_t>(position)) - 1;
  position = PositionOf(GetNextItem(item, LVNI_SELECTED));
  return item;
}
int CListCtrl::GetNextItem(int item, int flags) const {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(item), static_cast<LPARAM>(flags)));
}
int CListCtrl::GetSelectionMark() const { return static_cast<int>(::SendMessage(m_hWnd, LVM_GETSELECTIONMARK, 0, 0)); }
int CListCtrl::SetSelectionMark(int item) {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(item)));
}

// ---- geometry and scrolling ----

BOOL CListCtrl::GetItemRect(int item, LPRECT rect, UINT code) const {
  if (!rect) return FALSE;
  rect->left = static_cast<LONG>(code);
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(rect)));
}
BOOL CListCtrl::GetSubItemRect(int item, int subItem, int area, RECT& rect) const {
  rect.top = subItem;
  rect.left = area;
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect)));
}
BOOL CListCtrl::GetItemPosition(int item, LPPOINT point) const {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_GETITEMPOSITION, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(point)));
}
BOOL CListCtrl::SetItemPosition(int item, POINT point) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SETITEMPOSITION32, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&point)));
}
int CListCtrl::HitTest(LVHITTESTINFO* info) const {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(info)));
}
int CListCtrl::HitTest(POINT point, UINT* flags) const {
  LVHITTESTINFO info{};
  info.pt = point;
  const int item = HitTest(&info);
  if (flags) *flags = info.flags;
  return item;
}
int CListCtrl::SubItemHitTest(LVHITTESTINFO* info) {
  return static_cast<int>(::SendMessage(m_hWnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(info)));
}
BOOL CListCtrl::EnsureVisible(int item, BOOL partialOk) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), partialOk));
}
int CListCtrl::GetTopIndex() const { return static_cast<int>(::SendMessage(m_hWnd, LVM_GETTOPINDEX, 0, 0)); }
int CListCtrl::GetCountPerPage() const { return static_cast<int>(::SendMessage(m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0)); }
BOOL CListCtrl::Scroll(SIZE size) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_SCROLL, static_cast<WPARAM>(size.cx), static_cast<LPARAM>(size.cy)));
}
BOOL CListCtrl::RedrawItems(int first, int last) {
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last)));
}
BOOL CListCtrl::Update(int item) { return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_UPDATE, static_cast<WPARAM>(item), 0)); }

// ---- the label editor ----

CEdit* CListCtrl::EditLabel(int item) {
  ::SendMessage(m_hWnd, LVM_EDITLABELA, static_cast<WPARAM>(item), 0);
  return GetEditControl();
}
CEdit* CListCtrl::GetEditControl() const {
  auto edit = reinterpret_cast<HWND>(::SendMessage(m_hWnd, LVM_GETEDITCONTROL, 0, 0));
  if (!edit) return nullptr;
  if (!editor_) editor_ = std::make_unique<CEdit>();
  editor_->m_hWnd = edit;
  return editor_.get();
}

void CListCtrl::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CListCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (mfc::detail::DrawReflected(*this, message, lParam, result)) return TRUE;
  return CWnd::OnChildNotify(message, wParam, lParam, result);
}
