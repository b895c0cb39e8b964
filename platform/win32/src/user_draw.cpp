// Rectangles, system colours, metrics and parameters, and the user-interface drawing calls.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "gdi_internal.h"
#include "win32/user_draw.h"

using namespace tavrin::gdi::detail;
namespace draw = tavrin::draw;

// --- Rectangles ---

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  *rect = {left, top, right, bottom};
  return TRUE;
}
BOOL SetRectEmpty(LPRECT rect) { return SetRect(rect, 0, 0, 0, 0); }
BOOL CopyRect(LPRECT dst, const RECT* src) {
  if (!dst || !src) return FALSE;
  *dst = *src;
  return TRUE;
}
BOOL InflateRect(LPRECT rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left -= dx;
  rect->right += dx;
  rect->top -= dy;
  rect->bottom += dy;
  return TRUE;
}
BOOL OffsetRect(LPRECT rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left += dx;
  rect->right += dx;
  rect->top += dy;
  rect->bottom += dy;
  return TRUE;
}
BOOL IsRectEmpty(const RECT* rect) { return !rect || rect->right <= rect->left || rect->bottom <= rect->top; }
BOOL IntersectRect(LPRECT dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right), std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&r)) {
    *dst = {0, 0, 0, 0};
    return FALSE;
  }
  *dst = r;
  return TRUE;
}
BOOL UnionRect(LPRECT dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  if (IsRectEmpty(a) && IsRectEmpty(b)) {
    *dst = {0, 0, 0, 0};
    return FALSE;
  }
  if (IsRectEmpty(a)) *dst = *b;
  else if (IsRectEmpty(b)) *dst = *a;
  else *dst = {std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right), std::max(a->bottom, b->bottom)};
  return TRUE;
}
BOOL SubtractRect(LPRECT dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  RECT r = *a;
  RECT i;
  if (IntersectRect(&i, a, b)) {
    // Only a cut that leaves a rectangle changes it.
    if (i.top == r.top && i.bottom == r.bottom) {
      if (i.left == r.left) r.left = i.right;
      else if (i.right == r.right) r.right = i.left;
    } else if (i.left == r.left && i.right == r.right) {
      if (i.top == r.top) r.top = i.bottom;
      else if (i.bottom == r.bottom) r.bottom = i.top;
    }
  }
  *dst = r;
  return !IsRectEmpty(dst);
}
BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
BOOL PtInRect(const RECT* rect, POINT p) {
  return rect && p.x >= rect->left && p.x < rect->right && p.y >= rect->top && p.y < rect->bottom;
}

// --- System colours ---

namespace {

std::mutex g_colorLock;
COLORREF g_colors[31] = {
    0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000, 0x000000, 0xFFFFFF, 0xC8D0D4,
    0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040,
    0xC8D0D4, 0x000000, 0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0, 0x6A240A, 0xC8D0D4};
std::function<void()>& ColorListener() {
  static auto* listener = new std::function<void()>();
  return *listener;
}

std::atomic<bool> g_highContrast{false};
std::atomic<bool> g_dropShadow{true};
std::atomic<bool> g_flatMenu{false};

LOGFONT UiFont(int weight = FW_NORMAL) {
  LOGFONT lf{};
  lf.lfHeight = -11;
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(lf.lfFaceName, "Tahoma");
  return lf;
}

}  // namespace

namespace tavrin::gdi {
void SetSysColorChangeListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(g_colorLock);
  ColorListener() = std::move(listener);
}
}  // namespace tavrin::gdi

DWORD GetSysColor(int index) {
  if (index < 0 || index >= 31) return 0;
  std::lock_guard<std::mutex> lock(g_colorLock);
  return g_colors[index];
}

HBRUSH GetSysColorBrush(int index) { return SysColorBrushHandle(index); }

