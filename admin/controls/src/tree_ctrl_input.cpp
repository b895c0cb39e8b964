// The tree list's item states, selection, navigation, hit tests, mouse, keyboard, type-ahead, label
// editing, column widths and styles.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "controls/tree_ctrl.h"
#include "win32/user_draw.h"

namespace {

constexpr UINT_PTR kTypeAheadTimer = 237;
constexpr UINT kTypeAheadPeriod = 500;
constexpr UINT WM_OXTREE_FITCOLUMNS = WM_USER + 91;
constexpr DWORD kExMultiSelect = 0x00080000;
constexpr DWORD kExHeader = 0x00100000;
constexpr DWORD kExNoScroll = 0x04000000;
constexpr DWORD kExNoSortHeader = 0x08000000;
constexpr DWORD kExShareImages = 0x10000000;
constexpr DWORD kExFitLastColumn = 0x40000000;
// Header notifications, both character forms.
constexpr UINT kHeaderItemChanging[] = {static_cast<UINT>(-300), static_cast<UINT>(-320)};
constexpr UINT kHeaderTrack[] = {static_cast<UINT>(-308), static_cast<UINT>(-328)};
constexpr UINT kHeaderBeginTrack[] = {static_cast<UINT>(-306), static_cast<UINT>(-326)};
struct HeaderNotify {  // the start of NMHEADER
  NMHDR hdr;
  int iItem;
  int iButton;
};
bool IsOneOf(UINT code, const UINT (&codes)[2]) { return code == codes[0] || code == codes[1]; }

CSize ImageSizeOf(const CImageList* list) {
  int cx = 0, cy = 0;
  if (list && list->GetSafeHandle()) ::ImageList_GetIconSize(list->GetSafeHandle(), &cx, &cy);
  return CSize(cx, cy);
}

}  // namespace

const mfc::MessageMap* COXTreeCtrl::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&COXTreeCtrl::OnLButtonDown>(WM_LBUTTONDOWN),
      mfc::OnMessage<&COXTreeCtrl::OnLButtonDblClk>(WM_LBUTTONDBLCLK),
      mfc::OnMessage<&COXTreeCtrl::OnRButtonDown>(WM_RBUTTONDOWN),
      mfc::OnMessage<&COXTreeCtrl::OnMButtonDown>(WM_MBUTTONDOWN),
      mfc::OnMessage<&COXTreeCtrl::OnKeyDownMessage>(WM_KEYDOWN),
      mfc::OnMessage<&COXTreeCtrl::OnHScroll>(WM_HSCROLL),
      mfc::OnMessage<&COXTreeCtrl::OnVScroll>(WM_VSCROLL),
      mfc::OnMessage<&COXTreeCtrl::OnStyleChanged>(WM_STYLECHANGED),
      mfc::OnMessage<&COXTreeCtrl::OnParentNotify>(WM_PARENTNOTIFY),
      mfc::OnMessage<&COXTreeCtrl::OnOptimalWidth>(WM_OXTREE_OPTIMALWIDTH),
      mfc::OnMessage<&COXTreeCtrl::OnFitColumns>(WM_OXTREE_FITCOLUMNS),
      mfc::OnMessage<&COXTreeCtrl::OnHeaderNotify>(WM_NOTIFY),
  };
  static const mfc::MessageMap map{CListCtrl::GetMessageMap(), entries};
  return &map;
}

// ---- Columns and styles ----

int COXTreeCtrl::GetColumnCount() const {
  CHeaderCtrl* header = m_hWnd ? GetHeaderCtrl() : nullptr;
  return header ? header->GetItemCount() : 0;
}

BOOL COXTreeCtrl::DeleteColumn(int col) {
  if (col < 0 || col >= GetColumnCount()) return FALSE;
  if (col == 0) {
    DeleteAllItems();
    while (GetColumnCount() > 0) {
      if (!SendMessage(LVM_DELETECOLUMN, 0)) return FALSE;
    }
    return TRUE;
  }
  for (const COXTreeItem* item : m_live) const_cast<COXTreeItem*>(item)->RemoveColumn(col);
  return static_cast<BOOL>(SendMessage(LVM_DELETECOLUMN, static_cast<WPARAM>(col)));
}

BOOL COXTreeCtrl::ModifyStyle(DWORD remove, DWORD add, UINT flags) {
  auto listBits = [](DWORD tree) {
    DWORD list = tree & 0xFFFF0000;
    if (tree & TVS_EDITLABELS) list |= LVS_EDITLABELS;
    if (tree & TVS_SHOWSELALWAYS) list |= LVS_SHOWSELALWAYS;
    return list;
  };
  if (m_hWnd) CWnd::ModifyStyle(listBits(remove), listBits(add), flags);
  const DWORD old = m_dwStyle;
  m_dwStyle = (m_dwStyle & ~remove) | add;
  if (m_hWnd && old != m_dwStyle) Invalidate();
  return TRUE;
}

BOOL COXTreeCtrl::ModifyExStyle(DWORD remove, DWORD add, UINT flags) {
  const DWORD old = m_dwExStyle;
  m_dwExStyle = (m_dwExStyle & ~remove) | add;
  if (m_hWnd) {
    DWORD on = 0, off = 0;
    auto follow = [&](DWORD bit, DWORD listStyle, bool inverted) {
      const bool set = (m_dwExStyle & bit) != 0;
      ((set != inverted) ? on : off) |= listStyle;
    };
    follow(kExMultiSelect, LVS_SINGLESEL, true);
    follow(kExHeader, LVS_NOCOLUMNHEADER, true);
    follow(kExNoScroll, LVS_NOSCROLL, false);
    follow(kExNoSortHeader, LVS_NOSORTHEADER, false);
    follow(kExShareImages, LVS_SHAREIMAGELISTS, false);
    CWnd::ModifyStyle(off, on, flags);
    if (old != m_dwExStyle) Invalidate();
  }
  return TRUE;
}

CImageList* COXTreeCtrl::SetImageList(CImageList* list, int type) {
  CImageList** slot = type == TVSIL_NORMAL ? &m_pNormalImages : type == TVSIL_STATE ? &m_pStateImages : nullptr;
  if (!slot) return nullptr;
  CImageList* old = *slot;
  *slot = list;
  if (m_hWnd) {
    SendMessage(LVM_SETIMAGELIST, type == TVSIL_NORMAL ? LVSIL_SMALL : LVSIL_STATE,
                reinterpret_cast<LPARAM>(list ? list->GetSafeHandle() : nullptr));
  }
  return old;
}

