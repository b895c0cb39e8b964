// Device contexts: memory, screen and window DCs, their state, coordinates and clipping; regions.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <type_traits>

#include "gdi_internal.h"

using namespace tavrin::gdi::detail;
namespace draw = tavrin::draw;
namespace gdi = tavrin::gdi;

namespace {

std::atomic<int> g_screenWidth{1024};
std::atomic<int> g_screenHeight{768};

std::mutex g_providerLock;
gdi::WindowDcProvider& Provider() {
  static auto* provider = new gdi::WindowDcProvider();
  return *provider;
}
gdi::WindowDcProvider CurrentProvider() {
  std::lock_guard<std::mutex> lock(g_providerLock);
  return Provider();
}

// The screen's surface when no window manager serves GetDC(NULL).
std::shared_ptr<draw::Surface> FallbackScreen() {
  static std::mutex lock;
  static std::shared_ptr<draw::Surface> screen;
  std::lock_guard<std::mutex> guard(lock);
  if (!screen || screen->width() != g_screenWidth || screen->height() != g_screenHeight)
    screen = std::make_shared<draw::Surface>(g_screenWidth, g_screenHeight, 0x3A6EA5);
  return screen;
}

std::shared_ptr<Dc> NewDc(Dc::Kind kind) {
  auto dc = std::make_shared<Dc>();
  dc->kind = kind;
  // Defaults: black pen, white brush, the system font.
  dc->state.pen = GetStockObject(BLACK_PEN);
  dc->state.brush = GetStockObject(WHITE_BRUSH);
  dc->state.font = GetStockObject(SYSTEM_FONT);
  dc->pen = LookupAs<Pen>(dc->state.pen);
  dc->brush = LookupAs<Brush>(dc->state.brush);
  dc->font = LookupAs<Font>(dc->state.font);
  ++dc->pen->selections;
  ++dc->brush->selections;
  ++dc->font->selections;
  return dc;
}

HDC WindowDc(HWND hwnd, bool whole) {
  gdi::WindowDcProvider provider = CurrentProvider();
  gdi::WindowDcTarget target;
  if (!provider.acquire || !provider.acquire(hwnd, whole, target) || !target.surface) {
    if (hwnd) {
      // No window manager: a DC that draws nowhere but measures like any other.
      target.surface = std::make_shared<draw::Surface>(1, 1, 0);
      target.visible = draw::Region();
    } else {
      target.surface = FallbackScreen();
      target.visible = draw::Region(target.surface->bounds());
    }
  }
  return gdi::CreateSurfaceDC(target, hwnd);
}

draw::Region RegionOf(HRGN rgn, bool* ok) {
  auto r = LookupAs<Rgn>(rgn);
  *ok = r != nullptr;
  return r ? r->region : draw::Region();
}

int KindOf(const draw::Region& r) { return r.empty() ? NULLREGION : (r.simple() ? SIMPLEREGION : COMPLEXREGION); }

// The DC's clip in device units, whole visible area when none is set.
draw::Region DeviceClip(const Dc& dc) {
  if (!dc.surface) return {};
  draw::Region r = dc.visible ? *dc.visible : draw::Region(dc.surface->bounds().offset(-dc.origin.x, -dc.origin.y));
  if (dc.state.clip) r &= *dc.state.clip;
  return r;
}

int LogToDevX(const Dc& dc, int x) { return x - dc.state.windowOrg.x + dc.state.viewportOrg.x; }
int LogToDevY(const Dc& dc, int y) { return y - dc.state.windowOrg.y + dc.state.viewportOrg.y; }

}  // namespace

namespace tavrin::gdi::detail {
int ScreenWidth() { return g_screenWidth; }
int ScreenHeight() { return g_screenHeight; }
}  // namespace tavrin::gdi::detail

