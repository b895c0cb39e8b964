#include "controls/tree_ctrl.h"

#include "win32/user_draw.h"

#include <algorithm>
#include <functional>

IMPLEMENT_DYNAMIC(COXTreeCtrl, CListCtrl)

COXTreeCtrl::COXTreeCtrl() { m_root.MakeRoot(); }

COXTreeCtrl::~COXTreeCtrl() {
  m_root.DeleteChildren();
  if (m_header.GetSafeHwnd()) m_header.UnsubclassWindow();
  if (m_colorHeader.GetSafeHwnd()) m_colorHeader.UnsubclassWindow();
}

BOOL COXTreeCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  DWORD list = (style & 0xFFFF0000) | LVS_REPORT | LVS_OWNERDRAWFIXED;
  if (m_dwStyle & TVS_SHOWSELALWAYS) list |= LVS_SHOWSELALWAYS;
  if (m_dwStyle & TVS_EDITLABELS) list |= LVS_EDITLABELS;
  if (!(m_dwExStyle & 0x00080000)) list |= LVS_SINGLESEL;
  if (!(m_dwExStyle & 0x00100000)) list |= LVS_NOCOLUMNHEADER;
  if (m_dwExStyle & 0x04000000) list |= LVS_NOSCROLL;
  else list |= WS_HSCROLL | WS_VSCROLL;
  if (m_dwExStyle & 0x08000000) list |= LVS_NOSORTHEADER;
  if (m_dwExStyle & 0x10000000) list |= LVS_SHAREIMAGELISTS;
  // A list made here gets the tree header (Init); only an attached list keeps the coloured one.
  m_bCreating = true;
  const BOOL made = CListCtrl::Create(list, rect, parent, id);
  m_bCreating = false;
  if (!made) return FALSE;
  m_dwStyle = (m_dwStyle & 0xFFFF) | (style & 0xFFFF0000);
  return Init();
}

BOOL COXTreeCtrl::Init() {
  if (m_bInit) return TRUE;
  // A control made again gets a new pen; the one of its last window goes first.
  m_linesPen.DeleteObject();
  LOGBRUSH brush{BS_SOLID, ::GetSysColor(COLOR_BTNSHADOW), 0};
  if (!m_linesPen.CreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &brush) && !m_linesPen.CreatePen(PS_COSMETIC | PS_SOLID, 1, &brush)) {
    return FALSE;
  }
  CRect client;
  GetClientRect(&client);
  if (CListCtrl::InsertColumn(0, "", 0, client.Width()) < 0) return FALSE;
  SendMessage(LVM_SETBKCOLOR, 0, static_cast<LPARAM>(::GetSysColor(COLOR_WINDOW)));
  SendMessage(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(::GetSysColor(COLOR_WINDOW)));
  SendMessage(LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(::GetSysColor(COLOR_WINDOWTEXT)));
  AttachTreeHeader();
  m_bInit = TRUE;
  return TRUE;
}

void COXTreeCtrl::PreSubclassWindow() {
  CListCtrl::PreSubclassWindow();
  HWND header = reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER));
  if (header && !m_bCreating && !CWnd::FromHandlePermanent(header)) m_colorHeader.SubclassWindow(header);
}

void COXTreeCtrl::AttachTreeHeader() {
  // A header window belongs to one header object.
  HWND header = reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER));
  if (header && !m_header.GetSafeHwnd() && m_colorHeader.GetSafeHwnd() != header) m_header.SubclassWindow(header);
}

void COXTreeCtrl::OnDestroy() {
  if (m_nTypeAheadTimer) KillTimer(m_nTypeAheadTimer);
  m_nTypeAheadTimer = 0;
  CListCtrl::OnDestroy();
  if (m_header.GetSafeHwnd()) m_header.UnsubclassWindow();
  if (m_colorHeader.GetSafeHwnd()) m_colorHeader.UnsubclassWindow();
  m_bInit = FALSE;
}

int COXTreeCtrl::InsertColumn(int col, LPCSTR heading, int format, int width) {
  return CListCtrl::InsertColumn(col, heading, format, width);
}

COXTreeItem* COXTreeCtrl::Resolve(HTREEITEM item) const {
  if (item == TVI_ROOT) return const_cast<COXTreeItem*>(&m_root);
  if (!item || item == TVI_FIRST || item == TVI_LAST || item == TVI_SORT) return nullptr;
  // Only items of this tree that still exist: a freed or foreign handle resolves to none.
  auto* candidate = reinterpret_cast<const COXTreeItem*>(item);
  if (candidate == &m_root) return const_cast<COXTreeItem*>(&m_root);
  return m_live.count(candidate) ? const_cast<COXTreeItem*>(candidate) : nullptr;
}