BOOL SetSysColors(int count, const INT* indexes, const COLORREF* colors) {
  if (count < 0 || (count > 0 && (!indexes || !colors))) return FALSE;
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(g_colorLock);
    for (int i = 0; i < count; ++i)
      if (indexes[i] >= 0 && indexes[i] < 31) g_colors[indexes[i]] = colors[i] & 0xFFFFFF;
    listener = ColorListener();
  }
  if (listener) listener();
  return TRUE;
}

// --- Metrics and parameters ---

int GetSystemMetrics(int index) {
  int w = ScreenWidth(), h = ScreenHeight();
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
    case SM_CXFULLSCREEN: return w;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN: return h;
    case SM_CYFULLSCREEN: return h - 19;
    case SM_CXMAXIMIZED: return w + 8;
    case SM_CYMAXIMIZED: return h + 8;
    case SM_CXMAXTRACK: return w + 12;
    case SM_CYMAXTRACK: return h + 12;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB: return 16;
    case SM_CYCAPTION: return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
    case SM_CXFOCUSBORDER:
    case SM_CYFOCUSBORDER:
    case SM_CMONITORS:
    case SM_MOUSEPRESENT: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
    case SM_CXDRAG:
    case SM_CYDRAG: return 4;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    case SM_CYMENU: return 19;
    case SM_CXMIN: return 112;
    case SM_CYMIN: return 27;
    case SM_CXSIZE:
    case SM_CYSIZE:
    case SM_CXMENUSIZE:
    case SM_CYMENUSIZE: return 18;
    case SM_CXMINTRACK: return 112;
    case SM_CYMINTRACK: return 27;
    case SM_CXICONSPACING:
    case SM_CYICONSPACING: return 75;
    case SM_CMOUSEBUTTONS: return 3;
    case SM_CXEDGE:
    case SM_CYEDGE: return 2;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CYSMCAPTION: return 15;
    case SM_CXSMSIZE:
    case SM_CYSMSIZE: return 12;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK: return 13;
    default: return 0;  // SM_SWAPBUTTON, SM_REMOTESESSION, SM_MENUDROPALIGNMENT...
  }
}

