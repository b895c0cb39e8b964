#include "controls/tree_item.h"

#include <cstdlib>
#include <cstring>

namespace {

char* CopyText(LPCSTR text) {
  if (text == LPSTR_TEXTCALLBACK) return LPSTR_TEXTCALLBACK;
  const char* source = text ? text : "";
  size_t n = std::strlen(source);
  auto* copy = static_cast<char*>(std::malloc(n + 1));
  std::memcpy(copy, source, n + 1);
  return copy;
}

void FreeText(LPSTR text) {
  if (text && text != LPSTR_TEXTCALLBACK) std::free(text);
}

// A copy of `from` in `to`; FALSE (and no font) when it cannot be read or made.
BOOL CopyFont(CFont& to, const CFont& from) {
  to.DeleteObject();
  LOGFONT lf{};
  if (!from.GetSafeHandle() || from.GetObject(sizeof lf, &lf) != sizeof lf) return FALSE;
  return to.CreateFontIndirect(&lf);
}

int Collate(LPCSTR a, LPCSTR b) {
  int r = ::CompareString(LOCALE_USER_DEFAULT, 0, a, -1, b, -1);
  return r == 0 ? 0x7FFFFFFF : r - CSTR_EQUAL;
}

}  // namespace

// ---- COXTreeCell ----

COXTreeCell::COXTreeCell(int col)
    : m_nCol(col), m_clrText(::GetSysColor(COLOR_WINDOWTEXT)), m_clrBack(::GetSysColor(COLOR_WINDOW)) {}

COXTreeCell::COXTreeCell(const COXTreeCell& other)
    : m_sText(other.m_sText),
      m_nCol(other.m_nCol),
      m_uFlags(other.m_uFlags),
      m_nImage(other.m_nImage),
      m_nTextFormat(other.m_nTextFormat),
      m_options(other.m_options),
      m_nEditMode(other.m_nEditMode),
      m_clrText(other.m_clrText),
      m_clrBack(other.m_clrBack) {
  if ((m_uFlags & kFont) && !CopyFont(m_font, other.m_font)) m_uFlags &= ~kFont;
}

// ---- COXTreeItem ----

COXTreeItem::COXTreeItem(LPCSTR text)
    : m_clrText(::GetSysColor(COLOR_WINDOWTEXT)), m_clrBack(::GetSysColor(COLOR_WINDOW)) {
  m_tvi.mask = TVIF_TEXT | TVIF_HANDLE;
  m_tvi.hItem = Handle();
  m_tvi.pszText = CopyText(text);
  m_tvi.iImage = -1;
  m_tvi.iSelectedImage = -1;
}

COXTreeItem::~COXTreeItem() {
  Unlink();
  DeleteChildren();
  for (COXTreeCell* cell : m_cells) delete cell;
  FreeText(m_tvi.pszText);
}

void COXTreeItem::MakeRoot() {
  FreeText(m_tvi.pszText);
  m_tvi.pszText = nullptr;
  m_tvi.mask = TVIF_HANDLE;
  m_tvi.iImage = m_tvi.iSelectedImage = 0;
  m_bExpanded = m_bExpandedOnce = TRUE;
}

COXTreeItem& COXTreeItem::operator=(const COXTreeItem& other) {
  if (&other == this) return *this;
  m_font.DeleteObject();
  if (other.m_font.GetSafeHandle()) CopyFont(m_font, other.m_font);
  FreeText(m_tvi.pszText);
  m_tvi = other.m_tvi;
  m_tvi.hItem = Handle();
  m_tvi.pszText = other.m_tvi.pszText ? CopyText(other.m_tvi.pszText) : nullptr;
  m_clrText = other.m_clrText;
  m_clrBack = other.m_clrBack;
  m_nTextFormat = other.m_nTextFormat;
  m_uFlags = other.m_uFlags;
  if ((m_uFlags & kOwnFont) && !m_font.GetSafeHandle()) m_uFlags &= ~kOwnFont;
  m_bExpanded = other.m_bExpanded;
  m_bExpandedOnce = other.m_bExpandedOnce;
  m_options = other.m_options;
  m_nEditMode = other.m_nEditMode;
  for (COXTreeCell* cell : m_cells) delete cell;
  m_cells.clear();
  for (const COXTreeCell* cell : other.m_cells) m_cells.push_back(new COXTreeCell(*cell));
  return *this;
}

