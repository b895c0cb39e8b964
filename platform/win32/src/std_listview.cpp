// The list view ("SysListView32"): its state, the geometry of rows and icon cells, the state changes the
// parent hears of, and the procedure that hands each message to its family (listview_internal.h).
#include <algorithm>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "listview_internal.h"
#include "win32/dialog.h"
#include "win32/user_draw.h"

namespace tavrin::controls::detail::listview {


// Owner-drawn rows take their height from the parent (WM_MEASUREITEM), asked once and again on demand.
int RowHeight(HWND hwnd, ListState& s) {
  if (s.rowHeight > 0) return s.rowHeight;
  s.rowHeight = kRowHeight;
  if (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_OWNERDRAWFIXED) {
    MEASUREITEMSTRUCT measure{ODT_LISTVIEW, static_cast<UINT>(GetDlgCtrlID(hwnd)), 0, 0, kRowHeight, 0};
    if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_MEASUREITEM, measure.CtlID, reinterpret_cast<LPARAM>(&measure));
    if (measure.itemHeight > 0) s.rowHeight = static_cast<int>(measure.itemHeight);
  }
  return s.rowHeight;
}

bool IconView(HWND hwnd) { return (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_TYPEMASK) == LVS_ICON; }

int RowsTop(HWND hwnd) {
  return (IconView(hwnd) || (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_NOCOLUMNHEADER)) ? 0 : kHeaderHeight;
}

// Large icons: as many cells across as the client holds, filled row by row; s.top counts cell rows.
// The large image's size and the cell around it: the cell grows with larger images.
SIZE IconSize(const ListState& s) {
  int cx = kLargeIconSize, cy = kLargeIconSize;
  if (s.normal && !ImageList_GetIconSize(s.normal, &cx, &cy)) cx = cy = kLargeIconSize;
  return SIZE{std::max(cx, 0), std::max(cy, 0)};
}

SIZE CellSize(const ListState& s) {
  const SIZE icon = IconSize(s);
  return SIZE{std::max<LONG>(kLargeIconCellWidth, icon.cx + 8), std::max<LONG>(kLargeIconCellHeight, icon.cy + 24)};
}

int IconsAcross(HWND hwnd, const ListState& s) {
  RECT client;
  GetClientRect(hwnd, &client);
  return std::max(1, static_cast<int>(client.right / CellSize(s).cx));
}

RECT IconCell(HWND hwnd, const ListState& s, int item) {
  const SIZE cell = CellSize(s);
  const POINT place = static_cast<size_t>(item) < s.places.size() ? s.places[static_cast<size_t>(item)] : POINT{INT_MIN, 0};
  if (place.x != INT_MIN) {
    const int y = place.y - s.top * cell.cy;
    return RECT{place.x, y, place.x + cell.cx, y + cell.cy};
  }
  const int across = IconsAcross(hwnd, s);
  const int x = (item % across) * cell.cx;
  const int y = (item / across - s.top) * cell.cy;
  return RECT{x, y, x + cell.cx, y + cell.cy};
}

RECT IconImageRect(const ListState& s, const RECT& cell) {
  const SIZE icon = IconSize(s);
  const int x = cell.left + (cell.right - cell.left - icon.cx) / 2;
  return RECT{x, cell.top + 2, x + icon.cx, cell.top + 2 + icon.cy};
}

RECT IconLabelRect(const ListState& s, const RECT& cell) {
  return RECT{cell.left + 2, cell.top + IconSize(s).cy + 4, cell.right - 2, cell.bottom - 2};
}

bool Checkboxes(const ListState& s) { return (s.exStyle & LVS_EX_CHECKBOXES) != 0; }
bool FullRowSelect(const ListState& s) { return (s.exStyle & LVS_EX_FULLROWSELECT) != 0; }

int ColumnCount(const ListState& s) { return static_cast<int>(SendMessage(s.header, HDM_GETITEMCOUNT, 0, 0)); }

int SmallImageWidth(const ListState& s) {
  int cx = 0, cy = 0;
  if (!s.small || !ImageList_GetIconSize(s.small, &cx, &cy)) return 0;
  return std::max(cx, 0) + kSmallImageGap;
}

RECT RowRect(HWND hwnd, ListState& s, int row) {
  RECT client;
  GetClientRect(hwnd, &client);
  int h = RowHeight(hwnd, s);
  int y = RowsTop(hwnd) + (row - s.top) * h;
  int right = client.right;
  const int columns = ColumnCount(s);
  if (columns > 0) {
    RECT last;
    SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(columns - 1), reinterpret_cast<LPARAM>(&last));
    right = last.right;  // a row is as wide as its columns
  }
  return RECT{0, y, right, y + h};
}

RECT CellRect(HWND hwnd, ListState& s, int row, int column) {
  const RECT band = RowRect(hwnd, s, row);
  RECT cell{};
  SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&cell));
  return RECT{cell.left, band.top, cell.right, band.bottom};
}