CImageList* COXTreeCtrl::GetImageList(int type) const {
  return type == TVSIL_NORMAL ? m_pNormalImages : type == TVSIL_STATE ? m_pStateImages : nullptr;
}

void COXTreeCtrl::SetRedraw(BOOL redraw) {
  if (!redraw) {
    if (m_nRedraw++ == 0 && m_hWnd) SendMessage(WM_SETREDRAW, FALSE);
  } else if (m_nRedraw > 0 && --m_nRedraw == 0 && m_hWnd) {
    SendMessage(WM_SETREDRAW, TRUE);
    Invalidate();
  }
}

void COXTreeCtrl::SetItemHeight(int height) {
  m_nItemHeight = height;
  if (!m_hWnd) return;
  // The list measures its rows again on a position change.
  CRect r;
  GetWindowRect(&r);
  WINDOWPOS pos{};
  pos.hwnd = m_hWnd;
  pos.cx = r.Width();
  pos.cy = r.Height();
  pos.flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
  SendMessage(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

// ---- Item values ----

COLORREF COXTreeCtrl::GetItemColor(HTREEITEM handle, int col) const {
  const COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return ::GetSysColor(COLOR_BTNTEXT);
  const bool own = col == 0 ? (item->GetFlags() & COXTreeItem::kOwnTextColor) != 0
                            : item->GetCell(col) && (item->GetCell(col)->m_uFlags & COXTreeCell::kTextColor);
  return own ? item->GetTextColor(col) : ::GetSysColor(COLOR_BTNTEXT);
}

BOOL COXTreeCtrl::SetItemBackColor(HTREEITEM handle, COLORREF color, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || (col > 0 && !item->GetCell(col))) return FALSE;
  BOOL ok = item->SetBackColor(color, col);
  RedrawTreeItems(handle, handle);
  return ok;
}

BOOL COXTreeCtrl::SetItemFont(HTREEITEM handle, CFont* font, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || col < 0 || (col > 0 && !item->GetCell(col))) return FALSE;
  BOOL ok = item->SetFont(font, col);
  RedrawTreeItems(handle, handle);
  return ok;
}

CFont* COXTreeCtrl::GetItemFont(HTREEITEM handle, int col) {
  COXTreeItem* item = Resolve(handle);
  return item && item != &m_root ? item->GetFont(col) : nullptr;
}

BOOL COXTreeCtrl::SetItemImage(HTREEITEM handle, int image, int selectedImage, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || col < 0) return FALSE;
  if (col > 0) {
    BOOL ok = item->SetSubItem(col, COXTreeCell::kImage, nullptr, image, nullptr, 0, 0);
    RedrawTreeItems(handle, handle);
    return ok;
  }
  TVITEM tvi{};
  tvi.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  tvi.hItem = handle;
  tvi.iImage = image;
  tvi.iSelectedImage = selectedImage;
  return SetItem(&tvi);
}

BOOL COXTreeCtrl::GetItemImage(HTREEITEM handle, int& image, int& selectedImage, int col) const {
  const COXTreeItem* item = Resolve(handle);
  if (!item) return FALSE;
  image = item->GetImage(col);
  selectedImage = col == 0 ? item->m_tvi.iSelectedImage : image;
  return TRUE;
}

UINT COXTreeCtrl::GetItemDrawFormat(HTREEITEM handle, int col) const {
  const COXTreeItem* item = Resolve(handle);
  return item ? item->GetTextFormat(col) : DT_END_ELLIPSIS;
}

BOOL COXTreeCtrl::SetItemDrawFormat(HTREEITEM handle, UINT format, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return FALSE;
  BOOL ok = item->SetTextFormat(format, col);
  RedrawTreeItems(handle, handle);
  return ok;
}

BOOL COXTreeCtrl::IsItemHidden(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && item->IsHidden();
}

BOOL COXTreeCtrl::SetItemDisabled(HTREEITEM handle, BOOL disabled) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return FALSE;
  item->SetDisabled(disabled);
  RedrawTreeItems(handle, handle);
  return TRUE;
}

BOOL COXTreeCtrl::IsItemDisabled(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && (item->GetFlags() & COXTreeItem::kDisabled);
}

BOOL COXTreeCtrl::SetItemEditMode(HTREEITEM handle, UINT mode, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || col < 0) return FALSE;
  return item->SetEditMode(col, mode, item->GetOptions(col));
}

BOOL COXTreeCtrl::SetItemOptions(HTREEITEM handle, const std::vector<CString>& options, int col) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root || col < 0) return FALSE;
  return item->SetEditMode(col, item->GetEditMode(col), options);
}

std::vector<CString> COXTreeCtrl::GetItemOptions(HTREEITEM handle, int col) const {
  const COXTreeItem* item = Resolve(handle);
  return item ? item->GetOptions(col) : std::vector<CString>{};
}

void COXTreeCtrl::SetColumnCompareFunction(int col, PFNOXTVCOMPARE compare) {
  if (compare) m_columnCompare[col] = compare;
  else m_columnCompare.erase(col);
}

