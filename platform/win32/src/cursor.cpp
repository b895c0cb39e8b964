// The mouse cursor: the system's shapes drawn here, the current cursor, WM_SETCURSOR and its default.
#include "win32/cursor.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "gdi_internal.h"
#include "win32/gdi_hooks.h"
#include "win32/resources.h"
#include "window_internal.h"

namespace tavrin::win {
namespace {

constexpr int kSize = 32;  // every system cursor is 32 x 32
constexpr draw::Pixel kClear = 0x00000000;
constexpr draw::Pixel kBlack = 0xFF000000;
constexpr draw::Pixel kWhite = 0xFFFFFFFF;

// A cursor being drawn: 'X' black, 'o' white, anything else clear.
struct Picture {
  draw::Surface pixels{kSize, kSize, kClear};

  void Art(std::initializer_list<const char*> rows, int left = 0, int top = 0) {
    int y = top;
    for (const char* row : rows) {
      for (int x = 0; row[x]; ++x) {
        if (row[x] == 'X') Put(left + x, y, kBlack);
        else if (row[x] == 'o') Put(left + x, y, kWhite);
      }
      ++y;
    }
  }
  // White where `inside` holds.
  void Fill(const std::function<bool(int, int)>& inside) {
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        if (inside(x, y)) Put(x, y, kWhite);
  }
  // A black rim around the white parts, so that the cursor shows on any background.
  void Outline() {
    draw::Surface before = pixels;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        if (before.at(x, y) != kClear) continue;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx >= 0 && ny >= 0 && nx < kSize && ny < kSize && before.at(nx, ny) == kWhite) pixels.set(x, y, kBlack);
          }
      }
  }
  void Put(int x, int y, draw::Pixel p) {
    if (x >= 0 && y >= 0 && x < kSize && y < kSize) pixels.set(x, y, p);
  }
};

void Arrow(Picture& p) {
  p.Art({"X", "XX", "XoX", "XooX", "XoooX", "XooooX", "XoooooX", "XooooooX", "XoooooooX", "XooooooooX", "XoooooXXXXX",
         "XooXooX", "XoX XooX", "XX  XooX", "X    XooX", "     XooX", "      XooX", "      XooX", "       XX"});
}

void Hourglass(Picture& p, int left, int top) {
  p.Art({"XXXXXXXXXXXXX", "XoooooooooooX", "XXXXXXXXXXXXX", " XoooooooooX", " XoXXXXXXXoX", " XooXXXXXooX",
         "  XooXXXooX", "   XooXooX", "    XoooX", "    XoXoX", "   XoooooX", "  XoooXoooX", " XoooXXXoooX",
         " XooXXXXXooX", " XoXXXXXXXoX", "XXXXXXXXXXXXX", "XoooooooooooX", "XXXXXXXXXXXXX"},
        left, top);
}

// A double arrow along x through (cx, cy), `half` pixels each way.
bool AcrossArrow(int x, int y, int cx, int cy, int half) {
  const int dx = x - cx, dy = y - cy;
  if (dx < -half || dx > half) return false;
  const int fromTip = half - (dx < 0 ? -dx : dx);  // 0 at each tip
  const int ady = dy < 0 ? -dy : dy;
  return fromTip < 4 ? ady <= fromTip : ady == 0;
}

void Draw(CursorKind shape, Picture& p) {
  switch (shape) {
    case CursorKind::kIBeam:
      p.Art({"XXX XXX", "   X", "   X", "   X", "   X", "   X", "   X", "   X", "   X", "   X", "   X", "   X", "   X",
             "   X", "   X", "XXX XXX"});
      break;
    case CursorKind::kWait:
      Hourglass(p, 0, 0);
      break;
    case CursorKind::kCross:
      p.Fill([](int x, int y) { return (x == 10 && y <= 20) || (y == 10 && x <= 20); });
      p.Outline();
      break;
    case CursorKind::kUpArrow:
      p.Fill([](int x, int y) { return y <= 20 && (y < 5 ? (x - 5 <= y && 5 - x <= y) : x == 5); });
      p.Outline();
      break;
    case CursorKind::kSizeWE:
      p.Fill([](int x, int y) { return AcrossArrow(x, y, 10, 10, 9); });
      p.Outline();
      break;
    case CursorKind::kSizeNS:
      p.Fill([](int x, int y) { return AcrossArrow(y, x, 10, 10, 9); });
      p.Outline();
      break;
    case CursorKind::kSizeAll:
      p.Fill([](int x, int y) { return AcrossArrow(x, y, 10, 10, 9) || AcrossArrow(y, x, 10, 10, 9); });
      p.Outline();
      break;
    case CursorKind::kSizeNWSE:
    case CursorKind::kSizeNESW: {
      const bool mirror = shape == CursorKind::kSizeNESW;
      p.Fill([mirror](int x, int y) {
        const int u = mirror ? 14 - x : x;
        if (u < 1 || u > 13 || y < 1 || y > 13) return false;
        return u == y || (u + y <= 7 && u <= 6 && y <= 6) || (u + y >= 21 && u >= 8 && y >= 8);
      });
      p.Outline();
      break;
    }
    case CursorKind::kNo:
      p.Fill([](int x, int y) {
        const int dx = x - 10, dy = y - 10, d = dx * dx + dy * dy;
        return (d <= 81 && d >= 42) || (d < 42 && (dx + dy == 0 || dx + dy == 1));  // a ring and its bar
      });
      p.Outline();
      break;
    case CursorKind::kHand:
      p.Art({"     XX", "    XooX", "    XooX", "    XooX", "    XooXXX", "    XooXooXXX", "    XooXooXooXX",
             " XX XooXooXooXoX", "XooXXooooooooXoX", "XoooXooooooooooX", " XooooooooooooX", "  XoooooooooooX",
             "  XooooooooooX", "   XoooooooooX", "   XooooooooX", "    XoooooooX", "    XXXXXXXXX"});
      break;
    case CursorKind::kAppStarting:
      Arrow(p);
      Hourglass(p, 12, 12);
      break;
    case CursorKind::kHelp:
      Arrow(p);
      p.Art({" XXXXX", "XoooooX", "XooXooX", "XXXXooX", "  XooX", "  XooX", "  XXXX", "  XooX", "  XXXX"}, 12, 0);
      break;
    default:
      Arrow(p);
      break;
  }
}