namespace tavrin::gdi {

void SetWindowDcProvider(WindowDcProvider provider) {
  std::lock_guard<std::mutex> lock(g_providerLock);
  Provider() = std::move(provider);
}

void SetScreenSize(int width, int height) {
  g_screenWidth = std::max(1, width);
  g_screenHeight = std::max(1, height);
}

HDC CreateSurfaceDC(const WindowDcTarget& target, HWND hwnd) {
  if (!target.surface) return nullptr;
  auto dc = NewDc(hwnd ? Dc::Kind::kWindow : Dc::Kind::kScreen);
  dc->hwnd = hwnd;
  dc->surface = target.surface;
  dc->origin = target.origin;
  dc->visible = target.visible;
  return static_cast<HDC>(Insert(dc));
}

std::shared_ptr<draw::Surface> SurfaceOfDC(HDC hdc, draw::Point* origin) {
  auto dc = LookupDc(hdc);
  if (!dc) return nullptr;
  if (origin) *origin = dc->origin;
  if (dc->bitmap) dc->bitmap->LoadFromBits();
  return dc->surface;
}

}  // namespace tavrin::gdi

HDC CreateCompatibleDC(HDC hdc) {
  if (hdc && !LookupDc(hdc)) return nullptr;
  auto dc = NewDc(Dc::Kind::kMemory);
  dc->state.bitmap = StockBitmap();
  dc->bitmap = LookupAs<Bitmap>(dc->state.bitmap);
  dc->surface = dc->bitmap->surface;
  return static_cast<HDC>(Insert(dc));
}

HDC CreateDC(LPCSTR driver, LPCSTR, LPCSTR, const void*) {
  if (!driver) return nullptr;
  std::string d(driver);
  for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (d != "DISPLAY") return nullptr;
  return WindowDc(nullptr, false);
}

BOOL DeleteDC(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  DeselectAll(*dc);
  Remove(hdc);
  return TRUE;
}

HDC GetDC(HWND hwnd) { return WindowDc(hwnd, false); }
HDC GetWindowDC(HWND hwnd) { return WindowDc(hwnd, true); }

HDC GetDCEx(HWND hwnd, HRGN clip, DWORD flags) {
  HDC hdc = WindowDc(hwnd, (flags & DCX_WINDOW) != 0);
  auto dc = LookupDc(hdc);
  bool ok = false;
  draw::Region r = RegionOf(clip, &ok);
  if (dc && ok && (flags & (DCX_INTERSECTRGN | DCX_EXCLUDERGN))) {
    // The region is in screen units of the window manager's choosing; taken as DC units here.
    draw::Region vis = dc->visible ? *dc->visible : draw::Region(dc->surface->bounds());
    dc->visible = draw::Region::Combine(vis, r, (flags & DCX_INTERSECTRGN) ? draw::Region::Op::kAnd : draw::Region::Op::kDiff);
  }
  return hdc;
}

int ReleaseDC(HWND hwnd, HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc || dc->kind == Dc::Kind::kMemory) return 0;
  gdi::WindowDcProvider provider = CurrentProvider();
  if (provider.released && !dc->touched.empty()) provider.released(hwnd, dc->touched);
  DeselectAll(*dc);
  Remove(hdc);
  return 1;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  *paint = PAINTSTRUCT{};
  gdi::WindowDcProvider provider = CurrentProvider();
  gdi::WindowDcTarget target;
  if (!provider.beginPaint || !provider.beginPaint(hwnd, target, *paint) || !target.surface) {
    target.surface = std::make_shared<draw::Surface>(1, 1, 0);
    target.visible = draw::Region();
  }
  HDC hdc = gdi::CreateSurfaceDC(target, hwnd);
  if (auto dc = LookupDc(hdc)) dc->fromPaint = true;
  paint->hdc = hdc;
  return hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  gdi::WindowDcProvider provider = CurrentProvider();
  auto dc = LookupDc(paint->hdc);
  if (dc) {
    if (provider.released && !dc->touched.empty()) provider.released(hwnd, dc->touched);
    DeselectAll(*dc);
    Remove(paint->hdc);
  }
  if (provider.endPaint) provider.endPaint(hwnd, *paint);
  return TRUE;
}

HWND WindowFromDC(HDC hdc) {
  auto dc = LookupDc(hdc);
  return dc ? dc->hwnd : nullptr;
}

