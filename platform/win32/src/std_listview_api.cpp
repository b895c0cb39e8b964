// The list view's own messages (LVM_*): items and their texts, states and values; columns through the
// header; and the view: rectangles, hit tests, scrolling, colours, image lists and extended styles.
#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "listview_internal.h"

namespace tavrin::controls::detail::listview {
namespace {

void CopyText(const std::string& text, LPSTR buffer, int size) {
  if (size > 0) CopyOut(text, buffer, static_cast<size_t>(size));
}

// A part of a report row: LVIR_BOUNDS the cell (the whole row for column 0 with full-row select),
// LVIR_ICON its small image, LVIR_LABEL the rest.
RECT ReportPart(HWND hwnd, ListState& s, int row, int column, LONG code) {
  if (ColumnCount(s) == 0) return RowRect(hwnd, s, row);
  RECT cell = CellRect(hwnd, s, row, column);
  if (column == 0 && code == LVIR_BOUNDS) return RowRect(hwnd, s, row);
  if (column == 0 && code == LVIR_SELECTBOUNDS && FullRowSelect(s)) return RowRect(hwnd, s, row);
  if (column == 0 && Checkboxes(s)) cell.left += kCheckBoxWidth;
  const int image = column == 0 ? SmallImageWidth(s) : 0;
  if (code == LVIR_ICON) return RECT{cell.left, cell.top, cell.left + std::max(image - kSmallImageGap, 0), cell.bottom};
  if (code == LVIR_LABEL) cell.left += image;
  return cell;
}

// The width that shows every row's text of a column (and its heading): LVSCW_AUTOSIZE(_USEHEADER).
int MeasuredWidth(HWND hwnd, ListState& s, int column, bool heading) {
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  int widest = 0;
  auto measure = [&](const std::string& text) {
    SIZE size{};
    GetTextExtentPoint32(dc, text.c_str(), static_cast<int>(text.size()), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  };
  for (const auto& row : s.rows)
    if (static_cast<size_t>(column) < row.size()) measure(row[static_cast<size_t>(column)]);
  if (heading) {
    char text[260] = {};
    HDITEM item{};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessage(s.header, HDM_GETITEM, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    measure(text);
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  const int extra = column == 0 ? SmallImageWidth(s) + (Checkboxes(s) ? kCheckBoxWidth : 0) : 0;
  return widest + 12 + extra;  // the cell's margins around its text
}

// Items: insertion, removal, texts, values, states, selection, search and the label editor.
std::optional<LRESULT> ItemMessage(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case LVM_GETITEMCOUNT:
      return static_cast<LRESULT>(s.rows.size());
    case LVM_INSERTITEMA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || item->iItem < 0) return -1;
      size_t at = std::min(static_cast<size_t>(item->iItem), s.rows.size());
      std::vector<std::string> row(1);
      if ((item->mask & LVIF_TEXT) && item->pszText && item->pszText != reinterpret_cast<LPSTR>(-1)) row[0] = item->pszText;
      s.rows.insert(s.rows.begin() + static_cast<ptrdiff_t>(at), row);
      s.params.insert(s.params.begin() + static_cast<ptrdiff_t>(at), (item->mask & LVIF_PARAM) ? item->lParam : 0);
      UINT state = (item->mask & LVIF_STATE) ? item->state & item->stateMask : 0;
      if (Checkboxes(s) && !(state & LVIS_STATEIMAGEMASK)) state |= INDEXTOSTATEIMAGEMASK(1);
      s.states.insert(s.states.begin() + static_cast<ptrdiff_t>(at), state);
      s.images.insert(s.images.begin() + static_cast<ptrdiff_t>(at), (item->mask & LVIF_IMAGE) ? item->iImage : -1);
      s.places.insert(s.places.begin() + static_cast<ptrdiff_t>(at), POINT{INT_MIN, 0});
      if (s.editRow >= static_cast<int>(at)) ++s.editRow;
      if (s.selectionMark >= static_cast<int>(at)) ++s.selectionMark;
      InvalidateFrom(hwnd, s, static_cast<int>(at));
      UpdateScrollBar(hwnd, s);
      return static_cast<LRESULT>(at);
    }
    case LVM_SETITEMTEXTA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || wParam >= s.rows.size() || item->iSubItem < 0 || item->iSubItem > 255) return FALSE;
      auto& row = s.rows[wParam];
      if (row.size() <= static_cast<size_t>(item->iSubItem)) row.resize(static_cast<size_t>(item->iSubItem) + 1);
      row[static_cast<size_t>(item->iSubItem)] = item->pszText ? item->pszText : "";
      InvalidateRow(hwnd, s, static_cast<int>(wParam));
      return TRUE;
    }
    case LVM_GETITEMTEXTA: {
      auto* item = reinterpret_cast<LVITEM*>(lParam);
      if (!item || wParam >= s.rows.size() || item->iSubItem < 0) return 0;
      const auto& row = s.rows[wParam];
      std::string text = static_cast<size_t>(item->iSubItem) < row.size() ? row[static_cast<size_t>(item->iSubItem)] : "";
      CopyText(text, item->pszText, item->cchTextMax);
      return static_cast<LRESULT>(std::min(text.size(), static_cast<size_t>(std::max(item->cchTextMax - 1, 0))));
    }
    case LVM_GETITEMA: {
      auto* item = reinterpret_cast<LVITEM*>(lParam);
      if (!item || item->iItem < 0 || static_cast<size_t>(item->iItem) >= s.rows.size()) return FALSE;
      const auto at = static_cast<size_t>(item->iItem);
      if (item->mask & LVIF_PARAM) item->lParam = s.params[at];
      if (item->mask & LVIF_STATE) item->state = s.states[at] & item->stateMask;
      if (item->mask & LVIF_IMAGE) item->iImage = s.images[at];
      if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
        const auto& row = s.rows[at];
        size_t sub = static_cast<size_t>(std::max(item->iSubItem, 0));
        CopyText(sub < row.size() ? row[sub] : "", item->pszText, item->cchTextMax);
      }
      return TRUE;
    }
    case LVM_SETITEMA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || item->iItem < 0 || static_cast<size_t>(item->iItem) >= s.rows.size()) return FALSE;
      const auto at = static_cast<size_t>(item->iItem);
      if (item->mask & LVIF_PARAM) s.params[at] = item->lParam;
      if (item->mask & LVIF_IMAGE) s.images[at] = item->iImage;
      if (item->mask & LVIF_STATE) SetState(hwnd, s, item->iItem, item->state, item->stateMask);
      if ((item->mask & LVIF_TEXT) && item->iSubItem >= 0 && item->iSubItem <= 255) {
        auto& row = s.rows[at];
        if (row.size() <= static_cast<size_t>(item->iSubItem)) row.resize(static_cast<size_t>(item->iSubItem) + 1);
        row[static_cast<size_t>(item->iSubItem)] = item->pszText && item->pszText != reinterpret_cast<LPSTR>(-1) ? item->pszText : "";
      }
      InvalidateRow(hwnd, s, item->iItem);
      return TRUE;
    }
    case LVM_GETITEMSTATE:
      return wParam < s.states.size() ? static_cast<LRESULT>(s.states[wParam] & static_cast<UINT>(lParam)) : 0;
    case LVM_SETITEMSTATE: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item) return FALSE;
      if (static_cast<int>(wParam) == -1) {
        for (size_t r = 0; r < s.states.size(); ++r) SetState(hwnd, s, static_cast<int>(r), item->state, item->stateMask);
        return TRUE;
      }
      if (wParam >= s.states.size()) return FALSE;
      SetState(hwnd, s, static_cast<int>(wParam), item->state, item->stateMask);
      return TRUE;
    }
    case LVM_GETNEXTITEM: {
      UINT want = static_cast<UINT>(lParam) & (LVNI_FOCUSED | LVNI_SELECTED | LVNI_DROPHILITED);
      for (size_t r = static_cast<int>(wParam) < 0 ? 0 : wParam + 1; r < s.states.size(); ++r) {
        if ((s.states[r] & want) == want) return static_cast<LRESULT>(r);
      }
      return -1;
    }
    case LVM_GETSELECTEDCOUNT:
      return std::count_if(s.states.begin(), s.states.end(), [](UINT st) { return (st & LVIS_SELECTED) != 0; });
    case LVM_EDITLABELA:
      if (static_cast<int>(wParam) < 0) {
        EndEdit(hwnd, s, false);
        return 0;
      }
      return reinterpret_cast<LRESULT>(BeginEdit(hwnd, s, static_cast<int>(wParam)));
    case LVM_GETEDITCONTROL:
      return reinterpret_cast<LRESULT>(s.edit);
    case LVM_CANCELEDITLABEL:
      EndEdit(hwnd, s, false);
      return 0;
    case LVM_FINDITEMA: {
      auto* find = reinterpret_cast<const LVFINDINFO*>(lParam);
      if (!find || !(find->flags & LVFI_PARAM)) return -1;
      size_t start = static_cast<int>(wParam) < 0 ? 0 : static_cast<size_t>(wParam) + 1;
      for (size_t i = start; i < s.params.size(); ++i) {
        if (s.params[i] == find->lParam) return static_cast<LRESULT>(i);
      }
      return -1;
    }
    case LVM_DELETEITEM:
      if (wParam >= s.rows.size()) return FALSE;
      if (s.editRow == static_cast<int>(wParam)) EndEdit(hwnd, s, false);
      s.rows.erase(s.rows.begin() + static_cast<ptrdiff_t>(wParam));
      s.params.erase(s.params.begin() + static_cast<ptrdiff_t>(wParam));
      s.states.erase(s.states.begin() + static_cast<ptrdiff_t>(wParam));
      s.images.erase(s.images.begin() + static_cast<ptrdiff_t>(wParam));
      s.places.erase(s.places.begin() + static_cast<ptrdiff_t>(wParam));
      if (s.editRow > static_cast<int>(wParam)) --s.editRow;
      if (s.selectionMark == static_cast<int>(wParam)) s.selectionMark = -1;
      else if (s.selectionMark > static_cast<int>(wParam)) --s.selectionMark;
      InvalidateFrom(hwnd, s, static_cast<int>(wParam));
      s.top = std::clamp(s.top, 0, std::max(0, static_cast<int>(s.rows.size()) - 1));
      UpdateScrollBar(hwnd, s);
      return TRUE;
    case LVM_DELETEALLITEMS:
      EndEdit(hwnd, s, false);
      s.params.clear();
      s.rows.clear();
      s.states.clear();
      s.images.clear();
      s.places.clear();
      s.top = 0;
      s.selectionMark = -1;
      InvalidateRect(hwnd, nullptr, TRUE);
      UpdateScrollBar(hwnd, s);
      return TRUE;
    case LVM_GETSELECTIONMARK:
      return s.selectionMark;
    case LVM_SETSELECTIONMARK: {
      const int old = s.selectionMark;
      s.selectionMark = s.Valid(static_cast<int>(lParam)) ? static_cast<int>(lParam) : -1;
      return old;
    }
    case LVM_UPDATE:
      if (!s.Valid(static_cast<int>(wParam))) return FALSE;
      InvalidateRow(hwnd, s, static_cast<int>(wParam));
      return TRUE;
    default:
      return std::nullopt;
  }
}