void COXTreeCtrl::Track(COXTreeItem* item) {
  std::function<void(COXTreeItem*)> walk = [&](COXTreeItem* i) {
    m_live.insert(i);
    for (COXTreeItem* c = i->GetFirstChild(); c; c = c->GetNextSibling()) walk(c);
  };
  walk(item);
}

void COXTreeCtrl::Forget(COXTreeItem* item) {
  std::function<void(COXTreeItem*)> walk = [&](COXTreeItem* i) {
    m_live.erase(i);
    for (COXTreeItem* c = i->GetFirstChild(); c; c = c->GetNextSibling()) walk(c);
  };
  walk(item);
}

int COXTreeCtrl::RowOf(const COXTreeItem* item) const {
  if (!m_hWnd || !item || item == &m_root) return -1;
  LVFINDINFO find{LVFI_PARAM, nullptr, reinterpret_cast<LPARAM>(item), {0, 0}, 0};
  return static_cast<int>(::SendMessage(m_hWnd, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

void COXTreeCtrl::InsertRowAt(COXTreeItem* item, int index) {
  if (!m_hWnd || !item) return;
  LVITEM lv{};
  lv.mask = LVIF_TEXT | LVIF_PARAM;
  lv.iItem = index;
  lv.pszText = const_cast<LPSTR>(item->GetText());
  lv.lParam = reinterpret_cast<LPARAM>(item);
  int row = static_cast<int>(::SendMessage(m_hWnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lv)));
  if (row < 0) return;
  LVITEM look{};
  look.mask = LVIF_STATE;
  look.iItem = row;
  look.state = item->m_tvi.state & TVIS_STATEIMAGEMASK;
  look.stateMask = LVIS_STATEIMAGEMASK;
  if (item->m_tvi.iImage >= 0) {
    look.mask |= LVIF_IMAGE;
    look.iImage = item->m_tvi.iImage;
  }
  ::SendMessage(m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&look));
}

void COXTreeCtrl::DeleteRow(COXTreeItem* item) {
  int row = RowOf(item);
  if (row >= 0) ::SendMessage(m_hWnd, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

HTREEITEM COXTreeCtrl::GetItemAtRow(int row) const {
  LVITEM lv{};
  lv.mask = LVIF_PARAM;
  lv.iItem = row;
  if (!::SendMessage(m_hWnd, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lv))) return nullptr;
  return reinterpret_cast<HTREEITEM>(lv.lParam);
}

void COXTreeCtrl::ShowNewItem(COXTreeItem* item) {
  if (!item->IsVisible()) return;
  COXTreeItem* prev = item->GetPrevInOrder();
  while (prev && prev != &m_root && RowOf(prev) < 0) prev = prev->GetPrevInOrder();
  InsertRowAt(item, !prev || prev == &m_root ? 0 : RowOf(prev) + 1);
}

HTREEITEM COXTreeCtrl::InsertItem(LPCSTR text, HTREEITEM parent, HTREEITEM after) {
  COXTreeItem* p = Resolve(parent ? parent : TVI_ROOT);
  if (!p) return nullptr;
  if (after == TVI_SORT) {
    after = p->FindSortedPosition(text == LPSTR_TEXTCALLBACK ? "" : text, TRUE);
  } else if (after && after != TVI_FIRST && after != TVI_LAST) {
    COXTreeItem* sibling = Resolve(after);
    if (!sibling || sibling->GetParent() != p) after = TVI_LAST;
  }
  auto* item = new COXTreeItem(text);
  const BOOL hadChildren = p->HasChildren();
  p->AddChild(item, after ? after : TVI_LAST);
  if (p->m_tvi.cChildren == 0) p->m_tvi.cChildren = 1;
  Track(item);
  ShowNewItem(item);
  ++m_nItemCount;
  // The parent's button comes with its first child.
  if (!hadChildren && (m_dwStyle & TVS_HASBUTTONS) && p != &m_root) RedrawTreeItems(p->Handle(), p->Handle());
  return item->Handle();
}

HTREEITEM COXTreeCtrl::InsertItem(const TVINSERTSTRUCT* insert) {
  if (!insert) return nullptr;
  const TVITEM& fields = insert->item;
  HTREEITEM item = InsertItem((fields.mask & TVIF_TEXT) ? fields.pszText : "", insert->hParent, insert->hInsertAfter);
  if (!item) return nullptr;
  TVITEM rest = fields;
  rest.mask &= ~(TVIF_TEXT | TVIF_HANDLE);
  rest.hItem = item;
  if (rest.mask) SetItem(&rest);
  return item;
}

HTREEITEM COXTreeCtrl::InsertItem(UINT mask, LPCSTR text, int image, int selectedImage, UINT state, UINT stateMask,
                                  LPARAM param, HTREEITEM parent, HTREEITEM after) {
  TVINSERTSTRUCT insert{parent, after, {}};
  insert.item = TVITEM{mask, nullptr, state, stateMask, const_cast<LPSTR>(text), 0, image, selectedImage, 0, param};
  return InsertItem(&insert);
}

HTREEITEM COXTreeCtrl::InsertItem(LPCSTR text, int image, int selectedImage, HTREEITEM parent, HTREEITEM after) {
  return InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, text, image, selectedImage, 0, 0, 0, parent, after);
}

LRESULT COXTreeCtrl::Notify(UINT code, UINT action, COXTreeItem* item, bool old) {
  CWnd* parent = GetParent();
  if (!parent || !item) return 0;
  NMTREEVIEW nm{};
  nm.hdr = NMHDR{m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID()), code};
  nm.action = action;
  TVITEM tvi = item->m_tvi;
  tvi.mask |= TVIF_HANDLE;
  (old ? nm.itemOld : nm.itemNew) = tvi;
  return parent->SendMessage(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
}

BOOL COXTreeCtrl::DeleteItem(HTREEITEM handle) {
  COXTreeItem* item = Resolve(handle);
  if (!item) return FALSE;
  if (item == &m_root) {
    Notify(TVN_DELETEITEM, 0, &m_root, true);
    for (COXTreeItem* c = m_root.GetFirstChild(); c; c = c->GetNextSibling()) Forget(c);
    m_root.DeleteChildren();
    m_nItemCount = 0;
    if (m_hWnd) CListCtrl::DeleteAllItems();
    return TRUE;
  }
  if (!HideItem(handle, TRUE) && !item->IsHidden()) return FALSE;
  COXTreeItem* parent = item->GetParent();
  const bool lastChild = parent && parent->CountChildren(TRUE) < 2 && parent->m_tvi.cChildren == 1;
  if (lastChild) parent->m_tvi.cChildren = 0;
  Notify(TVN_DELETEITEM, 0, item, true);
  item->RemoveChildrenFromCtrl(*this);
  // The count drops by the whole subtree, not by one.
  const int gone = item->CountSubtree();
  Forget(item);
  delete item;
  m_nItemCount -= static_cast<UINT>(gone);
  if (lastChild && parent != &m_root) {
    // No children left: the parent returns to never expanded (a reset with nothing left to destroy).
    parent->Expand(TVE_COLLAPSERESET, *this);
    if (RowOf(parent) >= 0) Invalidate();
  }
  return TRUE;
}

BOOL COXTreeCtrl::DeleteAllItems() { return DeleteItem(TVI_ROOT); }

BOOL COXTreeCtrl::Expand(HTREEITEM handle, UINT code) {
  COXTreeItem* item = Resolve(handle);
  if (!item) return FALSE;
  if (Notify(TVN_ITEMEXPANDING, code, item, false)) return FALSE;
  SetRedraw(FALSE);
  BOOL done = TRUE;
  if (code == TVE_COLLAPSERESET) {
    const int before = item->CountSubtree();
    for (COXTreeItem* c = item->GetFirstChild(); c; c = c->GetNextSibling()) Forget(c);
    done = item->Expand(code, *this);
    if (done) m_nItemCount -= static_cast<UINT>(before - 1);
  } else {
    done = item->Expand(code, *this);
  }
  SetRedraw(TRUE);
  if (!done) return FALSE;
  if (m_hWnd) Invalidate(FALSE);
  Notify(TVN_ITEMEXPANDED, code, item, false);
  return TRUE;
}

BOOL COXTreeCtrl::HideItem(HTREEITEM handle, BOOL hide) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return FALSE;
  if (!!item->IsHidden() == !!hide) return TRUE;
  SetRedraw(FALSE);
  if (hide) {
    item->RemoveChildrenFromCtrl(*this);
    DeleteRow(item);
    item->SetHidden(TRUE);
  } else {
    item->SetHidden(FALSE);
    ShowNewItem(item);
    if (RowOf(item) >= 0) item->AddChildrenToCtrl(*this, RowOf(item) + 1);
  }
  SetRedraw(TRUE);
  // The line shapes of the rows above may have changed.
  if (COXTreeItem* sibling = item->GetPrevSibling()) {
    COXTreeItem* shown = item->GetPrevInOrder();
    while (shown && shown != &m_root && RowOf(shown) < 0) shown = shown->GetPrevInOrder();
    if (shown && shown != &m_root) RedrawTreeItems(sibling->Handle(), shown->Handle());
  }
  return TRUE;
}