int SaveDC(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->state);
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int saved) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  int n = static_cast<int>(dc->saved.size());
  int index = saved < 0 ? n + saved : saved - 1;  // negative: relative to the latest
  if (index < 0 || index >= n) return FALSE;
  DcState state = dc->saved[index];
  dc->saved.resize(index);
  // Reselect what was selected then (objects deleted since are skipped).
  HGDIOBJ objects[] = {state.pen, state.brush, state.font, state.bitmap};
  for (HGDIOBJ o : objects)
    if (o && Lookup(o)) SelectObject(hdc, o);
  if (state.palette && Lookup(state.palette)) SelectPalette(hdc, static_cast<HPALETTE>(state.palette), FALSE);
  state.pen = dc->state.pen;
  state.brush = dc->state.brush;
  state.font = dc->state.font;
  state.bitmap = dc->state.bitmap;
  state.palette = dc->state.palette;
  dc->state = state;
  return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  switch (index) {
    case DRIVERVERSION: return 0x4000;
    case TECHNOLOGY: return DT_RASDISPLAY;
    case HORZSIZE: return g_screenWidth * 254 / 960;
    case VERTSIZE: return g_screenHeight * 254 / 960;
    case HORZRES:
    case DESKTOPHORZRES: return g_screenWidth;
    case VERTRES:
    case DESKTOPVERTRES: return g_screenHeight;
    case BITSPIXEL: return dc->Mono() ? 1 : 32;
    case PLANES: return 1;
    case NUMBRUSHES:
    case NUMPENS:
    case NUMCOLORS: return -1;
    case NUMFONTS: return 0;
    case RASTERCAPS: return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case SIZEPALETTE:
    case NUMRESERVED: return 0;
    case COLORRES: return 24;
    case VREFRESH: return 60;
    case SHADEBLENDCAPS: return SB_CONST_ALPHA | SB_PIXEL_ALPHA | SB_GRAD_RECT | SB_GRAD_TRI;
    default: return 0;
  }
}

namespace {

// One field of a DC's state, replaced when the new value is `valid`; the old value, or `failed` for a
// bad DC or value.
template <class T>
T SwapState(HDC hdc, T DcState::*field, std::type_identity_t<T> value, std::type_identity_t<T> failed,
            bool valid = true) {
  auto dc = LookupDc(hdc);
  if (!dc || !valid) return failed;
  std::swap(dc->state.*field, value);
  return value;
}
template <class T>
T ReadState(HDC hdc, T DcState::*field, std::type_identity_t<T> failed) {
  auto dc = LookupDc(hdc);
  return dc ? dc->state.*field : failed;
}

}  // namespace

COLORREF SetTextColor(HDC hdc, COLORREF color) { return SwapState(hdc, &DcState::textColor, color, CLR_INVALID); }
COLORREF GetTextColor(HDC hdc) { return ReadState(hdc, &DcState::textColor, CLR_INVALID); }
COLORREF SetBkColor(HDC hdc, COLORREF color) { return SwapState(hdc, &DcState::bkColor, color, CLR_INVALID); }
COLORREF GetBkColor(HDC hdc) { return ReadState(hdc, &DcState::bkColor, CLR_INVALID); }
UINT SetTextAlign(HDC hdc, UINT align) {
  return SwapState(hdc, &DcState::textAlign, align, static_cast<UINT>(GDI_ERROR_INT));
}
UINT GetTextAlign(HDC hdc) { return ReadState(hdc, &DcState::textAlign, static_cast<UINT>(GDI_ERROR_INT)); }
int SetBkMode(HDC hdc, int mode) {
  return SwapState(hdc, &DcState::bkMode, mode, 0, mode == OPAQUE || mode == TRANSPARENT);
}
int GetBkMode(HDC hdc) { return ReadState(hdc, &DcState::bkMode, 0); }
int SetROP2(HDC hdc, int rop2) { return SwapState(hdc, &DcState::rop2, rop2, 0, rop2 >= R2_BLACK && rop2 <= R2_WHITE); }
int GetROP2(HDC hdc) { return ReadState(hdc, &DcState::rop2, 0); }
int SetStretchBltMode(HDC hdc, int mode) {
  return SwapState(hdc, &DcState::stretchMode, mode, 0, mode >= BLACKONWHITE && mode <= HALFTONE);
}
int GetStretchBltMode(HDC hdc) { return ReadState(hdc, &DcState::stretchMode, 0); }
int SetPolyFillMode(HDC hdc, int mode) {
  return SwapState(hdc, &DcState::polyFillMode, mode, 0, mode == ALTERNATE || mode == WINDING);
}
int GetPolyFillMode(HDC hdc) { return ReadState(hdc, &DcState::polyFillMode, 0); }
int SetMapMode(HDC hdc, int mode) { return LookupDc(hdc) && mode == MM_TEXT ? MM_TEXT : 0; }
int GetMapMode(HDC hdc) { return LookupDc(hdc) ? MM_TEXT : 0; }
int SetTextCharacterExtra(HDC hdc, int extra) {
  return SwapState(hdc, &DcState::textCharExtra, extra, static_cast<int>(0x80000000));
}
COLORREF SetDCBrushColor(HDC hdc, COLORREF color) { return SwapState(hdc, &DcState::dcBrushColor, color, CLR_INVALID); }
COLORREF SetDCPenColor(HDC hdc, COLORREF color) { return SwapState(hdc, &DcState::dcPenColor, color, CLR_INVALID); }