void COXTreeItem::AddChild(COXTreeItem* child, HTREEITEM after) {
  if (!child || child == this) return;
  child->Unlink();
  child->m_pParent = this;
  if (!m_pFirstChild) {
    m_pFirstChild = child;
    return;
  }
  if (after == TVI_FIRST) {
    child->m_pNext = m_pFirstChild;
    m_pFirstChild->m_pPrev = child;
    m_pFirstChild = child;
    return;
  }
  COXTreeItem* prev = nullptr;
  if (after && after != TVI_LAST) {
    for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
      if (c->Handle() == after) prev = c;
    }
  }
  if (!prev) prev = GetLastChild();
  child->m_pPrev = prev;
  child->m_pNext = prev->m_pNext;
  if (prev->m_pNext) prev->m_pNext->m_pPrev = child;
  prev->m_pNext = child;
}

void COXTreeItem::Unlink() {
  if (m_pParent && m_pParent->m_pFirstChild == this) m_pParent->m_pFirstChild = m_pNext;
  if (m_pPrev) m_pPrev->m_pNext = m_pNext;
  if (m_pNext) m_pNext->m_pPrev = m_pPrev;
  m_pParent = m_pPrev = m_pNext = nullptr;
}

void COXTreeItem::DeleteChildren() {
  while (m_pFirstChild) delete m_pFirstChild;  // each unlinks itself
}

COXTreeItem* COXTreeItem::GetLastChild() const {
  COXTreeItem* c = m_pFirstChild;
  while (c && c->m_pNext) c = c->m_pNext;
  return c;
}

int COXTreeItem::GetLevel() const {
  int level = 0;
  for (const COXTreeItem* p = m_pParent; p; p = p->m_pParent) ++level;
  return level;
}

void COXTreeItem::SetHidden(BOOL hidden) {
  if (hidden) {
    m_uFlags &= ~kNotHidden;
  } else {
    m_uFlags |= kNotHidden;
  }
}

BOOL COXTreeItem::IsVisible() const {
  if (IsHidden()) return FALSE;
  for (const COXTreeItem* p = m_pParent; p; p = p->m_pParent) {
    if (p->IsHidden() || !p->m_bExpanded) return FALSE;
  }
  return TRUE;
}

BOOL COXTreeItem::HasChildren() const {
  if (m_tvi.cChildren > 0) return TRUE;
  for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
    if (!c->IsHidden()) return TRUE;
  }
  return FALSE;
}

BOOL COXTreeItem::HasVisibleNextSibling() const {
  for (COXTreeItem* c = m_pNext; c; c = c->m_pNext) {
    if (!c->IsHidden()) return TRUE;
  }
  return FALSE;
}

COXTreeItem* COXTreeItem::GetNextInOrder() const {
  if (m_pFirstChild) return m_pFirstChild;
  for (const COXTreeItem* p = this; p; p = p->m_pParent) {
    if (p->m_pNext) return p->m_pNext;
  }
  return nullptr;
}

COXTreeItem* COXTreeItem::GetPrevInOrder() const {
  if (m_pPrev) {
    COXTreeItem* c = m_pPrev;
    while (c->m_pFirstChild) c = c->GetLastChild();
    return c;
  }
  return m_pParent;
}

int COXTreeItem::CountChildren(BOOL all) const {
  int n = 0;
  for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
    if (all || !c->IsHidden()) ++n;
  }
  return n;
}

int COXTreeItem::CountSubtree() const {
  int n = 1;
  for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) n += c->CountSubtree();
  return n;
}