BOOL COXTreeCtrl::SortChildren(HTREEITEM handle, int col, BOOL ascending, PFNOXTVCOMPARE compare, LPARAM sortParam) {
  COXTreeItem* item = Resolve(handle ? handle : TVI_ROOT);
  if (!item) return FALSE;
  if (m_header.GetSafeHwnd()) m_header.SortColumn(col, ascending ? 1 : -1);
  SetRedraw(FALSE);
  const bool wasExpanded = item->IsExpanded();
  if (wasExpanded) item->RemoveChildrenFromCtrl(*this);
  if (!compare) {
    auto registered = m_columnCompare.find(col);
    compare = registered != m_columnCompare.end() ? registered->second : m_defaultCompare;
  }
  item->SortChildren(col, item != &m_root, ascending, compare, sortParam);
  if (wasExpanded) {
    int start = item == &m_root ? 0 : RowOf(item) + 1;
    if (item == &m_root || RowOf(item) >= 0) item->AddChildrenToCtrl(*this, start);
  }
  SetRedraw(TRUE);
  return TRUE;
}

BOOL COXTreeCtrl::SortChildrenCB(const TVSORTCB* sort, int col) {
  if (!sort) return FALSE;
  return SortChildren(sort->hParent, col, TRUE, sort->lpfnCompare, sort->lParam);
}

