// The header and the report-view list: their items live in state objects hung on the windows.
#include <algorithm>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "comctl_internal.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/gdi.h"
#include "win32/imagelist.h"
#include "win32/user_draw.h"
#include "win32/comctl.h"  // the header's mouse

namespace {

using tavrin::controls::detail::DefControlProc;
using tavrin::controls::detail::NotifyParent;
using tavrin::controls::detail::StateOf;

constexpr char kHeaderProp[] = "TavrinHeaderState";
constexpr char kListProp[] = "TavrinListState";
constexpr int kDivider = 4;  // half-width of the zone around a divider that counts as on it
constexpr int kRowHeight = kListRowHeight;

struct Column {
  std::string text;
  int width = 0;
  int format = HDF_STRING;
  LPARAM param = 0;
};

struct HeaderState {
  std::vector<Column> items;
  HFONT font = nullptr;
};

RECT ItemRect(HWND hwnd, const HeaderState& s, size_t index) {
  RECT client;
  GetClientRect(hwnd, &client);
  int x = 0;
  for (size_t i = 0; i < index; ++i) x += s.items[i].width;
  return RECT{x, 0, x + s.items[index].width, client.bottom};
}

void CopyText(const std::string& text, LPSTR buffer, int size) {
  if (size > 0) tavrin::controls::detail::CopyOut(text, buffer, static_cast<size_t>(size));
}

void PaintHeader(HWND hwnd, HeaderState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  // The background is the parent's to choose through WM_ERASEBKGND of the header; default face here.
  if (SendMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) == 0) {
    FillRect(hdc, &client, GetSysColorBrush(COLOR_BTNFACE));
  }
  HGDIOBJ oldFont = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  NMCUSTOMDRAW draw{};
  draw.dwDrawStage = CDDS_PREPAINT;
  draw.hdc = hdc;
  draw.rc = client;
  LRESULT asked = NotifyParent(hwnd, draw.hdr, NM_CUSTOMDRAW);
  for (size_t i = 0; i < s.items.size(); ++i) {
    RECT rc = ItemRect(hwnd, s, i);
    SetTextColor(hdc, GetSysColor(COLOR_BTNTEXT));
    SetBkColor(hdc, GetSysColor(COLOR_BTNFACE));
    if (asked & CDRF_NOTIFYITEMDRAW) {
      NMCUSTOMDRAW item{};
      item.dwDrawStage = CDDS_ITEMPREPAINT;
      item.hdc = hdc;
      item.rc = rc;
      item.dwItemSpec = i;
      item.lItemlParam = s.items[i].param;
      if (NotifyParent(hwnd, item.hdr, NM_CUSTOMDRAW) & CDRF_SKIPDEFAULT) continue;
    }
    if (s.items[i].format & HDF_OWNERDRAW) {
      DRAWITEMSTRUCT di{};
      di.CtlType = ODT_HEADER;
      di.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
      di.itemID = static_cast<UINT>(i);
      di.itemAction = ODA_DRAWENTIRE;
      di.hwndItem = hwnd;
      di.hDC = hdc;
      di.rcItem = rc;
      di.itemData = static_cast<ULONG_PTR>(s.items[i].param);
      if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, di.CtlID, reinterpret_cast<LPARAM>(&di));
      continue;
    }
    RECT edge = rc;
    DrawEdge(hdc, &edge, EDGE_RAISED, BF_RECT);
    RECT text = rc;
    InflateRect(&text, -6, 0);
    UINT align = (s.items[i].format & HDF_CENTER) ? DT_CENTER : (s.items[i].format & HDF_RIGHT) ? DT_RIGHT : DT_LEFT;
    SetBkMode(hdc, TRANSPARENT);
    DrawText(hdc, s.items[i].text.c_str(), -1, &text, align | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
  SelectObject(hdc, oldFont);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK HeaderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = StateOf<HeaderState>(hwnd, kHeaderProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  if (LRESULT mouse = 0; tavrin::controls::detail::HeaderMouse(hwnd, message, wParam, lParam, mouse)) return mouse;
  switch (message) {
    case HDM_GETITEMCOUNT:
      return static_cast<LRESULT>(s->items.size());
    case HDM_INSERTITEM: {
      auto* item = reinterpret_cast<const HDITEM*>(lParam);
      if (!item) return -1;
      Column column;
      if ((item->mask & HDI_TEXT) && item->pszText) column.text = item->pszText;
      if (item->mask & HDI_WIDTH) column.width = std::max(item->cxy, 0);
      if (item->mask & HDI_FORMAT) column.format = item->fmt;
      if (item->mask & HDI_LPARAM) column.param = item->lParam;
      size_t at = std::min(static_cast<size_t>(wParam), s->items.size());
      s->items.insert(s->items.begin() + static_cast<ptrdiff_t>(at), column);
      InvalidateRect(hwnd, nullptr, TRUE);
      return static_cast<LRESULT>(at);
    }
    case HDM_DELETEITEM:
      if (wParam >= s->items.size()) return FALSE;
      s->items.erase(s->items.begin() + static_cast<ptrdiff_t>(wParam));
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case HDM_GETITEM:
    case HDM_SETITEM: {
      auto* item = reinterpret_cast<HDITEM*>(lParam);
      if (!item || wParam >= s->items.size()) return FALSE;
      Column& column = s->items[wParam];
      if (message == HDM_SETITEM) {
        if ((item->mask & HDI_TEXT) && item->pszText) column.text = item->pszText;
        if (item->mask & HDI_WIDTH) column.width = std::max(item->cxy, 0);
        if (item->mask & HDI_FORMAT) column.format = item->fmt;
        if (item->mask & HDI_LPARAM) column.param = item->lParam;
        InvalidateRect(hwnd, nullptr, TRUE);
        if (HWND parent = GetParent(hwnd)) InvalidateRect(parent, nullptr, TRUE);
        return TRUE;
      }
      if (item->mask & HDI_TEXT) CopyText(column.text, item->pszText, item->cchTextMax);
      if (item->mask & HDI_WIDTH) item->cxy = column.width;
      if (item->mask & HDI_FORMAT) item->fmt = column.format;
      if (item->mask & HDI_LPARAM) item->lParam = column.param;
      return TRUE;
    }
    case HDM_GETITEMRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect || wParam >= s->items.size()) return FALSE;
      *rect = ItemRect(hwnd, *s, wParam);
      return TRUE;
    }
    case HDM_HITTEST: {
      auto* info = reinterpret_cast<HDHITTESTINFO*>(lParam);
      if (!info) return -1;
      info->flags = HHT_NOWHERE;
      info->iItem = -1;
      for (size_t i = 0; i < s->items.size(); ++i) {
        RECT rc = ItemRect(hwnd, *s, i);
        if (info->pt.y < rc.top || info->pt.y >= rc.bottom) continue;
        if (info->pt.x >= rc.right - kDivider && info->pt.x < rc.right + kDivider) {
          info->flags = HHT_ONDIVIDER;
          info->iItem = static_cast<int>(i);
          // The divider of a later item may overlap: the right edge of this one wins.
          return info->iItem;
        }
        if (info->pt.x >= rc.left && info->pt.x < rc.right) {
          info->flags = HHT_ONHEADER;
          info->iItem = static_cast<int>(i);
        }
      }
      return info->iItem;
    }
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_ERASEBKGND:
      return 0;  // painted with the items
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kHeaderProp, s, PaintHeader);
}