BOOL COXTreeItem::Expand(UINT code, COXTreeRows& rows) {
  const BOOL wasVisible = IsVisible();
  switch (code) {
    case TVE_COLLAPSE:
      if (!m_bExpanded) return TRUE;
      m_bExpanded = FALSE;
      break;
    case TVE_EXPAND:
      if (m_bExpanded) return TRUE;
      m_bExpanded = TRUE;
      break;
    case TVE_TOGGLE:
      m_bExpanded = !m_bExpanded;
      break;
    case TVE_COLLAPSERESET:
      RemoveChildrenFromCtrl(rows);
      DeleteChildren();
      m_bExpanded = m_bExpandedOnce = FALSE;
      m_tvi.cChildren = 0;
      return TRUE;
    default:
      return FALSE;
  }
  if (m_bExpanded) m_bExpandedOnce = TRUE;
  if (!wasVisible && !m_bExpanded) return TRUE;
  if (!IsVisible() && m_bExpanded) {
    // The collapsed ancestor opens (an ancestor that is already open is left open, whatever the code).
    COXTreeItem* p = m_pParent;
    while (p && p->m_bExpanded) p = p->m_pParent;
    if (p) p->Expand(TVE_EXPAND, rows);
    return TRUE;
  }
  SyncChildRows(rows);
  return TRUE;
}

void COXTreeItem::SyncChildRows(COXTreeRows& rows) {
  if (m_bExpanded) {
    int index = rows.RowOf(this) + 1;
    for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
      if (c->IsHidden() || rows.RowOf(c) >= 0) continue;
      rows.InsertRowAt(c, index++);
      index = c->AddChildrenToCtrl(rows, index);
    }
  } else {
    for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
      if (rows.RowOf(c) < 0) continue;
      c->RemoveChildrenFromCtrl(rows);
      rows.DeleteRow(c);
    }
  }
}

int COXTreeItem::AddChildrenToCtrl(COXTreeRows& rows, int index) {
  if (IsHidden() || !m_bExpanded) return index;
  for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
    if (c->IsHidden()) continue;
    rows.InsertRowAt(c, index++);
    index = c->AddChildrenToCtrl(rows, index);
  }
  return index;
}

void COXTreeItem::RemoveChildrenFromCtrl(COXTreeRows& rows) {
  for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
    if (rows.RowOf(c) < 0) continue;
    c->RemoveChildrenFromCtrl(rows);
    rows.DeleteRow(c);
  }
}

void COXTreeItem::SwapWithNext() {
  COXTreeItem* b = m_pNext;
  if (!b) return;
  COXTreeItem* before = m_pPrev;
  COXTreeItem* after = b->m_pNext;
  if (before) before->m_pNext = b;
  if (after) after->m_pPrev = this;
  b->m_pPrev = before;
  b->m_pNext = this;
  m_pPrev = b;
  m_pNext = after;
  if (m_pParent && m_pParent->m_pFirstChild == this) m_pParent->m_pFirstChild = b;
}

int COXTreeItem::CompareByColumn(const COXTreeItem* a, const COXTreeItem* b, int col) const {
  if (!a || !b || !a->m_pNext) return 0;
  if (a->m_tvi.pszText == LPSTR_TEXTCALLBACK || b->m_tvi.pszText == LPSTR_TEXTCALLBACK) return 0;
  return Collate(a->GetText(col), b->GetText(col));
}

BOOL COXTreeItem::SortChildren(int col, BOOL onlyThisLevel, BOOL ascending, PFNOXTVCOMPARE compare, LPARAM sortParam) {
  if (!m_pFirstChild) return TRUE;
  const int d = ascending ? 1 : -1;
  auto outOfOrder = [&](const COXTreeItem* a, const COXTreeItem* b) {
    // Signs compared: a result of INT_MIN must not overflow when turned round.
    int r = compare ? compare(a->m_tvi.lParam, b->m_tvi.lParam, sortParam) : CompareByColumn(a, b, col);
    return d > 0 ? r > 0 : r < 0;
  };
  bool swapped = true;
  while (swapped) {
    swapped = false;
    COXTreeItem* a = m_pFirstChild;
    while (a && a->m_pNext) {
      if (outOfOrder(a, a->m_pNext)) {
        a->SwapWithNext();
        swapped = true;
      } else {
        a = a->m_pNext;
      }
    }
  }
  if (!onlyThisLevel) {
    for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
      if (c->m_pFirstChild) c->SortChildren(col, FALSE, ascending, compare, sortParam);
    }
  }
  return TRUE;
}

