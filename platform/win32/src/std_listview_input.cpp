// The list view's input: mouse clicks (selection, check boxes, the parent's click notifications), keys,
// focus, scrolling (the scroll bar and the wheel), and the label editor.
#include <algorithm>
#include <string>

#include "listview_internal.h"
#include "win32/dialog.h"

namespace tavrin::controls::detail::listview {
namespace {

void Click(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  if (GetFocus() != hwnd) SetFocus(hwnd);
  UINT flags = 0;
  const int row = HitRow(hwnd, s, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, &flags);
  const bool single = (GetWindowLongPtr(hwnd, GWL_STYLE) & LVS_SINGLESEL) != 0;
  if (row >= 0 && message == WM_LBUTTONDOWN && flags == LVHT_ONITEMSTATEICON) {
    ToggleCheck(hwnd, s, row);
  } else if (row >= 0) {
    if (message != WM_LBUTTONDBLCLK && !single && (wParam & MK_CONTROL)) {
      SetState(hwnd, s, row, (s.states[static_cast<size_t>(row)] ^ LVIS_SELECTED) | LVIS_FOCUSED,
               LVIS_SELECTED | LVIS_FOCUSED);
    } else if (message != WM_LBUTTONDBLCLK) {
      SelectOnly(hwnd, s, row);
    }
    s.selectionMark = row;
  } else if (message == WM_LBUTTONDOWN && !(wParam & MK_CONTROL)) {
    for (int r = 0; r < s.Count(); ++r) SetState(hwnd, s, r, 0, LVIS_SELECTED);
  }
  NotifyParent(hwnd, message == WM_RBUTTONDOWN ? NM_RCLICK : message == WM_LBUTTONDBLCLK ? NM_DBLCLK : NM_CLICK);
}

void Key(HWND hwnd, ListState& s, WPARAM key) {
  if (s.rows.empty()) return;
  const int last = s.Count() - 1;
  const int focus = static_cast<int>(SendMessage(hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
  int to = focus;
  // In the icon grid up and down move a whole line of cells, left and right one cell.
  const int step = IconView(hwnd) ? IconsAcross(hwnd, s) : 1;
  switch (key) {
    case VK_SPACE:
      ToggleCheck(hwnd, s, focus);
      return;
    case VK_LEFT:
    case VK_RIGHT:
      if (!IconView(hwnd)) return;
      to = focus < 0 ? 0 : std::clamp(focus + (key == VK_LEFT ? -1 : 1), 0, last);
      break;
    case VK_UP: to = focus < 0 ? 0 : (focus - step >= 0 ? focus - step : focus); break;
    case VK_DOWN: to = focus < 0 ? 0 : (focus + step <= last ? focus + step : focus); break;
    case VK_HOME: to = 0; break;
    case VK_END: to = last; break;
    case VK_PRIOR: to = std::max((focus < 0 ? 0 : focus) - (PerPage(hwnd, s) - 1), 0); break;
    case VK_NEXT: to = std::min((focus < 0 ? 0 : focus) + (PerPage(hwnd, s) - 1), last); break;
    default: return;
  }
  SelectOnly(hwnd, s, to);
  s.selectionMark = to;
}

// WM_VSCROLL from the scroll bar: lines, pages, the thumb, the ends.
void Scroll(HWND hwnd, ListState& s, WPARAM request) {
  const int page = IconView(hwnd) ? 1 : PerPage(hwnd, s);
  switch (LOWORD(request)) {
    case SB_LINEUP: ScrollToTop(hwnd, s, s.top - 1); break;
    case SB_LINEDOWN: ScrollToTop(hwnd, s, s.top + 1); break;
    case SB_PAGEUP: ScrollToTop(hwnd, s, s.top - page); break;
    case SB_PAGEDOWN: ScrollToTop(hwnd, s, s.top + page); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: ScrollToTop(hwnd, s, static_cast<short>(HIWORD(request))); break;
    case SB_TOP: ScrollToTop(hwnd, s, 0); break;
    case SB_BOTTOM: ScrollToTop(hwnd, s, s.Count()); break;
    default: break;
  }
}

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

}  // namespace

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


std::optional<LRESULT> ListInput(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      Click(hwnd, s, message, wParam, lParam);
      return 0;
    case WM_KEYDOWN:
      Key(hwnd, s, wParam);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      NotifyParent(hwnd, message == WM_SETFOCUS ? NM_SETFOCUS : NM_KILLFOCUS);
      return 0;
    case WM_VSCROLL:
      Scroll(hwnd, s, wParam);
      return 0;
    case WM_MOUSEWHEEL: {
      // Three lines a notch (120 units), up for a positive turn.
      const int notches = static_cast<short>(HIWORD(wParam)) / 120;
      ScrollToTop(hwnd, s, s.top - 3 * notches);
      return 0;
    }
    default:
      return std::nullopt;
  }
}

void DropEditor(ListState& s) {
  if (!s.edit) return;
  SetWindowLongPtr(s.edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s.editProc));
  s.edit = nullptr;
  s.editRow = -1;
}

}  // namespace tavrin::controls::detail::listview
