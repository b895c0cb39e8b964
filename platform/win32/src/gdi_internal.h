// GDI objects and device contexts as the GDI files share them.
#pragma once
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "draw/raster.h"
#include "draw/text.h"
#include "win32/gdi_hooks.h"

namespace tavrin::gdi::detail {

inline draw::Pixel ToPixel(COLORREF c) { return draw::Rgb(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline COLORREF ToColorref(draw::Pixel p) { return RGB(draw::RedOf(p), draw::GreenOf(p), draw::BlueOf(p)); }
inline draw::Rect ToRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
inline RECT ToRECT(const draw::Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

struct Object {
  explicit Object(DWORD t) : type(t) {}
  // A copy is a new object: selected nowhere.
  Object(const Object& o) : type(o.type), stock(o.stock) {}
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;
  DWORD type;
  bool stock = false;
  std::atomic<int> selections{0};  // DCs holding it selected (stock objects on several threads at once)
};

struct Pen : Object {
  Pen() : Object(OBJ_PEN) {}
  int style = PS_SOLID;  // with the type and cap bits of ExtCreatePen
  int width = 1;
  COLORREF color = 0;
  bool dcPen = false;  // DC_PEN: the DC's pen colour
  UINT brushStyle = BS_SOLID;
  std::vector<DWORD> userStyle;
};

struct Bitmap;

struct Brush : Object {
  Brush() : Object(OBJ_BRUSH) {}
  UINT style = BS_SOLID;
  COLORREF color = 0;
  int hatch = 0;
  int sysColor = -1;    // a system-colour brush follows SetSysColors
  bool dcBrush = false;  // DC_BRUSH
  std::shared_ptr<draw::Surface> pattern;
  bool monoPattern = false;  // 0 bits take the text colour, 1 bits the background colour
};

struct Font : Object {
  Font() : Object(OBJ_FONT) {}
  LOGFONT lf{};
  std::shared_ptr<draw::Font> font;  // null when no file could be opened
};

struct Bitmap : Object {
  Bitmap() : Object(OBJ_BITMAP) {}
  int width = 0, height = 0;
  int bpp = 32;
  bool mono = false;  // a 1-bit device bitmap: pixels only black or white
  std::shared_ptr<draw::Surface> surface;
  // DIB sections: the caller's bits; below 32 bits per pixel `surface` is a converted copy kept in step.
  bool dib = false;
  bool topDown = false;
  std::vector<uint8_t> bits;
  std::vector<RGBQUAD> colors;
  BITMAPINFOHEADER header{};
  DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};  // channel masks of 16-bit rows
  int stride() const { return ((width * bpp + 31) / 32) * 4; }
  bool Mirrored() const { return dib && bpp != 32; }
  void LoadFromBits();  // bits -> surface
  void StoreToBits();   // surface -> bits
};

struct Rgn : Object {
  Rgn() : Object(OBJ_REGION) {}
  draw::Region region;
};

struct Palette : Object {
  Palette() : Object(OBJ_PAL) {}
  std::vector<PALETTEENTRY> entries;
};

struct Icon : Object {
  Icon() : Object(kIconObjects) {}
  bool isIcon = true;
  DWORD hotX = 0, hotY = 0;
  int width = 0, height = 0;
  draw::Surface mask;   // white: keep the destination (then XOR with colour)
  draw::Surface color;  // black where the mask is white for a plain icon
  bool hasColor = false;
  bool hasAlpha = false;
};

struct DcState {
  COLORREF textColor = 0;
  COLORREF bkColor = 0xFFFFFF;
  int bkMode = OPAQUE;
  int rop2 = R2_COPYPEN;
  UINT textAlign = 0;
  int stretchMode = BLACKONWHITE;
  int polyFillMode = ALTERNATE;
  int textCharExtra = 0;
  COLORREF dcBrushColor = 0xFFFFFF;
  COLORREF dcPenColor = 0;
  POINT brushOrg{0, 0};
  POINT viewportOrg{0, 0};
  POINT windowOrg{0, 0};
  POINT position{0, 0};
  HGDIOBJ pen = nullptr, brush = nullptr, font = nullptr, bitmap = nullptr, palette = nullptr;
  std::optional<draw::Region> clip;  // device units
};

struct Dc : Object {
  Dc() : Object(OBJ_DC) {}
  enum class Kind { kMemory, kWindow, kScreen } kind = Kind::kMemory;
  HWND hwnd = nullptr;
  bool fromPaint = false;
  std::shared_ptr<draw::Surface> surface;
  draw::Point origin;
  std::optional<draw::Region> visible;  // device units; none: the whole surface
  DcState state;
  std::vector<DcState> saved;
  // Held so selected objects stay alive while selected.
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Font> font;
  std::shared_ptr<Bitmap> bitmap;
  std::shared_ptr<Palette> palette;
  draw::Rect touched;  // surface units

  bool Mono() const { return kind == Kind::kMemory && bitmap && bitmap->mono; }
  // Logical to surface units.
  int OffX() const { return state.viewportOrg.x - state.windowOrg.x + origin.x; }
  int OffY() const { return state.viewportOrg.y - state.windowOrg.y + origin.y; }
  // The clip in surface units (visible part, clip region, the surface).
  draw::Region Clip() const;
  // A colour as drawn here (black or white on a 1-bit bitmap).
  draw::Pixel Color(COLORREF c) const;
  void Touch(const draw::Rect& r) { touched = touched.unite(r); }
};

// The object table.
HGDIOBJ Insert(std::shared_ptr<Object> object);
std::shared_ptr<Object> Lookup(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> LookupAs(HGDIOBJ handle) {
  return std::dynamic_pointer_cast<T>(Lookup(handle));
}
void Remove(HGDIOBJ handle);
std::shared_ptr<Dc> LookupDc(HDC hdc);

// gdi_objects.cpp
std::shared_ptr<Font> DefaultFont();
HGDIOBJ StockBitmap();
void DeselectAll(Dc& dc);
HBRUSH SysColorBrushHandle(int index);

// A brush as a paint for one DC (hatch and mono pattern colours come from the DC). `tile` holds a
// pattern the paint points to. False for a null brush.
bool PaintOf(const Dc& dc, const Brush& brush, draw::Paint& paint, draw::Surface& tile);
// The brush named by a handle: a brush object, or COLOR_xxx + 1.
std::shared_ptr<Brush> BrushOf(HBRUSH brush);
// The DC's pen as a line style; false for a null pen.
bool LineStyleOf(const Dc& dc, draw::LineStyle& style);
// Font of the DC (never null object; its draw font may be null).
std::shared_ptr<Font> FontOf(const Dc& dc);

// A mono DDB: pixels become exactly black or white.
inline draw::Pixel MonoOf(draw::Pixel p) {
  return draw::RedOf(p) + draw::GreenOf(p) + draw::BlueOf(p) >= 383 ? 0xFFFFFF : 0;
}

// Screen size.
int ScreenWidth();
int ScreenHeight();

// Brings a DIB section's mirrored surface in step before drawing and writes it back after.
class DrawScope {
 public:
  explicit DrawScope(Dc& dc, bool writes = true);
  ~DrawScope();
  DrawScope(const DrawScope&) = delete;
  DrawScope& operator=(const DrawScope&) = delete;

 private:
  std::shared_ptr<Bitmap> bitmap_;
  bool writes_;
};

// Decodes DIB rows into a top-down surface of the full DIB size; lines [startScan, startScan + lines) of
// the DIB (counted in memory order) come from `bits`. False for a format it does not read.
bool DecodeDib(const BITMAPINFO* info, const void* bits, UINT usage, const Palette* palette, draw::Surface& out,
               UINT startScan, UINT lines, UINT* linesDone = nullptr);
size_t DibColorCount(const BITMAPINFOHEADER& h);

}  // namespace tavrin::gdi::detail
