// The drawing classes: CPoint, CSize, CRect; CGdiObject and its pens, brushes, fonts, bitmaps and regions;
// CDC with its window (CClientDC, CWindowDC) and paint (CPaintDC) forms. A GDI object class owns its handle
// and deletes it when destroyed; FromHandle gives a temporary wrapper that owns nothing and lives while
// the thread keeps using handles (wrappers of handles that have gone are dropped as new ones are made).
#pragma once
#include "mfc/string.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"

class CWnd;

class CPoint : public POINT {
 public:
  CPoint() : POINT{0, 0} {}
  CPoint(int x0, int y0) : POINT{x0, y0} {}
  CPoint(POINT p) : POINT(p) {}  // NOLINT
  explicit CPoint(LPARAM lParam)
      : POINT{static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)} {}
  void Offset(int dx, int dy) { x += dx, y += dy; }
  void Offset(POINT p) { Offset(p.x, p.y); }
  bool operator==(POINT p) const { return x == p.x && y == p.y; }
  bool operator!=(POINT p) const { return !(*this == p); }
  CPoint& operator+=(POINT p) { Offset(p); return *this; }
  CPoint& operator-=(POINT p) { Offset(-p.x, -p.y); return *this; }
  CPoint operator+(POINT p) const { return CPoint(x + p.x, y + p.y); }
  CPoint operator-(POINT p) const { return CPoint(x - p.x, y - p.y); }
  CPoint operator-() const { return CPoint(-x, -y); }
};

class CSize : public SIZE {
 public:
  CSize() : SIZE{0, 0} {}
  CSize(int cx0, int cy0) : SIZE{cx0, cy0} {}
  CSize(SIZE s) : SIZE(s) {}  // NOLINT
  bool operator==(SIZE s) const { return cx == s.cx && cy == s.cy; }
  bool operator!=(SIZE s) const { return !(*this == s); }
  CSize& operator+=(SIZE s) { cx += s.cx, cy += s.cy; return *this; }
  CSize& operator-=(SIZE s) { cx -= s.cx, cy -= s.cy; return *this; }
  CSize operator+(SIZE s) const { return CSize(cx + s.cx, cy + s.cy); }
  CSize operator-(SIZE s) const { return CSize(cx - s.cx, cy - s.cy); }
};

class CRect : public RECT {
 public:
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  CRect(const RECT& r) : RECT(r) {}  // NOLINT
  CRect(LPCRECT r) : RECT(*r) {}     // NOLINT
  CRect(POINT topLeft, SIZE size) : RECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}
  CRect(POINT topLeft, POINT bottomRight) : RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y} {}

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  CSize Size() const { return CSize(Width(), Height()); }
  CPoint& TopLeft() { return *reinterpret_cast<CPoint*>(&left); }
  CPoint& BottomRight() { return *reinterpret_cast<CPoint*>(&right); }
  const CPoint& TopLeft() const { return *reinterpret_cast<const CPoint*>(&left); }
  const CPoint& BottomRight() const { return *reinterpret_cast<const CPoint*>(&right); }
  CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
  operator LPRECT() { return this; }             // NOLINT
  operator LPCRECT() const { return this; }      // NOLINT

  BOOL IsRectEmpty() const { return ::IsRectEmpty(this); }
  BOOL IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  BOOL PtInRect(POINT p) const { return ::PtInRect(this, p); }
  void SetRect(int l, int t, int r, int b) { left = l, top = t, right = r, bottom = b; }
  void SetRectEmpty() { SetRect(0, 0, 0, 0); }
  void CopyRect(LPCRECT r) { *static_cast<RECT*>(this) = *r; }
  BOOL EqualRect(LPCRECT r) const { return ::EqualRect(this, r); }
  void InflateRect(int dx, int dy) { ::InflateRect(this, dx, dy); }
  void InflateRect(SIZE s) { InflateRect(s.cx, s.cy); }
  void InflateRect(int l, int t, int r, int b) { left -= l, top -= t, right += r, bottom += b; }
  void InflateRect(LPCRECT r) { InflateRect(r->left, r->top, r->right, r->bottom); }
  void DeflateRect(int dx, int dy) { ::InflateRect(this, -dx, -dy); }
  void DeflateRect(SIZE s) { DeflateRect(s.cx, s.cy); }
  void DeflateRect(int l, int t, int r, int b) { left += l, top += t, right -= r, bottom -= b; }
  void DeflateRect(LPCRECT r) { DeflateRect(r->left, r->top, r->right, r->bottom); }
  void OffsetRect(int dx, int dy) { ::OffsetRect(this, dx, dy); }
  void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
  void OffsetRect(SIZE s) { OffsetRect(s.cx, s.cy); }
  void MoveToX(int x) { right = x + Width(), left = x; }
  void MoveToY(int y) { bottom = y + Height(), top = y; }
  void MoveToXY(int x, int y) { MoveToX(x), MoveToY(y); }
  void MoveToXY(POINT p) { MoveToXY(p.x, p.y); }
  void NormalizeRect() {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
  }
  BOOL IntersectRect(LPCRECT a, LPCRECT b) { return ::IntersectRect(this, a, b); }
  BOOL UnionRect(LPCRECT a, LPCRECT b) { return ::UnionRect(this, a, b); }
  BOOL SubtractRect(LPCRECT a, LPCRECT b) { return ::SubtractRect(this, a, b); }

  bool operator==(const RECT& r) const { return ::EqualRect(this, &r); }
  bool operator!=(const RECT& r) const { return !(*this == r); }
  CRect& operator=(const RECT& r) { CopyRect(&r); return *this; }
  CRect& operator+=(POINT p) { OffsetRect(p); return *this; }
  CRect& operator-=(POINT p) { OffsetRect(-p.x, -p.y); return *this; }
  CRect& operator&=(const RECT& r) { ::IntersectRect(this, this, &r); return *this; }
  CRect& operator|=(const RECT& r) { ::UnionRect(this, this, &r); return *this; }
  CRect operator+(POINT p) const { CRect r(*this); r.OffsetRect(p); return r; }
  CRect operator-(POINT p) const { CRect r(*this); r.OffsetRect(-p.x, -p.y); return r; }
  CRect operator&(const RECT& o) const { CRect r; ::IntersectRect(&r, this, &o); return r; }
  CRect operator|(const RECT& o) const { CRect r; ::UnionRect(&r, this, &o); return r; }
};