HTREEITEM COXTreeItem::FindSortedPosition(LPCSTR text, BOOL ascending) const {
  if (!text || !*text) return ascending ? nullptr : TVI_FIRST;
  const int d = ascending ? 1 : -1;
  const COXTreeItem* best = nullptr;
  for (COXTreeItem* c = m_pFirstChild; c; c = c->m_pNext) {
    if (c->m_tvi.pszText == LPSTR_TEXTCALLBACK) continue;
    int r = Collate(text, c->GetText(0));
    if (r == 0 || r == 0x7FFFFFFF || (d > 0 ? r < 0 : r > 0)) continue;
    if (!best) {
      best = c;
      continue;
    }
    int order = Collate(c->GetText(0), best->GetText(0));
    if (d > 0 ? order > 0 : order < 0) best = c;  // equals keep the first
  }
  return best ? best->Handle() : TVI_FIRST;
}

COXTreeItem* COXTreeItem::CloneTree(COXTreeItem* newParent, const COXTreeItem* source, HTREEITEM after, BOOL withSubtree) {
  if (!newParent || !source) return nullptr;
  auto* item = new COXTreeItem;
  *item = *source;
  newParent->AddChild(item, after);
  if (withSubtree) {
    HTREEITEM place = TVI_FIRST;
    for (COXTreeItem* c = source->m_pFirstChild; c; c = c->m_pNext) {
      if (c == item) continue;  // a subtree copied into itself stops at the copy
      COXTreeItem* copy = CloneTree(item, c, place, TRUE);
      place = copy ? copy->Handle() : place;
    }
  }
  return item;
}

COXTreeCell* COXTreeItem::GetCell(int col) const {
  for (COXTreeCell* cell : m_cells) {
    if (cell->m_nCol == col) return cell;
  }
  return nullptr;
}

COXTreeCell* COXTreeItem::MakeCell(int col) {
  COXTreeCell* cell = GetCell(col);
  if (!cell) {
    cell = new COXTreeCell(col);
    m_cells.push_back(cell);
  }
  return cell;
}

LPCSTR COXTreeItem::GetText(int col) const {
  if (col == 0) return m_tvi.pszText && m_tvi.pszText != LPSTR_TEXTCALLBACK ? m_tvi.pszText : "";
  const COXTreeCell* cell = GetCell(col);
  return cell ? static_cast<LPCSTR>(cell->m_sText) : "";
}

BOOL COXTreeItem::SetText(LPCSTR text, int col) {
  if (col < 0) return FALSE;
  if (col == 0) {
    FreeText(m_tvi.pszText);
    m_tvi.pszText = CopyText(text);
    return TRUE;
  }
  return SetSubItem(col, COXTreeCell::kText, text, -1, nullptr, 0, 0);
}

BOOL COXTreeItem::SetSubItem(int col, UINT mask, LPCSTR text, int image, CFont* font, COLORREF textColor, COLORREF backColor) {
  if (col < 1) return FALSE;
  COXTreeCell* cell = MakeCell(col);
  if (mask & COXTreeCell::kImage) cell->m_nImage = image, cell->m_uFlags |= COXTreeCell::kImage;
  if (mask & COXTreeCell::kText) cell->m_sText = text ? text : "", cell->m_uFlags |= COXTreeCell::kText;
  if (mask & COXTreeCell::kTextColor) cell->m_clrText = textColor, cell->m_uFlags |= COXTreeCell::kTextColor;
  if (mask & COXTreeCell::kBackColor) cell->m_clrBack = backColor, cell->m_uFlags |= COXTreeCell::kBackColor;
  if (mask & COXTreeCell::kFont) {
    if (font && CopyFont(cell->m_font, *font)) {
      cell->m_uFlags |= COXTreeCell::kFont;
    } else {
      cell->m_uFlags &= ~COXTreeCell::kFont;
    }
  }
  return TRUE;
}

int COXTreeItem::GetImage(int col) const {
  if (col == 0) return m_tvi.iImage;
  const COXTreeCell* cell = GetCell(col);
  return cell && (cell->m_uFlags & COXTreeCell::kImage) ? cell->m_nImage : -1;
}