struct ListState {
  HWND header = nullptr;
  bool making = false;  // the header is being made (its creation notifies this window)
  std::vector<std::vector<std::string>> rows;  // each row's texts by column
  std::vector<LPARAM> params;                   // each row's application value
  std::vector<UINT> states;                     // each row's LVIS_* bits
  std::vector<int> images;                      // each row's image index
  std::vector<POINT> places;                    // icon view: each item's set position, x INT_MIN when none
  HFONT font = nullptr;
  int top = 0;        // first row shown
  int rowHeight = 0;  // 0 until measured
  COLORREF back = GetSysColor(COLOR_WINDOW);
  COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
  COLORREF textBack = GetSysColor(COLOR_WINDOW);
  HIMAGELIST small = nullptr;
  HIMAGELIST state = nullptr;
  HIMAGELIST normal = nullptr;
  DWORD exStyle = 0;  // LVS_EX_*
  HWND edit = nullptr;  // the label editor while one is open
  int editRow = -1;
  WNDPROC editProc = nullptr;
};

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

RECT RowRect(HWND hwnd, ListState& s, int row) {
  RECT client;
  GetClientRect(hwnd, &client);
  int h = RowHeight(hwnd, s);
  int y = RowsTop(hwnd) + (row - s.top) * h;
  int right = client.right;
  int columns = static_cast<int>(SendMessage(s.header, HDM_GETITEMCOUNT, 0, 0));
  if (columns > 0) {
    RECT last;
    SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(columns - 1), reinterpret_cast<LPARAM>(&last));
    right = last.right;  // a row is as wide as its columns
  }
  return RECT{0, y, right, y + h};
}

int PerPage(HWND hwnd, ListState& s) {
  RECT client;
  GetClientRect(hwnd, &client);
  return std::max(1, (static_cast<int>(client.bottom) - RowsTop(hwnd)) / RowHeight(hwnd, s));
}

// Only the item's own place is painted again when the item changes.
void InvalidateItem(HWND hwnd, ListState& s, int row) {
  RECT area;
  if (IconView(hwnd)) {
    area = IconCell(hwnd, s, row);
  } else {
    RECT client;
    GetClientRect(hwnd, &client);
    const int h = RowHeight(hwnd, s);
    const int y = RowsTop(hwnd) + (row - s.top) * h;
    if (y >= client.bottom || y + h <= RowsTop(hwnd)) return;  // not on screen
    area = RECT{0, y, client.right, y + h};
  }
  InvalidateRect(hwnd, &area, FALSE);
}

void SetState(HWND hwnd, ListState& s, int row, UINT state, UINT mask) {
  if (row < 0 || static_cast<size_t>(row) >= s.states.size()) return;
  // One focused row at most.
  if (mask & state & LVIS_FOCUSED) {
    for (size_t other = 0; other < s.states.size(); ++other) {
      if (!(s.states[other] & LVIS_FOCUSED) || static_cast<int>(other) == row) continue;
      s.states[other] &= ~LVIS_FOCUSED;
      InvalidateItem(hwnd, s, static_cast<int>(other));
    }
  }
  UINT& st = s.states[static_cast<size_t>(row)];
  const UINT old = st;
  st = (st & ~mask) | (state & mask);
  if (st == old) return;
  InvalidateItem(hwnd, s, row);
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
    if (line < s.top) s.top = line;
    else if (line >= s.top + lines) s.top = line - lines + 1;
    InvalidateRect(hwnd, nullptr, FALSE);
    return;
  }
  int page = PerPage(hwnd, s);
  const int top = s.top;
  if (row < s.top) s.top = row;
  else if (row >= s.top + page) s.top = row - page + 1;
  if (s.top != top) InvalidateRect(hwnd, nullptr, FALSE);  // scrolled: every row moved
}