CString COXTreeCtrl::GetItemText(HTREEITEM handle, int col) const {
  // No shared buffer: an unresolvable handle gives an empty text, never another call's text.
  const COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || col < 0) return CString();
  if (col == 0 && item->m_tvi.pszText == LPSTR_TEXTCALLBACK) {
    // The parent supplies a callback text.
    char buffer[300] = {};
    TVITEM tvi{};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = handle;
    tvi.pszText = buffer;
    tvi.cchTextMax = static_cast<int>(sizeof buffer);
    return GetItem(&tvi) ? CString(buffer) : CString();
  }
  return CString(item->GetText(col));
}

BOOL COXTreeCtrl::SetItemText(HTREEITEM handle, LPCSTR text, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return FALSE;
  BOOL ok = item->SetText(text, col);
  int row = RowOf(item);
  if (ok && row >= 0) {
    CListCtrl::SetItemText(row, col, item->GetText(col));
    RedrawTreeItems(handle, handle);
  }
  return ok;
}

BOOL COXTreeCtrl::SetSubItem(HTREEITEM handle, int col, UINT mask, LPCSTR text, int image, CFont* font,
                             COLORREF textColor, COLORREF backColor) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || col < 1) return FALSE;
  BOOL ok = item->SetSubItem(col, mask, text, image, font, textColor, backColor);
  int row = RowOf(item);
  if (ok && row >= 0 && (mask & COXTreeCell::kText)) CListCtrl::SetItemText(row, col, item->GetText(col));
  if (ok) RedrawTreeItems(handle, handle);
  return ok;
}

BOOL COXTreeCtrl::SetItemColor(HTREEITEM handle, COLORREF color, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || !item->SetTextColor(color, col)) return FALSE;
  RedrawTreeItems(handle, handle);
  return TRUE;
}

LPARAM COXTreeCtrl::GetItemData(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item ? item->m_tvi.lParam : 0;
}

BOOL COXTreeCtrl::SetItemData(HTREEITEM handle, LPARAM data) {
  COXTreeItem* item = Resolve(handle);
  if (!item) return FALSE;
  item->m_tvi.lParam = data;
  return TRUE;
}

HTREEITEM COXTreeCtrl::GetChildItem(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && item->GetFirstChild() ? item->GetFirstChild()->Handle() : nullptr;
}
HTREEITEM COXTreeCtrl::GetNextSiblingItem(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && item->GetNextSibling() ? item->GetNextSibling()->Handle() : nullptr;
}
HTREEITEM COXTreeCtrl::GetPrevSiblingItem(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && item->GetPrevSibling() ? item->GetPrevSibling()->Handle() : nullptr;
}
HTREEITEM COXTreeCtrl::GetParentItem(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && item->GetParent() ? item->GetParent()->Handle() : nullptr;
}

// ---- Drawing ----

int COXTreeCtrl::GetItemIndent(const COXTreeItem* item) const {
  if (!item) return 0;
  const int level = item->GetLevel();
  const bool marks = (m_dwStyle & (TVS_HASLINES | TVS_HASBUTTONS)) != 0;
  return marks && (m_dwStyle & TVS_LINESATROOT) ? m_nIndent * level : m_nIndent * (level - 1);
}

CRect COXTreeCtrl::GetButtonRect(const CRect& cell) {
  int side = std::max(cell.Height() * 5 / 10, 9);
  int left = cell.left + (cell.Width() - side + 1) / 2;
  int top = cell.top + (cell.Height() - side + 1) / 2;
  return CRect(left, top, left + side, top + side);
}