BOOL COXTreeCtrl::GetItem(TVITEM* tvi) const {
  if (!tvi) return FALSE;
  const COXTreeItem* item = Resolve(tvi->hItem);
  if (!item) return FALSE;
  const TVITEM& own = item->m_tvi;
  if (tvi->mask & TVIF_TEXT) {
    LPCSTR text = own.pszText;
    CString filled;
    if (text == LPSTR_TEXTCALLBACK) {
      char buffer[300] = {};
      NMTVDISPINFO info{};
      info.hdr = NMHDR{m_hWnd, static_cast<UINT_PTR>(m_hWnd ? GetDlgCtrlID() : 0), TVN_GETDISPINFOA};
      info.item = own;
      info.item.mask = TVIF_TEXT | TVIF_HANDLE;
      info.item.pszText = buffer;
      info.item.cchTextMax = static_cast<int>(sizeof buffer);
      if (CWnd* parent = m_hWnd ? GetParent() : nullptr) parent->SendMessage(WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
      buffer[sizeof buffer - 1] = 0;
      filled = info.item.pszText && info.item.pszText != LPSTR_TEXTCALLBACK ? info.item.pszText : "";
      text = filled;
    }
    if (tvi->pszText && tvi->cchTextMax > 0) {
      // Copied whole up to the room given.
      const size_t room = static_cast<size_t>(tvi->cchTextMax - 1);
      const char* source = text ? text : "";
      const size_t n = std::min(std::strlen(source), room);
      std::copy(source, source + n, tvi->pszText);
      tvi->pszText[n] = 0;
    }
  }
  if (tvi->mask & TVIF_IMAGE) tvi->iImage = own.iImage;
  if (tvi->mask & TVIF_SELECTEDIMAGE) tvi->iSelectedImage = own.iSelectedImage;
  if (tvi->mask & TVIF_PARAM) tvi->lParam = own.lParam;
  if (tvi->mask & TVIF_CHILDREN) tvi->cChildren = own.cChildren;
  if (tvi->mask & TVIF_STATE) {
    UINT state = own.state & ~(TVIS_FOCUSED | TVIS_SELECTED | TVIS_EXPANDED | TVIS_EXPANDEDONCE);
    const int row = RowOf(item);
    if (row >= 0) {
      UINT lv = static_cast<UINT>(::SendMessage(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_FOCUSED | LVIS_SELECTED));
      if (lv & LVIS_FOCUSED) state |= TVIS_FOCUSED;
      if (lv & LVIS_SELECTED) state |= TVIS_SELECTED;
    }
    if (item->IsExpanded()) state |= TVIS_EXPANDED;
    if (item->IsExpandedOnce()) state |= TVIS_EXPANDEDONCE;
    tvi->state = state & tvi->stateMask;
  }
  return TRUE;
}

void COXTreeCtrl::ApplyRowState(COXTreeItem* item, UINT selected, UINT selectedMask) {
  const int row = RowOf(item);
  if (row < 0) return;
  LVITEM lv{};
  lv.mask = LVIF_STATE | LVIF_IMAGE;
  lv.iItem = row;
  lv.iImage = item->m_tvi.iImage;
  lv.state = (item->m_tvi.state & (TVIS_STATEIMAGEMASK | TVIS_OVERLAYMASK | TVIS_CUT | TVIS_DROPHILITED)) | (selected & LVIS_SELECTED);
  // The selection lives on the row (the list's clicks and keys change it there); it changes only when asked.
  lv.stateMask = LVIS_STATEIMAGEMASK | LVIS_OVERLAYMASK | LVIS_CUT | LVIS_DROPHILITED | (selectedMask & LVIS_SELECTED);
  ::SendMessage(m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&lv));
}

BOOL COXTreeCtrl::SetItem(TVITEM* tvi) {
  if (!tvi) return FALSE;
  COXTreeItem* item = Resolve(tvi->hItem);
  if (!item || item == &m_root) return FALSE;
  TVITEM& own = item->m_tvi;
  bool callback = false;
  if (tvi->mask & TVIF_TEXT) {
    item->SetText(tvi->pszText, 0);
    callback |= tvi->pszText == LPSTR_TEXTCALLBACK;
    const int row = RowOf(item);
    if (row >= 0) CListCtrl::SetItemText(row, 0, item->GetText(0));
  }
  if (tvi->mask & TVIF_IMAGE) {
    own.iImage = tvi->iImage;
    callback |= tvi->iImage == -1;
  }
  if (tvi->mask & TVIF_SELECTEDIMAGE) {
    own.iSelectedImage = tvi->iSelectedImage;
    callback |= tvi->iSelectedImage == -1;
  }
  if (tvi->mask & TVIF_PARAM) own.lParam = tvi->lParam;
  if (tvi->mask & TVIF_CHILDREN) own.cChildren = tvi->cChildren;
  int expand = 0;
  UINT selected = 0, selectedMask = 0;
  if (tvi->mask & TVIF_STATE) {
    const UINT mask = tvi->stateMask;
    UINT state = own.state;
    if (mask & TVIS_STATEIMAGEMASK) state = (state & ~TVIS_STATEIMAGEMASK) | (tvi->state & TVIS_STATEIMAGEMASK);
    if (mask & TVIS_OVERLAYMASK) state = (state & ~TVIS_OVERLAYMASK) | (tvi->state & TVIS_OVERLAYMASK);
    for (UINT bit : {TVIS_CUT, TVIS_DROPHILITED}) {
      if (mask & bit) state = (state & ~bit) | (tvi->state & bit);
    }
    if (mask & TVIS_SELECTED) {
      selected = (tvi->state & TVIS_SELECTED) ? LVIS_SELECTED : 0;
      selectedMask = LVIS_SELECTED;
    }
    if ((mask & TVIS_DROPHILITED) && (tvi->state & TVIS_DROPHILITED) && m_pDropItem != item) {
      // One drop target at a time.
      if (m_pDropItem && m_live.count(m_pDropItem)) {
        m_pDropItem->m_tvi.state &= ~TVIS_DROPHILITED;
        ApplyRowState(m_pDropItem);
      }
      m_pDropItem = item;
    } else if ((mask & TVIS_DROPHILITED) && !(tvi->state & TVIS_DROPHILITED) && m_pDropItem == item) {
      m_pDropItem = nullptr;
    }
    own.state = state;
    if (mask & TVIS_EXPANDED) expand = (tvi->state & TVIS_EXPANDED) ? TVE_EXPAND : TVE_COLLAPSE;
  }
  ApplyRowState(item, selected, selectedMask);
  if (callback) Notify(TVN_SETDISPINFOA, 0, item, false);
  if (expand && !!item->IsExpanded() != (expand == TVE_EXPAND)) Expand(item->Handle(), static_cast<UINT>(expand));
  if (m_hWnd) {
    RedrawTreeItems(item->Handle(), item->Handle());
    if (m_nRedraw == 0) UpdateWindow();  // while drawing is off the row waits for the paint that ends it
  }
  return TRUE;
}

UINT COXTreeCtrl::GetItemState(HTREEITEM item, UINT stateMask) const {
  TVITEM tvi{};
  tvi.mask = TVIF_STATE;
  tvi.hItem = item;
  tvi.stateMask = stateMask;
  return GetItem(&tvi) ? tvi.state : 0;
}