namespace {
BOOL SetPoint(HDC hdc, POINT DcState::*field, int x, int y, LPPOINT old, bool relative) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  POINT& p = dc->state.*field;
  if (old) *old = p;
  if (relative) {
    p.x += x;
    p.y += y;
  } else {
    p = {x, y};
  }
  return TRUE;
}
BOOL GetPoint(HDC hdc, POINT DcState::*field, LPPOINT out) {
  auto dc = LookupDc(hdc);
  if (!dc || !out) return FALSE;
  *out = dc->state.*field;
  return TRUE;
}
}  // namespace

BOOL SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT old) { return SetPoint(hdc, &DcState::brushOrg, x, y, old, false); }
BOOL GetBrushOrgEx(HDC hdc, LPPOINT point) { return GetPoint(hdc, &DcState::brushOrg, point); }
BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old) { return SetPoint(hdc, &DcState::viewportOrg, x, y, old, false); }
BOOL GetViewportOrgEx(HDC hdc, LPPOINT point) { return GetPoint(hdc, &DcState::viewportOrg, point); }
BOOL OffsetViewportOrgEx(HDC hdc, int dx, int dy, LPPOINT old) { return SetPoint(hdc, &DcState::viewportOrg, dx, dy, old, true); }
BOOL SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT old) { return SetPoint(hdc, &DcState::windowOrg, x, y, old, false); }
BOOL GetWindowOrgEx(HDC hdc, LPPOINT point) { return GetPoint(hdc, &DcState::windowOrg, point); }
BOOL OffsetWindowOrgEx(HDC hdc, int dx, int dy, LPPOINT old) { return SetPoint(hdc, &DcState::windowOrg, dx, dy, old, true); }

BOOL LPtoDP(HDC hdc, LPPOINT points, int count) {
  auto dc = LookupDc(hdc);
  if (!dc || (!points && count > 0)) return FALSE;
  for (int i = 0; i < count; ++i) points[i] = {LogToDevX(*dc, points[i].x), LogToDevY(*dc, points[i].y)};
  return TRUE;
}

BOOL DPtoLP(HDC hdc, LPPOINT points, int count) {
  auto dc = LookupDc(hdc);
  if (!dc || (!points && count > 0)) return FALSE;
  for (int i = 0; i < count; ++i) {
    points[i].x += dc->state.windowOrg.x - dc->state.viewportOrg.x;
    points[i].y += dc->state.windowOrg.y - dc->state.viewportOrg.y;
  }
  return TRUE;
}

BOOL GdiFlush() { return TRUE; }

// --- Clipping ---