BOOL SystemParametersInfo(UINT action, UINT param, PVOID data, UINT) {
  switch (action) {
    case SPI_GETBORDER:
      if (!data) break;
      *static_cast<int*>(data) = 1;
      return TRUE;
    case SPI_GETICONTITLELOGFONT:
      if (!data) break;
      *static_cast<LOGFONT*>(data) = UiFont();
      return TRUE;
    case SPI_GETNONCLIENTMETRICS: {
      auto* m = static_cast<NONCLIENTMETRICS*>(data);
      if (!m || m->cbSize != sizeof(NONCLIENTMETRICS) || (param && param != sizeof(NONCLIENTMETRICS))) break;
      m->iBorderWidth = 1;
      m->iScrollWidth = m->iScrollHeight = 16;
      m->iCaptionWidth = m->iCaptionHeight = 18;
      m->lfCaptionFont = UiFont(FW_BOLD);
      m->iSmCaptionWidth = 12;
      m->iSmCaptionHeight = 15;
      m->lfSmCaptionFont = UiFont(FW_BOLD);
      m->iMenuWidth = m->iMenuHeight = 18;
      m->lfMenuFont = m->lfStatusFont = m->lfMessageFont = UiFont();
      return TRUE;
    }
    case SPI_GETWORKAREA:
      if (!data) break;
      *static_cast<RECT*>(data) = {0, 0, ScreenWidth(), ScreenHeight() - 30};
      return TRUE;
    case SPI_GETHIGHCONTRAST: {
      auto* hc = static_cast<HIGHCONTRAST*>(data);
      if (!hc || hc->cbSize != sizeof(HIGHCONTRAST)) break;
      hc->dwFlags = HCF_AVAILABLE | (g_highContrast ? HCF_HIGHCONTRASTON : 0);
      hc->lpszDefaultScheme = nullptr;
      return TRUE;
    }
    case SPI_SETHIGHCONTRAST: {
      auto* hc = static_cast<HIGHCONTRAST*>(data);
      if (!hc || hc->cbSize != sizeof(HIGHCONTRAST)) break;
      g_highContrast = (hc->dwFlags & HCF_HIGHCONTRASTON) != 0;
      return TRUE;
    }
    case SPI_GETDROPSHADOW:
    case SPI_GETFLATMENU:
    case SPI_GETKEYBOARDCUES:
    case SPI_GETGRADIENTCAPTIONS:
      if (!data) break;
      *static_cast<BOOL*>(data) = action == SPI_GETDROPSHADOW ? g_dropShadow.load()
                                  : action == SPI_GETFLATMENU ? g_flatMenu.load()
                                                              : TRUE;
      return TRUE;
    case SPI_SETDROPSHADOW: g_dropShadow = reinterpret_cast<uintptr_t>(data) != 0; return TRUE;
    case SPI_SETFLATMENU: g_flatMenu = reinterpret_cast<uintptr_t>(data) != 0; return TRUE;
    case SPI_GETMENUSHOWDELAY:
      if (!data) break;
      *static_cast<DWORD*>(data) = 400;
      return TRUE;
    default: break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// --- Filling, framing ---

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  auto dc = LookupDc(hdc);
  auto b = BrushOf(brush);
  if (!dc || !dc->surface || !rect || !b) return 0;
  draw::Paint paint;
  draw::Surface tile;
  if (!PaintOf(*dc, *b, paint, tile)) return 1;
  draw::Rect r = ToRect(*rect).offset(dc->OffX(), dc->OffY());
  if (r.empty()) return 1;
  DrawScope scope(*dc);
  draw::PatBlt(*dc->surface, dc->Clip(), r, paint, draw::rop3::kPatCopy);
  dc->Touch(r);
  return 1;
}

int FrameRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  if (!rect || IsRectEmpty(rect)) return 0;
  RECT edges[4] = {{rect->left, rect->top, rect->right, rect->top + 1},
                   {rect->left, rect->bottom - 1, rect->right, rect->bottom},
                   {rect->left, rect->top + 1, rect->left + 1, rect->bottom - 1},
                   {rect->right - 1, rect->top + 1, rect->right, rect->bottom - 1}};
  for (const RECT& e : edges)
    if (!IsRectEmpty(&e) && !FillRect(hdc, &e, brush)) return 0;
  return 1;
}

BOOL InvertRect(HDC hdc, const RECT* rect) {
  auto dc = LookupDc(hdc);
  if (!dc || !dc->surface || !rect) return FALSE;
  draw::Rect r = ToRect(*rect).offset(dc->OffX(), dc->OffY()).normalized();
  DrawScope scope(*dc);
  draw::PatBlt(*dc->surface, dc->Clip(), r, draw::Paint{}, draw::rop3::kDstInvert);
  dc->Touch(r);
  return TRUE;
}

BOOL DrawFocusRect(HDC hdc, const RECT* rect) {
  auto dc = LookupDc(hdc);
  if (!dc || !dc->surface || !rect) return FALSE;
  draw::Rect r = ToRect(*rect).offset(dc->OffX(), dc->OffY());
  if (r.empty()) return TRUE;
  // Every other pixel, by the parity of x + y, is inverted; each pixel of the frame once.
  draw::Surface checker(8, 8, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) checker.set(x, y, ((x + y) & 1) ? 0 : 0xFFFFFF);
  draw::Paint paint;
  paint.tile = &checker;
  int bw = std::max(1, GetSystemMetrics(SM_CXFOCUSBORDER)), bh = std::max(1, GetSystemMetrics(SM_CYFOCUSBORDER));
  draw::Region frame = draw::Region::Combine(draw::Region(r), draw::Region({r.left + bw, r.top + bh, r.right - bw, r.bottom - bh}),
                                             draw::Region::Op::kDiff);
  DrawScope scope(*dc);
  draw::Region clip = draw::Region::Combine(dc->Clip(), frame, draw::Region::Op::kAnd);
  draw::PatBlt(*dc->surface, clip, r, paint, draw::rop3::kPatInvert);
  dc->Touch(r);
  return TRUE;
}