BOOL COXTreeCtrl::SetItemState(HTREEITEM item, UINT state, UINT stateMask) {
  TVITEM tvi{};
  tvi.mask = TVIF_STATE;
  tvi.hItem = item;
  tvi.state = state;
  tvi.stateMask = stateMask;
  return SetItem(&tvi);
}

// ---- Navigation and selection ----

HTREEITEM COXTreeCtrl::GetNextItem(HTREEITEM handle, UINT code) const {
  const COXTreeItem* item = Resolve(handle);
  auto handleOf = [](const COXTreeItem* i) { return i ? i->Handle() : nullptr; };
  auto listNext = [&](int from, UINT flags) {
    if (!m_hWnd) return static_cast<HTREEITEM>(nullptr);
    int row = static_cast<int>(::SendMessage(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(from), flags));
    return ItemOfRow(row);
  };
  switch (code) {
    case TVGN_ROOT:
      if (!item || item == &m_root) return handleOf(m_root.GetFirstChild());
      return item->GetParent() ? handleOf(item->GetParent()->GetFirstChild()) : nullptr;
    case TVGN_NEXT:
      return item ? handleOf(item->GetNextSibling()) : nullptr;
    case TVGN_PREVIOUS:
      return item ? handleOf(item->GetPrevSibling()) : nullptr;
    case TVGN_PARENT:
      return item ? handleOf(item->GetParent()) : nullptr;
    case TVGN_CHILD:
      return item ? handleOf(item->GetFirstChild()) : nullptr;
    case TVGN_FIRSTVISIBLE:
      return m_hWnd ? ItemOfRow(static_cast<int>(::SendMessage(m_hWnd, LVM_GETTOPINDEX, 0, 0))) : nullptr;
    case TVGN_NEXTVISIBLE:
    case TVGN_PREVIOUSVISIBLE: {
      if (!item) return nullptr;
      const int row = RowOf(item);
      if (row >= 0) return ItemOfRow(code == TVGN_NEXTVISIBLE ? row + 1 : row - 1);
      for (const COXTreeItem* i = code == TVGN_NEXTVISIBLE ? item->GetNextInOrder() : item->GetPrevInOrder(); i && i != &m_root;
           i = code == TVGN_NEXTVISIBLE ? i->GetNextInOrder() : i->GetPrevInOrder()) {
        if (RowOf(i) >= 0) return i->Handle();
      }
      return nullptr;
    }
    case TVGN_DROPHILITE:
      return listNext(item && item != &m_root ? RowOf(item) : -1, LVNI_DROPHILITED);
    case TVGN_CARET: {
      if (!m_hWnd) return nullptr;
      int row = static_cast<int>(::SendMessage(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
      if (row < 0 || !(::SendMessage(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED)) return nullptr;
      return ItemOfRow(row);
    }
    case TVGN_FIRSTSELECTED:
      return listNext(-1, LVNI_SELECTED);
    case TVGN_NEXTSELECTED: {
      const int row = item && item != &m_root ? RowOf(item) : -1;
      return row >= 0 ? listNext(row, LVNI_SELECTED) : nullptr;
    }
    default:
      return nullptr;
  }
}

HTREEITEM COXTreeCtrl::GetFirstHiddenItem() const {
  for (const COXTreeItem* i = m_root.GetFirstChild(); i; i = i->GetNextInOrder()) {
    if (i == &m_root) break;
    if (i->IsHidden()) return i->Handle();
  }
  return nullptr;
}

HTREEITEM COXTreeCtrl::GetNextHiddenItem(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return nullptr;
  for (const COXTreeItem* i = item->GetNextInOrder(); i && i != &m_root; i = i->GetNextInOrder()) {
    if (i->IsHidden()) return i->Handle();
  }
  return nullptr;
}

HTREEITEM COXTreeCtrl::GetPrevHiddenItem(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return nullptr;
  for (const COXTreeItem* i = item->GetPrevInOrder(); i && i != &m_root; i = i->GetPrevInOrder()) {
    if (i->IsHidden()) return i->Handle();
  }
  return nullptr;
}

BOOL COXTreeCtrl::ItemHasChildren(HTREEITEM handle) const {
  const COXTreeItem* item = Resolve(handle);
  return item && item->HasChildren();
}

BOOL COXTreeCtrl::Select(HTREEITEM handle, UINT code) {
  if (code == TVGN_FIRSTVISIBLE) return FALSE;
  if (!handle) {
    if (code == TVGN_DROPHILITE) {
      if (m_pDropItem && m_live.count(m_pDropItem)) SetItemState(m_pDropItem->Handle(), 0, TVIS_DROPHILITED);
      m_pDropItem = nullptr;
    } else if (code == TVGN_CARET) {
      for (HTREEITEM s = GetFirstSelectedItem(); s; s = GetFirstSelectedItem()) {
        if (!SetItemState(s, 0, TVIS_SELECTED)) break;
      }
    }
    return TRUE;
  }
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return FALSE;
  if (code == TVGN_DROPHILITE) return SetItemState(handle, TVIS_DROPHILITED, TVIS_DROPHILITED);
  if (code != TVGN_CARET) return FALSE;
  if (!SetItemState(handle, TVIS_SELECTED, TVIS_SELECTED)) return FALSE;
  const int row = RowOf(item);
  if (row >= 0) {
    LVITEM lv{};
    lv.state = LVIS_FOCUSED;
    lv.stateMask = LVIS_FOCUSED;
    ::SendMessage(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&lv));
  }
  return TRUE;
}

BOOL COXTreeCtrl::EnsureVisible(HTREEITEM handle) {
  COXTreeItem* item = Resolve(handle);
  if (!item || item == &m_root) return FALSE;
  if (RowOf(item) < 0) {
    SetRedraw(FALSE);
    if (item->IsHidden()) HideItem(handle, FALSE);
    std::vector<COXTreeItem*> collapsed;
    for (COXTreeItem* a = item->GetParent(); a && a != &m_root; a = a->GetParent()) {
      if (RowOf(a) >= 0 && a->IsExpanded()) break;
      if (a->IsHidden()) HideItem(a->Handle(), FALSE);
      if (!a->IsExpanded()) collapsed.push_back(a);
    }
    for (auto it = collapsed.rbegin(); it != collapsed.rend(); ++it) Expand((*it)->Handle(), TVE_EXPAND);
    SetRedraw(TRUE);
  }
  const int row = RowOf(item);
  if (row >= 0) SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  return row >= 0;
}

BOOL COXTreeCtrl::RedrawTreeItems(HTREEITEM first, HTREEITEM last) {
  if (m_nRedraw > 0) return TRUE;  // drawing comes back with every row invalid
  const int a = RowOf(Resolve(first)), b = RowOf(Resolve(last));
  if (a < 0 || b < 0) return FALSE;
  CRect ra, rb;
  SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(a), reinterpret_cast<LPARAM>(&ra));
  SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(b), reinterpret_cast<LPARAM>(&rb));
  CRect both;
  both.UnionRect(ra, rb);
  InvalidateRect(&both, FALSE);
  return TRUE;
}

