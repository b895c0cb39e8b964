// The toolbar: a row of buttons (TBBUTTON records) with images from image lists, each enabled,
// checked, pressed or hidden; a click sends WM_COMMAND to the owner, a drop-down button TBN_DROPDOWN.
// With TBSTYLE_TOOLTIPS it keeps a tip window whose tools are its buttons (texts asked of the owner by
// TTN_GETDISPINFO, which reaches the toolbar first). TBSTYLE_FLAT draws borders only on the hot button.
#include <optional>
#include <vector>

#include "comctl_internal.h"
#include "win32/resources.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinToolbarState";
constexpr int kSeparatorWidth = 8;
constexpr int kArrowWidth = 14;
constexpr int kTop = 2;  // room for the divider
constexpr size_t kMaxButtons = 4096;
constexpr COLORREF kMapColour = RGB(192, 192, 192);  // resource bitmaps: this grey is transparent

struct State {
  std::vector<TBBUTTON> buttons;
  size_t structSize = sizeof(TBBUTTON);
  SIZE bitmap{16, 15};
  SIZE button{23, 22};
  HIMAGELIST images = nullptr;
  HIMAGELIST hotImages = nullptr;
  HIMAGELIST disabledImages = nullptr;
  HIMAGELIST ownImages = nullptr;  // made by TB_ADDBITMAP; destroyed with the toolbar
  HWND tips = nullptr;
  bool ownTips = false;
  std::vector<UINT_PTR> toolIds;  // the tools this toolbar gave its tip window
  HWND owner = nullptr;
  DWORD exStyle = 0;
  int hot = -1;
  int pressed = -1;  // the button held down by the mouse
  bool tracking = false;
  int indent = 0;
  HFONT font = nullptr;
};

bool IsSeparator(const TBBUTTON& b) { return (b.fsStyle & TBSTYLE_SEP) != 0; }
bool IsHidden(const TBBUTTON& b) { return (b.fsState & TBSTATE_HIDDEN) != 0; }
bool HasArrow(const State& s, const TBBUTTON& b) {
  return (b.fsStyle & TBSTYLE_DROPDOWN) && (s.exStyle & TBSTYLE_EX_DRAWDDARROWS);
}

HWND Owner(HWND hwnd, const State& s) { return s.owner ? s.owner : GetParent(hwnd); }

std::vector<RECT> Layout(const State& s) {
  std::vector<RECT> rects;
  int x = s.indent;
  for (const TBBUTTON& b : s.buttons) {
    if (IsHidden(b)) {
      rects.push_back(RECT{x, kTop, x, kTop});
      continue;
    }
    int width = IsSeparator(b) ? (b.iBitmap > 0 ? b.iBitmap : kSeparatorWidth) : s.button.cx;
    if (HasArrow(s, b)) width += kArrowWidth;
    rects.push_back(RECT{x, kTop, x + width, kTop + s.button.cy});
    x += width;
  }
  return rects;
}

int IndexOfCommand(const State& s, WPARAM id) {
  for (size_t i = 0; i < s.buttons.size(); ++i) {
    if (!IsSeparator(s.buttons[i]) && s.buttons[i].idCommand == static_cast<int>(id)) return static_cast<int>(i);
  }
  return -1;
}

int ButtonAt(const State& s, POINT p) {
  std::vector<RECT> rects = Layout(s);
  for (size_t i = 0; i < rects.size(); ++i) {
    if (!IsHidden(s.buttons[i]) && PtInRect(&rects[i], p)) return static_cast<int>(i);
  }
  return -1;
}

