// The status bar: parts with right edges set by SB_SETPARTS, each a sunken field with its text ("\t"
// splits a text into left, centred and right pieces), or one simple field; a size grip at the right end
// with SBARS_SIZEGRIP. It places itself along its parent's bottom edge at creation and at each WM_SIZE
// its parent passes on.
#include <vector>

#include "comctl_internal.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinStatusBarState";
constexpr int kMaxParts = 256;
constexpr int kBorderVertical = 2;
constexpr int kBorderBetween = 2;

struct Part {
  int right = -1;
  std::string text;
  UINT type = 0;
  LPARAM data = 0;  // an owner-drawn part's value
};

struct State {
  std::vector<Part> parts = std::vector<Part>(1);
  bool simple = false;
  Part simplePart;
  int minHeight = 0;
  HFONT font = nullptr;
  COLORREF back = CLR_DEFAULT;
};

int BarHeight(const State& s) { return std::max(kStatusBarHeight, s.minHeight + 2 * kBorderVertical); }

void PlaceInParent(HWND hwnd, const State& s) {
  const DWORD style = StyleOf(hwnd);
  if (style & (CCS_NORESIZE | CCS_NOPARENTALIGN)) return;
  HWND parent = GetParent(hwnd);
  if (!parent) return;
  RECT pc;
  GetClientRect(parent, &pc);
  const int height = BarHeight(s);
  const bool top = (style & CCS_BOTTOM) == CCS_TOP;
  MoveWindow(hwnd, 0, top ? 0 : pc.bottom - height, pc.right, height, TRUE);
}

bool HasGrip(HWND hwnd) { return (StyleOf(hwnd) & SBARS_SIZEGRIP) != 0; }

RECT PartRect(HWND hwnd, const State& s, size_t index) {
  RECT client;
  GetClientRect(hwnd, &client);
  if (s.simple) return RECT{0, kBorderVertical, client.right, client.bottom};
  int left = 0;
  if (index > 0) left = (s.parts[index - 1].right < 0 ? client.right : s.parts[index - 1].right) + kBorderBetween;
  int right = s.parts[index].right < 0 ? client.right : s.parts[index].right;
  return RECT{std::min(left, right), kBorderVertical, right, client.bottom};
}

RECT GripRect(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  return RECT{client.right - kSizeGripWidth, client.bottom - kSizeGripWidth, client.right, client.bottom};
}

// The classic grip: three pairs of diagonal strokes, light then shadow, toward the corner.
void DrawGrip(HDC hdc, const RECT& grip) {
  HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DHIGHLIGHT));
  HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DSHADOW));
  HGDIOBJ old = SelectObject(hdc, shadow);
  const int right = grip.right - 1, bottom = grip.bottom - 1;
  for (int k = 0; k < 3; ++k) {
    const int d = 4 * k + 3;
    for (int line = 0; line < 3; ++line) {
      SelectObject(hdc, line == 0 ? light : shadow);
      const int off = d + line - 1;
      MoveToEx(hdc, right - off, bottom + 1, nullptr);
      LineTo(hdc, right + 1, bottom - off);
    }
  }
  SelectObject(hdc, old);
  DeleteObject(light);
  DeleteObject(shadow);
}

void DrawPartText(HDC hdc, const std::string& text, RECT rc) {
  InflateRect(&rc, -3, 0);
  const UINT flags = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
  size_t first = text.find('\t');
  if (first == std::string::npos) {
    DrawText(hdc, text.c_str(), -1, &rc, DT_LEFT | flags);
    return;
  }
  size_t second = text.find('\t', first + 1);
  std::string left = text.substr(0, first);
  std::string centre = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  std::string right = second == std::string::npos ? std::string() : text.substr(second + 1);
  DrawText(hdc, left.c_str(), -1, &rc, DT_LEFT | flags);
  DrawText(hdc, centre.c_str(), -1, &rc, DT_CENTER | flags);
  DrawText(hdc, right.c_str(), -1, &rc, DT_RIGHT | flags);
}

void DrawPart(HWND hwnd, HDC hdc, const Part& part, RECT rc, UINT index) {
  if (!(part.type & SBT_NOBORDERS)) {
    RECT edge = rc;
    DrawEdge(hdc, &edge, (part.type & SBT_POPOUT) ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
  }
  if (part.type & SBT_OWNERDRAW) {
    DRAWITEMSTRUCT item{};
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(hwnd));
    item.itemID = index;
    item.hwndItem = hwnd;
    item.hDC = hdc;
    item.rcItem = rc;
    InflateRect(&item.rcItem, -1, -1);
    item.itemData = static_cast<ULONG_PTR>(part.data);
    if (HWND parent = GetParent(hwnd)) SendMessage(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    return;
  }
  DrawPartText(hdc, part.text, rc);
}

void Paint(HWND hwnd, const State& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH back = s.back == CLR_DEFAULT ? GetSysColorBrush(COLOR_BTNFACE) : CreateSolidBrush(s.back);
  FillRect(hdc, &client, back);
  if (s.back != CLR_DEFAULT) DeleteObject(back);
  HGDIOBJ oldFont = SelectObject(hdc, FontOr(s.font));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_BTNTEXT));
  const bool grip = HasGrip(hwnd);
  if (s.simple) {
    RECT rc = PartRect(hwnd, s, 0);
    if (grip) rc.right -= kSizeGripWidth;
    DrawPart(hwnd, hdc, s.simplePart, rc, static_cast<UINT>(SB_SIMPLEID));
  } else {
    for (size_t i = 0; i < s.parts.size(); ++i) {
      RECT rc = PartRect(hwnd, s, i);
      if (grip && i + 1 == s.parts.size()) rc.right = std::max(rc.left, std::min(rc.right, client.right - kSizeGripWidth));
      DrawPart(hwnd, hdc, s.parts[i], rc, static_cast<UINT>(i));
    }
  }
  if (grip) DrawGrip(hdc, GripRect(hwnd));
  SelectObject(hdc, oldFont);
  EndPaint(hwnd, &ps);
}