// --- DrawEdge ---

namespace {

void Line(HDC hdc, const RECT& r, int colorIndex) {
  if (!IsRectEmpty(&r)) FillRect(hdc, &r, GetSysColorBrush(colorIndex));
}

// One ring: top and left in `tl`, bottom and right in `br`; the far corners belong to the bottom-right.
void Ring(HDC hdc, const RECT& r, UINT flags, int tl, int br) {
  if (flags & BF_TOP) Line(hdc, {r.left, r.top, r.right - ((flags & BF_RIGHT) ? 1 : 0), r.top + 1}, tl);
  if (flags & BF_LEFT) Line(hdc, {r.left, r.top, r.left + 1, r.bottom - ((flags & BF_BOTTOM) ? 1 : 0)}, tl);
  if (flags & BF_BOTTOM) Line(hdc, {r.left, r.bottom - 1, r.right, r.bottom}, br);
  if (flags & BF_RIGHT) Line(hdc, {r.right - 1, r.top, r.right, r.bottom}, br);
}

}  // namespace

BOOL DrawEdge(HDC hdc, LPRECT rect, UINT edge, UINT flags) {
  if (!LookupDc(hdc) || !rect) return FALSE;
  RECT r = *rect;
  UINT outer = edge & BDR_OUTER, inner = edge & BDR_INNER;
  auto colors = [&](bool isOuter, UINT kind, int& tl, int& br) {
    if (flags & BF_MONO) {
      tl = br = isOuter ? COLOR_WINDOWFRAME : COLOR_WINDOW;
    } else if (flags & BF_FLAT) {
      tl = br = isOuter ? COLOR_3DSHADOW : COLOR_3DFACE;
    } else if (isOuter) {
      bool raised = kind & BDR_RAISEDOUTER;
      tl = raised ? ((flags & BF_SOFT) ? COLOR_3DHILIGHT : COLOR_3DLIGHT) : COLOR_3DSHADOW;
      br = raised ? COLOR_3DDKSHADOW : COLOR_3DHILIGHT;
    } else {
      bool raised = kind & BDR_RAISEDINNER;
      tl = raised ? ((flags & BF_SOFT) ? COLOR_3DLIGHT : COLOR_3DHILIGHT) : COLOR_3DDKSHADOW;
      br = raised ? COLOR_3DSHADOW : COLOR_3DLIGHT;
    }
  };
  auto shrink = [&]() {
    if (flags & BF_LEFT) ++r.left;
    if (flags & BF_TOP) ++r.top;
    if (flags & BF_RIGHT) --r.right;
    if (flags & BF_BOTTOM) --r.bottom;
  };
  int tl, br;
  if (outer) {
    colors(true, outer, tl, br);
    Ring(hdc, r, flags, tl, br);
    shrink();
  }
  if (inner) {
    colors(false, inner, tl, br);
    Ring(hdc, r, flags, tl, br);
    shrink();
  }
  if (flags & BF_MIDDLE) FillRect(hdc, &r, GetSysColorBrush((flags & (BF_MONO | BF_FLAT)) ? COLOR_WINDOW : COLOR_3DFACE));
  if (flags & BF_ADJUST) *rect = r;
  return TRUE;
}

// --- DrawText ---

namespace {

struct TextLine {
  std::string text;
  int underline = -1;  // index of the character a prefix underlines
};

int Width(const draw::Font* f, std::string_view s, int tabWidth, bool tabs) {
  if (!f) return 0;
  int w = 0;
  for (unsigned char c : s) {
    if (c == '\t' && tabs) w = (w / tabWidth + 1) * tabWidth;
    else w += f->Advance(c);
  }
  return w;
}

TextLine StripPrefix(std::string_view s, UINT format) {
  TextLine out;
  if (format & DT_NOPREFIX) {
    out.text = s;
    return out;
  }
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size()) {
      ++i;
      if (s[i] != '&' && out.underline < 0) out.underline = static_cast<int>(out.text.size());
    } else if (s[i] == '&') {
      continue;
    }
    out.text.push_back(s[i]);
  }
  if (format & DT_HIDEPREFIX) out.underline = -1;
  return out;
}