void COXTreeCtrl::RedrawSelectedRows() {
  for (int row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); row >= 0;
       row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) {
    CRect r;
    SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    InvalidateRect(&r, FALSE);
  }
}

// ---- Geometry and hit tests ----

int COXTreeCtrl::TextWidth(COXTreeItem* item, int col) const {
  HDC hdc = ::GetDC(m_hWnd);
  CFont* font = item->GetFont(col);
  HGDIOBJ use = font && font->GetSafeHandle() ? font->GetSafeHandle() : reinterpret_cast<HGDIOBJ>(::SendMessage(m_hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = use ? ::SelectObject(hdc, use) : nullptr;
  SIZE size{0, 0};
  LPCSTR text = item->GetText(col);
  ::GetTextExtentPoint32(hdc, text, static_cast<int>(std::strlen(text)), &size);
  if (old) ::SelectObject(hdc, old);
  ::ReleaseDC(m_hWnd, hdc);
  return size.cx;
}

BOOL COXTreeCtrl::GetItemPartRect(int part, HTREEITEM handle, CRect* rect, int* indentInOut) const {
  COXTreeItem* item = Resolve(handle);
  const int row = RowOf(item);
  if (!rect || row < 0) return FALSE;
  CRect bounds;
  ::SendMessage(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
  const int indent = indentInOut && *indentInOut >= 0 ? *indentInOut : GetItemIndent(item);
  if (indentInOut) *indentInOut = indent;
  rect->SetRectEmpty();
  const CSize state = ImageSizeOf(m_pStateImages);
  const bool hasState = (item->m_tvi.state & TVIS_STATEIMAGEMASK) != 0 && state.cx > 0;
  const CSize normal = ImageSizeOf(m_pNormalImages);
  const int imageLeft = bounds.left + indent + (hasState ? state.cx : 0);
  switch (part) {
    case 0:
      if ((m_dwStyle & TVS_HASBUTTONS) && indent >= m_nIndent) {
        *rect = GetButtonRect(CRect(bounds.left + indent - m_nIndent, bounds.top, bounds.left + indent, bounds.bottom));
      }
      break;
    case 2:
      if (hasState) *rect = CRect(bounds.left + indent, bounds.bottom - state.cy, bounds.left + indent + state.cx, bounds.bottom);
      break;
    case 1:
      if (normal.cx > 0) *rect = CRect(imageLeft, bounds.bottom - normal.cy, imageLeft + normal.cx, bounds.bottom);
      break;
    case 3: {
      const int start = imageLeft + normal.cx;
      const int column = static_cast<int>(::SendMessage(m_hWnd, LVM_GETCOLUMNWIDTH, 0, 0));
      const int room = std::max(0, bounds.left + column - start);
      const int width = std::min(TextWidth(item, 0) + 4, room);
      LVCOLUMN c{};
      c.mask = LVCF_FMT;
      ::SendMessage(m_hWnd, LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&c));
      int left = start;
      if ((c.fmt & 3) == 1) left = start + room - width;
      else if ((c.fmt & 3) == 2) left = start + (room - width + 1) / 2;
      *rect = CRect(left, bounds.top, left + width, bounds.bottom);
      break;
    }
    default:
      return FALSE;
  }
  return TRUE;
}

BOOL COXTreeCtrl::GetItemRect(HTREEITEM handle, LPRECT rect, BOOL textOnly) const {
  const COXTreeItem* item = Resolve(handle);
  const int row = RowOf(item);
  if (!rect || row < 0) return FALSE;
  if (textOnly) {
    CRect text;
    if (!GetItemPartRect(3, handle, &text)) return FALSE;
    *rect = text;
    return TRUE;
  }
  return static_cast<BOOL>(::SendMessage(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(rect)));
}

int COXTreeCtrl::HitTest(CPoint point, UINT* flagsOut) const {
  UINT flags = 0;
  LVHITTESTINFO hit{};
  hit.pt = point;
  int row = m_hWnd ? static_cast<int>(::SendMessage(m_hWnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit))) : -1;
  HTREEITEM handle = ItemOfRow(row);
  if (row >= 0 && handle) {
    CRect bounds;
    ::SendMessage(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    if (!bounds.PtInRect(point)) {
      flags = TVHT_NOWHERE;
      row = -1;
    } else {
      flags = TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON;
      bool found = false;
      for (int part : {3, 1, 2, 0}) {
        CRect r;
        if (GetItemPartRect(part, handle, &r) && r.PtInRect(point)) {
          if (part == 0) flags |= TVHT_ONITEMBUTTON;
          found = true;
          break;
        }
      }
      if (!found) flags |= TVHT_TORIGHT;
    }
  } else {
    row = -1;
    if (hit.flags & LVHT_ABOVE) flags = TVHT_ABOVE;
    else if (hit.flags & LVHT_BELOW) flags = TVHT_BELOW;
    else if (hit.flags & LVHT_TOLEFT) flags = TVHT_TOLEFT;
    else if (hit.flags & LVHT_TORIGHT) flags = TVHT_TORIGHT;
    else flags = TVHT_NOWHERE;
  }
  if (flagsOut) *flagsOut = flags;
  return row;
}

HTREEITEM COXTreeCtrl::HitTest(TVHITTESTINFO* info) const {
  if (!info) return nullptr;
  int row = HitTest(CPoint(info->pt), &info->flags);
  info->hItem = ItemOfRow(row);
  return info->hItem;
}

// ---- Column widths ----

int COXTreeCtrl::GetOptimalColumnWidth(int col) const {
  const int rows = GetRowCount();
  if (rows == 0 || col < 0 || col >= GetColumnCount()) return 6;
  int widest = 0;
  for (int row = 0; row < rows; ++row) {
    COXTreeItem* item = Resolve(GetItemAtRow(row));
    if (!item) continue;
    int width = 0;
    if (col == 0) {
      width = GetItemIndent(item);
      if (item->m_tvi.state & TVIS_STATEIMAGEMASK) width += ImageSizeOf(m_pStateImages).cx;
      if (item->m_tvi.iImage >= 0) width += ImageSizeOf(m_pNormalImages).cx;
    } else if (const COXTreeCell* cell = item->GetCell(col); cell && (cell->m_uFlags & COXTreeCell::kImage)) {
      width = ImageSizeOf(m_pNormalImages).cx;
    }
    widest = std::max(widest, width + TextWidth(item, col) + 6);
  }
  return widest;
}

BOOL COXTreeCtrl::SetOptimalColumnWidth(int col) {
  if (col < 0 || col >= GetColumnCount()) return FALSE;
  return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(col), GetOptimalColumnWidth(col)));
}