int ExtSelectClipRgn(HDC hdc, HRGN region, int mode) {
  auto dc = LookupDc(hdc);
  if (!dc) return ERROR;
  if (!region) {
    if (mode != RGN_COPY) return ERROR;
    dc->state.clip.reset();
    return KindOf(DeviceClip(*dc));
  }
  bool ok = false;
  draw::Region r = RegionOf(region, &ok);  // regions are in device units
  if (!ok) return ERROR;
  draw::Region current = dc->state.clip ? *dc->state.clip : DeviceClip(*dc);
  switch (mode) {
    case RGN_COPY: dc->state.clip = r; break;
    case RGN_AND: dc->state.clip = draw::Region::Combine(current, r, draw::Region::Op::kAnd); break;
    case RGN_OR: dc->state.clip = draw::Region::Combine(current, r, draw::Region::Op::kOr); break;
    case RGN_XOR: dc->state.clip = draw::Region::Combine(current, r, draw::Region::Op::kXor); break;
    case RGN_DIFF: dc->state.clip = draw::Region::Combine(current, r, draw::Region::Op::kDiff); break;
    default: return ERROR;
  }
  return KindOf(DeviceClip(*dc));
}

int SelectClipRgn(HDC hdc, HRGN region) { return ExtSelectClipRgn(hdc, region, RGN_COPY); }

namespace {
int ClipWithRect(HDC hdc, int left, int top, int right, int bottom, draw::Region::Op op) {
  auto dc = LookupDc(hdc);
  if (!dc) return ERROR;
  draw::Rect r = draw::Rect{LogToDevX(*dc, left), LogToDevY(*dc, top), LogToDevX(*dc, right), LogToDevY(*dc, bottom)}.normalized();
  draw::Region current = dc->state.clip ? *dc->state.clip : DeviceClip(*dc);
  dc->state.clip = draw::Region::Combine(current, draw::Region(r), op);
  return KindOf(DeviceClip(*dc));
}
}  // namespace

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  return ClipWithRect(hdc, left, top, right, bottom, draw::Region::Op::kAnd);
}
int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) {
  return ClipWithRect(hdc, left, top, right, bottom, draw::Region::Op::kDiff);
}

int OffsetClipRgn(HDC hdc, int dx, int dy) {
  auto dc = LookupDc(hdc);
  if (!dc) return ERROR;
  if (dc->state.clip) dc->state.clip->offset(dx, dy);
  return KindOf(DeviceClip(*dc));
}

int GetClipBox(HDC hdc, LPRECT rect) {
  auto dc = LookupDc(hdc);
  if (!dc || !rect) return ERROR;
  draw::Region r = DeviceClip(*dc);
  draw::Rect b = r.bounds();
  int dx = dc->state.windowOrg.x - dc->state.viewportOrg.x, dy = dc->state.windowOrg.y - dc->state.viewportOrg.y;
  *rect = r.empty() ? RECT{0, 0, 0, 0} : ToRECT(b.offset(dx, dy));
  return KindOf(r);
}

int GetClipRgn(HDC hdc, HRGN region) {
  auto dc = LookupDc(hdc);
  auto r = LookupAs<Rgn>(region);
  if (!dc || !r) return -1;
  if (!dc->state.clip) return 0;
  r->region = *dc->state.clip;
  return 1;
}

BOOL PtVisible(HDC hdc, int x, int y) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  return DeviceClip(*dc).contains(LogToDevX(*dc, x), LogToDevY(*dc, y));
}

BOOL RectVisible(HDC hdc, const RECT* rect) {
  auto dc = LookupDc(hdc);
  if (!dc || !rect) return FALSE;
  draw::Rect r{LogToDevX(*dc, rect->left), LogToDevY(*dc, rect->top), LogToDevX(*dc, rect->right), LogToDevY(*dc, rect->bottom)};
  return DeviceClip(*dc).intersects(r.normalized());
}

// --- Regions ---

namespace {
HRGN NewRegion(draw::Region r) {
  auto o = std::make_shared<Rgn>();
  o->region = std::move(r);
  return static_cast<HRGN>(Insert(o));
}
draw::Rect Box(int l, int t, int r, int b) { return draw::Rect{l, t, r, b}.normalized(); }
}  // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) { return NewRegion(draw::Region(Box(left, top, right, bottom))); }
HRGN CreateRectRgnIndirect(const RECT* rect) {
  return rect ? CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom) : nullptr;
}