struct SystemCursor {
  WORD id;
  CursorKind shape;
  POINT hotSpot;
};

constexpr SystemCursor kSystemCursors[] = {
    {32512, CursorKind::kArrow, {0, 0}},     {32513, CursorKind::kIBeam, {3, 8}},
    {32514, CursorKind::kWait, {6, 8}},      {32515, CursorKind::kCross, {10, 10}},
    {32516, CursorKind::kUpArrow, {5, 0}},   {32642, CursorKind::kSizeNWSE, {7, 7}},
    {32643, CursorKind::kSizeNESW, {7, 7}},  {32644, CursorKind::kSizeWE, {10, 10}},
    {32645, CursorKind::kSizeNS, {10, 10}},  {32646, CursorKind::kSizeAll, {10, 10}},
    {32648, CursorKind::kNo, {10, 10}},      {32649, CursorKind::kHand, {5, 0}},
    {32650, CursorKind::kAppStarting, {0, 0}}, {32651, CursorKind::kHelp, {0, 0}},
};
constexpr size_t kSystemCount = sizeof kSystemCursors / sizeof kSystemCursors[0];

struct CursorState {
  std::mutex lock;
  HCURSOR system[kSystemCount] = {};
  HCURSOR current = nullptr;
  bool currentSet = false;  // before the first SetCursor the arrow shows
  int showCount = 0;
};

CursorState& State() {
  static auto* state = new CursorState;  // never destroyed: the cursors live as long as the process
  return *state;
}

HCURSOR MakeCursor(const SystemCursor& system) {
  Picture picture;
  Draw(system.shape, picture);
  // The AND mask keeps the screen where the picture is clear; the colour is black there.
  draw::Surface mask(kSize, kSize, 0);
  draw::Surface color(kSize, kSize, 0);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const draw::Pixel p = picture.pixels.at(x, y);
      mask.set(x, y, p == kClear ? 0xFFFFFF : 0);
      color.set(x, y, p == kClear ? 0 : p & 0xFFFFFF);
    }
  ICONINFO info{};
  info.fIcon = FALSE;
  info.xHotspot = static_cast<DWORD>(system.hotSpot.x);
  info.yHotspot = static_cast<DWORD>(system.hotSpot.y);
  info.hbmMask = gdi::CreateBitmapFromSurface(mask);
  info.hbmColor = gdi::CreateBitmapFromSurface(color);
  HCURSOR cursor = CreateIconIndirect(&info);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  // Shared by everyone for the life of the process, like the stock objects.
  if (auto object = gdi::detail::Lookup(cursor)) object->stock = true;
  return cursor;
}

// With the state lock held: every system cursor, made together on first use.
void MakeSystemCursors(CursorState& s) {
  if (s.system[0]) return;
  for (size_t i = 0; i < kSystemCount; ++i) s.system[i] = MakeCursor(kSystemCursors[i]);
}

HCURSOR System(LPCSTR name) {
  auto& s = State();
  std::lock_guard guard(s.lock);
  MakeSystemCursors(s);
  for (size_t i = 0; i < kSystemCount; ++i)
    if (reinterpret_cast<uintptr_t>(name) == kSystemCursors[i].id) return s.system[i];
  return nullptr;
}

HCURSOR SizingCursor(LRESULT hit) {
  switch (hit) {
    case HTLEFT: case HTRIGHT: return System(IDC_SIZEWE);
    case HTTOP: case HTBOTTOM: return System(IDC_SIZENS);
    case HTTOPLEFT: case HTBOTTOMRIGHT: return System(IDC_SIZENWSE);
    case HTTOPRIGHT: case HTBOTTOMLEFT: return System(IDC_SIZENESW);
    default: return System(IDC_ARROW);
  }
}

}  // namespace