int PerPage(HWND hwnd, ListState& s) {
  RECT client;
  GetClientRect(hwnd, &client);
  return std::max(1, (static_cast<int>(client.bottom) - RowsTop(hwnd)) / RowHeight(hwnd, s));
}

void SetState(HWND hwnd, ListState& s, int row, UINT state, UINT mask) {
  if (row < 0 || static_cast<size_t>(row) >= s.states.size()) return;
  // One focused row at most.
  if (mask & state & LVIS_FOCUSED) {
    for (int other = 0; other < s.Count(); ++other) {
      UINT& st = s.states[static_cast<size_t>(other)];
      if (other == row || !(st & LVIS_FOCUSED)) continue;
      st &= ~LVIS_FOCUSED;
      InvalidateRow(hwnd, s, other);
    }
  }
  UINT& st = s.states[static_cast<size_t>(row)];
  const UINT old = st;
  st = (st & ~mask) | (state & mask);
  if (st == old) return;
  InvalidateRow(hwnd, s, row);
  NMLISTVIEW change{};
  change.iItem = row;
  change.uNewState = st;
  change.uOldState = old;
  change.uChanged = LVIF_STATE;
  change.lParam = s.params[static_cast<size_t>(row)];
  NotifyParent(hwnd, change.hdr, LVN_ITEMCHANGED);
}