LRESULT COXTreeCtrl::OnOptimalWidth(WPARAM wParam, LPARAM) {
  SetOptimalColumnWidth(static_cast<int>(wParam));
  return 0;
}

void COXTreeCtrl::OnSize(UINT type, int cx, int cy) {
  CListCtrl::OnSize(type, cx, cy);
  if (m_dwExStyle & kExFitLastColumn) PostMessage(WM_OXTREE_FITCOLUMNS);
}

LRESULT COXTreeCtrl::OnFitColumns(WPARAM, LPARAM) {
  const int columns = GetColumnCount();
  if (!m_bInit || columns < 1) return 0;
  CRect client;
  GetClientRect(&client);
  int left = 0;
  for (int col = 0; col < columns; ++col) {
    int width = static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(col)));
    if (left + width > client.Width()) width = std::max(client.Width() - left, 0);
    else if (col == columns - 1 && left + width < client.Width()) width = client.Width() - left;
    SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(col), width);
    left += width;
  }
  if (CWnd* parent = GetParent()) parent->SendMessage(WM_OXTREE_FITCOLUMNS);
  return 0;
}

LRESULT COXTreeCtrl::OnHeaderNotify(WPARAM wParam, LPARAM lParam) {
  auto* notify = reinterpret_cast<const HeaderNotify*>(lParam);
  if (notify && (m_dwExStyle & kExFitLastColumn) && notify->hdr.hwndFrom == GetHeaderCtrlHandle()) {
    if (IsOneOf(notify->hdr.code, kHeaderItemChanging) || IsOneOf(notify->hdr.code, kHeaderTrack)) {
      PostMessage(WM_OXTREE_FITCOLUMNS);
    } else if (IsOneOf(notify->hdr.code, kHeaderBeginTrack) && notify->iItem == GetColumnCount() - 1) {
      return TRUE;  // the last column's divider stays where the client's edge puts it
    }
  }
  return DefWindowProc(WM_NOTIFY, wParam, lParam);
}

LRESULT COXTreeCtrl::OnStyleChanged(WPARAM wParam, LPARAM lParam) {
  if (static_cast<int>(wParam) == GWL_STYLE && lParam) {
    m_dwStyle = (m_dwStyle & 0xFFFF) | (reinterpret_cast<const STYLESTRUCT*>(lParam)->styleNew & 0xFFFF0000);
  }
  return DefWindowProc(WM_STYLECHANGED, wParam, lParam);
}

LRESULT COXTreeCtrl::OnParentNotify(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == WM_CREATE && reinterpret_cast<HWND>(lParam) == reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER))) {
    AttachTreeHeader();
  }
  return DefWindowProc(WM_PARENTNOTIFY, wParam, lParam);
}

// ---- Mouse ----

LRESULT COXTreeCtrl::OnLButtonDown(WPARAM wParam, LPARAM lParam) {
  SetFocus();
  m_lastMouseDown = CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
  UINT flags = 0;
  const int row = HitTest(m_lastMouseDown, &flags);
  if (row >= 0) {
    // The plus box toggles and leaves the selection alone.
    if (flags & TVHT_ONITEMBUTTON) {
      Expand(GetItemAtRow(row), TVE_TOGGLE);
      return 0;
    }
    return DefWindowProc(WM_LBUTTONDOWN, wParam, lParam);
  }
  if (m_dwExStyle & kExMultiSelect) return DefWindowProc(WM_LBUTTONDOWN, wParam, lParam);
  return 0;
}

LRESULT COXTreeCtrl::OnLButtonDblClk(WPARAM wParam, LPARAM lParam) {
  UINT flags = 0;
  const int row = HitTest(CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)), &flags);
  if (row < 0) return 0;
  Expand(GetItemAtRow(row), TVE_TOGGLE);
  return DefWindowProc(WM_LBUTTONDBLCLK, wParam, lParam);
}

LRESULT COXTreeCtrl::OnOtherButtonDown(UINT message, WPARAM wParam, LPARAM lParam) {
  UINT flags = 0;
  if (HitTest(CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)), &flags) < 0) return 0;
  return DefWindowProc(message, wParam, lParam);
}
LRESULT COXTreeCtrl::OnRButtonDown(WPARAM wParam, LPARAM lParam) { return OnOtherButtonDown(WM_RBUTTONDOWN, wParam, lParam); }
LRESULT COXTreeCtrl::OnMButtonDown(WPARAM wParam, LPARAM lParam) { return OnOtherButtonDown(WM_MBUTTONDOWN, wParam, lParam); }

LRESULT COXTreeCtrl::OnScroll(UINT message, WPARAM wParam, LPARAM lParam) {
  SetFocus();
  return DefWindowProc(message, wParam, lParam);
}
LRESULT COXTreeCtrl::OnHScroll(WPARAM wParam, LPARAM lParam) { return OnScroll(WM_HSCROLL, wParam, lParam); }
LRESULT COXTreeCtrl::OnVScroll(WPARAM wParam, LPARAM lParam) { return OnScroll(WM_VSCROLL, wParam, lParam); }