class CGdiObject {
 public:
  CGdiObject() = default;
  virtual ~CGdiObject();
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  HGDIOBJ m_hObject = nullptr;

  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  operator HGDIOBJ() const { return m_hObject; }  // NOLINT
  BOOL Attach(HGDIOBJ object);
  HGDIOBJ Detach();
  // Deletes the handle (FALSE when it is selected somewhere: it stays, still owned).
  BOOL DeleteObject();
  int GetObject(int size, LPVOID buffer) const { return ::GetObject(m_hObject, size, buffer); }
  BOOL CreateStockObject(int index);
  static CGdiObject* FromHandle(HGDIOBJ object);

 protected:
  bool temporary_ = false;  // a FromHandle wrapper: never deletes
  friend struct TempMaps;
};

class CPen : public CGdiObject {
 public:
  CPen() = default;
  CPen(int style, int width, COLORREF color) { CreatePen(style, width, color); }
  CPen(int style, int width, const LOGBRUSH* brush, int styleCount = 0, const DWORD* styles = nullptr) {
    CreatePen(style, width, brush, styleCount, styles);
  }
  BOOL CreatePen(int style, int width, COLORREF color) { return Attach(::CreatePen(style, width, color)); }
  BOOL CreatePen(int style, int width, const LOGBRUSH* brush, int styleCount = 0, const DWORD* styles = nullptr) {
    return Attach(::ExtCreatePen(static_cast<DWORD>(style), static_cast<DWORD>(width), brush,
                                 static_cast<DWORD>(styleCount), styles));
  }
  BOOL CreatePenIndirect(const LOGPEN* pen) { return Attach(::CreatePenIndirect(pen)); }
  operator HPEN() const { return static_cast<HPEN>(m_hObject); }  // NOLINT
  int GetLogPen(LOGPEN* pen) const { return GetObject(sizeof(LOGPEN), pen); }
  int GetExtLogPen(EXTLOGPEN* pen) const { return GetObject(sizeof(EXTLOGPEN), pen); }
  static CPen* FromHandle(HPEN pen);
};

class CBitmap;