CursorLook CurrentCursorLook() {
  CursorLook look;
  HCURSOR cursor;
  {
    auto& s = State();
    std::lock_guard guard(s.lock);
    if (s.showCount < 0 || (s.currentSet && !s.current)) {
      look.kind = CursorKind::kNone;
      return look;
    }
    if (!s.currentSet) return look;  // the arrow
    cursor = s.current;
    for (size_t i = 0; i < kSystemCount; ++i)
      if (s.system[i] == cursor) {
        look.kind = kSystemCursors[i].shape;
        look.hotSpot = kSystemCursors[i].hotSpot;
        return look;
      }
  }
  ICONINFO info{};
  if (!GetIconInfo(cursor, &info)) return look;
  look.kind = CursorKind::kCustom;
  look.hotSpot = POINT{static_cast<LONG>(info.xHotspot), static_cast<LONG>(info.yHotspot)};
  auto mask = gdi::SurfaceOfBitmap(info.hbmMask);
  auto color = info.hbmColor ? gdi::SurfaceOfBitmap(info.hbmColor) : nullptr;
  if (mask) {
    // A monochrome cursor's mask holds the AND rows over the XOR rows.
    const int height = color ? mask->height() : mask->height() / 2;
    look.image.Reset(mask->width(), height, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < mask->width(); ++x) {
        const bool keep = (mask->at(x, y) & 0xFFFFFF) != 0;
        const draw::Pixel ink = (color ? color->at(x, y) : mask->at(x, y + height)) & 0xFFFFFF;
        // Kept screen with ink would invert it: shown as black, which reads on any background.
        if (keep) look.image.set(x, y, ink ? kBlack : kClear);
        else look.image.set(x, y, 0xFF000000 | ink);
      }
  }
  DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return look;
}

namespace detail {

void SendSetCursor(const MSG& msg) {
  const UINT m = msg.message;
  const bool client = m == WM_MOUSEMOVE || m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_MBUTTONDOWN;
  const bool frame = m == WM_NCMOUSEMOVE || m == WM_NCLBUTTONDOWN || m == WM_NCRBUTTONDOWN || m == WM_NCMBUTTONDOWN;
  if ((!client && !frame) || !msg.hwnd || GetCapture()) return;
  const WORD hit = client ? static_cast<WORD>(HTCLIENT) : LOWORD(msg.wParam);
  const WORD mouse = static_cast<WORD>(client ? m : m - WM_NCMOUSEMOVE + WM_MOUSEMOVE);
  SendMessage(msg.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(msg.hwnd), MAKELPARAM(hit, mouse));
}

LRESULT DefSetCursor(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  HCURSOR classCursor = nullptr;
  bool child = false;
  {
    std::lock_guard guard(Table().lock);
    auto window = Find(hwnd);
    if (!window) return FALSE;
    child = !window->TopLevel() && window->parent;
    if (window->cls) classCursor = window->cls->cursor;
  }
  // The parent may set the cursor for its children.
  if (child && SendMessage(GetParent(hwnd), WM_SETCURSOR, wParam, lParam)) return TRUE;
  // Asked on behalf of a child: the child's own default decides.
  if (reinterpret_cast<HWND>(wParam) != hwnd) return FALSE;
  const auto hit = static_cast<LRESULT>(static_cast<short>(LOWORD(static_cast<uintptr_t>(lParam))));
  if (hit == HTERROR) return FALSE;
  if (hit == HTCLIENT) {
    if (!classCursor) return FALSE;
    SetCursor(classCursor);
    return TRUE;
  }
  SetCursor(SizingCursor(hit));
  return TRUE;
}

}  // namespace detail
}  // namespace tavrin::win

HCURSOR LoadCursor(HINSTANCE, LPCSTR name) {
  HCURSOR cursor = IS_INTRESOURCE(name) ? tavrin::win::System(name) : nullptr;
  if (!cursor) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return cursor;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR previous = tavrin::win::System(IDC_ARROW);
  {
    auto& s = tavrin::win::State();
    std::lock_guard guard(s.lock);
    if (s.currentSet) previous = s.current;
    if (s.currentSet && s.current == cursor) return previous;
    s.current = cursor;
    s.currentSet = true;
  }
  tavrin::win::detail::NotifyCursorChanged();
  return previous;
}

HCURSOR GetCursor() {
  auto& s = tavrin::win::State();
  {
    std::lock_guard guard(s.lock);
    if (s.currentSet) return s.current;
  }
  return tavrin::win::System(IDC_ARROW);
}

int ShowCursor(BOOL show) {
  int count;
  {
    auto& s = tavrin::win::State();
    std::lock_guard guard(s.lock);
    count = s.showCount += show ? 1 : -1;
  }
  tavrin::win::detail::NotifyCursorChanged();
  return count;
}