void COXTreeCtrl::DrawLines(HDC hdc, const CRect& c, int shape) {
  HGDIOBJ old = m_linesPen.GetSafeHandle() ? ::SelectObject(hdc, m_linesPen.GetSafeHandle()) : nullptr;
  const int cx = c.left + c.Width() / 2, cy = c.top + c.Height() / 2;
  switch (shape) {
    case 0:
      ::MoveToEx(hdc, c.left + c.Width() / 2 - 1, cy, nullptr);
      ::LineTo(hdc, c.right, cy);
      break;
    case 1:
      ::MoveToEx(hdc, cx, c.top - 1, nullptr);
      ::LineTo(hdc, cx, c.bottom);
      break;
    case 2:
      ::MoveToEx(hdc, cx, c.top - 1, nullptr);
      ::LineTo(hdc, cx, cy);
      ::LineTo(hdc, c.right, cy);
      break;
    case 3:
      ::MoveToEx(hdc, cx, c.top - 1, nullptr);
      ::LineTo(hdc, cx, c.bottom);
      ::MoveToEx(hdc, cx, cy, nullptr);
      ::LineTo(hdc, c.right, cy);
      break;
    case 4:
      ::MoveToEx(hdc, cx, c.bottom + 1, nullptr);
      ::LineTo(hdc, cx, cy);
      ::LineTo(hdc, c.right, cy);
      break;
    default:
      break;
  }
  if (old) ::SelectObject(hdc, old);
}

void COXTreeCtrl::DrawExpandButton(CDC* dc, const CRect& r, BOOL expanded) {
  HDC hdc = dc->GetSafeHdc();
  ::Rectangle(hdc, r.left, r.top, r.right, r.bottom);
  CRect inner(r);
  inner.DeflateRect(1, 1);
  HBRUSH back = ::CreateSolidBrush(TextBackground());
  ::FillRect(hdc, &inner, back);
  ::DeleteObject(back);
  HPEN pen = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_WINDOWTEXT));
  HGDIOBJ old = ::SelectObject(hdc, pen);
  ::MoveToEx(hdc, r.left + 2, r.top + r.Height() / 2, nullptr);
  ::LineTo(hdc, r.right - 2, r.top + r.Height() / 2);
  if (!expanded) {
    ::MoveToEx(hdc, r.left + r.Width() / 2, r.top + 2, nullptr);
    ::LineTo(hdc, r.left + r.Width() / 2, r.bottom - 2);
  }
  ::SelectObject(hdc, old);
  ::DeleteObject(pen);
}

void COXTreeCtrl::DrawTreePart(HDC hdc, const CRect& part, COXTreeItem* item) {
  COLORREF fill = (item->GetFlags() & COXTreeItem::kOwnBackColor) ? item->GetBackColor() : TextBackground();
  if (!IsWindowEnabled() || (!(item->GetFlags() & COXTreeItem::kOwnBackColor) && FlatList())) fill = ::GetSysColor(COLOR_BTNFACE);
  HBRUSH brush = ::CreateSolidBrush(fill);
  ::FillRect(hdc, &part, brush);
  ::DeleteObject(brush);
  if (part.Width() < m_nIndent) return;
  CRect cell(part.right - m_nIndent, part.top, part.right, part.bottom);
  if (m_dwStyle & TVS_HASLINES) {
    const bool first = RowOf(item) == 0;
    const bool next = item->HasVisibleNextSibling();
    DrawLines(hdc, cell, first ? (next ? 4 : 0) : (next ? 3 : 2));
  }
  if ((m_dwStyle & TVS_HASBUTTONS) && item->HasChildren()) {
    HPEN pen = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ old = ::SelectObject(hdc, pen);
    DrawExpandButton(CDC::FromHandle(hdc), GetButtonRect(cell), item->IsExpanded());
    ::SelectObject(hdc, old);
    ::DeleteObject(pen);
  }
  if (m_dwStyle & TVS_HASLINES) {
    for (const COXTreeItem* a = item->GetParent(); a && a != &m_root && cell.left - m_nIndent >= part.left;
         a = a->GetParent()) {
      cell.OffsetRect(-m_nIndent, 0);
      if (a->HasVisibleNextSibling()) DrawLines(hdc, cell, 1);
    }
  }
}

COLORREF COXTreeCtrl::TextBackground() const {
  if (!IsWindowEnabled()) return ::GetSysColor(COLOR_BTNFACE);
  return m_hWnd ? static_cast<COLORREF>(::SendMessage(m_hWnd, LVM_GETTEXTBKCOLOR, 0, 0)) : ::GetSysColor(COLOR_WINDOW);
}

