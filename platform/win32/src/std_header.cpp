// The header ("SysHeader32"): one row of column items, painted with custom draw and owner-drawn items;
// the divider drags are std_header_mouse.cpp's.
#include <algorithm>
#include <string>
#include <vector>

#include "listview_internal.h"
#include "win32/comctl.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kHeaderProp[] = "TavrinHeaderState";
constexpr int kDivider = 4;  // half-width of the zone around a divider that counts as on it

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

}  // namespace

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

}  // namespace tavrin::controls::detail