class CBrush : public CGdiObject {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
  CBrush(int hatch, COLORREF color) { CreateHatchBrush(hatch, color); }
  explicit CBrush(CBitmap* bitmap);
  BOOL CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
  BOOL CreateHatchBrush(int hatch, COLORREF color) { return Attach(::CreateHatchBrush(hatch, color)); }
  BOOL CreatePatternBrush(CBitmap* bitmap);
  BOOL CreateBrushIndirect(const LOGBRUSH* brush) { return Attach(::CreateBrushIndirect(brush)); }
  // A brush of its own in the system colour's present value.
  BOOL CreateSysColorBrush(int index) { return Attach(::CreateSolidBrush(::GetSysColor(index))); }
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }  // NOLINT
  int GetLogBrush(LOGBRUSH* brush) const { return GetObject(sizeof(LOGBRUSH), brush); }
  static CBrush* FromHandle(HBRUSH brush);
};

class CDC;

class CFont : public CGdiObject {
 public:
  BOOL CreateFontIndirect(const LOGFONT* font) { return Attach(::CreateFontIndirect(font)); }
  BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                  BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                  BYTE pitchAndFamily, LPCSTR face) {
    return Attach(::CreateFont(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                               outPrecision, clipPrecision, quality, pitchAndFamily, face));
  }
  // Size in tenths of a point, converted at the device's (or the screen's) vertical resolution.
  BOOL CreatePointFont(int pointSize, LPCSTR face, CDC* dc = nullptr);
  BOOL CreatePointFontIndirect(const LOGFONT* font, CDC* dc = nullptr);
  operator HFONT() const { return static_cast<HFONT>(m_hObject); }  // NOLINT
  int GetLogFont(LOGFONT* font) const { return GetObject(sizeof(LOGFONT), font); }
  static CFont* FromHandle(HFONT font);
};

class CBitmap : public CGdiObject {
 public:
  BOOL CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
    return Attach(::CreateBitmap(width, height, planes, bitCount, bits));
  }
  BOOL CreateBitmapIndirect(const BITMAP* bm) {
    return bm && CreateBitmap(bm->bmWidth, bm->bmHeight, bm->bmPlanes, bm->bmBitsPixel, bm->bmBits);
  }
  BOOL CreateCompatibleBitmap(CDC* dc, int width, int height);
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }  // NOLINT
  int GetBitmap(BITMAP* bm) const { return GetObject(sizeof(BITMAP), bm); }
  CSize GetBitmapDimension() const;
  static CBitmap* FromHandle(HBITMAP bitmap);
};

struct HRSRC__;
using HRSRC = HRSRC__*;
// A palette bitmap resource (1, 4 or 8 bits a pixel) whose standard button colours follow the system:
// black becomes the button text colour, dark grey (128) the shadow, light grey (192) the face and white
// the highlight. Null for a resource that is not such a bitmap.
HBITMAP AfxLoadSysColorBitmap(HINSTANCE instance, HRSRC resource);

class CRgn : public CGdiObject {
 public:
  BOOL CreateRectRgn(int l, int t, int r, int b) { return Attach(::CreateRectRgn(l, t, r, b)); }
  BOOL CreateRectRgnIndirect(LPCRECT r) { return Attach(::CreateRectRgnIndirect(r)); }
  BOOL CreateEllipticRgn(int l, int t, int r, int b) { return Attach(::CreateEllipticRgn(l, t, r, b)); }
  BOOL CreateEllipticRgnIndirect(LPCRECT r) { return Attach(::CreateEllipticRgnIndirect(r)); }
  BOOL CreateRoundRectRgn(int l, int t, int r, int b, int w, int h) { return Attach(::CreateRoundRectRgn(l, t, r, b, w, h)); }
  BOOL CreatePolygonRgn(const POINT* points, int count, int mode) { return Attach(::CreatePolygonRgn(points, count, mode)); }
  int CombineRgn(const CRgn* a, const CRgn* b, int mode) {
    return ::CombineRgn(*this, a ? static_cast<HRGN>(a->m_hObject) : nullptr, b ? static_cast<HRGN>(b->m_hObject) : nullptr, mode);
  }
  int CopyRgn(const CRgn* source) { return CombineRgn(source, nullptr, RGN_COPY); }
  BOOL EqualRgn(const CRgn* other) const { return ::EqualRgn(*this, *other); }
  int OffsetRgn(int dx, int dy) { return ::OffsetRgn(*this, dx, dy); }
  int OffsetRgn(POINT p) { return OffsetRgn(p.x, p.y); }
  int GetRgnBox(LPRECT r) const { return ::GetRgnBox(*this, r); }
  BOOL PtInRegion(int x, int y) const { return ::PtInRegion(*this, x, y); }
  BOOL PtInRegion(POINT p) const { return PtInRegion(p.x, p.y); }
  BOOL RectInRegion(LPCRECT r) const { return ::RectInRegion(*this, r); }
  void SetRectRgn(int l, int t, int r, int b) { ::SetRectRgn(*this, l, t, r, b); }
  void SetRectRgn(LPCRECT r) { SetRectRgn(r->left, r->top, r->right, r->bottom); }
  operator HRGN() const { return static_cast<HRGN>(m_hObject); }  // NOLINT
  static CRgn* FromHandle(HRGN region);
};