BOOL COXTreeCtrl::FlatList() const {
  CWnd* parent = m_hWnd ? GetParent() : nullptr;
  return parent && parent->SendMessage(WM_USER + 92) != 0;
}

namespace {
void FillSolid(HDC hdc, const CRect& r, COLORREF color) {
  HBRUSH brush = ::CreateSolidBrush(color);
  ::FillRect(hdc, &r, brush);
  ::DeleteObject(brush);
}

CSize ImageSize(const CImageList* list) {
  int cx = 0, cy = 0;
  if (list && list->GetSafeHandle()) ::ImageList_GetIconSize(list->GetSafeHandle(), &cx, &cy);
  return CSize(cx, cy);
}
}  // namespace

void COXTreeCtrl::DrawItemImages(HDC hdc, COXTreeItem* item, CRect& cell, int col, bool selectedLook, bool focus,
                                 bool rowSelected) {
  auto place = [&](const CImageList* list, int index, UINT style, COLORREF under) {
    const CSize size = ImageSize(list);
    if (!list || index < 0 || size.cx <= 0) return;
    CRect area(cell.left, cell.top, cell.left + size.cx, cell.bottom);
    FillSolid(hdc, area, under);
    const int y = cell.top + std::max(0, (cell.Height() - size.cy) / 2);
    ::ImageList_Draw(list->GetSafeHandle(), index, hdc, cell.left, y, style);
    cell.left += size.cx;
  };
  const bool enabled = IsWindowEnabled();
  if (col == 0) {
    const int state = static_cast<int>((item->m_tvi.state & TVIS_STATEIMAGEMASK) >> 12) - 1;
    COLORREF back = (item->GetFlags() & COXTreeItem::kOwnBackColor) ? item->GetBackColor() : TextBackground();
    if (!enabled) back = ::GetSysColor(COLOR_BTNFACE);
    if (state >= 0) place(m_pStateImages, state, ILD_TRANSPARENT, back);
    const int image = rowSelected ? item->m_tvi.iSelectedImage : item->m_tvi.iImage;
    place(m_pNormalImages, image, ILD_TRANSPARENT, back);
    return;
  }
  const COXTreeCell* c = item->GetCell(col);
  if (!c || !(c->m_uFlags & COXTreeCell::kImage) || !m_pNormalImages) return;
  if (selectedLook) {
    COLORREF under = focus && enabled ? ((c->m_uFlags & COXTreeCell::kBackColor) ? c->m_clrBack : ::GetSysColor(COLOR_HIGHLIGHT))
                                      : ::GetSysColor(COLOR_BTNFACE);
    COLORREF old = ::ImageList_SetBkColor(m_pNormalImages->GetSafeHandle(), under);
    place(m_pNormalImages, c->m_nImage, ILD_BLEND25, under);
    ::ImageList_SetBkColor(m_pNormalImages->GetSafeHandle(), old);
  } else {
    COLORREF under = enabled ? ((c->m_uFlags & COXTreeCell::kBackColor) ? c->m_clrBack : TextBackground()) : ::GetSysColor(COLOR_BTNFACE);
    place(m_pNormalImages, c->m_nImage, ILD_TRANSPARENT, under);
  }
}

void COXTreeCtrl::DrawCellText(HDC hdc, LPCSTR text, const CRect& cell, int format, bool focusLabel, COLORREF rest,
                               UINT textFormat) {
  const COLORREF labelColor = ::GetBkColor(hdc);
  FillSolid(hdc, cell, rest);
  UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | textFormat;
  CRect textRect(cell);
  textRect.DeflateRect(2, 0);
  CRect measured(textRect);
  ::DrawText(hdc, text, -1, &measured, flags | DT_CALCRECT);
  const int width = std::min(measured.Width(), std::max(textRect.Width(), 0)) + 4;
  CRect label(cell.left, cell.top, cell.left + width, cell.bottom);
  switch (format & 3) {
    case 1:
      flags |= DT_RIGHT;
      label.right = cell.right;
      label.left = std::max(cell.right - width, cell.left);
      break;
    case 2:
      flags |= DT_CENTER;
      label.left = cell.left + (cell.Width() - width + 1) / 2;
      label.right = label.left + width;
      break;
    default:
      break;
  }
  label.IntersectRect(label, cell);
  FillSolid(hdc, label, labelColor);
  ::SetBkMode(hdc, TRANSPARENT);
  ::DrawText(hdc, text, -1, &textRect, flags);
  if (focusLabel && !(m_dwExStyle & 0x80000000)) ::DrawFocusRect(hdc, &label);
}

