// Painting the list view: report rows (custom draw per row and per cell, check boxes, small images, grid
// lines, the selection across the row or on the label) and the large-icon grid.
#include <algorithm>
#include <string>

#include "listview_internal.h"

namespace tavrin::controls::detail::listview {
namespace {

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

// An owner-drawn row: the parent draws it all.
void DrawOwnerRow(HWND hwnd, ListState& s, HDC hdc, int row, bool focused) {
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_LISTVIEW;
  item.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
  item.itemID = static_cast<UINT>(row);
  item.itemAction = ODA_DRAWENTIRE;
  item.hwndItem = hwnd;
  item.hDC = hdc;
  item.rcItem = RowRect(hwnd, s, row);
  item.itemData = static_cast<ULONG_PTR>(s.params[static_cast<size_t>(row)]);
  if (s.states[static_cast<size_t>(row)] & LVIS_SELECTED) item.itemState |= ODS_SELECTED;
  if ((s.states[static_cast<size_t>(row)] & LVIS_FOCUSED) && focused) item.itemState |= ODS_FOCUS;
  if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
}

void Fill(HDC hdc, const RECT& rect, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(hdc, &rect, brush);
  DeleteObject(brush);
}

UINT TextAlignment(const ListState& s, int column) {
  HDITEM item{};
  item.mask = HDI_FORMAT;
  SendMessage(s.header, HDM_GETITEM, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  return (item.fmt & HDF_CENTER) ? DT_CENTER : (item.fmt & HDF_RIGHT) ? DT_RIGHT : DT_LEFT;
}

// One row of the report: the parent may colour it and each of its cells (custom draw); the selection
// covers the row with full-row select, else the first cell.
void DrawReportRow(HWND hwnd, ListState& s, HDC hdc, int r, LRESULT asked, bool focused) {
  const size_t at = static_cast<size_t>(r);
  const RECT band = RowRect(hwnd, s, r);
  const int columns = ColumnCount(s);
  // A selected row in the highlight colours while the list has the focus (or always shows it).
  const bool lit = (s.states[at] & LVIS_SELECTED) && (focused || (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_SHOWSELALWAYS));
  const COLORREF litText = focused ? GetSysColor(COLOR_HIGHLIGHTTEXT) : s.text;
  const COLORREF litBack = GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
  const bool wholeRow = FullRowSelect(s);
  NMLVCUSTOMDRAW row{};
  row.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
  row.nmcd.hdc = hdc;
  row.nmcd.rc = band;
  row.nmcd.dwItemSpec = at;
  row.nmcd.lItemlParam = s.params[at];
  row.clrText = lit && wholeRow ? litText : s.text;
  row.clrTextBk = lit && wholeRow ? litBack : s.textBack;
  LRESULT rowAsked = CDRF_DODEFAULT;
  if (asked & CDRF_NOTIFYITEMDRAW) {
    if (s.states[at] & LVIS_SELECTED) row.nmcd.uItemState |= CDIS_SELECTED;
    if ((s.states[at] & LVIS_FOCUSED) && focused) row.nmcd.uItemState |= CDIS_FOCUS;
    rowAsked = NotifyDraw(hwnd, row);
    if (rowAsked & CDRF_SKIPDEFAULT) return;
  }
  // The row's own background only where it differs from the list's.
  if ((lit && wholeRow) || row.clrTextBk != s.back) Fill(hdc, band, row.clrTextBk);
  if (Checkboxes(s)) DrawCheckBox(hdc, s, r, band);
  // Every column's cell, text or none, so the parent may colour empty cells as well.
  for (int c = 0; c < columns; ++c) {
    RECT cell = CellRect(hwnd, s, r, c);
    if (c == 0 && Checkboxes(s)) cell.left += kCheckBoxWidth;
    COLORREF ink = row.clrText;
    COLORREF paper = row.clrTextBk;
    if (c == 0 && lit && !wholeRow) {
      ink = litText;
      paper = litBack;
    }
    if (rowAsked & CDRF_NOTIFYSUBITEMDRAW) {
      NMLVCUSTOMDRAW sub = row;
      sub.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
      sub.nmcd.rc = cell;
      sub.iSubItem = c;
      sub.clrText = ink;
      sub.clrTextBk = paper;
      if (NotifyDraw(hwnd, sub) & CDRF_SKIPDEFAULT) continue;
      ink = sub.clrText;
      paper = sub.clrTextBk;
    }
    if (paper != row.clrTextBk) Fill(hdc, cell, paper);
    if (c == 0 && s.small && s.images[at] >= 0) {
      int cx = 0, cy = 0;
      ImageList_GetIconSize(s.small, &cx, &cy);
      ImageList_Draw(s.small, s.images[at], hdc, cell.left, cell.top + (cell.bottom - cell.top - cy) / 2,
                     ILD_TRANSPARENT);
    }
    if (c == 0) cell.left += SmallImageWidth(s);
    if (at < s.rows.size() && static_cast<size_t>(c) < s.rows[at].size()) {
      SetTextColor(hdc, ink);
      RECT text{cell.left + 4, cell.top, cell.right - 4, cell.bottom};
      DrawText(hdc, s.rows[at][static_cast<size_t>(c)].c_str(), -1, &text,
               TextAlignment(s, c) | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }
  }
}

// Grid lines: under every row's place down to the bottom of the client area, and at every column's
// right edge.
void DrawGrid(HWND hwnd, ListState& s, HDC hdc, const RECT& client) {
  const int columns = ColumnCount(s);
  if (columns == 0) return;
  RECT last{};
  SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(columns - 1), reinterpret_cast<LPARAM>(&last));
  const int h = RowHeight(hwnd, s), top = RowsTop(hwnd);
  HBRUSH line = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  for (int y = top + h - 1; y < client.bottom; y += h) {
    RECT across{0, y, last.right, y + 1};
    FillRect(hdc, &across, line);
  }
  for (int c = 0; c < columns; ++c) {
    RECT cell{};
    SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&cell));
    RECT down{cell.right - 1, top, cell.right, client.bottom};
    FillRect(hdc, &down, line);
  }
  DeleteObject(line);
}

void PaintReport(HWND hwnd, ListState& s, HDC hdc, const RECT& dirty, bool focused) {
  RECT client;
  GetClientRect(hwnd, &client);
  const bool owner = (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_OWNERDRAWFIXED) != 0;
  // The parent may colour rows and cells itself (custom draw), asked once a paint.
  LRESULT asked = CDRF_DODEFAULT;
  if (!owner) {
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    draw.nmcd.hdc = hdc;
    draw.nmcd.rc = client;
    asked = NotifyDraw(hwnd, draw);
  }
  // Only the rows the paint needs.
  for (int r = std::max(s.top, 0); r < s.Count(); ++r) {
    const RECT band = RowRect(hwnd, s, r);
    if (band.top >= client.bottom || band.top >= dirty.bottom) break;
    if (band.bottom <= dirty.top) continue;
    if (owner) DrawOwnerRow(hwnd, s, hdc, r, focused);
    else DrawReportRow(hwnd, s, hdc, r, asked, focused);
  }
  if (!owner && (s.exStyle & LVS_EX_GRIDLINES)) DrawGrid(hwnd, s, hdc, client);
}

}  // namespace

void PaintList(HWND hwnd, ListState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH back = CreateSolidBrush(s.back);
  FillRect(hdc, &ps.rcPaint, back);
  DeleteObject(back);
  HGDIOBJ oldFont = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
  const bool focused = GetFocus() == hwnd;
  if (IconView(hwnd)) {
    PaintIcons(hwnd, s, hdc, client, focused);
  } else {
    PaintReport(hwnd, s, hdc, ps.rcPaint, focused);
  }
  SelectObject(hdc, oldFont);
  EndPaint(hwnd, &ps);
}

}  // namespace tavrin::controls::detail::listview