namespace {
// The pixels a shape's fill and outline cover, read back from a drawing of it.
template <class DrawFn>
draw::Region ShapeRegion(draw::Rect box, DrawFn fn) {
  if (box.empty()) return {};
  draw::Surface s(box.width(), box.height(), 0);
  draw::Paint on;
  on.color = 1;
  draw::LineStyle pen;
  pen.color = 1;
  fn(s, draw::Region(s.bounds()), draw::Rect{0, 0, box.width(), box.height()}, &pen, &on);
  std::vector<draw::Region::Band> bands;
  for (int y = 0; y < s.height(); ++y) {
    draw::Region::Band band{box.top + y, box.top + y + 1, {}};
    for (int x = 0; x < s.width(); ++x) {
      bool in = s.at(x, y) != 0;
      bool before = x > 0 && s.at(x - 1, y) != 0;
      if (in && !before) band.xs.push_back(box.left + x);
      if (!in && before) band.xs.push_back(box.left + x);
    }
    if (s.width() > 0 && s.at(s.width() - 1, y) != 0) band.xs.push_back(box.left + s.width());
    bands.push_back(std::move(band));
  }
  return draw::Region::FromBands(std::move(bands));
}
}  // namespace

HRGN CreateEllipticRgn(int left, int top, int right, int bottom) {
  return NewRegion(ShapeRegion(Box(left, top, right, bottom), [](auto& s, const auto& clip, auto box, auto* pen, auto* fill) {
    draw::DrawEllipse(s, clip, box, pen, fill);
  }));
}
HRGN CreateEllipticRgnIndirect(const RECT* rect) {
  return rect ? CreateEllipticRgn(rect->left, rect->top, rect->right, rect->bottom) : nullptr;
}
HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int ew, int eh) {
  return NewRegion(ShapeRegion(Box(left, top, right, bottom), [&](auto& s, const auto& clip, auto box, auto* pen, auto* fill) {
    draw::DrawRoundRect(s, clip, box, ew, eh, pen, fill);
  }));
}
HRGN CreatePolygonRgn(const POINT* points, int count, int fillMode) {
  if (!points || count < 0) return nullptr;
  std::vector<draw::Point> pts;
  for (int i = 0; i < count; ++i) pts.push_back({points[i].x, points[i].y});
  return NewRegion(draw::PolygonRegion(pts, fillMode == WINDING));
}

int CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode) {
  auto d = LookupAs<Rgn>(dst);
  auto a = LookupAs<Rgn>(src1);
  if (!d || !a) return ERROR;
  if (mode == RGN_COPY) {
    d->region = a->region;
    return KindOf(d->region);
  }
  auto b = LookupAs<Rgn>(src2);
  if (!b) return ERROR;
  draw::Region::Op op;
  switch (mode) {
    case RGN_AND: op = draw::Region::Op::kAnd; break;
    case RGN_OR: op = draw::Region::Op::kOr; break;
    case RGN_XOR: op = draw::Region::Op::kXor; break;
    case RGN_DIFF: op = draw::Region::Op::kDiff; break;
    default: return ERROR;
  }
  d->region = draw::Region::Combine(a->region, b->region, op);
  return KindOf(d->region);
}

BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom) {
  auto r = LookupAs<Rgn>(region);
  if (!r) return FALSE;
  r->region = draw::Region(Box(left, top, right, bottom));
  return TRUE;
}

int OffsetRgn(HRGN region, int dx, int dy) {
  auto r = LookupAs<Rgn>(region);
  if (!r) return ERROR;
  r->region.offset(dx, dy);
  return KindOf(r->region);
}

int GetRgnBox(HRGN region, LPRECT rect) {
  auto r = LookupAs<Rgn>(region);
  if (!r || !rect) return ERROR;
  *rect = ToRECT(r->region.bounds());
  return KindOf(r->region);
}

BOOL EqualRgn(HRGN a, HRGN b) {
  auto ra = LookupAs<Rgn>(a), rb = LookupAs<Rgn>(b);
  if (!ra || !rb) return ERROR;
  return ra->region == rb->region;
}

BOOL PtInRegion(HRGN region, int x, int y) {
  auto r = LookupAs<Rgn>(region);
  return r && r->region.contains(x, y);
}

BOOL RectInRegion(HRGN region, const RECT* rect) {
  auto r = LookupAs<Rgn>(region);
  return r && rect && r->region.intersects(ToRect(*rect).normalized());
}