Part* PartOf(State& s, WPARAM which) {
  const size_t index = which & 0xFF;
  if (index == SB_SIMPLEID) return &s.simplePart;
  return index < s.parts.size() ? &s.parts[index] : nullptr;
}

LRESULT CALLBACK StatusProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  State* s = StateOf<State>(hwnd, kProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_CREATE:
      PlaceInParent(hwnd, *s);
      return 0;
    case WM_SIZE:
      // The parent passes its own WM_SIZE on: follow the parent's width.
      if (!(StyleOf(hwnd) & (CCS_NORESIZE | CCS_NOPARENTALIGN))) {
        HWND parent = GetParent(hwnd);
        RECT pc{}, mine{};
        if (parent) GetClientRect(parent, &pc);
        GetClientRect(hwnd, &mine);
        if (parent && (mine.right != pc.right || mine.bottom != BarHeight(*s))) PlaceInParent(hwnd, *s);
      }
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case SB_SETPARTS: {
      auto* edges = reinterpret_cast<const int*>(lParam);
      if (!edges || wParam == 0 || wParam > kMaxParts) return FALSE;
      s->parts.resize(wParam);
      for (size_t i = 0; i < wParam; ++i) s->parts[i].right = edges[i];
      InvalidateRect(hwnd, nullptr, FALSE);
      return TRUE;
    }
    case SB_GETPARTS: {
      if (auto* edges = reinterpret_cast<int*>(lParam)) {
        for (size_t i = 0; i < std::min(static_cast<size_t>(wParam), s->parts.size()); ++i) edges[i] = s->parts[i].right;
      }
      return static_cast<LRESULT>(s->parts.size());
    }
    case SB_SETTEXTA: {
      Part* part = PartOf(*s, wParam);
      if (!part) return FALSE;
      part->type = static_cast<UINT>(wParam & 0xFF00);
      if (part->type & SBT_OWNERDRAW) {
        part->data = lParam;
        part->text.clear();
      } else {
        part->text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
      }
      if ((wParam & 0xFF) == SB_SIMPLEID ? s->simple : !s->simple) {
        RECT rc = PartRect(hwnd, *s, (wParam & 0xFF) == SB_SIMPLEID ? 0 : wParam & 0xFF);
        InvalidateRect(hwnd, &rc, FALSE);
      }
      return TRUE;
    }
    case SB_GETTEXTA:
    case SB_GETTEXTLENGTHA: {
      Part* part = PartOf(*s, wParam);
      if (!part) return 0;
      if (part->type & SBT_OWNERDRAW) {
        return message == SB_GETTEXTA ? part->data : MAKELPARAM(0, static_cast<int>(part->type));
      }
      if (message == SB_GETTEXTA && lParam) {
        // The caller sized the buffer by SB_GETTEXTLENGTH.
        auto* out = reinterpret_cast<LPSTR>(lParam);
        std::memcpy(out, part->text.c_str(), part->text.size() + 1);
      }
      return MAKELPARAM(static_cast<int>(std::min<size_t>(part->text.size(), 0xFFFF)), static_cast<int>(part->type));
    }
    case SB_GETRECT: {
      auto* rect = reinterpret_cast<RECT*>(lParam);
      if (!rect || (!s->simple && wParam >= s->parts.size())) return FALSE;
      *rect = PartRect(hwnd, *s, s->simple ? 0 : wParam);
      return TRUE;
    }
    case SB_GETBORDERS: {
      if (auto* borders = reinterpret_cast<int*>(lParam)) {
        borders[0] = 0;
        borders[1] = kBorderVertical;
        borders[2] = kBorderBetween;
      }
      return TRUE;
    }
    case SB_SETMINHEIGHT:
      s->minHeight = std::clamp(static_cast<int>(wParam), 0, 1000);
      return 0;
    case SB_SIMPLE:
      s->simple = wParam != 0;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case SB_ISSIMPLE:
      return s->simple;
    case SB_SETBKCOLOR: {
      COLORREF old = s->back;
      s->back = static_cast<COLORREF>(lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(old);
    }
    case WM_SETTEXT:
      DefWindowProc(hwnd, message, wParam, lParam);
      return SendMessage(hwnd, SB_SETTEXTA, 0, lParam);
    case WM_GETTEXT:
      return CopyOut(s->parts[0].text, reinterpret_cast<LPSTR>(lParam), wParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(s->parts[0].text.size());
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_NCHITTEST: {
      LRESULT hit = DefWindowProc(hwnd, message, wParam, lParam);
      if (hit == HTCLIENT && HasGrip(hwnd)) {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd, &p);
        RECT grip = GripRect(hwnd);
        HWND top = GetAncestor(hwnd, GA_ROOT);
        if (PtInRect(&grip, p) && !(top && IsZoomed(top))) return HTBOTTOMRIGHT;
      }
      return hit;
    }
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kProp, s, Paint);
}

}  // namespace

void RegisterStatusBar() { RegisterControlClass(STATUSCLASSNAME, StatusProc, CS_DBLCLKS); }

}  // namespace tavrin::controls::detail