std::string EndEllipsis(const draw::Font* f, const std::string& s, int width, int tabWidth, bool tabs, bool words) {
  size_t keep = s.size();
  while (keep > 0 && Width(f, s.substr(0, keep) + "...", tabWidth, tabs) > width) {
    --keep;
    if (words) {
      size_t space = s.rfind(' ', keep);
      keep = space == std::string::npos ? 0 : space;
    }
  }
  return s.substr(0, keep) + "...";
}

std::string PathEllipsis(const draw::Font* f, const std::string& s, int width, int tabWidth, bool tabs) {
  size_t slash = s.find_last_of("\\/");
  if (slash == std::string::npos) return EndEllipsis(f, s, width, tabWidth, tabs, false);
  std::string tail = s.substr(slash);
  size_t keep = slash;
  while (keep > 0 && Width(f, s.substr(0, keep) + "..." + tail, tabWidth, tabs) > width) --keep;
  std::string out = s.substr(0, keep) + "..." + tail;
  if (Width(f, out, tabWidth, tabs) > width) out = EndEllipsis(f, out, width, tabWidth, tabs, false);
  return out;
}

// Breaks a paragraph into lines no wider than `width` at spaces; a word wider than the line is cut
// between characters only in the edit-control manner.
std::vector<std::string> WordBreak(const draw::Font* f, const std::string& para, int width, int tabWidth, bool tabs,
                                   bool cutWords) {
  std::vector<std::string> lines;
  std::string current;
  size_t i = 0;
  while (i < para.size()) {
    size_t end = para.find(' ', i);
    if (end == std::string::npos) end = para.size();
    std::string word = para.substr(i, end - i);
    std::string candidate = current.empty() ? word : current + " " + word;
    if (current.empty() || Width(f, candidate, tabWidth, tabs) <= width) {
      current = candidate;
    } else {
      lines.push_back(current);
      current = word;
    }
    // A word alone too wide.
    while (cutWords && Width(f, current, tabWidth, tabs) > width && current.size() > 1) {
      size_t n = current.size() - 1;
      while (n > 1 && Width(f, current.substr(0, n), tabWidth, tabs) > width) --n;
      lines.push_back(current.substr(0, n));
      current = current.substr(n);
    }
    i = end + 1;
    if (end == para.size()) break;
  }
  lines.push_back(current);
  return lines;
}

}  // namespace