COLORREF COXTreeItem::GetTextColor(int col) const {
  if (col == 0) return (m_uFlags & kOwnTextColor) ? m_clrText : 0;
  const COXTreeCell* cell = GetCell(col);
  return cell && (cell->m_uFlags & COXTreeCell::kTextColor) ? cell->m_clrText : 0;
}

BOOL COXTreeItem::SetTextColor(COLORREF color, int col) {
  if (col == 0) {
    m_clrText = color;
    m_uFlags |= kOwnTextColor;
    return TRUE;
  }
  COXTreeCell* cell = GetCell(col);
  if (!cell) return FALSE;
  cell->m_clrText = color;
  cell->m_uFlags |= COXTreeCell::kTextColor;
  return TRUE;
}

COLORREF COXTreeItem::GetBackColor(int col) const {
  if (col == 0) return (m_uFlags & kOwnBackColor) ? m_clrBack : 0;
  const COXTreeCell* cell = GetCell(col);
  return cell && (cell->m_uFlags & COXTreeCell::kBackColor) ? cell->m_clrBack : 0;
}

BOOL COXTreeItem::SetBackColor(COLORREF color, int col) {
  if (col == 0) {
    m_clrBack = color;
    m_uFlags |= kOwnBackColor;
    return TRUE;
  }
  COXTreeCell* cell = GetCell(col);
  if (!cell) return FALSE;
  cell->m_clrBack = color;
  cell->m_uFlags |= COXTreeCell::kBackColor;
  return TRUE;
}

CFont* COXTreeItem::GetFont(int col) {
  if (col == 0) return (m_uFlags & kOwnFont) ? &m_font : nullptr;
  COXTreeCell* cell = GetCell(col);
  return cell && (cell->m_uFlags & COXTreeCell::kFont) ? &cell->m_font : nullptr;
}

BOOL COXTreeItem::SetFont(CFont* font, int col) {
  CFont* target = &m_font;
  UINT* flags = &m_uFlags;
  UINT bit = kOwnFont;
  if (col != 0) {
    COXTreeCell* cell = GetCell(col);
    if (!cell) return FALSE;
    target = &cell->m_font;
    flags = &cell->m_uFlags;
    bit = COXTreeCell::kFont;
  }
  if (!font) {
    *flags &= ~bit;
    target->DeleteObject();
    return TRUE;
  }
  BOOL ok = CopyFont(*target, *font);
  *flags = ok ? (*flags | bit) : (*flags & ~bit);
  return ok;
}

UINT COXTreeItem::GetTextFormat(int col) const {
  if (col == 0) return m_nTextFormat;
  const COXTreeCell* cell = GetCell(col);
  return cell ? cell->m_nTextFormat : DT_END_ELLIPSIS;
}

BOOL COXTreeItem::SetTextFormat(UINT format, int col) {
  if (col == 0) {
    m_nTextFormat = format;
    return TRUE;
  }
  COXTreeCell* cell = GetCell(col);
  if (!cell) return FALSE;
  cell->m_nTextFormat = format;
  return TRUE;
}

std::vector<CString> COXTreeItem::GetOptions(int col) const {
  if (col == 0) return m_options;
  const COXTreeCell* cell = GetCell(col);
  return cell ? cell->m_options : std::vector<CString>{};
}

UINT COXTreeItem::GetEditMode(int col) const {
  if (col == 0) return m_nEditMode;
  const COXTreeCell* cell = GetCell(col);
  return cell ? cell->m_nEditMode : 0;
}

BOOL COXTreeItem::SetEditMode(int col, UINT mode, const std::vector<CString>& options) {
  if (mode >= 4 || col < 0) return FALSE;
  if (col == 0) {
    m_nEditMode = mode;
    m_options = options;
    return TRUE;
  }
  COXTreeCell* cell = GetCell(col);
  if (!cell) return FALSE;
  cell->m_nEditMode = mode;
  cell->m_options = options;
  return TRUE;
}

void COXTreeItem::RemoveColumn(int col) {
  for (size_t i = 0; i < m_cells.size();) {
    if (m_cells[i]->m_nCol == col) {
      delete m_cells[i];
      m_cells.erase(m_cells.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }
    if (m_cells[i]->m_nCol > col) --m_cells[i]->m_nCol;
    ++i;
  }
}