// Selects one row alone, focused and in view.
void SelectOnly(HWND hwnd, ListState& s, int row) {
  if (row < 0 || static_cast<size_t>(row) >= s.rows.size()) return;
  for (auto& st : s.states) st &= ~LVIS_SELECTED;
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
  *flags = Checkboxes(s) && pt.x < kCheckBoxWidth ? LVHT_ONITEMSTATEICON : LVHT_ONITEMLABEL;
  return row;
}

void EndEdit(HWND hwnd, ListState& s, bool commit);

LRESULT CALLBACK LabelEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND list = GetParent(edit);
  auto* s = list ? static_cast<ListState*>(GetProp(list, kListProp)) : nullptr;
  WNDPROC base = s && s->edit == edit ? s->editProc : nullptr;
  if (s && base) {
    if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
      EndEdit(list, *s, wParam == VK_RETURN);
      return 0;
    }
    if (message == WM_CHAR && (wParam == '\r' || wParam == 0x1B)) return 0;
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS | CallWindowProc(base, edit, message, wParam, lParam);
    if (message == WM_KILLFOCUS) {
      LRESULT r = CallWindowProc(base, edit, message, wParam, lParam);
      EndEdit(list, *s, true);
      return r;
    }
  }
  return base ? CallWindowProc(base, edit, message, wParam, lParam) : DefWindowProc(edit, message, wParam, lParam);
}

// Closes the label editor: the parent hears the new text (or none when cancelled) and, answering
// non-zero to a text, has it kept.
void EndEdit(HWND hwnd, ListState& s, bool commit) {
  if (!s.edit) return;
  HWND edit = s.edit;
  const int row = s.editRow;
  s.edit = nullptr;
  s.editRow = -1;
  char buffer[1024] = {};
  GetWindowText(edit, buffer, static_cast<int>(sizeof buffer));
  NMLVDISPINFO info{};
  info.item.iItem = row;
  info.item.mask = LVIF_TEXT | LVIF_PARAM;
  info.item.pszText = commit ? buffer : nullptr;
  info.item.cchTextMax = static_cast<int>(sizeof buffer);
  if (row >= 0 && static_cast<size_t>(row) < s.params.size()) info.item.lParam = s.params[static_cast<size_t>(row)];
  SetWindowLongPtr(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s.editProc));
  s.editProc = nullptr;
  DestroyWindow(edit);
  LRESULT keep = NotifyParent(hwnd, info.hdr, LVN_ENDLABELEDITA);
  if (commit && keep && row >= 0 && static_cast<size_t>(row) < s.rows.size()) s.rows[static_cast<size_t>(row)][0] = buffer;
  InvalidateRect(hwnd, nullptr, FALSE);
}

HWND BeginEdit(HWND hwnd, ListState& s, int row) {
  EndEdit(hwnd, s, true);
  if (row < 0 || static_cast<size_t>(row) >= s.rows.size()) return nullptr;
  if (GetFocus() != hwnd) SetFocus(hwnd);
  NMLVDISPINFO info{};
  info.item.mask = LVIF_TEXT | LVIF_PARAM;
  info.item.iItem = row;
  info.item.pszText = const_cast<LPSTR>(s.rows[static_cast<size_t>(row)][0].c_str());
  info.item.lParam = s.params[static_cast<size_t>(row)];
  if (NotifyParent(hwnd, info.hdr, LVN_BEGINLABELEDITA)) return nullptr;
  if (static_cast<size_t>(row) >= s.rows.size()) return nullptr;
  RECT r = RowRect(hwnd, s, row);
  RECT first{0, 0, 0, 0};
  if (SendMessage(s.header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first))) r.right = first.right;
  tavrin::controls::RegisterDialogControls();
  HWND edit = CreateWindowEx(0, "Edit", s.rows[static_cast<size_t>(row)][0].c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                             r.left, r.top, r.right - r.left, r.bottom - r.top, hwnd, nullptr, nullptr, nullptr);
  if (!edit) return nullptr;
  if (s.font) SendMessage(edit, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
  s.edit = edit;
  s.editRow = row;
  s.editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtr(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LabelEditProc)));
  SendMessage(edit, EM_SETSEL, 0, -1);
  SetFocus(edit);
  return edit;
}

// A row's check box: state image 1 or 2 from the state image list when one is set, else drawn here.
void DrawCheckBox(HDC hdc, const ListState& s, int row, const RECT& band) {
  const UINT index = (s.states[static_cast<size_t>(row)] & LVIS_STATEIMAGEMASK) >> 12;
  if (index == 0) return;
  const int top = band.top + (band.bottom - band.top - 13) / 2;
  if (s.state) {
    ImageList_Draw(s.state, static_cast<int>(index) - 1, hdc, band.left + 1, top, ILD_TRANSPARENT);
    return;
  }
  RECT box{band.left + 1, top, band.left + 14, top + 13};
  FillRect(hdc, &box, GetSysColorBrush(COLOR_WINDOW));
  FrameRect(hdc, &box, GetSysColorBrush(COLOR_WINDOWTEXT));
  if (index != 2) return;
  // The tick: a short stroke down then a long one up, three pixels thick.
  HBRUSH ink = GetSysColorBrush(COLOR_WINDOWTEXT);
  for (int i = 0; i < 7; ++i) {
    const int x = box.left + 3 + i;
    const int y = i < 3 ? box.top + 5 + i : box.top + 7 - (i - 2);
    RECT dot{x, y, x + 1, y + 3};
    FillRect(hdc, &dot, ink);
  }
}