int DrawText(HDC hdc, LPCSTR text, int length, LPRECT rect, UINT format) {
  auto dc = LookupDc(hdc);
  if (!dc || !rect || !text) return 0;
  std::string s = length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
  auto fontObj = FontOf(*dc);
  const draw::Font* f = fontObj->font.get();
  int lineHeight = f ? f->metrics().height + ((format & DT_EXTERNALLEADING) ? f->metrics().externalLeading : 0) : 0;
  int width = rect->right - rect->left;
  int avg = f ? std::max(1, f->metrics().averageCharWidth) : 8;
  int tabWidth = avg * ((format & DT_TABSTOP) ? std::max(1u, (format >> 8) & 0xFF) : 8);
  bool tabs = (format & DT_EXPANDTABS) != 0;
  bool single = (format & DT_SINGLELINE) != 0;

  std::vector<std::string> paragraphs;
  if (single) {
    std::string flat;
    for (char c : s)
      if (c != '\r' && c != '\n') flat.push_back(c);
    paragraphs.push_back(flat);
  } else {
    std::string cur;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\r' || s[i] == '\n') {
        paragraphs.push_back(cur);
        cur.clear();
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      } else {
        cur.push_back(s[i]);
      }
    }
    paragraphs.push_back(cur);
  }

  std::vector<TextLine> lines;
  bool modified = false;
  for (const std::string& para : paragraphs) {
    TextLine stripped = StripPrefix(para, format);
    std::vector<std::string> pieces;
    if ((format & DT_WORDBREAK) && !single) pieces = WordBreak(f, stripped.text, width, tabWidth, tabs, format & DT_EDITCONTROL);
    else pieces.push_back(stripped.text);
    int offset = 0;
    for (std::string& piece : pieces) {
      TextLine line;
      line.text = piece;
      if (stripped.underline >= offset && stripped.underline < offset + static_cast<int>(piece.size()))
        line.underline = stripped.underline - offset;
      offset += static_cast<int>(piece.size()) + 1;
      if (Width(f, line.text, tabWidth, tabs) > width) {
        if (format & DT_END_ELLIPSIS) line.text = EndEllipsis(f, line.text, width, tabWidth, tabs, false), modified = true;
        else if (format & DT_WORD_ELLIPSIS) line.text = EndEllipsis(f, line.text, width, tabWidth, tabs, true), modified = true;
        else if (format & DT_PATH_ELLIPSIS) line.text = PathEllipsis(f, line.text, width, tabWidth, tabs), modified = true;
        if (line.underline >= static_cast<int>(line.text.size()) - 3 && modified) line.underline = -1;
      }
      lines.push_back(line);
    }
  }
  // The edit-control manner shows no partly visible last line.
  if ((format & DT_EDITCONTROL) && !(format & DT_CALCRECT) && lineHeight > 0) {
    size_t fit = static_cast<size_t>(std::max(1, (rect->bottom - rect->top) / lineHeight));
    if (lines.size() > fit) {
      lines.resize(fit);
      // The last line shown ends in an ellipsis when text was cut off after it.
      if (format & DT_END_ELLIPSIS) {
        TextLine& last = lines.back();
        std::string candidate = last.text + "...";
        last.text = Width(f, candidate, tabWidth, tabs) <= width ? candidate
                                                                  : EndEllipsis(f, last.text + " ", width, tabWidth, tabs, false);
        modified = true;
      }
    }
  }
  if (modified && (format & DT_MODIFYSTRING) && lines.size() == 1) {
    // The caller's buffer holds the text plus room for the ellipsis.
    std::memcpy(const_cast<char*>(text), lines[0].text.c_str(), lines[0].text.size() + 1);
  }

  int maxWidth = 0;
  for (const TextLine& l : lines) maxWidth = std::max(maxWidth, Width(f, l.text, tabWidth, tabs));
  int total = lineHeight * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    rect->right = rect->left + maxWidth;
    rect->bottom = rect->top + total;
    return total;
  }
  int y = rect->top;
  if (single && (format & DT_VCENTER)) y = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
  else if (single && (format & DT_BOTTOM)) y = rect->bottom - lineHeight;
  int result = (single && (format & (DT_VCENTER | DT_BOTTOM))) ? y - rect->top + lineHeight : total;
  if (format & DT_PREFIXONLY) return result;
  // Clipped to a rectangle with no room (a column dragged to nothing): nothing shows.
  if (!(format & DT_NOCLIP) && rect->right <= rect->left) return result;

  UINT savedAlign = dc->state.textAlign;
  dc->state.textAlign = TA_LEFT | TA_TOP;
  for (const TextLine& line : lines) {
    int w = Width(f, line.text, tabWidth, tabs);
    int x = rect->left;
    if (format & DT_CENTER) x = rect->left + (width - w) / 2;
    else if (format & DT_RIGHT) x = rect->right - w;
    UINT options = (format & DT_NOCLIP) ? 0 : ETO_CLIPPED;
    if (tabs && line.text.find('\t') != std::string::npos) {
      // Draw the pieces between tabs at their stops.
      int pen = 0;
      size_t start = 0;
      while (start <= line.text.size()) {
        size_t tab = line.text.find('\t', start);
        std::string piece = line.text.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
        ExtTextOut(hdc, x + pen, y, options, rect, piece.c_str(), static_cast<UINT>(piece.size()), nullptr);
        pen += Width(f, piece, tabWidth, false);
        if (tab == std::string::npos) break;
        pen = (pen / tabWidth + 1) * tabWidth;
        start = tab + 1;
      }
    } else {
      ExtTextOut(hdc, x, y, options, rect, line.text.c_str(), static_cast<UINT>(line.text.size()), nullptr);
    }
    if (line.underline >= 0 && f && !(format & DT_HIDEPREFIX)) {
      int ux = x + Width(f, line.text.substr(0, line.underline), tabWidth, tabs);
      int uw = f->Advance(static_cast<unsigned char>(line.text[line.underline]));
      int uy = y + f->metrics().ascent + 1;
      RECT u{ux, uy, ux + uw, uy + 1};
      if (!(format & DT_NOCLIP)) IntersectRect(&u, &u, rect);
      HBRUSH b = CreateSolidBrush(dc->state.textColor);
      FillRect(hdc, &u, b);
      DeleteObject(b);
    }
    y += lineHeight;
  }
  dc->state.textAlign = savedAlign;
  return result;
}