// ---- Keyboard ----

LRESULT COXTreeCtrl::OnKeyDownMessage(WPARAM wParam, LPARAM) {
  OnKeydown(static_cast<UINT>(wParam));
  return 0;
}

void COXTreeCtrl::OnKeydown(UINT key) {
  switch (key) {
    case VK_CONTROL:
    case VK_MENU:
      return;
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
      DefWindowProc(WM_KEYDOWN, key, 0);
      return;
    case VK_RIGHT:
    case VK_LEFT: {
      COXTreeItem* item = Resolve(GetFirstSelectedItem());
      if (!item) return;
      if (key == VK_RIGHT) {
        if (!item->IsExpanded()) {
          Expand(item->Handle(), TVE_EXPAND);
        } else if (item->GetFirstChild()) {
          Select(nullptr, TVGN_CARET);
          Select(item->GetFirstChild()->Handle(), TVGN_CARET);
        }
      } else if (item->IsExpanded()) {
        Expand(item->Handle(), TVE_COLLAPSE);
      } else if (item->GetParent()) {
        // A top-level item's parent is the root, which has no row: only the selection goes.
        Select(nullptr, TVGN_CARET);
        Select(item->GetParent()->Handle(), TVGN_CARET);
      }
      return;
    }
    default:
      TypeAhead(key);
      return;
  }
}

void COXTreeCtrl::TypeAhead(UINT key) {
  const int rows = GetRowCount();
  if (rows < 2) return;
  if (m_nTypeAheadTimer) KillTimer(m_nTypeAheadTimer);
  m_nTypeAheadTimer = 0;
  char typed[2] = {static_cast<char>(key), 0};
  m_sTypeAhead += typed;
  m_sTypeAhead.MakeUpper();
  const int focused = static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
  auto matches = [&](int row) {
    COXTreeItem* item = Resolve(GetItemAtRow(row));
    if (!item) return false;
    CString text(item->GetText(0));
    text.MakeUpper();
    return !text.IsEmpty() && std::strncmp(text, m_sTypeAhead, static_cast<size_t>(m_sTypeAhead.GetLength())) == 0;
  };
  int found = -1;
  if (focused < 0) {
    for (int row = 0; row < rows && found < 0; ++row) {
      if (matches(row)) found = row;
    }
  } else {
    // The focused row itself counts once more than one character was typed.
    if (m_sTypeAhead.GetLength() > 1 && matches(focused)) found = focused;
    for (int row = (focused + 1) % rows; found < 0 && row != focused; row = (row + 1) % rows) {
      if (matches(row)) found = row;
    }
  }
  if (found >= 0) {
    Select(nullptr, TVGN_CARET);
    Select(GetItemAtRow(found), TVGN_CARET);
    SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(found), FALSE);
  }
  m_nTypeAheadTimer = SetTimer(kTypeAheadTimer, kTypeAheadPeriod);
}

void COXTreeCtrl::OnTimer(UINT_PTR id) {
  if (id == kTypeAheadTimer) {
    m_sTypeAhead.Empty();
    return;
  }
  DefWindowProc(WM_TIMER, id, 0);
}

// ---- Focus, row height and label editing (reflected from the parent) ----

BOOL COXTreeCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_MEASUREITEM && lParam) {
    auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    if (m_nItemHeight > 0) measure->itemHeight = std::max<UINT>(static_cast<UINT>(m_nItemHeight), measure->itemHeight);
    else m_nItemHeight = static_cast<int>(measure->itemHeight);
    if (result) *result = TRUE;
    return TRUE;
  }
  if (message == WM_NOTIFY && lParam) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (hdr->hwndFrom == m_hWnd) {
      switch (hdr->code) {
        case NM_SETFOCUS:
        case NM_KILLFOCUS:
          RedrawSelectedRows();
          if (result) *result = 0;
          return TRUE;
        case LVN_BEGINLABELEDITA: {
          // A cell editor with a window of its own leaves the notification to the parent.
          if (m_pCellEditor && m_pCellEditor->GetSafeHwnd()) return FALSE;
          LRESULT r = OnBeginLabelEdit(hdr);
          if (r == -2) return FALSE;
          if (result) *result = r;
          return TRUE;
        }
        case LVN_ENDLABELEDITA:
          if (result) *result = OnEndLabelEdit(hdr);
          return TRUE;
        default:
          break;
      }
    }
  }
  return CListCtrl::OnChildNotify(message, wParam, lParam, result);
}

CWnd* COXTreeCtrl::CreateCellEditor(COXTreeItem*, int) { return nullptr; }

int COXTreeCtrl::FindEditColumn(COXTreeItem* item, int row) const {
  CRect bounds;
  ::SendMessage(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
  const int columns = GetColumnCount();
  int x = bounds.left;
  for (int col = 0; col < columns; ++col) {
    LVCOLUMN c{};
    c.mask = LVCF_FMT | LVCF_WIDTH;
    ::SendMessage(m_hWnd, LVM_GETCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(&c));
    CRect cell(x, bounds.top, x + c.cx, bounds.bottom);
    x = cell.right;
    if (m_lastMouseDown.x < cell.left || m_lastMouseDown.x >= cell.right) continue;
    if (col > 0 && !item->GetCell(col)) return -1;
    CRect area(cell);
    if (col == 0) {
      area.left += GetItemIndent(item);
      if (item->m_tvi.state & TVIS_STATEIMAGEMASK) area.left += ImageSizeOf(m_pStateImages).cx;
      if (item->m_tvi.iImage >= 0) area.left += ImageSizeOf(m_pNormalImages).cx;
    } else if (item->GetCell(col)->m_uFlags & COXTreeCell::kImage) {
      area.left += ImageSizeOf(m_pNormalImages).cx;
    }
    const int width = std::min(TextWidth(item, col) + 4, std::max(area.Width(), 0));
    CRect label(area.left, area.top, area.left + width, area.bottom);
    if ((c.fmt & 3) == 1) label = CRect(area.right - width, area.top, area.right, area.bottom);
    else if ((c.fmt & 3) == 2) label.OffsetRect((area.Width() - width + 1) / 2, 0);
    if (label.Width() < 6) label.InflateRect(4, 4);
    return label.PtInRect(m_lastMouseDown) ? col : -1;
  }
  return -1;
}

LRESULT COXTreeCtrl::OnBeginLabelEdit(NMHDR* hdr) {
  auto* info = reinterpret_cast<NMLVDISPINFO*>(hdr);
  COXTreeItem* item = Resolve(GetItemAtRow(info->item.iItem));
  if (!item) return 1;
  NMTVDISPINFO tv{};
  tv.hdr = NMHDR{m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID()), TVN_BEGINLABELEDITA};
  tv.item.mask = TVIF_PARAM | TVIF_HANDLE;
  tv.item.hItem = item->Handle();
  tv.item.lParam = item->m_tvi.lParam;
  CWnd* parent = GetParent();
  LRESULT answer = parent ? parent->SendMessage(WM_NOTIFY, tv.hdr.idFrom, reinterpret_cast<LPARAM>(&tv)) : 0;
  const int col = (item->GetFlags() & COXTreeItem::kDisabled) ? -1 : FindEditColumn(item, info->item.iItem);
  if (col < 0 || item->GetEditMode(col) == 3) {
    m_nEditColumn = -1;
    return 1;
  }
  m_nEditColumn = col;
  m_pCellEditor = CreateCellEditor(item, col);
  // A flat list leaves the edit to its parent.
  return FlatList() ? -2 : answer;
}