LRESULT NotifyDraw(HWND hwnd, NMLVCUSTOMDRAW& draw) { return NotifyParent(hwnd, draw.nmcd.hdr, NM_CUSTOMDRAW); }

void PaintIcons(HWND hwnd, ListState& s, HDC hdc, const RECT& client, bool focused) {
  for (size_t i = 0; i < s.rows.size(); ++i) {
    const RECT cell = IconCell(hwnd, s, static_cast<int>(i));
    if (cell.top >= client.bottom || cell.bottom <= 0) continue;
    if (s.normal && s.images[i] >= 0) {
      const RECT image = IconImageRect(s, cell);
      ImageList_Draw(s.normal, s.images[i], hdc, image.left, image.top, ILD_TRANSPARENT);
    }
    RECT label = IconLabelRect(s, cell);
    const bool lit = (s.states[i] & LVIS_SELECTED) && (focused || (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_SHOWSELALWAYS));
    if (lit) FillRect(hdc, &label, GetSysColorBrush(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE));
    SetTextColor(hdc, lit && focused ? GetSysColor(COLOR_HIGHLIGHTTEXT) : s.text);
    DrawText(hdc, s.rows[i][0].c_str(), -1, &label, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_END_ELLIPSIS);
    if ((s.states[i] & LVIS_FOCUSED) && focused) DrawFocusRect(hdc, &label);
  }
}