// The tip window's tools follow the buttons: one per visible button, by command id.
void SyncTools(HWND hwnd, State& s) {
  if (!s.tips) return;
  TOOLINFO info{};
  info.cbSize = sizeof info;
  info.hwnd = hwnd;
  for (UINT_PTR id : s.toolIds) {
    info.uId = id;
    SendMessage(s.tips, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  }
  s.toolIds.clear();
  std::vector<RECT> rects = Layout(s);
  for (size_t i = 0; i < s.buttons.size(); ++i) {
    const TBBUTTON& b = s.buttons[i];
    if (IsSeparator(b) || IsHidden(b)) continue;
    info.uFlags = 0;
    info.uId = static_cast<UINT_PTR>(b.idCommand);
    info.rect = rects[i];
    info.lpszText = LPSTR_TEXTCALLBACK;
    SendMessage(s.tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
    s.toolIds.push_back(info.uId);
  }
}

void Changed(HWND hwnd, State& s) {
  SyncTools(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void AutoSize(HWND hwnd, const State& s) {
  const DWORD style = StyleOf(hwnd);
  if (style & (CCS_NORESIZE | CCS_NOPARENTALIGN)) return;
  HWND parent = GetParent(hwnd);
  if (!parent) return;
  RECT pc;
  GetClientRect(parent, &pc);
  MoveWindow(hwnd, 0, 0, pc.right, s.button.cy + 2 * kTop, TRUE);
}

// The embossed look of a disabled image without a disabled list: its shape in the highlight colour one
// pixel down and right, then in the shadow colour.
void DrawEmbossed(HDC hdc, HIMAGELIST list, int image, int x, int y, const SIZE& size) {
  HDC memory = CreateCompatibleDC(hdc);
  HBITMAP shape = CreateCompatibleBitmap(hdc, size.cx, size.cy);
  HGDIOBJ oldBitmap = SelectObject(memory, shape);
  ImageList_Draw(list, image, memory, 0, 0, ILD_MASK);
  constexpr DWORD kBrushWhereBlack = 0x00B8074A;  // (D ^ P) & S ^ P
  HBRUSH light = CreateSolidBrush(GetSysColor(COLOR_3DHIGHLIGHT));
  HBRUSH shadow = CreateSolidBrush(GetSysColor(COLOR_3DSHADOW));
  HGDIOBJ oldBrush = SelectObject(hdc, light);
  BitBlt(hdc, x + 1, y + 1, size.cx, size.cy, memory, 0, 0, kBrushWhereBlack);
  SelectObject(hdc, shadow);
  BitBlt(hdc, x, y, size.cx, size.cy, memory, 0, 0, kBrushWhereBlack);
  SelectObject(hdc, oldBrush);
  DeleteObject(light);
  DeleteObject(shadow);
  SelectObject(memory, oldBitmap);
  DeleteObject(shape);
  DeleteDC(memory);
}

void DrawArrow(HDC hdc, const RECT& part, bool enabled) {
  HBRUSH brush = GetSysColorBrush(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  const int cx = (part.left + part.right) / 2, cy = (part.top + part.bottom) / 2 - 1;
  for (int row = 0; row < 3; ++row) {
    RECT line{cx - 2 + row, cy + row, cx + 3 - row, cy + row + 1};
    FillRect(hdc, &line, brush);
  }
}

void Paint(HWND hwnd, State& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(hdc, &client, GetSysColorBrush(COLOR_BTNFACE));
  const DWORD style = StyleOf(hwnd);
  if (!(style & CCS_NODIVIDER)) {
    RECT dark{0, 0, client.right, 1}, light{0, 1, client.right, 2};
    FillRect(hdc, &dark, GetSysColorBrush(COLOR_3DSHADOW));
    FillRect(hdc, &light, GetSysColorBrush(COLOR_3DHIGHLIGHT));
  }
  const bool flat = (style & TBSTYLE_FLAT) != 0;
  std::vector<RECT> rects = Layout(s);
  for (size_t i = 0; i < s.buttons.size(); ++i) {
    const TBBUTTON& b = s.buttons[i];
    if (IsHidden(b)) continue;
    RECT rc = rects[i];
    if (IsSeparator(b)) {
      if (flat) {
        const int mid = (rc.left + rc.right) / 2 - 1;
        RECT dark{mid, rc.top + 1, mid + 1, rc.bottom - 1}, light{mid + 1, rc.top + 1, mid + 2, rc.bottom - 1};
        FillRect(hdc, &dark, GetSysColorBrush(COLOR_3DSHADOW));
        FillRect(hdc, &light, GetSysColorBrush(COLOR_3DHIGHLIGHT));
      }
      continue;
    }
    const bool enabled = (b.fsState & TBSTATE_ENABLED) != 0;
    const bool down = (b.fsState & (TBSTATE_PRESSED | TBSTATE_CHECKED)) != 0;
    const bool hot = enabled && static_cast<int>(i) == s.hot;
    RECT face = rc;
    RECT arrow{};
    if (HasArrow(s, b)) {
      arrow = RECT{rc.right - kArrowWidth, rc.top, rc.right, rc.bottom};
      face.right = arrow.left;
    }
    if ((b.fsState & TBSTATE_CHECKED) && !(b.fsState & TBSTATE_PRESSED) && !hot) {
      RECT inner = face;
      InflateRect(&inner, -1, -1);
      FillRect(hdc, &inner, GetSysColorBrush(COLOR_3DLIGHT));
    }
    if (flat) {
      if (down) DrawEdge(hdc, &face, BDR_SUNKENOUTER, BF_RECT);
      else if (hot) DrawEdge(hdc, &face, BDR_RAISEDINNER, BF_RECT);
      if (arrow.right > arrow.left && (down || hot)) DrawEdge(hdc, &arrow, hot && !down ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
    } else {
      DrawEdge(hdc, &face, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
      if (arrow.right > arrow.left) DrawEdge(hdc, &arrow, EDGE_RAISED, BF_RECT);
    }
    if (arrow.right > arrow.left) DrawArrow(hdc, arrow, enabled);
    const int shift = down ? 1 : 0;
    const int x = face.left + (face.right - face.left - s.bitmap.cx) / 2 + shift;
    const int y = face.top + (face.bottom - face.top - s.bitmap.cy) / 2 + shift;
    if (b.iBitmap < 0) continue;
    if (!enabled) {
      if (s.disabledImages) ImageList_Draw(s.disabledImages, b.iBitmap, hdc, x, y, ILD_TRANSPARENT);
      else if (s.images) DrawEmbossed(hdc, s.images, b.iBitmap, x, y, s.bitmap);
    } else {
      HIMAGELIST list = hot && s.hotImages ? s.hotImages : s.images;
      if (list) ImageList_Draw(list, b.iBitmap, hdc, x, y, ILD_TRANSPARENT);
    }
  }
  EndPaint(hwnd, &ps);
}

bool ReadButton(const State& s, const uint8_t* record, TBBUTTON& out) {
  out = TBBUTTON{};
  std::memcpy(&out, record, std::min(s.structSize, sizeof(TBBUTTON)));
  return true;
}

// TB_ADDBITMAP: the images of a bitmap (a resource id with its instance, or a bitmap handle) appended to
// the toolbar's own list. The first new index, -1 on failure.
LRESULT AddBitmap(State& s, WPARAM count, const TBADDBITMAP* add) {
  if (!add) return -1;
  if (s.images && s.images != s.ownImages) return -1;  // the application's list: it adds its own images
  if (!s.ownImages) {
    s.ownImages = ImageList_Create(s.bitmap.cx, s.bitmap.cy, ILC_COLOR24 | ILC_MASK, static_cast<int>(count), 4);
    if (!s.ownImages) return -1;
    s.images = s.ownImages;
  }
  int first = -1;
  if (add->hInst) {
    HBITMAP bitmap = LoadBitmap(add->hInst, MAKEINTRESOURCE(static_cast<WORD>(add->nID)));
    if (!bitmap) return -1;
    first = ImageList_AddMasked(s.ownImages, bitmap, kMapColour);
    DeleteObject(bitmap);
  } else {
    first = ImageList_Add(s.ownImages, reinterpret_cast<HBITMAP>(add->nID), nullptr);
  }
  return first;
}

LRESULT SetState(HWND hwnd, State& s, WPARAM id, BYTE bit, bool on) {
  int i = IndexOfCommand(s, id);
  if (i < 0) return FALSE;
  BYTE& state = s.buttons[i].fsState;
  const BYTE old = state;
  state = on ? static_cast<BYTE>(state | bit) : static_cast<BYTE>(state & ~bit);
  if (bit == TBSTATE_HIDDEN && old != state) Changed(hwnd, s);
  else if (old != state) InvalidateRect(hwnd, nullptr, TRUE);
  return TRUE;
}

// The neighbours of a check-group button that form its group.
void CheckInGroup(State& s, size_t index) {
  size_t first = index, last = index;
  auto inGroup = [&](size_t i) {
    return !IsSeparator(s.buttons[i]) && (s.buttons[i].fsStyle & TBSTYLE_CHECKGROUP) == TBSTYLE_CHECKGROUP;
  };
  while (first > 0 && inGroup(first - 1)) --first;
  while (last + 1 < s.buttons.size() && inGroup(last + 1)) ++last;
  for (size_t i = first; i <= last; ++i) s.buttons[i].fsState &= static_cast<BYTE>(~TBSTATE_CHECKED);
  s.buttons[index].fsState |= TBSTATE_CHECKED;
}

void RelayToTips(HWND hwnd, const State& s, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!s.tips) return;
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  SendMessage(s.tips, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

void SetHot(HWND hwnd, State& s, int hot) {
  if (hot == s.hot) return;
  NMTBHOTITEM note{};
  note.idOld = s.hot >= 0 && s.hot < static_cast<int>(s.buttons.size()) ? s.buttons[s.hot].idCommand : -1;
  note.idNew = hot >= 0 ? s.buttons[hot].idCommand : -1;
  s.hot = hot;
  InvalidateRect(hwnd, nullptr, TRUE);
  NotifyParent(hwnd, note.hdr, TBN_HOTITEMCHANGE);
}

void DropDown(HWND hwnd, State& s, size_t index, const RECT& rc) {
  s.buttons[index].fsState |= TBSTATE_PRESSED;
  InvalidateRect(hwnd, nullptr, TRUE);
  UpdateWindow(hwnd);
  NMTOOLBAR note{};
  note.iItem = s.buttons[index].idCommand;
  note.tbButton = s.buttons[index];
  note.rcButton = rc;
  HWND owner = Owner(hwnd, s);
  note.hdr = NMHDR{hwnd, static_cast<UINT_PTR>(GetDlgCtrlID(hwnd)), TBN_DROPDOWN};
  if (owner) SendMessage(owner, WM_NOTIFY, note.hdr.idFrom, reinterpret_cast<LPARAM>(&note));
  if (!IsWindow(hwnd) || index >= s.buttons.size()) return;
  s.buttons[index].fsState &= static_cast<BYTE>(~TBSTATE_PRESSED);
  InvalidateRect(hwnd, nullptr, TRUE);
}

// The control's own messages; nothing for what is not of the family.
std::optional<LRESULT> ToolbarApi(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case TB_BUTTONSTRUCTSIZE:
      if (wParam >= offsetof(TBBUTTON, dwData)) s.structSize = wParam;
      return 0;
    case TB_SETBITMAPSIZE:
    case TB_SETBUTTONSIZE: {
      const int cx = LOWORD(static_cast<uintptr_t>(lParam)), cy = HIWORD(static_cast<uintptr_t>(lParam));
      if (cx <= 0 || cy <= 0 || cx > 1024 || cy > 1024) return FALSE;
      (message == TB_SETBITMAPSIZE ? s.bitmap : s.button) = SIZE{cx, cy};
      if (message == TB_SETBITMAPSIZE) {
        s.button.cx = std::max<int>(s.button.cx, cx + 7);
        s.button.cy = std::max<int>(s.button.cy, cy + 7);
      }
      Changed(hwnd, s);
      return TRUE;
    }
    case TB_GETBUTTONSIZE:
      return MAKELPARAM(static_cast<WORD>(s.button.cx), static_cast<WORD>(s.button.cy));
    case TB_ADDBITMAP:
      return AddBitmap(s, wParam, reinterpret_cast<const TBADDBITMAP*>(lParam));
    case TB_ADDBUTTONSA:
    case TB_INSERTBUTTONA: {
      const size_t count = message == TB_ADDBUTTONSA ? static_cast<size_t>(wParam) : 1;
      auto* records = reinterpret_cast<const uint8_t*>(lParam);
      if (!records || count == 0 || s.buttons.size() + count > kMaxButtons) return FALSE;
      size_t at = message == TB_ADDBUTTONSA ? s.buttons.size() : std::min(static_cast<size_t>(wParam), s.buttons.size());
      for (size_t i = 0; i < count; ++i) {
        TBBUTTON b;
        ReadButton(s, records + i * s.structSize, b);
        s.buttons.insert(s.buttons.begin() + static_cast<ptrdiff_t>(at + i), b);
      }
      Changed(hwnd, s);
      return TRUE;
    }
    case TB_DELETEBUTTON:
      if (wParam >= s.buttons.size()) return FALSE;
      s.buttons.erase(s.buttons.begin() + static_cast<ptrdiff_t>(wParam));
      s.hot = s.pressed = -1;
      Changed(hwnd, s);
      return TRUE;
    case TB_GETBUTTON: {
      auto* out = reinterpret_cast<TBBUTTON*>(lParam);
      if (!out || wParam >= s.buttons.size()) return FALSE;
      *out = s.buttons[wParam];
      return TRUE;
    }
    case TB_BUTTONCOUNT:
      return static_cast<LRESULT>(s.buttons.size());
    case TB_COMMANDTOINDEX:
      return IndexOfCommand(s, wParam);
    case TB_ENABLEBUTTON:
      return SetState(hwnd, s, wParam, TBSTATE_ENABLED, LOWORD(static_cast<uintptr_t>(lParam)) != 0);
    case TB_CHECKBUTTON:
      return SetState(hwnd, s, wParam, TBSTATE_CHECKED, LOWORD(static_cast<uintptr_t>(lParam)) != 0);
    case TB_PRESSBUTTON:
      return SetState(hwnd, s, wParam, TBSTATE_PRESSED, LOWORD(static_cast<uintptr_t>(lParam)) != 0);
    case TB_HIDEBUTTON:
      return SetState(hwnd, s, wParam, TBSTATE_HIDDEN, LOWORD(static_cast<uintptr_t>(lParam)) != 0);
    case TB_ISBUTTONENABLED:
    case TB_ISBUTTONCHECKED:
    case TB_ISBUTTONPRESSED:
    case TB_ISBUTTONHIDDEN: {
      int i = IndexOfCommand(s, wParam);
      if (i < 0) return 0;
      const BYTE bit = message == TB_ISBUTTONENABLED ? TBSTATE_ENABLED
                       : message == TB_ISBUTTONCHECKED ? TBSTATE_CHECKED
                       : message == TB_ISBUTTONPRESSED ? TBSTATE_PRESSED
                                                       : TBSTATE_HIDDEN;
      return (s.buttons[i].fsState & bit) != 0;
    }
    case TB_SETSTATE: {
      int i = IndexOfCommand(s, wParam);
      if (i < 0) return FALSE;
      const bool hiddenChanged = ((s.buttons[i].fsState ^ static_cast<BYTE>(lParam)) & TBSTATE_HIDDEN) != 0;
      s.buttons[i].fsState = static_cast<BYTE>(lParam);
      if (hiddenChanged) Changed(hwnd, s);
      else InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    }
    case TB_GETSTATE: {
      int i = IndexOfCommand(s, wParam);
      return i < 0 ? -1 : s.buttons[i].fsState;
    }
    case TB_GETITEMRECT:
    case TB_GETRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      int i = message == TB_GETRECT ? IndexOfCommand(s, wParam) : (wParam < s.buttons.size() ? static_cast<int>(wParam) : -1);
      if (!rect || i < 0 || IsHidden(s.buttons[i])) return FALSE;
      *rect = Layout(s)[i];
      return TRUE;
    }
    case TB_HITTEST: {
      auto* p = reinterpret_cast<const POINT*>(lParam);
      if (!p) return -1;
      int i = ButtonAt(s, *p);
      if (i < 0) return -static_cast<LRESULT>(s.buttons.size()) - 1;
      return IsSeparator(s.buttons[i]) ? -i - 1 : i;
    }
    case TB_GETHOTITEM:
      return s.hot;
    case TB_SETIMAGELIST:
    case TB_SETHOTIMAGELIST:
    case TB_SETDISABLEDIMAGELIST: {
      HIMAGELIST& slot = message == TB_SETIMAGELIST ? s.images : message == TB_SETHOTIMAGELIST ? s.hotImages : s.disabledImages;
      HIMAGELIST old = slot;
      slot = reinterpret_cast<HIMAGELIST>(lParam);
      if (message == TB_SETIMAGELIST && old == s.ownImages && old != slot) {
        ImageList_Destroy(s.ownImages);  // ours goes; the caller's lists stay the caller's
        s.ownImages = nullptr;
        old = nullptr;
      }
      if (message == TB_SETIMAGELIST && slot) {
        int cx = 0, cy = 0;
        if (ImageList_GetIconSize(slot, &cx, &cy)) SendMessage(hwnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(cx, cy));
      }
      InvalidateRect(hwnd, nullptr, TRUE);
      return reinterpret_cast<LRESULT>(old);
    }
    case TB_GETIMAGELIST:
      return reinterpret_cast<LRESULT>(s.images);
    case TB_GETHOTIMAGELIST:
      return reinterpret_cast<LRESULT>(s.hotImages);
    case TB_GETDISABLEDIMAGELIST:
      return reinterpret_cast<LRESULT>(s.disabledImages);
    case TB_SETEXTENDEDSTYLE: {
      DWORD old = s.exStyle;
      s.exStyle = static_cast<DWORD>(lParam);
      Changed(hwnd, s);
      return old;
    }
    case TB_GETEXTENDEDSTYLE:
      return s.exStyle;
    case TB_GETTOOLTIPS:
      return reinterpret_cast<LRESULT>(s.tips);
    case TB_SETTOOLTIPS:
      if (s.ownTips && s.tips && s.tips != reinterpret_cast<HWND>(wParam)) DestroyWindow(s.tips);
      s.tips = reinterpret_cast<HWND>(wParam);
      s.ownTips = false;
      SyncTools(hwnd, s);
      return 0;
    case TB_SETPARENT: {
      HWND old = Owner(hwnd, s);
      s.owner = reinterpret_cast<HWND>(wParam);
      return reinterpret_cast<LRESULT>(old);
    }
    case TB_AUTOSIZE:
      AutoSize(hwnd, s);
      return 0;
    case TB_SETINDENT:
      s.indent = std::clamp(static_cast<int>(wParam), 0, 1024);
      Changed(hwnd, s);
      return TRUE;
    default:
      return std::nullopt;
  }
}

// Input: mouse, keys, focus and capture; nothing for what is not of the family.
std::optional<LRESULT> ToolbarInput(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEMOVE: {
      RelayToTips(hwnd, s, message, wParam, lParam);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      int i = ButtonAt(s, p);
      if (GetCapture() == hwnd && s.pressed >= 0) {
        BYTE& state = s.buttons[s.pressed].fsState;
        const BYTE old = state;
        state = i == s.pressed ? static_cast<BYTE>(state | TBSTATE_PRESSED) : static_cast<BYTE>(state & ~TBSTATE_PRESSED);
        if (old != state) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
      }
      if (StyleOf(hwnd) & TBSTYLE_FLAT) {
        SetHot(hwnd, s, i >= 0 && !IsSeparator(s.buttons[i]) ? i : -1);
        if (!s.tracking) {
          TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd, 0};
          s.tracking = TrackMouseEvent(&track) != FALSE;
        }
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      RelayToTips(hwnd, s, message, wParam, lParam);
      s.tracking = false;
      SetHot(hwnd, s, -1);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      RelayToTips(hwnd, s, message, wParam, lParam);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      int i = ButtonAt(s, p);
      if (i < 0 || IsSeparator(s.buttons[i]) || !(s.buttons[i].fsState & TBSTATE_ENABLED)) return 0;
      const TBBUTTON& b = s.buttons[i];
      RECT rc = Layout(s)[i];
      if ((b.fsStyle & TBSTYLE_DROPDOWN) && (!HasArrow(s, b) || p.x >= rc.right - kArrowWidth)) {
        DropDown(hwnd, s, static_cast<size_t>(i), rc);
        return 0;
      }
      s.pressed = i;
      s.buttons[i].fsState |= TBSTATE_PRESSED;
      SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_LBUTTONUP: {
      RelayToTips(hwnd, s, message, wParam, lParam);
      if (GetCapture() != hwnd || s.pressed < 0) return 0;
      const int i = s.pressed;
      s.pressed = -1;
      ReleaseCapture();
      if (i >= static_cast<int>(s.buttons.size())) return 0;
      TBBUTTON& b = s.buttons[i];
      b.fsState &= static_cast<BYTE>(~TBSTATE_PRESSED);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      InvalidateRect(hwnd, nullptr, TRUE);
      if (ButtonAt(s, p) != i) return 0;
      if ((b.fsStyle & TBSTYLE_CHECKGROUP) == TBSTYLE_CHECKGROUP) CheckInGroup(s, static_cast<size_t>(i));
      else if (b.fsStyle & TBSTYLE_CHECK) b.fsState ^= TBSTATE_CHECKED;
      const int id = b.idCommand;
      if (HWND owner = Owner(hwnd, s)) {
        SendMessage(owner, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (s.pressed >= 0 && s.pressed < static_cast<int>(s.buttons.size()) && reinterpret_cast<HWND>(lParam) != hwnd) {
        s.buttons[s.pressed].fsState &= static_cast<BYTE>(~TBSTATE_PRESSED);
        s.pressed = -1;
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      return 0;
    default:
      return std::nullopt;
  }
}

// Notifications from its children and tips; nothing for what is not of the family.
std::optional<LRESULT> ToolbarNotification(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      // The tip asks its tool, the toolbar, for texts: the owner answers.
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header && header->hwndFrom == s.tips) {
        HWND owner = Owner(hwnd, s);
        return owner ? SendMessage(owner, WM_NOTIFY, wParam, lParam) : 0;
      }
      return 0;
    }
    default:
      return std::nullopt;
  }
}

// What every window hears: creation, size, font, the end; nothing for what is not of the family.
std::optional<LRESULT> ToolbarWindow(HWND hwnd, State& s, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_CREATE:
      if (StyleOf(hwnd) & TBSTYLE_TOOLTIPS) {
        s.tips = CreateWindowEx(WS_EX_TOPMOST, TOOLTIPS_CLASS, "", WS_POPUP, 0, 0, 0, 0, GetAncestor(hwnd, GA_ROOT),
                                 nullptr, nullptr, nullptr);
        s.ownTips = s.tips != nullptr;
      }
      AutoSize(hwnd, s);
      return 0;
    case WM_SIZE:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_SETFONT:
      s.font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s.font);
    case WM_NCDESTROY:
      if (s.ownTips && s.tips && IsWindow(s.tips)) DestroyWindow(s.tips);
      if (s.ownImages) ImageList_Destroy(s.ownImages);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

LRESULT CALLBACK ToolbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DispatchByFamily(hwnd, message, wParam, lParam, kProp, StateOf<State>(hwnd, kProp, message), Paint,
                          {ToolbarApi, ToolbarInput, ToolbarNotification, ToolbarWindow});
}

}  // namespace

void RegisterToolbar() { RegisterControlClass(TOOLBARCLASSNAME, ToolbarProc, CS_DBLCLKS); }

}  // namespace tavrin::controls::detail