class CDC {
 public:
  CDC() = default;
  virtual ~CDC();  // deletes a DC it made (CreateCompatibleDC / CreateDC), leaves an attached one
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC m_hDC = nullptr;
  HDC m_hAttribDC = nullptr;

  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }  // NOLINT
  BOOL Attach(HDC hdc);
  HDC Detach();
  static CDC* FromHandle(HDC hdc);
  BOOL CreateCompatibleDC(CDC* dc);
  BOOL CreateDC(LPCSTR driver, LPCSTR device, LPCSTR output, const void* init);
  BOOL DeleteDC();
  CWnd* GetWindow() const;

  int SaveDC() { return ::SaveDC(m_hDC); }
  BOOL RestoreDC(int saved) { return ::RestoreDC(m_hDC, saved); }
  int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }

  CPen* SelectObject(CPen* pen);
  CBrush* SelectObject(CBrush* brush);
  CFont* SelectObject(CFont* font);
  CBitmap* SelectObject(CBitmap* bitmap);
  int SelectObject(CRgn* region);
  CGdiObject* SelectObject(CGdiObject* object);
  HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
  CGdiObject* SelectStockObject(int index);
  CPen* GetCurrentPen() const { return CPen::FromHandle(static_cast<HPEN>(::GetCurrentObject(m_hDC, OBJ_PEN))); }
  CBrush* GetCurrentBrush() const { return CBrush::FromHandle(static_cast<HBRUSH>(::GetCurrentObject(m_hDC, OBJ_BRUSH))); }
  CFont* GetCurrentFont() const { return CFont::FromHandle(static_cast<HFONT>(::GetCurrentObject(m_hDC, OBJ_FONT))); }
  CBitmap* GetCurrentBitmap() const { return CBitmap::FromHandle(static_cast<HBITMAP>(::GetCurrentObject(m_hDC, OBJ_BITMAP))); }

  COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
  COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
  COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
  COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
  int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
  int GetBkMode() const { return ::GetBkMode(m_hDC); }
  int SetROP2(int rop2) { return ::SetROP2(m_hDC, rop2); }
  int GetROP2() const { return ::GetROP2(m_hDC); }
  UINT SetTextAlign(UINT align) { return ::SetTextAlign(m_hDC, align); }
  int SetStretchBltMode(int mode) { return ::SetStretchBltMode(m_hDC, mode); }
  int SetPolyFillMode(int mode) { return ::SetPolyFillMode(m_hDC, mode); }
  int SetMapMode(int mode) { return ::SetMapMode(m_hDC, mode); }
  CPoint SetBrushOrg(int x, int y);
  CPoint SetBrushOrg(POINT p) { return SetBrushOrg(p.x, p.y); }
  CPoint SetViewportOrg(int x, int y);
  CPoint SetViewportOrg(POINT p) { return SetViewportOrg(p.x, p.y); }
  CPoint OffsetViewportOrg(int dx, int dy);
  CPoint GetViewportOrg() const;
  CPoint SetWindowOrg(int x, int y);
  CPoint SetWindowOrg(POINT p) { return SetWindowOrg(p.x, p.y); }
  CPoint GetWindowOrg() const;
  void LPtoDP(LPPOINT points, int count = 1) const { ::LPtoDP(m_hDC, points, count); }
  void LPtoDP(LPRECT rect) const { ::LPtoDP(m_hDC, reinterpret_cast<LPPOINT>(rect), 2); }
  void DPtoLP(LPPOINT points, int count = 1) const { ::DPtoLP(m_hDC, points, count); }
  void DPtoLP(LPRECT rect) const { ::DPtoLP(m_hDC, reinterpret_cast<LPPOINT>(rect), 2); }

  int GetClipBox(LPRECT rect) const { return ::GetClipBox(m_hDC, rect); }
  int SelectClipRgn(CRgn* region) { return ::SelectClipRgn(m_hDC, region ? static_cast<HRGN>(region->m_hObject) : nullptr); }
  int SelectClipRgn(CRgn* region, int mode) {
    return ::ExtSelectClipRgn(m_hDC, region ? static_cast<HRGN>(region->m_hObject) : nullptr, mode);
  }
  int IntersectClipRect(int l, int t, int r, int b) { return ::IntersectClipRect(m_hDC, l, t, r, b); }
  int IntersectClipRect(LPCRECT r) { return IntersectClipRect(r->left, r->top, r->right, r->bottom); }
  int ExcludeClipRect(int l, int t, int r, int b) { return ::ExcludeClipRect(m_hDC, l, t, r, b); }
  int ExcludeClipRect(LPCRECT r) { return ExcludeClipRect(r->left, r->top, r->right, r->bottom); }
  BOOL PtVisible(int x, int y) const { return ::PtVisible(m_hDC, x, y); }
  BOOL RectVisible(LPCRECT r) const { return ::RectVisible(m_hDC, r); }

  CPoint MoveTo(int x, int y);
  CPoint MoveTo(POINT p) { return MoveTo(p.x, p.y); }
  CPoint GetCurrentPosition() const;
  BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
  BOOL LineTo(POINT p) { return LineTo(p.x, p.y); }
  BOOL Polyline(const POINT* points, int count) { return ::Polyline(m_hDC, points, count); }
  BOOL Polygon(const POINT* points, int count) { return ::Polygon(m_hDC, points, count); }
  BOOL Rectangle(int l, int t, int r, int b) { return ::Rectangle(m_hDC, l, t, r, b); }
  BOOL Rectangle(LPCRECT r) { return Rectangle(r->left, r->top, r->right, r->bottom); }
  BOOL Ellipse(int l, int t, int r, int b) { return ::Ellipse(m_hDC, l, t, r, b); }
  BOOL Ellipse(LPCRECT r) { return Ellipse(r->left, r->top, r->right, r->bottom); }
  BOOL RoundRect(int l, int t, int r, int b, int w, int h) { return ::RoundRect(m_hDC, l, t, r, b, w, h); }
  BOOL RoundRect(LPCRECT r, POINT p) { return RoundRect(r->left, r->top, r->right, r->bottom, p.x, p.y); }
  COLORREF SetPixel(int x, int y, COLORREF c) { return ::SetPixel(m_hDC, x, y, c); }
  COLORREF SetPixel(POINT p, COLORREF c) { return SetPixel(p.x, p.y, c); }
  BOOL SetPixelV(int x, int y, COLORREF c) { return ::SetPixelV(m_hDC, x, y, c); }
  COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
  COLORREF GetPixel(POINT p) const { return GetPixel(p.x, p.y); }

  void FillRect(LPCRECT rect, CBrush* brush) { ::FillRect(m_hDC, rect, brush ? static_cast<HBRUSH>(brush->m_hObject) : nullptr); }
  // A rectangle in one colour (the background colour is left at that colour, as the real one does).
  void FillSolidRect(LPCRECT rect, COLORREF color);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF color);
  // Top and left edges in topLeft (not the far corners), right and bottom in bottomRight.
  void Draw3dRect(LPCRECT rect, COLORREF topLeft, COLORREF bottomRight);
  void Draw3dRect(int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight);
  void FrameRect(LPCRECT rect, CBrush* brush) { ::FrameRect(m_hDC, rect, static_cast<HBRUSH>(brush->m_hObject)); }
  void InvertRect(LPCRECT rect) { ::InvertRect(m_hDC, rect); }
  void DrawFocusRect(LPCRECT rect) { ::DrawFocusRect(m_hDC, rect); }
  BOOL DrawEdge(LPRECT rect, UINT edge, UINT flags) { return ::DrawEdge(m_hDC, rect, edge, flags); }
  BOOL FillRgn(CRgn* region, CBrush* brush) { return ::FillRgn(m_hDC, *region, *brush); }
  BOOL FrameRgn(CRgn* region, CBrush* brush, int w, int h) { return ::FrameRgn(m_hDC, *region, *brush, w, h); }
  BOOL InvertRgn(CRgn* region) { return ::InvertRgn(m_hDC, *region); }
  BOOL PaintRgn(CRgn* region) { return ::PaintRgn(m_hDC, *region); }

  BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, rop);
  }
  BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, DWORD rop) {
    return ::StretchBlt(m_hDC, x, y, w, h, src ? src->m_hDC : nullptr, sx, sy, sw, sh, rop);
  }
  BOOL PatBlt(int x, int y, int w, int h, DWORD rop) { return ::PatBlt(m_hDC, x, y, w, h, rop); }
  BOOL TransparentBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, UINT transparent) {
    return ::TransparentBlt(m_hDC, x, y, w, h, src->m_hDC, sx, sy, sw, sh, transparent);
  }
  BOOL AlphaBlend(int x, int y, int w, int h, CDC* src, int sx, int sy, int sw, int sh, BLENDFUNCTION blend) {
    return ::AlphaBlend(m_hDC, x, y, w, h, src->m_hDC, sx, sy, sw, sh, blend);
  }
  BOOL GradientFill(TRIVERTEX* vertices, ULONG count, void* mesh, ULONG meshCount, DWORD mode) {
    return ::GradientFill(m_hDC, vertices, count, mesh, meshCount, mode);
  }
  BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
  BOOL DrawIcon(POINT p, HICON icon) { return DrawIcon(p.x, p.y, icon); }
  BOOL DrawState(CPoint p, CSize size, HICON icon, UINT flags, HBRUSH brush = nullptr) {
    return ::DrawState(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, p.x, p.y, size.cx, size.cy, flags | DST_ICON);
  }
  BOOL DrawState(CPoint p, CSize size, HBITMAP bitmap, UINT flags, HBRUSH brush = nullptr) {
    return ::DrawState(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(bitmap), 0, p.x, p.y, size.cx, size.cy, flags | DST_BITMAP);
  }
  BOOL DrawState(CPoint p, CSize size, CBitmap* bitmap, UINT flags, CBrush* brush = nullptr) {
    return DrawState(p, size, static_cast<HBITMAP>(bitmap->m_hObject), flags, brush ? static_cast<HBRUSH>(brush->m_hObject) : nullptr);
  }
  BOOL DrawState(CPoint p, CSize size, LPCSTR text, UINT flags, BOOL prefixText = TRUE, int length = 0,
                 HBRUSH brush = nullptr) {
    return ::DrawState(m_hDC, brush, nullptr, reinterpret_cast<LPARAM>(text), static_cast<WPARAM>(length), p.x, p.y,
                       size.cx, size.cy, flags | (prefixText ? DST_PREFIXTEXT : DST_TEXT));
  }

  int DrawText(LPCSTR text, int length, LPRECT rect, UINT format) { return ::DrawText(m_hDC, text, length, rect, format); }
  int DrawText(const CString& text, LPRECT rect, UINT format) {
    return ::DrawText(m_hDC, text.GetString(), text.GetLength(), rect, format & ~DT_MODIFYSTRING);
  }
  BOOL TextOut(int x, int y, LPCSTR text, int length) { return ::TextOut(m_hDC, x, y, text, length); }
  BOOL TextOut(int x, int y, const CString& text) { return TextOut(x, y, text.GetString(), text.GetLength()); }
  BOOL ExtTextOut(int x, int y, UINT options, LPCRECT rect, LPCSTR text, UINT length, const INT* dx) {
    return ::ExtTextOut(m_hDC, x, y, options, rect, text, length, dx);
  }
  BOOL ExtTextOut(int x, int y, UINT options, LPCRECT rect, const CString& text, const INT* dx) {
    return ExtTextOut(x, y, options, rect, text.GetString(), static_cast<UINT>(text.GetLength()), dx);
  }
  CSize GetTextExtent(LPCSTR text, int length) const;
  CSize GetTextExtent(const CString& text) const { return GetTextExtent(text.GetString(), text.GetLength()); }
  CSize GetOutputTextExtent(const CString& text) const { return GetTextExtent(text); }
  BOOL GetTextMetrics(LPTEXTMETRIC metrics) const { return ::GetTextMetrics(m_hDC, metrics); }
  int GetTextFace(int size, LPSTR face) const { return ::GetTextFace(m_hDC, size, face); }

 protected:
  bool owns_ = false;      // made here: DeleteDC at destruction
  bool temporary_ = false;  // a FromHandle wrapper
  friend struct TempMaps;
};

// The client area of a window (null: the screen) for the object's life.
class CClientDC : public CDC {
 public:
  explicit CClientDC(CWnd* wnd);
  ~CClientDC() override;

 protected:
  HWND m_hWnd = nullptr;
};

// The whole window, non-client area included.
class CWindowDC : public CDC {
 public:
  explicit CWindowDC(CWnd* wnd);
  ~CWindowDC() override;

 protected:
  HWND m_hWnd = nullptr;
};

// BeginPaint in the constructor, EndPaint in the destructor.
class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps{};

 protected:
  HWND m_hWnd = nullptr;
};