void PaintList(HWND hwnd, ListState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH back = CreateSolidBrush(s.back);
  FillRect(hdc, &client, back);
  DeleteObject(back);
  HGDIOBJ oldFont = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
  const bool focused = GetFocus() == hwnd;
  if (IconView(hwnd)) {
    PaintIcons(hwnd, s, hdc, client, focused);
    SelectObject(hdc, oldFont);
    EndPaint(hwnd, &ps);
    return;
  }
  int columns = static_cast<int>(SendMessage(s.header, HDM_GETITEMCOUNT, 0, 0));
  const bool owner = (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_OWNERDRAWFIXED) != 0;
  const int h = RowHeight(hwnd, s);
  // The parent may colour rows and cells itself (custom draw), asked once a paint.
  LRESULT asked = CDRF_DODEFAULT;
  if (!owner) {
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    draw.nmcd.hdc = hdc;
    draw.nmcd.rc = client;
    asked = NotifyDraw(hwnd, draw);
  }
  for (size_t r = static_cast<size_t>(std::max(s.top, 0)); r < s.rows.size(); ++r) {
    int y = RowsTop(hwnd) + (static_cast<int>(r) - s.top) * h;
    if (y >= client.bottom || y >= ps.rcPaint.bottom) break;
    if (y + h <= ps.rcPaint.top) continue;  // only the rows the paint is for
    if (owner) {
      DRAWITEMSTRUCT item{};
      item.CtlType = ODT_LISTVIEW;
      item.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
      item.itemID = static_cast<UINT>(r);
      item.itemAction = ODA_DRAWENTIRE;
      item.hwndItem = hwnd;
      item.hDC = hdc;
      item.rcItem = RowRect(hwnd, s, static_cast<int>(r));
      item.itemData = static_cast<ULONG_PTR>(s.params[r]);
      if (s.states[r] & LVIS_SELECTED) item.itemState |= ODS_SELECTED;
      if ((s.states[r] & LVIS_FOCUSED) && focused) item.itemState |= ODS_FOCUS;
      if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
      continue;
    }
    const RECT band = RowRect(hwnd, s, static_cast<int>(r));
    // A selected row in the highlight colours while the list has the focus (or always shows it).
    const bool lit = (s.states[r] & LVIS_SELECTED) && (focused || (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_SHOWSELALWAYS));
    NMLVCUSTOMDRAW row{};
    row.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    row.nmcd.hdc = hdc;
    row.nmcd.rc = band;
    row.nmcd.dwItemSpec = r;
    row.nmcd.lItemlParam = s.params[r];
    row.clrText = lit && focused ? GetSysColor(COLOR_HIGHLIGHTTEXT) : s.text;
    row.clrTextBk = lit ? GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE) : s.textBack;
    LRESULT rowAsked = CDRF_DODEFAULT;
    if (asked & CDRF_NOTIFYITEMDRAW) {
      if (s.states[r] & LVIS_SELECTED) row.nmcd.uItemState |= CDIS_SELECTED;
      if ((s.states[r] & LVIS_FOCUSED) && focused) row.nmcd.uItemState |= CDIS_FOCUS;
      rowAsked = NotifyDraw(hwnd, row);
      if (rowAsked & CDRF_SKIPDEFAULT) continue;
    }
    // The row's own background only where it differs from the list's.
    if (lit || row.clrTextBk != s.back) {
      HBRUSH fill = CreateSolidBrush(row.clrTextBk);
      FillRect(hdc, &band, fill);
      DeleteObject(fill);
    }
    if (Checkboxes(s)) DrawCheckBox(hdc, s, static_cast<int>(r), band);
    // Every column's cell, text or none, so the parent may colour empty cells as well.
    for (int c = 0; c < columns; ++c) {
      RECT cell;
      SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&cell));
      if (c == 0 && Checkboxes(s)) cell.left += kCheckBoxWidth;
      COLORREF ink = row.clrText;
      if (rowAsked & CDRF_NOTIFYSUBITEMDRAW) {
        NMLVCUSTOMDRAW sub = row;
        sub.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
        sub.nmcd.rc = RECT{cell.left, y, cell.right, y + h};
        sub.iSubItem = c;
        if (NotifyDraw(hwnd, sub) & CDRF_SKIPDEFAULT) continue;
        if (sub.clrTextBk != row.clrTextBk) {
          HBRUSH fill = CreateSolidBrush(sub.clrTextBk);
          FillRect(hdc, &sub.nmcd.rc, fill);
          DeleteObject(fill);
        }
        ink = sub.clrText;
      }
      SetTextColor(hdc, ink);
      RECT text{cell.left + 4, y, cell.right - 4, y + h};
      if (static_cast<size_t>(c) >= s.rows[r].size()) continue;
      DrawText(hdc, s.rows[r][static_cast<size_t>(c)].c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }
  }
  SelectObject(hdc, oldFont);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = StateOf<ListState>(hwnd, kListProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  if (!s->header && !s->making && message != WM_NCDESTROY && message != WM_DESTROY && IsWindow(hwnd)) {
    s->making = true;
    RECT client;
    GetClientRect(hwnd, &client);
    // Only the report view shows its header.
    const DWORD shown = IconView(hwnd) ? 0 : WS_VISIBLE;
    s->header = CreateWindowEx(0, WC_HEADER, "", WS_CHILD | shown, 0, 0, client.right, kHeaderHeight, hwnd,
                               nullptr, nullptr, nullptr);
    s->making = false;
  }
  switch (message) {
    case LVM_GETHEADER:
      return reinterpret_cast<LRESULT>(s->header);
    case LVM_INSERTCOLUMNA: {
      auto* col = reinterpret_cast<const LVCOLUMN*>(lParam);
      if (!col) return -1;
      HDITEM item{};
      item.mask = HDI_FORMAT | HDI_WIDTH | HDI_TEXT;
      item.fmt = HDF_STRING | ((col->mask & LVCF_FMT) ? col->fmt & 3 : 0);
      item.cxy = (col->mask & LVCF_WIDTH) ? col->cx : 50;
      item.pszText = (col->mask & LVCF_TEXT) ? col->pszText : const_cast<LPSTR>("");
      return SendMessage(s->header, HDM_INSERTITEM, wParam, reinterpret_cast<LPARAM>(&item));
    }
    case LVM_GETITEMCOUNT:
      return static_cast<LRESULT>(s->rows.size());
    case LVM_INSERTITEMA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || item->iItem < 0) return -1;
      size_t at = std::min(static_cast<size_t>(item->iItem), s->rows.size());
      std::vector<std::string> row(1);
      if ((item->mask & LVIF_TEXT) && item->pszText && item->pszText != reinterpret_cast<LPSTR>(-1)) row[0] = item->pszText;
      s->rows.insert(s->rows.begin() + static_cast<ptrdiff_t>(at), row);
      s->params.insert(s->params.begin() + static_cast<ptrdiff_t>(at), (item->mask & LVIF_PARAM) ? item->lParam : 0);
      UINT state = (item->mask & LVIF_STATE) ? item->state & item->stateMask : 0;
      if (Checkboxes(*s) && !(state & LVIS_STATEIMAGEMASK)) state |= INDEXTOSTATEIMAGEMASK(1);
      s->states.insert(s->states.begin() + static_cast<ptrdiff_t>(at), state);
      s->images.insert(s->images.begin() + static_cast<ptrdiff_t>(at), (item->mask & LVIF_IMAGE) ? item->iImage : -1);
      s->places.insert(s->places.begin() + static_cast<ptrdiff_t>(at), POINT{INT_MIN, 0});
      if (s->editRow >= static_cast<int>(at)) ++s->editRow;
      InvalidateRect(hwnd, nullptr, TRUE);
      return static_cast<LRESULT>(at);
    }
    case LVM_SETITEMTEXTA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || wParam >= s->rows.size() || item->iSubItem < 0 || item->iSubItem > 255) return FALSE;
      auto& row = s->rows[wParam];
      if (row.size() <= static_cast<size_t>(item->iSubItem)) row.resize(static_cast<size_t>(item->iSubItem) + 1);
      row[static_cast<size_t>(item->iSubItem)] = item->pszText ? item->pszText : "";
      InvalidateItem(hwnd, *s, static_cast<int>(wParam));
      return TRUE;
    }
    case LVM_GETITEMTEXTA: {
      auto* item = reinterpret_cast<LVITEM*>(lParam);
      if (!item || wParam >= s->rows.size() || item->iSubItem < 0) return 0;
      const auto& row = s->rows[wParam];
      std::string text = static_cast<size_t>(item->iSubItem) < row.size() ? row[static_cast<size_t>(item->iSubItem)] : "";
      CopyText(text, item->pszText, item->cchTextMax);
      return static_cast<LRESULT>(std::min(text.size(), static_cast<size_t>(std::max(item->cchTextMax - 1, 0))));
    }
    case LVM_GETITEMA: {
      auto* item = reinterpret_cast<LVITEM*>(lParam);
      if (!item || item->iItem < 0 || static_cast<size_t>(item->iItem) >= s->rows.size()) return FALSE;
      const auto at = static_cast<size_t>(item->iItem);
      if (item->mask & LVIF_PARAM) item->lParam = s->params[at];
      if (item->mask & LVIF_STATE) item->state = s->states[at] & item->stateMask;
      if (item->mask & LVIF_IMAGE) item->iImage = s->images[at];
      if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
        const auto& row = s->rows[at];
        size_t sub = static_cast<size_t>(std::max(item->iSubItem, 0));
        CopyText(sub < row.size() ? row[sub] : "", item->pszText, item->cchTextMax);
      }
      return TRUE;
    }
    case LVM_SETITEMA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || item->iItem < 0 || static_cast<size_t>(item->iItem) >= s->rows.size()) return FALSE;
      const auto at = static_cast<size_t>(item->iItem);
      if (item->mask & LVIF_PARAM) s->params[at] = item->lParam;
      if (item->mask & LVIF_IMAGE) s->images[at] = item->iImage;
      if (item->mask & LVIF_STATE) SetState(hwnd, *s, item->iItem, item->state, item->stateMask);
      if ((item->mask & LVIF_TEXT) && item->iSubItem >= 0 && item->iSubItem <= 255) {
        auto& row = s->rows[at];
        if (row.size() <= static_cast<size_t>(item->iSubItem)) row.resize(static_cast<size_t>(item->iSubItem) + 1);
        row[static_cast<size_t>(item->iSubItem)] = item->pszText && item->pszText != reinterpret_cast<LPSTR>(-1) ? item->pszText : "";
      }
      InvalidateItem(hwnd, *s, item->iItem);
      return TRUE;
    }
    case LVM_GETITEMSTATE:
      return wParam < s->states.size() ? static_cast<LRESULT>(s->states[wParam] & static_cast<UINT>(lParam)) : 0;
    case LVM_SETITEMSTATE: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item) return FALSE;
      if (static_cast<int>(wParam) == -1) {
        for (size_t r = 0; r < s->states.size(); ++r) SetState(hwnd, *s, static_cast<int>(r), item->state, item->stateMask);
        return TRUE;
      }
      if (wParam >= s->states.size()) return FALSE;
      SetState(hwnd, *s, static_cast<int>(wParam), item->state, item->stateMask);
      return TRUE;
    }
    case LVM_GETNEXTITEM: {
      UINT want = static_cast<UINT>(lParam) & (LVNI_FOCUSED | LVNI_SELECTED | LVNI_DROPHILITED);
      for (size_t r = static_cast<int>(wParam) < 0 ? 0 : wParam + 1; r < s->states.size(); ++r) {
        if ((s->states[r] & want) == want) return static_cast<LRESULT>(r);
      }
      return -1;
    }
    case LVM_GETSELECTEDCOUNT:
      return std::count_if(s->states.begin(), s->states.end(), [](UINT st) { return (st & LVIS_SELECTED) != 0; });
    case LVM_GETITEMRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect || wParam >= s->rows.size()) return FALSE;
      if (IconView(hwnd)) {
        const RECT cell = IconCell(hwnd, *s, static_cast<int>(wParam));
        *rect = rect->left == LVIR_ICON ? IconImageRect(*s, cell) : rect->left == LVIR_LABEL ? IconLabelRect(*s, cell) : cell;
        return TRUE;
      }
      *rect = RowRect(hwnd, *s, static_cast<int>(wParam));
      return TRUE;
    }
    case LVM_HITTEST: {
      auto* hit = reinterpret_cast<LVHITTESTINFO*>(lParam);
      if (!hit) return -1;
      hit->iItem = HitRow(hwnd, *s, hit->pt, &hit->flags);
      hit->iSubItem = 0;
      return hit->iItem;
    }
    case LVM_SUBITEMHITTEST: {
      auto* hit = reinterpret_cast<LVHITTESTINFO*>(lParam);
      if (!hit) return -1;
      hit->iItem = HitRow(hwnd, *s, hit->pt, &hit->flags);
      hit->iSubItem = 0;
      if (hit->iItem < 0 || IconView(hwnd)) return hit->iItem;
      const int columns = static_cast<int>(SendMessage(s->header, HDM_GETITEMCOUNT, 0, 0));
      for (int c = 0; c < columns; ++c) {
        RECT cell{};
        SendMessage(s->header, HDM_GETITEMRECT, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&cell));
        if (hit->pt.x >= cell.left && hit->pt.x < cell.right) hit->iSubItem = c;
      }
      return hit->iItem;
    }
    case LVM_SETITEMPOSITION:
    case LVM_SETITEMPOSITION32: {
      if (wParam >= s->places.size()) return FALSE;
      POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (message == LVM_SETITEMPOSITION32) {
        if (!lParam) return FALSE;
        at = *reinterpret_cast<const POINT*>(lParam);
      }
      if (at.x == INT_MIN) at.x = INT_MIN + 1;  // INT_MIN marks "not placed"
      s->places[wParam] = at;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    }
    case LVM_GETITEMPOSITION: {
      auto* at = reinterpret_cast<POINT*>(lParam);
      if (!at || wParam >= s->rows.size()) return FALSE;
      RECT cell = IconCell(hwnd, *s, static_cast<int>(wParam));
      *at = POINT{cell.left, cell.top};
      return TRUE;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return static_cast<LRESULT>(s->exStyle);
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
      const DWORD old = s->exStyle;
      const DWORD mask = wParam ? static_cast<DWORD>(wParam) : ~0u;
      s->exStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
      if (Checkboxes(*s) && !(old & LVS_EX_CHECKBOXES)) {
        for (auto& st : s->states) {
          if (!(st & LVIS_STATEIMAGEMASK)) st |= INDEXTOSTATEIMAGEMASK(1);
        }
      }
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(old);
    }
    case LVM_ENSUREVISIBLE:
      EnsureVisible(hwnd, *s, static_cast<int>(wParam));
      return TRUE;
    case LVM_SCROLL: {
      int rows = static_cast<int>(lParam) / RowHeight(hwnd, *s);
      int maxTop = std::max(0, static_cast<int>(s->rows.size()) - PerPage(hwnd, *s));
      s->top = std::clamp(s->top + rows, 0, maxTop);
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    }
    case LVM_REDRAWITEMS:
      for (int row = static_cast<int>(wParam); row <= static_cast<int>(lParam) && static_cast<size_t>(row) < s->rows.size(); ++row)
        InvalidateItem(hwnd, *s, row);
      return TRUE;
    case LVM_GETTOPINDEX:
      return s->top;
    case LVM_GETCOUNTPERPAGE:
      return PerPage(hwnd, *s);
    case LVM_GETBKCOLOR:
      return static_cast<LRESULT>(s->back);
    case LVM_SETBKCOLOR:
      s->back = static_cast<COLORREF>(lParam);
      return TRUE;
    case LVM_GETTEXTCOLOR:
      return static_cast<LRESULT>(s->text);
    case LVM_SETTEXTCOLOR:
      s->text = static_cast<COLORREF>(lParam);
      return TRUE;
    case LVM_GETTEXTBKCOLOR:
      return static_cast<LRESULT>(s->textBack);
    case LVM_SETTEXTBKCOLOR:
      s->textBack = static_cast<COLORREF>(lParam);
      return TRUE;
    case LVM_GETIMAGELIST:
      return reinterpret_cast<LRESULT>(wParam == LVSIL_STATE ? s->state : wParam == LVSIL_SMALL ? s->small
                                       : wParam == LVSIL_NORMAL ? s->normal : nullptr);
    case LVM_SETIMAGELIST: {
      HIMAGELIST* slot = wParam == LVSIL_STATE ? &s->state : wParam == LVSIL_SMALL ? &s->small
                         : wParam == LVSIL_NORMAL ? &s->normal : nullptr;
      if (!slot) return 0;
      HIMAGELIST old = *slot;
      *slot = reinterpret_cast<HIMAGELIST>(lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return reinterpret_cast<LRESULT>(old);
    }
    case LVM_GETCOLUMNA: {
      auto* col = reinterpret_cast<LVCOLUMN*>(lParam);
      HDITEM item{};
      item.mask = HDI_FORMAT | HDI_WIDTH;
      if (!col || !SendMessage(s->header, HDM_GETITEM, wParam, reinterpret_cast<LPARAM>(&item))) return FALSE;
      if (col->mask & LVCF_FMT) col->fmt = item.fmt & 3;
      if (col->mask & LVCF_WIDTH) col->cx = item.cxy;
      return TRUE;
    }
    case LVM_GETCOLUMNWIDTH: {
      HDITEM item{};
      item.mask = HDI_WIDTH;
      return SendMessage(s->header, HDM_GETITEM, wParam, reinterpret_cast<LPARAM>(&item)) ? item.cxy : 0;
    }
    case LVM_SETCOLUMNWIDTH: {
      HDITEM item{};
      item.mask = HDI_WIDTH;
      item.cxy = std::max(0, static_cast<int>(static_cast<short>(LOWORD(static_cast<uintptr_t>(lParam)))));
      LRESULT ok = SendMessage(s->header, HDM_SETITEM, wParam, reinterpret_cast<LPARAM>(&item));
      InvalidateRect(hwnd, nullptr, FALSE);
      return ok;
    }
    case LVM_DELETECOLUMN: {
      LRESULT ok = SendMessage(s->header, HDM_DELETEITEM, wParam, 0);
      if (ok) {
        for (auto& row : s->rows) {
          if (wParam < row.size()) row.erase(row.begin() + static_cast<ptrdiff_t>(wParam));
          if (row.empty()) row.resize(1);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return ok;
    }
    case LVM_EDITLABELA:
      if (static_cast<int>(wParam) < 0) {
        EndEdit(hwnd, *s, false);
        return 0;
      }
      return reinterpret_cast<LRESULT>(BeginEdit(hwnd, *s, static_cast<int>(wParam)));
    case LVM_GETEDITCONTROL:
      return reinterpret_cast<LRESULT>(s->edit);
    case LVM_CANCELEDITLABEL:
      EndEdit(hwnd, *s, false);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      UINT flags = 0;
      int row = HitRow(hwnd, *s, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, &flags);
      const bool single = (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_SINGLESEL) != 0;
      if (row >= 0 && message == WM_LBUTTONDOWN && flags == LVHT_ONITEMSTATEICON) {
        ToggleCheck(hwnd, *s, row);
      } else if (row >= 0) {
        if (message != WM_LBUTTONDBLCLK && !single && (wParam & MK_CONTROL)) {
          SetState(hwnd, *s, row, (s->states[static_cast<size_t>(row)] ^ LVIS_SELECTED) | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        } else if (message != WM_LBUTTONDBLCLK) {
          SelectOnly(hwnd, *s, row);
        }
      } else if (message == WM_LBUTTONDOWN && !(wParam & MK_CONTROL)) {
        for (size_t r = 0; r < s->states.size(); ++r) SetState(hwnd, *s, static_cast<int>(r), 0, LVIS_SELECTED);
      }
      NotifyParent(hwnd, message == WM_RBUTTONDOWN ? NM_RCLICK : message == WM_LBUTTONDBLCLK ? NM_DBLCLK : NM_CLICK);
      return 0;
    }
    case WM_KEYDOWN: {
      if (s->rows.empty()) return 0;
      const int last = static_cast<int>(s->rows.size()) - 1;
      int focus = static_cast<int>(SendMessage(hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
      int to = focus;
      // In the icon grid up and down move a whole line of cells, left and right one cell.
      const int step = IconView(hwnd) ? IconsAcross(hwnd, *s) : 1;
      switch (wParam) {
        case VK_SPACE:
          ToggleCheck(hwnd, *s, focus);
          return 0;
        case VK_LEFT:
        case VK_RIGHT:
          if (!IconView(hwnd)) return 0;
          to = focus < 0 ? 0 : std::clamp(focus + (wParam == VK_LEFT ? -1 : 1), 0, last);
          break;
        case VK_UP: to = focus < 0 ? 0 : (focus - step >= 0 ? focus - step : focus); break;
        case VK_DOWN: to = focus < 0 ? 0 : (focus + step <= last ? focus + step : focus); break;
        case VK_HOME: to = 0; break;
        case VK_END: to = last; break;
        case VK_PRIOR: to = std::max((focus < 0 ? 0 : focus) - (PerPage(hwnd, *s) - 1), 0); break;
        case VK_NEXT: to = std::min((focus < 0 ? 0 : focus) + (PerPage(hwnd, *s) - 1), last); break;
        default: return 0;
      }
      SelectOnly(hwnd, *s, to);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      NotifyParent(hwnd, message == WM_SETFOCUS ? NM_SETFOCUS : NM_KILLFOCUS);
      return 0;
    case WM_VSCROLL: {
      int delta = 0;
      switch (LOWORD(wParam)) {
        case SB_LINEUP: delta = -1; break;
        case SB_LINEDOWN: delta = 1; break;
        case SB_PAGEUP: delta = -PerPage(hwnd, *s); break;
        case SB_PAGEDOWN: delta = PerPage(hwnd, *s); break;
        default: break;
      }
      SendMessage(hwnd, LVM_SCROLL, 0, delta * RowHeight(hwnd, *s));
      return 0;
    }
    case WM_WINDOWPOSCHANGED:
      s->rowHeight = 0;  // measured again
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case LVM_FINDITEMA: {
      auto* find = reinterpret_cast<const LVFINDINFO*>(lParam);
      if (!find || !(find->flags & LVFI_PARAM)) return -1;
      size_t start = static_cast<int>(wParam) < 0 ? 0 : static_cast<size_t>(wParam) + 1;
      for (size_t i = start; i < s->params.size(); ++i) {
        if (s->params[i] == find->lParam) return static_cast<LRESULT>(i);
      }
      return -1;
    }
    case LVM_DELETEITEM:
      if (wParam >= s->rows.size()) return FALSE;
      if (s->editRow == static_cast<int>(wParam)) EndEdit(hwnd, *s, false);
      s->rows.erase(s->rows.begin() + static_cast<ptrdiff_t>(wParam));
      s->params.erase(s->params.begin() + static_cast<ptrdiff_t>(wParam));
      s->states.erase(s->states.begin() + static_cast<ptrdiff_t>(wParam));
      s->images.erase(s->images.begin() + static_cast<ptrdiff_t>(wParam));
      s->places.erase(s->places.begin() + static_cast<ptrdiff_t>(wParam));
      if (s->editRow > static_cast<int>(wParam)) --s->editRow;
      s->top = std::clamp(s->top, 0, std::max(0, static_cast<int>(s->rows.size()) - 1));
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case LVM_DELETEALLITEMS:
      EndEdit(hwnd, *s, false);
      s->params.clear();
      s->rows.clear();
      s->states.clear();
      s->images.clear();
      s->places.clear();
      s->top = 0;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      SendMessage(s->header, WM_SETFONT, wParam, lParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_SIZE:
      if (s->header) MoveWindow(s->header, 0, 0, LOWORD(static_cast<uintptr_t>(lParam)), kHeaderHeight, TRUE);
      break;
    case WM_DESTROY:
      // An open editor goes with the list, unannounced.
      if (s->edit) {
        SetWindowLongPtr(s->edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s->editProc));
        s->edit = nullptr;
        s->editRow = -1;
      }
      break;
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kListProp, s, PaintList);
}

}  // namespace

namespace tavrin::controls {

void RegisterListControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    detail::RegisterControlClass(WC_HEADER, HeaderProc, CS_DBLCLKS);
    detail::RegisterControlClass(WC_LISTVIEW, ListProc, CS_DBLCLKS);
  });
}

}  // namespace tavrin::controls