// Columns, kept by the header.
std::optional<LRESULT> ColumnMessage(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case LVM_GETHEADER:
      return reinterpret_cast<LRESULT>(s.header);
    case LVM_INSERTCOLUMNA: {
      auto* col = reinterpret_cast<const LVCOLUMN*>(lParam);
      if (!col) return -1;
      HDITEM item{};
      item.mask = HDI_FORMAT | HDI_WIDTH | HDI_TEXT;
      item.fmt = HDF_STRING | ((col->mask & LVCF_FMT) ? col->fmt & 3 : 0);
      item.cxy = (col->mask & LVCF_WIDTH) ? col->cx : 50;
      item.pszText = (col->mask & LVCF_TEXT) ? col->pszText : const_cast<LPSTR>("");
      return SendMessage(s.header, HDM_INSERTITEM, wParam, reinterpret_cast<LPARAM>(&item));
    }
    case LVM_GETCOLUMNA: {
      auto* col = reinterpret_cast<LVCOLUMN*>(lParam);
      HDITEM item{};
      item.mask = HDI_FORMAT | HDI_WIDTH;
      if (!col || !SendMessage(s.header, HDM_GETITEM, wParam, reinterpret_cast<LPARAM>(&item))) return FALSE;
      if (col->mask & LVCF_FMT) col->fmt = item.fmt & 3;
      if (col->mask & LVCF_WIDTH) col->cx = item.cxy;
      return TRUE;
    }
    case LVM_GETCOLUMNWIDTH: {
      HDITEM item{};
      item.mask = HDI_WIDTH;
      return SendMessage(s.header, HDM_GETITEM, wParam, reinterpret_cast<LPARAM>(&item)) ? item.cxy : 0;
    }
    case LVM_SETCOLUMNA: {
      auto* col = reinterpret_cast<const LVCOLUMN*>(lParam);
      if (!col) return FALSE;
      HDITEM item{};
      if (col->mask & LVCF_FMT) {
        item.mask |= HDI_FORMAT;
        item.fmt = HDF_STRING | (col->fmt & 3);
      }
      if (col->mask & LVCF_WIDTH) {
        item.mask |= HDI_WIDTH;
        item.cxy = col->cx;
      }
      if ((col->mask & LVCF_TEXT) && col->pszText) {
        item.mask |= HDI_TEXT;
        item.pszText = col->pszText;
      }
      const LRESULT ok = SendMessage(s.header, HDM_SETITEM, wParam, reinterpret_cast<LPARAM>(&item));
      InvalidateRect(hwnd, nullptr, FALSE);
      return ok;
    }
    case LVM_SETCOLUMNWIDTH: {
      HDITEM item{};
      item.mask = HDI_WIDTH;
      const int asked = static_cast<short>(LOWORD(static_cast<uintptr_t>(lParam)));
      item.cxy = asked == LVSCW_AUTOSIZE || asked == LVSCW_AUTOSIZE_USEHEADER
                     ? MeasuredWidth(hwnd, s, static_cast<int>(wParam), asked == LVSCW_AUTOSIZE_USEHEADER)
                     : std::max(0, asked);
      LRESULT ok = SendMessage(s.header, HDM_SETITEM, wParam, reinterpret_cast<LPARAM>(&item));
      InvalidateRect(hwnd, nullptr, FALSE);
      return ok;
    }
    case LVM_DELETECOLUMN: {
      LRESULT ok = SendMessage(s.header, HDM_DELETEITEM, wParam, 0);
      if (ok) {
        for (auto& row : s.rows) {
          if (wParam < row.size()) row.erase(row.begin() + static_cast<ptrdiff_t>(wParam));
          if (row.empty()) row.resize(1);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return ok;
    }
    default:
      return std::nullopt;
  }
}

// The view: rectangles, hit tests, positions, scrolling, colours, image lists and extended styles.
std::optional<LRESULT> ViewMessage(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case LVM_GETITEMRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect || wParam >= s.rows.size()) return FALSE;
      if (IconView(hwnd)) {
        const RECT cell = IconCell(hwnd, s, static_cast<int>(wParam));
        *rect = rect->left == LVIR_ICON ? IconImageRect(s, cell) : rect->left == LVIR_LABEL ? IconLabelRect(s, cell) : cell;
        return TRUE;
      }
      *rect = ReportPart(hwnd, s, static_cast<int>(wParam), 0, rect->left);
      return TRUE;
    }
    case LVM_GETSUBITEMRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect || !s.Valid(static_cast<int>(wParam)) || IconView(hwnd) || rect->top < 0 || rect->top >= ColumnCount(s))
        return FALSE;
      *rect = rect->top == 0 && rect->left == LVIR_BOUNDS ? RowRect(hwnd, s, static_cast<int>(wParam))
                                                         : ReportPart(hwnd, s, static_cast<int>(wParam), rect->top, rect->left);
      return TRUE;
    }
    case LVM_HITTEST: {
      auto* hit = reinterpret_cast<LVHITTESTINFO*>(lParam);
      if (!hit) return -1;
      hit->iItem = HitRow(hwnd, s, hit->pt, &hit->flags);
      hit->iSubItem = 0;
      return hit->iItem;
    }
    case LVM_SUBITEMHITTEST: {
      auto* hit = reinterpret_cast<LVHITTESTINFO*>(lParam);
      if (!hit) return -1;
      hit->iItem = HitRow(hwnd, s, hit->pt, &hit->flags);
      hit->iSubItem = 0;
      if (hit->iItem < 0 || IconView(hwnd)) return hit->iItem;
      const int columns = static_cast<int>(SendMessage(s.header, HDM_GETITEMCOUNT, 0, 0));
      for (int c = 0; c < columns; ++c) {
        RECT cell{};
        SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&cell));
        if (hit->pt.x >= cell.left && hit->pt.x < cell.right) hit->iSubItem = c;
      }
      return hit->iItem;
    }
    case LVM_SETITEMPOSITION:
    case LVM_SETITEMPOSITION32: {
      if (wParam >= s.places.size()) return FALSE;
      POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (message == LVM_SETITEMPOSITION32) {
        if (!lParam) return FALSE;
        at = *reinterpret_cast<const POINT*>(lParam);
      }
      if (at.x == INT_MIN) at.x = INT_MIN + 1;  // INT_MIN marks "not placed"
      s.places[wParam] = at;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    }
    case LVM_GETITEMPOSITION: {
      auto* at = reinterpret_cast<POINT*>(lParam);
      if (!at || wParam >= s.rows.size()) return FALSE;
      RECT cell = IconCell(hwnd, s, static_cast<int>(wParam));
      *at = POINT{cell.left, cell.top};
      return TRUE;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return static_cast<LRESULT>(s.exStyle);
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
      const DWORD old = s.exStyle;
      const DWORD mask = wParam ? static_cast<DWORD>(wParam) : ~0u;
      s.exStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
      if (Checkboxes(s) && !(old & LVS_EX_CHECKBOXES)) {
        for (auto& st : s.states) {
          if (!(st & LVIS_STATEIMAGEMASK)) st |= INDEXTOSTATEIMAGEMASK(1);
        }
      }
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(old);
    }
    case LVM_ENSUREVISIBLE:
      EnsureVisible(hwnd, s, static_cast<int>(wParam));
      return TRUE;
    case LVM_SCROLL: {
      const int pitch = IconView(hwnd) ? CellSize(s).cy : RowHeight(hwnd, s);
      ScrollToTop(hwnd, s, s.top + static_cast<int>(lParam) / pitch);
      return TRUE;
    }
    case LVM_REDRAWITEMS:
      for (int row = std::max(static_cast<int>(wParam), 0); row <= static_cast<int>(lParam) && s.Valid(row); ++row)
        InvalidateRow(hwnd, s, row);
      return TRUE;
    case LVM_GETTOPINDEX:
      return s.top;
    case LVM_GETCOUNTPERPAGE:
      return PerPage(hwnd, s);
    case LVM_GETBKCOLOR:
      return static_cast<LRESULT>(s.back);
    case LVM_SETBKCOLOR:
      s.back = static_cast<COLORREF>(lParam);
      return TRUE;
    case LVM_GETTEXTCOLOR:
      return static_cast<LRESULT>(s.text);
    case LVM_SETTEXTCOLOR:
      s.text = static_cast<COLORREF>(lParam);
      return TRUE;
    case LVM_GETTEXTBKCOLOR:
      return static_cast<LRESULT>(s.textBack);
    case LVM_SETTEXTBKCOLOR:
      s.textBack = static_cast<COLORREF>(lParam);
      return TRUE;
    case LVM_GETIMAGELIST:
      return reinterpret_cast<LRESULT>(wParam == LVSIL_STATE ? s.state : wParam == LVSIL_SMALL ? s.small
                                       : wParam == LVSIL_NORMAL ? s.normal : nullptr);
    case LVM_SETIMAGELIST: {
      HIMAGELIST* slot = wParam == LVSIL_STATE ? &s.state : wParam == LVSIL_SMALL ? &s.small
                         : wParam == LVSIL_NORMAL ? &s.normal : nullptr;
      if (!slot) return 0;
      HIMAGELIST old = *slot;
      *slot = reinterpret_cast<HIMAGELIST>(lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return reinterpret_cast<LRESULT>(old);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<LRESULT> ListApi(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message < LVM_FIRST || message >= LVM_FIRST + 0x100) return std::nullopt;
  for (auto family : {ItemMessage, ColumnMessage, ViewMessage}) {
    if (std::optional<LRESULT> result = family(hwnd, s, message, wParam, lParam)) return result;
  }
  return std::nullopt;
}

}  // namespace tavrin::controls::detail::listview
