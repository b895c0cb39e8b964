// The header and the report-view list: their items live in state objects hung on the windows.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "win32/controls.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"
#include "win32/comctl.h"  // the header's mouse

namespace {

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
  if (!buffer || size <= 0) return;
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
}

LRESULT Notify(HWND hwnd, NMCUSTOMDRAW& draw) {
  HWND parent = GetParent(hwnd);
  if (!parent) return CDRF_DODEFAULT;
  draw.hdr = NMHDR{hwnd, static_cast<UINT_PTR>(GetDlgCtrlID(hwnd)), NM_CUSTOMDRAW};
  return SendMessage(parent, WM_NOTIFY, draw.hdr.idFrom, reinterpret_cast<LPARAM>(&draw));
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
  LRESULT asked = Notify(hwnd, draw);
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
      if (Notify(hwnd, item) & CDRF_SKIPDEFAULT) continue;
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
  auto* s = static_cast<HeaderState*>(GetProp(hwnd, kHeaderProp));
  if (!s) {
    if (message == WM_NCDESTROY) return DefWindowProc(hwnd, message, wParam, lParam);
    s = new HeaderState;
    SetProp(hwnd, kHeaderProp, s);
  }
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
    case WM_PAINT:
      PaintHeader(hwnd, *s);
      return 0;
    case WM_NCDESTROY:
      RemoveProp(hwnd, kHeaderProp);
      delete s;
      break;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

struct ListState {
  HWND header = nullptr;
  bool making = false;  // the header is being made (its creation notifies this window)
  std::vector<std::vector<std::string>> rows;  // each row's texts by column
  std::vector<LPARAM> params;                   // each row's application value
  HFONT font = nullptr;
};

void PaintList(HWND hwnd, ListState& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(hdc, &client, GetSysColorBrush(COLOR_WINDOW));
  HGDIOBJ oldFont = SelectObject(hdc, s.font ? static_cast<HGDIOBJ>(s.font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
  int columns = static_cast<int>(SendMessage(s.header, HDM_GETITEMCOUNT, 0, 0));
  const bool owner = (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_OWNERDRAWFIXED) != 0;
  for (size_t r = 0; r < s.rows.size(); ++r) {
    int y = kHeaderHeight + static_cast<int>(r) * kRowHeight;
    if (owner) {
      DRAWITEMSTRUCT item{};
      item.CtlType = ODT_LISTVIEW;
      item.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
      item.itemID = static_cast<UINT>(r);
      item.itemAction = ODA_DRAWENTIRE;
      item.hwndItem = hwnd;
      item.hDC = hdc;
      item.rcItem = RECT{0, y, client.right, y + kRowHeight};
      item.itemData = static_cast<ULONG_PTR>(s.params[r]);
      if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
      continue;
    }
    for (int c = 0; c < columns && c < static_cast<int>(s.rows[r].size()); ++c) {
      RECT cell;
      SendMessage(s.header, HDM_GETITEMRECT, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&cell));
      RECT text{cell.left + 4, y, cell.right - 4, y + kRowHeight};
      DrawText(hdc, s.rows[r][static_cast<size_t>(c)].c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }
  }
  SelectObject(hdc, oldFont);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = static_cast<ListState*>(GetProp(hwnd, kListProp));
  if (!s) {
    if (message == WM_NCDESTROY) return DefWindowProc(hwnd, message, wParam, lParam);
    s = new ListState;
    SetProp(hwnd, kListProp, s);
  }
  if (!s->header && !s->making && message != WM_NCDESTROY && message != WM_DESTROY && IsWindow(hwnd)) {
    s->making = true;
    RECT client;
    GetClientRect(hwnd, &client);
    s->header = CreateWindowEx(0, WC_HEADER, "", WS_CHILD | WS_VISIBLE, 0, 0, client.right, kHeaderHeight, hwnd,
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
      InvalidateRect(hwnd, nullptr, TRUE);
      return static_cast<LRESULT>(at);
    }
    case LVM_SETITEMTEXTA: {
      auto* item = reinterpret_cast<const LVITEM*>(lParam);
      if (!item || wParam >= s->rows.size() || item->iSubItem < 0 || item->iSubItem > 255) return FALSE;
      auto& row = s->rows[wParam];
      if (row.size() <= static_cast<size_t>(item->iSubItem)) row.resize(static_cast<size_t>(item->iSubItem) + 1);
      row[static_cast<size_t>(item->iSubItem)] = item->pszText ? item->pszText : "";
      InvalidateRect(hwnd, nullptr, TRUE);
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
      if (item->mask & LVIF_PARAM) item->lParam = s->params[static_cast<size_t>(item->iItem)];
      return TRUE;
    }
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
      s->rows.erase(s->rows.begin() + static_cast<ptrdiff_t>(wParam));
      s->params.erase(s->params.begin() + static_cast<ptrdiff_t>(wParam));
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    case LVM_DELETEALLITEMS:
      s->params.clear();
      s->rows.clear();
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
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      PaintList(hwnd, *s);
      return 0;
    case WM_NCDESTROY:
      RemoveProp(hwnd, kListProp);
      delete s;
      break;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

}  // namespace

namespace tavrin::controls {

void RegisterListControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS header{};
    header.style = CS_DBLCLKS;
    header.lpfnWndProc = HeaderProc;
    header.lpszClassName = WC_HEADER;
    RegisterClass(&header);
    WNDCLASS list{};
    list.style = CS_DBLCLKS;
    list.lpfnWndProc = ListProc;
    list.lpszClassName = WC_LISTVIEW;
    RegisterClass(&list);
  });
}

}  // namespace tavrin::controls