// --- DrawState ---

BOOL DrawState(HDC hdc, HBRUSH brush, DRAWSTATEPROC proc, LPARAM data, WPARAM wData, int x, int y, int cx, int cy,
               UINT flags) {
  auto dc = LookupDc(hdc);
  if (!dc || !dc->surface) return FALSE;
  UINT type = flags & 0x000F;
  std::string text;
  if (type == DST_TEXT || type == DST_PREFIXTEXT) {
    const char* p = reinterpret_cast<const char*>(data);
    if (!p) return FALSE;
    text = wData ? std::string(p, wData) : std::string(p);
  }
  // The image's size when not given.
  if (cx == 0 || cy == 0) {
    switch (type) {
      case DST_TEXT:
      case DST_PREFIXTEXT: {
        RECT r{0, 0, 0, 0};
        DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &r,
                 DT_CALCRECT | DT_SINGLELINE | (type == DST_TEXT ? DT_NOPREFIX : 0));
        if (cx == 0) cx = r.right;
        if (cy == 0) cy = r.bottom;
        break;
      }
      case DST_ICON: {
        ICONINFO ii;
        if (!GetIconInfo(reinterpret_cast<HICON>(data), &ii)) return FALSE;
        BITMAP bm{};
        GetObject(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof(bm), &bm);
        if (cx == 0) cx = bm.bmWidth;
        if (cy == 0) cy = ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
        DeleteObject(ii.hbmMask);
        if (ii.hbmColor) DeleteObject(ii.hbmColor);
        break;
      }
      case DST_BITMAP: {
        BITMAP bm{};
        if (!GetObject(reinterpret_cast<HBITMAP>(data), sizeof(bm), &bm)) return FALSE;
        if (cx == 0) cx = bm.bmWidth;
        if (cy == 0) cy = bm.bmHeight;
        break;
      }
      default: break;
    }
  }
  if (cx <= 0 || cy <= 0) return TRUE;
  // Render the image alone into a white memory surface, then place it by state.
  HDC mem = CreateCompatibleDC(hdc);
  HBITMAP canvas = CreateBitmap(cx, cy, 1, 32, nullptr);
  HGDIOBJ oldBitmap = SelectObject(mem, canvas);
  RECT all{0, 0, cx, cy};
  FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(mem, GetCurrentObject(hdc, OBJ_FONT));
  SetTextColor(mem, (flags & (DSS_MONO | DSS_DISABLED | DSS_UNION)) ? 0 : GetTextColor(hdc));
  SetBkMode(mem, TRANSPARENT);
  // Pixels the image covers (the canvas starts white and a white image pixel counts as background).
  draw::Surface* pixels = tavrin::gdi::SurfaceOfBitmap(canvas).get();
  auto maskFromCanvas = [&](std::vector<uint8_t>& mask) {
    mask.assign(static_cast<size_t>(cx) * cy, 0);
    for (int j = 0; j < cy; ++j)
      for (int i = 0; i < cx; ++i) mask[static_cast<size_t>(j) * cx + i] = (pixels->at(i, j) & 0xFFFFFF) != 0xFFFFFF;
  };
  std::vector<uint8_t> mask;
  switch (type) {
    case DST_TEXT:
    case DST_PREFIXTEXT: {
      UINT f = DT_SINGLELINE | DT_NOCLIP | (type == DST_TEXT ? DT_NOPREFIX : 0) |
               ((flags & DSS_HIDEPREFIX) ? DT_HIDEPREFIX : 0) | ((flags & DSS_PREFIXONLY) ? DT_PREFIXONLY : 0);
      DrawText(mem, text.c_str(), static_cast<int>(text.size()), &all, f);
      break;
    }
    case DST_ICON: DrawIconEx(mem, 0, 0, reinterpret_cast<HICON>(data), cx, cy, 0, nullptr, DI_NORMAL); break;
    case DST_BITMAP: {
      HDC src = CreateCompatibleDC(hdc);
      HGDIOBJ old = SelectObject(src, reinterpret_cast<HBITMAP>(data));
      BitBlt(mem, 0, 0, cx, cy, src, 0, 0, SRCCOPY);
      SelectObject(src, old);
      DeleteDC(src);
      break;
    }
    case DST_COMPLEX:
      if (proc) proc(mem, data, wData, cx, cy);
      break;
    default: break;
  }
  maskFromCanvas(mask);
  auto place = [&](int ox, int oy, COLORREF color, bool dither) {
    draw::Region clip = dc->Clip();
    draw::Pixel px = dc->Color(color);
    DrawScope scope(*dc);
    for (int j = 0; j < cy; ++j)
      for (int i = 0; i < cx; ++i) {
        if (!mask[static_cast<size_t>(j) * cx + i]) continue;
        int dx = x + ox + i + dc->OffX(), dy = y + oy + j + dc->OffY();
        if (dither && ((dx + dy) & 1)) continue;
        if (clip.contains(dx, dy)) dc->surface->set(dx, dy, px);
      }
    dc->Touch({x + dc->OffX(), y + dc->OffY(), x + dc->OffX() + cx + 1, y + dc->OffY() + cy + 1});
  };
  COLORREF brushColor = GetSysColor(COLOR_WINDOWTEXT);
  if (auto b = BrushOf(brush)) brushColor = b->sysColor >= 0 ? GetSysColor(b->sysColor) : b->color;
  if (flags & DSS_DISABLED) {
    place(1, 1, GetSysColor(COLOR_3DHILIGHT), false);
    place(0, 0, GetSysColor(COLOR_3DSHADOW), false);
  } else if (flags & DSS_MONO) {
    place(0, 0, brushColor, false);
  } else if (flags & DSS_UNION) {
    place(0, 0, brushColor, true);
  } else if (type == DST_TEXT || type == DST_PREFIXTEXT) {
    UINT f = DT_SINGLELINE | DT_NOCLIP | (type == DST_TEXT ? DT_NOPREFIX : 0) | ((flags & DSS_HIDEPREFIX) ? DT_HIDEPREFIX : 0);
    RECT r{x, y, x + cx, y + cy};
    int mode = SetBkMode(hdc, TRANSPARENT);
    DrawText(hdc, text.c_str(), static_cast<int>(text.size()), &r, f);
    SetBkMode(hdc, mode);
  } else if (type == DST_ICON) {
    DrawIconEx(hdc, x, y, reinterpret_cast<HICON>(data), cx, cy, 0, nullptr, DI_NORMAL);
  } else if (type == DST_BITMAP) {
    HDC src = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(src, reinterpret_cast<HBITMAP>(data));
    BitBlt(hdc, x, y, cx, cy, src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
  } else {
    BitBlt(hdc, x, y, cx, cy, mem, 0, 0, SRCCOPY);
  }
  SelectObject(mem, oldBitmap);
  DeleteDC(mem);
  DeleteObject(canvas);
  return TRUE;
}