LRESULT COXTreeCtrl::OnEndLabelEdit(NMHDR* hdr) {
  auto* info = reinterpret_cast<NMLVDISPINFO*>(hdr);
  HTREEITEM item = GetItemAtRow(info->item.iItem);
  const int col = m_nEditColumn;
  m_nEditColumn = -1;
  if (info->item.pszText && item && col >= 0) SetItemText(item, info->item.pszText, col);
  // The list keeps its own row text out of it: the item holds the text.
  return 0;
}

CWnd* COXTreeCtrl::EditLabel(HTREEITEM handle, int col) {
  COXTreeItem* item = Resolve(handle);
  const int row = RowOf(item);
  // A column outside the list would index past the columns.
  if (!(m_dwStyle & TVS_EDITLABELS) || row < 0 || col < 0 || col >= GetColumnCount()) return nullptr;
  CRect bounds;
  SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
  int left = bounds.left;
  for (int c = 0; c < col; ++c) left += static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c)));
  const int width = static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(col)));
  CRect cell(left, bounds.top, left + width, bounds.bottom);
  // The mouse point is put on the label of that cell, as a click there would.
  CRect area(cell);
  if (col == 0) {
    area.left += GetItemIndent(item);
    if (item->m_tvi.state & TVIS_STATEIMAGEMASK) area.left += ImageSizeOf(m_pStateImages).cx;
    if (item->m_tvi.iImage >= 0) area.left += ImageSizeOf(m_pNormalImages).cx;
  } else if (const COXTreeCell* c = item->GetCell(col); c && (c->m_uFlags & COXTreeCell::kImage)) {
    area.left += ImageSizeOf(m_pNormalImages).cx;
  }
  LVCOLUMN format{};
  format.mask = LVCF_FMT;
  SendMessage(LVM_GETCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(&format));
  const int label = std::min(TextWidth(item, col) + 4, std::max(area.Width(), 0));
  int x = area.left + label / 2;
  if ((format.fmt & 3) == 1) x = area.right - label / 2 - 1;
  else if ((format.fmt & 3) == 2) x = area.left + (area.Width() - label + 1) / 2 + label / 2;
  m_lastMouseDown = CPoint(x, bounds.top + bounds.Height() / 2);
  SetFocus();
  HWND edit = reinterpret_cast<HWND>(SendMessage(LVM_EDITLABELA, static_cast<WPARAM>(row)));
  if (!edit) return nullptr;
  // The list opens its editor over column 0; it goes over the edited cell's text.
  ::MoveWindow(edit, area.left, area.top, std::max(area.Width(), 8), area.Height(), TRUE);
  return CWnd::FromHandle(edit);
}

// ---- Drag picture ----

CImageList* COXTreeCtrl::CreateDragImage(HTREEITEM handle, BOOL allSelected) {
  COXTreeItem* item = Resolve(handle);
  if (RowOf(item) < 0) return nullptr;
  std::vector<int> rows;
  if (allSelected) {
    for (int row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); row >= 0;
         row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) {
      rows.push_back(row);
    }
  }
  if (rows.empty()) rows.push_back(RowOf(item));
  CRect first;
  SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(rows[0]), reinterpret_cast<LPARAM>(&first));
  const int rowHeight = std::max(first.Height(), 1);
  const int width = std::max(static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, 0)), 1);
  const int height = std::min(static_cast<int>(rows.size()) * rowHeight, std::max(::GetSystemMetrics(SM_CYSCREEN), rowHeight));
  m_bDrawingDragImage = true;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
  const COLORREF mask = TextBackground();
  CRect all(0, 0, width, height);
  HBRUSH brush = ::CreateSolidBrush(mask);
  ::FillRect(memory, &all, brush);
  ::DeleteObject(brush);
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT));
  HGDIOBJ oldFont = font ? ::SelectObject(memory, font) : nullptr;
  for (size_t i = 0; i < rows.size() && static_cast<int>(i) * rowHeight < height; ++i) {
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_LISTVIEW;
    dis.itemID = static_cast<UINT>(rows[i]);
    dis.itemAction = ODA_DRAWENTIRE;
    dis.hwndItem = m_hWnd;
    dis.hDC = memory;
    dis.rcItem = CRect(0, static_cast<int>(i) * rowHeight, width, static_cast<int>(i + 1) * rowHeight);
    dis.itemData = reinterpret_cast<ULONG_PTR>(GetItemAtRow(rows[i]));
    DrawItem(&dis);
  }
  if (oldFont) ::SelectObject(memory, oldFont);
  ::SelectObject(memory, oldBitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  m_bDrawingDragImage = false;
  auto* list = new CImageList;
  if (!list->Create(width, height, ILC_MASK | ILC_COLOR32, 0, 1) || ::ImageList_AddMasked(list->GetSafeHandle(), bitmap, mask) < 0) {
    delete list;
    list = nullptr;
  }
  ::DeleteObject(bitmap);
  return list;
}