void COXTreeCtrl::DrawItem(LPDRAWITEMSTRUCT dis) {
  if (!dis || dis->itemID == 0xFFFFFFFE || dis->itemID == 0xFFFFFFFF) return;
  if (!(dis->itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) return;
  COXTreeItem* item = Resolve(reinterpret_cast<HTREEITEM>(dis->itemData));
  if (!item || item == &m_root) return;
  HDC hdc = dis->hDC;
  const int saved = ::SaveDC(hdc);
  CRect row(dis->rcItem);
  const bool enabled = IsWindowEnabled();
  const bool disabledItem = (item->GetFlags() & COXTreeItem::kDisabled) != 0;
  if (m_bDrawingDragImage) {
    // The drag picture: column 0 alone from x = 0, in the item's own colours.
    CRect cell(0, row.top, static_cast<int>(::SendMessage(m_hWnd, LVM_GETCOLUMNWIDTH, 0, 0)), row.bottom);
    DrawItemImages(hdc, item, cell, 0, false, false, false);
    COLORREF back = (item->GetFlags() & COXTreeItem::kOwnBackColor) ? item->GetBackColor() : TextBackground();
    ::SetBkColor(hdc, back);
    ::SetTextColor(hdc, disabledItem ? ::GetSysColor(COLOR_BTNSHADOW)
                                     : (item->GetFlags() & COXTreeItem::kOwnTextColor) ? item->GetTextColor()
                                                                                       : ::GetSysColor(COLOR_WINDOWTEXT));
    CFont* font = item->GetFont(0);
    if (font && font->GetSafeHandle()) ::SelectObject(hdc, font->GetSafeHandle());
    DrawCellText(hdc, item->GetText(0), cell, 0, false, back, item->GetTextFormat(0));
    ::RestoreDC(hdc, saved);
    return;
  }
  const bool focus = ::GetFocus() == m_hWnd;
  const bool active = (m_dwStyle & TVS_SHOWSELALWAYS) || focus;
  const bool selectedLook = active && ((dis->itemState & ODS_SELECTED) || (item->m_tvi.state & TVIS_DROPHILITED));
  const bool fullRow = (m_dwExStyle & 0x00200000) != 0;
  const int indent = GetItemIndent(item);
  DrawTreePart(hdc, CRect(row.left, row.top, row.left + indent, row.bottom), item);
  const int columns = GetColumnCount();
  const COLORREF listText = static_cast<COLORREF>(::SendMessage(m_hWnd, LVM_GETTEXTCOLOR, 0, 0));
  int x = row.left;
  int labelStart = row.left + indent;
  for (int col = 0; col < columns; ++col) {
    LVCOLUMN column{};
    column.mask = LVCF_FMT | LVCF_WIDTH;
    ::SendMessage(m_hWnd, LVM_GETCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(&column));
    CRect cell(x, row.top, x + column.cx, row.bottom);
    x = cell.right;
    if (col == 0) cell.left += indent;
    if (cell.Width() <= 0 || !::RectVisible(hdc, &cell)) continue;
    const int cellSaved = ::SaveDC(hdc);
    const bool labelSelected = selectedLook && (col == 0 || fullRow);
    DrawItemImages(hdc, item, cell, col, labelSelected, focus, (dis->itemState & ODS_SELECTED) != 0);
    if (col == 0) labelStart = cell.left;
    const COXTreeCell* c = col > 0 ? item->GetCell(col) : nullptr;
    const bool ownText = col == 0 ? (item->GetFlags() & COXTreeItem::kOwnTextColor) != 0
                                  : c && (c->m_uFlags & COXTreeCell::kTextColor);
    COLORREF textColor = listText;
    if (labelSelected && focus) textColor = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
    else if (disabledItem) textColor = ::GetSysColor(COLOR_BTNSHADOW);
    else if (ownText) textColor = item->GetTextColor(col);
    const bool ownBack = col == 0 ? (item->GetFlags() & COXTreeItem::kOwnBackColor) != 0
                                  : c && (c->m_uFlags & COXTreeCell::kBackColor);
    COLORREF normal = !enabled ? ::GetSysColor(COLOR_BTNFACE) : ownBack ? item->GetBackColor(col) : TextBackground();
    const COLORREF selection = ::GetSysColor(focus ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
    const COLORREF labelColor = labelSelected ? selection : normal;
    const COLORREF rest = fullRow && selectedLook ? selection : normal;
    FillSolid(hdc, cell, labelColor);
    ::SetBkColor(hdc, labelColor);
    if (col > 0) cell.left += 1;
    CFont* font = item->GetFont(col);
    if (font && font->GetSafeHandle()) ::SelectObject(hdc, font->GetSafeHandle());
    ::SetTextColor(hdc, textColor);
    const bool focusLabel = (dis->itemState & ODS_FOCUS) && focus && col == 0 && !fullRow;
    DrawCellText(hdc, item->GetText(col), cell, column.fmt, focusLabel, rest, item->GetTextFormat(col));
    ::RestoreDC(hdc, cellSaved);
    if (m_dwExStyle & 0x00800000) {
      HPEN pen = ::CreatePen(PS_SOLID, 1, m_clrVGrid);
      HGDIOBJ old = ::SelectObject(hdc, pen);
      ::MoveToEx(hdc, cell.right - 1, row.top, nullptr);
      ::LineTo(hdc, cell.right - 1, row.bottom);
      ::SelectObject(hdc, old);
      ::DeleteObject(pen);
    }
  }
  if (m_dwExStyle & 0x00400000) {
    CRect client;
    GetClientRect(&client);
    HPEN pen = ::CreatePen(PS_SOLID, 1, m_clrHGrid);
    HGDIOBJ old = ::SelectObject(hdc, pen);
    const bool across = (m_dwExStyle & 0x01000000) != 0;
    ::MoveToEx(hdc, across ? client.left : row.left + indent, row.bottom - 1, nullptr);
    ::LineTo(hdc, across ? client.right : row.right, row.bottom - 1);
    ::SelectObject(hdc, old);
    ::DeleteObject(pen);
  }
  if ((dis->itemState & ODS_FOCUS) && focus && fullRow && !(m_dwExStyle & 0x80000000)) {
    CRect focusRect(labelStart, row.top, row.right, row.bottom);
    ::DrawFocusRect(hdc, &focusRect);
  }
  ::RestoreDC(hdc, saved);
}

// ---- Copy and move ----

namespace {
bool InSubtree(const COXTreeItem* root, const COXTreeItem* item) {
  for (const COXTreeItem* p = item; p; p = p->GetParent()) {
    if (p == root) return true;
  }
  return false;
}
}  // namespace

void COXTreeCtrl::ShowWithSubtree(COXTreeItem* item) {
  ShowNewItem(item);
  int row = RowOf(item);
  if (row >= 0) item->AddChildrenToCtrl(*this, row + 1);
}

BOOL COXTreeCtrl::CopyItem(HTREEITEM handle, HTREEITEM newParentHandle, HTREEITEM after, BOOL withSubtree,
                           HTREEITEM* newItem) {
  COXTreeItem* item = Resolve(handle);
  COXTreeItem* newParent = Resolve(newParentHandle ? newParentHandle : TVI_ROOT);
  if (!item || item == &m_root || !newParent) return FALSE;
  if (withSubtree && InSubtree(item, newParent)) return FALSE;
  COXTreeItem* copy = COXTreeItem::CloneTree(newParent, item, after ? after : TVI_LAST, withSubtree);
  if (!copy) return FALSE;
  if (newParent->m_tvi.cChildren == 0) newParent->m_tvi.cChildren = 1;
  Track(copy);
  // The count grows by every item copied, not by one.
  m_nItemCount += static_cast<UINT>(copy->CountSubtree());
  if (copy->IsVisible()) ShowWithSubtree(copy);
  if (newItem) *newItem = copy->Handle();
  return TRUE;
}

BOOL COXTreeCtrl::MoveItem(HTREEITEM handle, HTREEITEM newParentHandle, HTREEITEM after, COXTreeCtrl* otherControl) {
  COXTreeCtrl* target = otherControl ? otherControl : this;
  COXTreeItem* item = Resolve(handle);
  COXTreeItem* newParent = target->Resolve(newParentHandle ? newParentHandle : TVI_ROOT);
  if (!item || item == &m_root || !newParent || InSubtree(item, newParent)) return FALSE;
  const bool wasHidden = item->IsHidden();
  SetRedraw(FALSE);
  if (!wasHidden) HideItem(handle, TRUE);
  const UINT moved = static_cast<UINT>(item->CountSubtree());
  Forget(item);
  m_nItemCount -= moved;
  COXTreeItem* oldParent = item->GetParent();
  item->Unlink();
  if (oldParent && oldParent != &m_root && !oldParent->GetFirstChild()) oldParent->Expand(TVE_COLLAPSERESET, *this);
  if (newParent->m_tvi.cChildren == 0) newParent->m_tvi.cChildren = 1;
  newParent->AddChild(item, after ? after : TVI_LAST);
  target->Track(item);
  target->m_nItemCount += moved;
  if (!wasHidden) {
    item->SetHidden(FALSE);
    if (item->IsVisible()) target->ShowWithSubtree(item);
  }
  SetRedraw(TRUE);
  if (target != this && target->m_hWnd) target->Invalidate();
  return TRUE;
}