// Flips a row's check box between state images 1 and 2.
void ToggleCheck(HWND hwnd, ListState& s, int row) {
  if (!Checkboxes(s) || row < 0 || static_cast<size_t>(row) >= s.states.size()) return;
  const bool checked = (s.states[static_cast<size_t>(row)] & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
  SetState(hwnd, s, row, INDEXTOSTATEIMAGEMASK(checked ? 1 : 2), LVIS_STATEIMAGEMASK);
}

void EnsureVisible(HWND hwnd, ListState& s, int row) {
  if (row < 0 || static_cast<size_t>(row) >= s.rows.size()) return;
  if (IconView(hwnd)) {
    RECT client;
    GetClientRect(hwnd, &client);
    const int line = row / IconsAcross(hwnd, s);
    const int lines = std::max(1, static_cast<int>(client.bottom / CellSize(s).cy));
    if (line < s.top) ScrollToTop(hwnd, s, line);
    else if (line >= s.top + lines) ScrollToTop(hwnd, s, line - lines + 1);
    return;
  }
  const int page = PerPage(hwnd, s);
  if (row < s.top) ScrollToTop(hwnd, s, row);
  else if (row >= s.top + page) ScrollToTop(hwnd, s, row - page + 1);
}

// Selects one row alone, focused and in view.
void SelectOnly(HWND hwnd, ListState& s, int row) {
  if (row < 0 || static_cast<size_t>(row) >= s.rows.size()) return;
  for (int other = 0; other < s.Count(); ++other)
    if (other != row && (s.states[static_cast<size_t>(other)] & LVIS_SELECTED)) SetState(hwnd, s, other, 0, LVIS_SELECTED);
  SetState(hwnd, s, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  EnsureVisible(hwnd, s, row);
}

int HitRow(HWND hwnd, ListState& s, POINT pt, UINT* flags) {
  RECT client;
  GetClientRect(hwnd, &client);
  *flags = 0;
  if (pt.y < RowsTop(hwnd)) *flags |= LVHT_ABOVE;
  if (pt.y >= client.bottom) *flags |= LVHT_BELOW;
  if (pt.x < 0) *flags |= LVHT_TOLEFT;
  if (pt.x >= client.right) *flags |= LVHT_TORIGHT;
  if (*flags) return -1;
  if (IconView(hwnd)) {
    *flags = LVHT_NOWHERE;
    // Placed items may overlap: the last drawn, on top, wins.
    for (int item = static_cast<int>(s.rows.size()) - 1; item >= 0; --item) {
      const RECT cell = IconCell(hwnd, s, item);
      const RECT image = IconImageRect(s, cell);
      const RECT label = IconLabelRect(s, cell);
      if (PtInRect(&image, pt)) *flags = LVHT_ONITEMICON;
      else if (PtInRect(&label, pt)) *flags = LVHT_ONITEMLABEL;
      else continue;
      return item;
    }
    return -1;
  }
  int row = s.top + (pt.y - RowsTop(hwnd)) / RowHeight(hwnd, s);
  RECT r = RowRect(hwnd, s, row);
  if (static_cast<size_t>(row) >= s.rows.size() || pt.x >= r.right) {
    *flags = LVHT_NOWHERE;
    return -1;
  }
  const int box = Checkboxes(s) ? kCheckBoxWidth : 0;
  if (pt.x < box) *flags = LVHT_ONITEMSTATEICON;
  else if (pt.x < box + SmallImageWidth(s)) *flags = LVHT_ONITEMICON;
  else *flags = LVHT_ONITEMLABEL;
  return row;
}


// Only the item's own place is painted again when the item changes (nothing when it is off screen).
void InvalidateRow(HWND hwnd, ListState& s, int row) {
  RECT area;
  if (IconView(hwnd)) {
    area = IconCell(hwnd, s, row);
  } else {
    RECT client;
    GetClientRect(hwnd, &client);
    const int h = RowHeight(hwnd, s);
    const int y = RowsTop(hwnd) + (row - s.top) * h;
    if (y >= client.bottom || y + h <= RowsTop(hwnd)) return;
    area = RECT{0, y, client.right, y + h};
  }
  InvalidateRect(hwnd, &area, FALSE);
}

void InvalidateFrom(HWND hwnd, ListState& s, int row) {
  if (IconView(hwnd) || row <= s.top) {
    InvalidateRect(hwnd, nullptr, TRUE);
    return;
  }
  RECT below;
  GetClientRect(hwnd, &below);
  below.top = std::max<LONG>(RowRect(hwnd, s, row).top, RowsTop(hwnd));
  if (below.top < below.bottom) InvalidateRect(hwnd, &below, TRUE);
}

// The scroll range in lines (rows, or lines of icons) and how many the client shows.
static void LinesAndPage(HWND hwnd, ListState& s, int& lines, int& page) {
  lines = s.Count();
  page = PerPage(hwnd, s);
  if (IconView(hwnd)) {
    const int across = IconsAcross(hwnd, s);
    lines = (s.Count() + across - 1) / across;
    RECT client;
    GetClientRect(hwnd, &client);
    page = std::max(1, static_cast<int>(client.bottom / CellSize(s).cy));
  }
}

// The range is the rows (or lines of icons) and the page what the client shows.
void UpdateScrollBar(HWND hwnd, ListState& s) {
  if (!(GetWindowLongPtr(hwnd, GWL_STYLE) & WS_VSCROLL)) return;
  int lines, page;
  LinesAndPage(hwnd, s, lines, page);
  SCROLLINFO info{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, std::max(lines - 1, 0),
                  static_cast<UINT>(page), s.top, 0};
  SetScrollInfo(hwnd, SB_VERT, &info, TRUE);
}

void ScrollToTop(HWND hwnd, ListState& s, int top) {
  int lines, page;
  LinesAndPage(hwnd, s, lines, page);
  top = std::clamp(top, 0, std::max(0, lines - page));
  if (top == s.top) return;
  s.top = top;
  InvalidateRect(hwnd, nullptr, FALSE);
  UpdateScrollBar(hwnd, s);
}

namespace {

// The header child, made at the list's first message (only the report view shows it).
void EnsureHeader(HWND hwnd, ListState& s, UINT message) {
  if (s.header || s.making || message == WM_NCDESTROY || message == WM_DESTROY || !IsWindow(hwnd)) return;
  s.making = true;
  RECT client;
  GetClientRect(hwnd, &client);
  const DWORD shown = IconView(hwnd) ? 0 : WS_VISIBLE;
  s.header = CreateWindowEx(0, WC_HEADER, "", WS_CHILD | shown, 0, 0, client.right, kHeaderHeight, hwnd, nullptr,
                            nullptr, nullptr);
  s.making = false;
}

// What every window hears: font, size, the dialog's keys, the end.
std::optional<LRESULT> ListWindow(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      SendMessage(s.header, WM_SETFONT, wParam, lParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_WINDOWPOSCHANGED:
      s.rowHeight = 0;  // measured again
      InvalidateRect(hwnd, nullptr, FALSE);
      return std::nullopt;  // the default sends WM_SIZE
    case WM_SIZE:
      if (s.header) MoveWindow(s.header, 0, 0, LOWORD(static_cast<uintptr_t>(lParam)), kHeaderHeight, TRUE);
      ScrollToTop(hwnd, s, s.top);  // a taller list may show rows from further up
      UpdateScrollBar(hwnd, s);
      return std::nullopt;
    case WM_DESTROY:
      DropEditor(s);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = StateOf<ListState>(hwnd, kListProp, message);
  if (s) EnsureHeader(hwnd, *s, message);
  return DispatchByFamily(hwnd, message, wParam, lParam, kListProp, s, PaintList, {ListApi, ListInput, ListWindow});
}

}  // namespace
}  // namespace tavrin::controls::detail::listview

namespace tavrin::controls {

void RegisterListControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    detail::RegisterControlClass(WC_HEADER, detail::HeaderProc, CS_DBLCLKS);
    detail::RegisterControlClass(WC_LISTVIEW, detail::listview::ListProc, CS_DBLCLKS);
  });
}

}  // namespace tavrin::controls
