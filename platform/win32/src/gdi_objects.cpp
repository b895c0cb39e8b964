// The GDI object table, stock objects, and the making, selecting and deleting of objects.
#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>
#include <mutex>

#include "gdi_internal.h"

namespace tavrin::gdi::detail {
namespace {

std::mutex g_tableLock;
// Found by handle at every drawing call, however many objects the program keeps (a font per cell of a
// large list): hashed.
std::unordered_map<uintptr_t, std::shared_ptr<Object>>& Table() {
  static auto* table = new std::unordered_map<uintptr_t, std::shared_ptr<Object>>();
  return *table;
}
uintptr_t g_nextHandle = 0x10000;

// Stock objects are made once, on first use.
struct Stock {
  HGDIOBJ objects[20] = {};
  HGDIOBJ bitmap = nullptr;
  HGDIOBJ sysBrushes[31] = {};
};

HGDIOBJ MakeStock(std::shared_ptr<Object> o) {
  o->stock = true;
  return Insert(std::move(o));
}

LOGFONT MakeLogFont(int height, int weight, const char* face) {
  LOGFONT lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

std::shared_ptr<Font> OpenFont(const LOGFONT& lf);

Stock& Stocks() {
  static Stock* stock = [] {
    auto* s = new Stock();
    auto brush = [](COLORREF c, UINT style = BS_SOLID) {
      auto b = std::make_shared<Brush>();
      b->color = c;
      b->style = style;
      return MakeStock(b);
    };
    auto pen = [](COLORREF c, int style = PS_SOLID) {
      auto p = std::make_shared<Pen>();
      p->color = c;
      p->style = style;
      return MakeStock(p);
    };
    auto font = [](int height, int weight, const char* face) { return MakeStock(OpenFont(MakeLogFont(height, weight, face))); };
    s->objects[WHITE_BRUSH] = brush(0xFFFFFF);
    s->objects[LTGRAY_BRUSH] = brush(0xC0C0C0);
    s->objects[GRAY_BRUSH] = brush(0x808080);
    s->objects[DKGRAY_BRUSH] = brush(0x404040);
    s->objects[BLACK_BRUSH] = brush(0);
    s->objects[NULL_BRUSH] = brush(0, BS_NULL);
    s->objects[WHITE_PEN] = pen(0xFFFFFF);
    s->objects[BLACK_PEN] = pen(0);
    s->objects[NULL_PEN] = pen(0, PS_NULL);
    s->objects[OEM_FIXED_FONT] = font(12, 400, "Terminal");
    s->objects[ANSI_FIXED_FONT] = font(12, 400, "Courier");
    s->objects[ANSI_VAR_FONT] = font(12, 400, "MS Sans Serif");
    s->objects[SYSTEM_FONT] = font(16, 700, "System");
    s->objects[DEVICE_DEFAULT_FONT] = font(16, 700, "System");
    auto pal = std::make_shared<Palette>();
    static const BYTE kVga[20][3] = {{0, 0, 0}, {128, 0, 0}, {0, 128, 0}, {128, 128, 0}, {0, 0, 128}, {128, 0, 128},
                                     {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
                                     {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},
                                     {255, 255, 0}, {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (auto& c : kVga) pal->entries.push_back({c[0], c[1], c[2], 0});
    s->objects[DEFAULT_PALETTE] = MakeStock(pal);
    s->objects[SYSTEM_FIXED_FONT] = font(16, 400, "Courier");
    s->objects[DEFAULT_GUI_FONT] = font(-11, 400, "MS Shell Dlg");
    auto dcb = std::make_shared<Brush>();
    dcb->dcBrush = true;
    s->objects[DC_BRUSH] = MakeStock(dcb);
    auto dcp = std::make_shared<Pen>();
    dcp->dcPen = true;
    s->objects[DC_PEN] = MakeStock(dcp);
    auto bm = std::make_shared<Bitmap>();
    bm->width = bm->height = 1;
    bm->bpp = 1;
    bm->mono = true;
    bm->surface = std::make_shared<draw::Surface>(1, 1, 0);
    s->bitmap = MakeStock(bm);
    for (int i = 0; i < 31; ++i) {
      auto b = std::make_shared<Brush>();
      b->sysColor = i;
      b->color = GetSysColor(i);
      s->sysBrushes[i] = MakeStock(b);
    }
    return s;
  }();
  return *stock;
}

std::shared_ptr<Font> OpenFont(const LOGFONT& lf) {
  auto f = std::make_shared<Font>();
  f->lf = lf;
  f->lf.lfFaceName[LF_FACESIZE - 1] = 0;
  draw::FontSpec spec;
  spec.face = f->lf.lfFaceName;
  spec.height = lf.lfHeight;
  spec.width = std::abs(lf.lfWidth);
  spec.weight = lf.lfWeight == 0 ? 400 : lf.lfWeight;
  spec.italic = lf.lfItalic != 0;
  spec.underline = lf.lfUnderline != 0;
  spec.strikeOut = lf.lfStrikeOut != 0;
  spec.escapement = lf.lfEscapement;
  f->font = draw::Font::Open(spec);
  return f;
}

template <class T>
T Handle(HGDIOBJ h) {
  return static_cast<T>(h);
}

}  // namespace

HGDIOBJ Insert(std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> lock(g_tableLock);
  uintptr_t h = g_nextHandle;
  g_nextHandle += 8;
  Table()[h] = std::move(object);
  return reinterpret_cast<HGDIOBJ>(h);
}

std::shared_ptr<Object> Lookup(HGDIOBJ handle) {
  std::lock_guard<std::mutex> lock(g_tableLock);
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  return it == Table().end() ? nullptr : it->second;
}

void Remove(HGDIOBJ handle) {
  std::shared_ptr<Object> gone;  // destroyed outside the lock
  std::lock_guard<std::mutex> lock(g_tableLock);
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Table().end()) return;
  gone = std::move(it->second);
  Table().erase(it);
}

std::shared_ptr<Dc> LookupDc(HDC hdc) { return LookupAs<Dc>(hdc); }

std::shared_ptr<Font> DefaultFont() { return LookupAs<Font>(Stocks().objects[SYSTEM_FONT]); }
HGDIOBJ StockBitmap() { return Stocks().bitmap; }
HBRUSH SysColorBrushHandle(int index) {
  if (index < 0 || index >= 31) return nullptr;
  return static_cast<HBRUSH>(Stocks().sysBrushes[index]);
}

std::shared_ptr<Brush> BrushOf(HBRUSH brush) {
  uintptr_t v = reinterpret_cast<uintptr_t>(brush);
  if (v > 0 && v <= 31) return LookupAs<Brush>(SysColorBrushHandle(static_cast<int>(v) - 1));
  return LookupAs<Brush>(brush);
}

std::shared_ptr<Font> FontOf(const Dc& dc) { return dc.font ? dc.font : DefaultFont(); }

draw::Pixel Dc::Color(COLORREF c) const {
  draw::Pixel p = ToPixel(c);
  return Mono() ? MonoOf(p) : p;
}

draw::Region Dc::Clip() const {
  if (!surface) return {};
  draw::Region r = visible ? *visible : draw::Region(surface->bounds().offset(-origin.x, -origin.y));
  if (state.clip) r &= *state.clip;
  r.offset(origin.x, origin.y);
  return r.clipped(surface->bounds());
}

bool PaintOf(const Dc& dc, const Brush& brush, draw::Paint& paint, draw::Surface& tile) {
  paint = draw::Paint{};
  paint.origin = {dc.state.brushOrg.x + dc.origin.x, dc.state.brushOrg.y + dc.origin.y};
  switch (brush.style) {
    case BS_NULL: return false;
    case BS_HATCHED: {
      draw::Pixel fg = dc.Color(brush.color), bg = dc.Color(dc.state.bkColor);
      if (dc.state.bkMode == TRANSPARENT) {
        paint.keyed = true;
        bg = fg ^ 1;  // any colour other than the hatch's
        paint.key = bg;
      }
      tile.Reset(8, 8, bg);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          bool on = false;
          switch (brush.hatch) {
            case HS_HORIZONTAL: on = y == 7; break;
            case HS_VERTICAL: on = x == 7; break;
            case HS_FDIAGONAL: on = x == y; break;
            case HS_BDIAGONAL: on = x == 7 - y; break;
            case HS_CROSS: on = x == 7 || y == 7; break;
            case HS_DIAGCROSS: on = x == y || x == 7 - y; break;
          }
          if (on) tile.set(x, y, fg);
        }
      paint.tile = &tile;
      return true;
    }
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
    case BS_PATTERN8X8:
      if (!brush.pattern || brush.pattern->empty()) return false;
      tile = *brush.pattern;
      if (brush.monoPattern) {
        draw::Pixel fg = dc.Color(dc.state.textColor), bg = dc.Color(dc.state.bkColor);
        for (int y = 0; y < tile.height(); ++y)
          for (int x = 0; x < tile.width(); ++x) tile.set(x, y, (tile.at(x, y) & 0xFFFFFF) ? bg : fg);
      } else if (dc.Mono()) {
        for (int y = 0; y < tile.height(); ++y)
          for (int x = 0; x < tile.width(); ++x) tile.set(x, y, MonoOf(tile.at(x, y)));
      }
      paint.tile = &tile;
      return true;
    default: {
      COLORREF c = brush.dcBrush ? dc.state.dcBrushColor : (brush.sysColor >= 0 ? GetSysColor(brush.sysColor) : brush.color);
      paint.color = dc.Color(c);
      return true;
    }
  }
}

bool LineStyleOf(const Dc& dc, draw::LineStyle& style) {
  std::shared_ptr<Pen> pen = dc.pen ? dc.pen : LookupAs<Pen>(Stocks().objects[BLACK_PEN]);
  int kind = pen->style & PS_STYLE_MASK;
  if (kind == PS_NULL || pen->brushStyle == BS_NULL) return false;
  style = draw::LineStyle{};
  style.color = dc.Color(pen->dcPen ? dc.state.dcPenColor : pen->color);
  style.rop2 = dc.state.rop2;
  bool geometric = (pen->style & PS_TYPE_MASK) == PS_GEOMETRIC || pen->width > 1;
  style.width = geometric ? std::max(1, pen->width) : 1;
  switch (kind) {
    case PS_DASH: style.dashes = {18, 6}; break;
    case PS_DOT: style.dashes = {3, 3}; break;
    case PS_DASHDOT: style.dashes = {9, 6, 3, 6}; break;
    case PS_DASHDOTDOT: style.dashes = {9, 3, 3, 3, 3, 3}; break;
    case PS_ALTERNATE: style.dashes = {1, 1}; break;
    case PS_USERSTYLE:
      for (DWORD d : pen->userStyle) style.dashes.push_back(static_cast<int>(std::max<DWORD>(d, 1)));
      break;
    default: break;
  }
  // Wide pens of the old kind draw solid.
  if (style.width > 1 && (pen->style & PS_TYPE_MASK) != PS_GEOMETRIC) style.dashes.clear();
  if (!style.dashes.empty() && dc.state.bkMode == OPAQUE) {
    style.opaqueGaps = true;
    style.gapColor = dc.Color(dc.state.bkColor);
  }
  return true;
}

void DeselectAll(Dc& dc) {
  auto drop = [](auto& p) {
    if (p) --p->selections;
    p.reset();
  };
  drop(dc.pen);
  drop(dc.brush);
  drop(dc.font);
  drop(dc.bitmap);
  drop(dc.palette);
}

// --- DIB rows ---

size_t DibColorCount(const BITMAPINFOHEADER& h) {
  if (h.biBitCount > 8) return h.biCompression == BI_BITFIELDS ? 3 : 0;
  size_t full = size_t{1} << h.biBitCount;
  return h.biClrUsed ? std::min<size_t>(h.biClrUsed, full) : full;
}

bool DecodeDib(const BITMAPINFO* info, const void* bits, UINT usage, const Palette* palette, draw::Surface& out,
               UINT startScan, UINT lines, UINT* linesDone) {
  if (!info || !bits) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  int bpp = h.biBitCount;
  // Header sizes of the known versions only (the colour table follows the header).
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 124) return false;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biWidth > 32768 || std::abs(h.biHeight) > 32768) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32))) return false;
  int w = h.biWidth, ht = std::abs(h.biHeight);
  bool topDown = h.biHeight < 0;
  size_t stride = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
  std::vector<draw::Pixel> table;
  const auto* colors = reinterpret_cast<const uint8_t*>(info) + h.biSize;
  size_t count = DibColorCount(h);
  if (bpp <= 8) {
    for (size_t i = 0; i < count; ++i) {
      if (usage == DIB_PAL_COLORS) {
        uint16_t index;
        std::memcpy(&index, colors + i * 2, 2);
        PALETTEENTRY e{0, 0, 0, 0};
        if (palette && index < palette->entries.size()) e = palette->entries[index];
        table.push_back(draw::Rgb(e.peRed, e.peGreen, e.peBlue));
      } else {
        RGBQUAD q;
        std::memcpy(&q, colors + i * 4, 4);
        table.push_back(draw::Rgb(q.rgbRed, q.rgbGreen, q.rgbBlue));
      }
    }
    table.resize(size_t{1} << bpp, 0);
  }
  DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bpp == 32) { masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF; }
  if (h.biCompression == BI_BITFIELDS) std::memcpy(masks, colors, sizeof(masks));
  auto channel = [](DWORD v, DWORD mask) -> int {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    DWORD m = mask >> shift;
    DWORD value = (v >> shift) & m;
    return static_cast<int>(value * 255 / m);
  };
  if (out.width() != w || out.height() != ht) out.Reset(w, ht, 0);
  UINT done = 0;
  const auto* src = static_cast<const uint8_t*>(bits);
  for (UINT i = 0; i < lines; ++i) {
    UINT scan = startScan + i;  // memory order
    if (scan >= static_cast<UINT>(ht)) break;
    int y = topDown ? static_cast<int>(scan) : ht - 1 - static_cast<int>(scan);
    const uint8_t* row = src + static_cast<size_t>(i) * stride;
    draw::Pixel* o = out.row(y);
    for (int x = 0; x < w; ++x) {
      switch (bpp) {
        case 1: o[x] = table[(row[x / 8] >> (7 - x % 8)) & 1]; break;
        case 4: o[x] = table[(row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF]; break;
        case 8: o[x] = table[row[x]]; break;
        case 16: {
          DWORD v = row[x * 2] | (row[x * 2 + 1] << 8);
          o[x] = draw::Rgb(channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2]));
          break;
        }
        case 24: o[x] = draw::Rgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]); break;
        case 32: {
          DWORD v;
          std::memcpy(&v, row + x * 4, 4);
          if (h.biCompression == BI_BITFIELDS)
            o[x] = draw::Rgb(channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2]));
          else
            o[x] = v;
          break;
        }
      }
    }
    ++done;
  }
  if (linesDone) *linesDone = done;
  return true;
}

void Bitmap::LoadFromBits() {
  if (!Mirrored()) return;
  size_t tableBytes = bpp == 16 ? sizeof(masks) : colors.size() * sizeof(RGBQUAD);
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + tableBytes);
  std::memcpy(info.data(), &header, sizeof(header));
  auto* bi = reinterpret_cast<BITMAPINFO*>(info.data());
  if (bpp == 16) {
    bi->bmiHeader.biCompression = BI_BITFIELDS;
    std::memcpy(info.data() + sizeof(header), masks, sizeof(masks));
  } else if (!colors.empty()) {
    std::memcpy(info.data() + sizeof(header), colors.data(), tableBytes);
  }
  bi->bmiHeader.biClrUsed = static_cast<DWORD>(colors.size());
  DecodeDib(bi, bits.data(), DIB_RGB_COLORS, nullptr, *surface, 0, static_cast<UINT>(height));
}

void Bitmap::StoreToBits() {
  if (!Mirrored()) return;
  std::map<draw::Pixel, int> nearest;
  auto indexOf = [&](draw::Pixel p) {
    p &= 0xFFFFFF;
    auto it = nearest.find(p);
    if (it != nearest.end()) return it->second;
    int best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < colors.size(); ++i) {
      long dr = draw::RedOf(p) - colors[i].rgbRed, dg = draw::GreenOf(p) - colors[i].rgbGreen,
           db = draw::BlueOf(p) - colors[i].rgbBlue;
      long d = dr * dr + dg * dg + db * db;
      if (bestDistance < 0 || d < bestDistance) { bestDistance = d; best = static_cast<int>(i); }
    }
    nearest[p] = best;
    return best;
  };
  size_t s = static_cast<size_t>(stride());
  for (int y = 0; y < height; ++y) {
    int memRow = topDown ? y : height - 1 - y;
    uint8_t* row = bits.data() + memRow * s;
    const draw::Pixel* in = surface->row(y);
    for (int x = 0; x < width; ++x) {
      draw::Pixel p = in[x];
      switch (bpp) {
        case 1: {
          int bit = indexOf(p) & 1;
          row[x / 8] = static_cast<uint8_t>((row[x / 8] & ~(0x80 >> (x % 8))) | (bit ? (0x80 >> (x % 8)) : 0));
          break;
        }
        case 4: {
          int v = indexOf(p) & 0xF;
          row[x / 2] = static_cast<uint8_t>(x % 2 ? (row[x / 2] & 0xF0) | v : (row[x / 2] & 0x0F) | (v << 4));
          break;
        }
        case 8: row[x] = static_cast<uint8_t>(indexOf(p)); break;
        case 16: {
          auto channel = [](int value, DWORD mask) -> DWORD {
            if (!mask) return 0;
            int shift = 0;
            while (!((mask >> shift) & 1)) ++shift;
            DWORD top = mask >> shift;
            return ((static_cast<DWORD>(value) * top + 127) / 255) << shift;
          };
          DWORD v = channel(draw::RedOf(p), masks[0]) | channel(draw::GreenOf(p), masks[1]) | channel(draw::BlueOf(p), masks[2]);
          row[x * 2] = static_cast<uint8_t>(v & 0xFF);
          row[x * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
          break;
        }
        case 24:
          row[x * 3] = static_cast<uint8_t>(draw::BlueOf(p));
          row[x * 3 + 1] = static_cast<uint8_t>(draw::GreenOf(p));
          row[x * 3 + 2] = static_cast<uint8_t>(draw::RedOf(p));
          break;
      }
    }
  }
}

DrawScope::DrawScope(Dc& dc, bool writes) : writes_(writes) {
  if (dc.kind == Dc::Kind::kMemory && dc.bitmap && dc.bitmap->Mirrored()) {
    bitmap_ = dc.bitmap;
    bitmap_->LoadFromBits();
  }
}

DrawScope::~DrawScope() {
  if (bitmap_ && writes_) bitmap_->StoreToBits();
}

}  // namespace tavrin::gdi::detail

using namespace tavrin::gdi::detail;
namespace draw = tavrin::draw;

namespace tavrin::gdi {

size_t LiveObjectCount(DWORD type) {
  std::lock_guard<std::mutex> lock(g_tableLock);
  size_t n = 0;
  for (const auto& [h, o] : Table()) {
    if (o->stock) continue;
    DWORD t = o->type;
    if (type == 0 || t == type || (type == OBJ_DC && t == OBJ_MEMDC)) ++n;
  }
  return n;
}

std::shared_ptr<draw::Surface> SurfaceOfBitmap(HBITMAP bitmap) {
  auto b = LookupAs<Bitmap>(bitmap);
  if (!b) return nullptr;
  b->LoadFromBits();
  return b->surface;
}

draw::ResolvedFace ResolvedFaceOf(HFONT font) {
  auto f = LookupAs<Font>(font);
  if (!f || !f->font) return {};
  return f->font->resolved();
}

HBITMAP CreateBitmapFromSurface(const draw::Surface& surface) {
  auto b = std::make_shared<Bitmap>();
  b->width = surface.width();
  b->height = surface.height();
  b->surface = std::make_shared<draw::Surface>(surface);
  return static_cast<HBITMAP>(Insert(b));
}

}  // namespace tavrin::gdi

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t p = static_cast<int64_t>(a) * b;
  bool negative = (p < 0) != (c < 0);
  uint64_t up = static_cast<uint64_t>(p < 0 ? -p : p), uc = static_cast<uint64_t>(c < 0 ? -static_cast<int64_t>(c) : c);
  uint64_t q = (up + uc / 2) / uc;
  if (q > 0x7FFFFFFFu + (negative ? 1u : 0u)) return -1;
  return negative ? static_cast<int>(-static_cast<int64_t>(q)) : static_cast<int>(q);
}

HGDIOBJ GetStockObject(int index) {
  if (index < 0 || index >= 20) return nullptr;
  return Stocks().objects[index];
}

DWORD GetObjectType(HGDIOBJ object) {
  auto o = Lookup(object);
  if (!o || o->type >= tavrin::gdi::kIconObjects) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (o->type == OBJ_DC) {
    auto dc = std::static_pointer_cast<Dc>(o);
    return dc->kind == Dc::Kind::kMemory ? OBJ_MEMDC : OBJ_DC;
  }
  if (o->type == OBJ_PEN && static_cast<Pen*>(o.get())->style & (PS_TYPE_MASK | PS_ENDCAP_MASK | PS_JOIN_MASK))
    return OBJ_EXTPEN;
  return o->type;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  auto dc = LookupDc(hdc);
  auto o = Lookup(object);
  if (!dc || !o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  DcState& s = dc->state;
  auto swap = [&](auto& held, HGDIOBJ& handle, auto typed) -> HGDIOBJ {
    HGDIOBJ old = handle;
    if (held) --held->selections;
    held = typed;
    ++held->selections;
    handle = object;
    return old;
  };
  switch (o->type) {
    case OBJ_PEN: return swap(dc->pen, s.pen, std::static_pointer_cast<Pen>(o));
    case OBJ_BRUSH: return swap(dc->brush, s.brush, std::static_pointer_cast<Brush>(o));
    case OBJ_FONT: return swap(dc->font, s.font, std::static_pointer_cast<Font>(o));
    case OBJ_BITMAP: {
      auto b = std::static_pointer_cast<Bitmap>(o);
      if (dc->kind != Dc::Kind::kMemory) return nullptr;
      if (b == dc->bitmap) return object;
      if (b->selections > 0 && !b->stock) return nullptr;  // one DC at a time
      HGDIOBJ old = swap(dc->bitmap, s.bitmap, b);
      dc->surface = b->surface;
      dc->visible.reset();
      s.clip.reset();
      return old;
    }
    case OBJ_REGION: {
      int kind = SelectClipRgn(hdc, static_cast<HRGN>(object));
      return reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(kind));
    }
    default: return nullptr;
  }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  auto dc = LookupDc(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_PEN: return dc->state.pen ? dc->state.pen : GetStockObject(BLACK_PEN);
    case OBJ_BRUSH: return dc->state.brush ? dc->state.brush : GetStockObject(WHITE_BRUSH);
    case OBJ_FONT: return dc->state.font ? dc->state.font : GetStockObject(SYSTEM_FONT);
    case OBJ_BITMAP: return dc->state.bitmap;
    case OBJ_PAL: return dc->state.palette ? dc->state.palette : GetStockObject(DEFAULT_PALETTE);
    default: return nullptr;
  }
}

BOOL DeleteObject(HGDIOBJ object) {
  auto o = Lookup(object);
  if (!o || o->type == OBJ_DC || o->type >= tavrin::gdi::kIconObjects) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->stock) return TRUE;
  if (o->selections > 0) return FALSE;
  Remove(object);
  return TRUE;
}

int GetObject(HGDIOBJ object, int size, LPVOID buffer) {
  auto o = Lookup(object);
  if (!o) return 0;
  auto give = [&](const void* data, int n) {
    if (!buffer) return n;
    int copy = std::min(size, n);
    if (copy <= 0) return 0;
    std::memcpy(buffer, data, static_cast<size_t>(copy));
    return copy;
  };
  switch (o->type) {
    case OBJ_PEN: {
      auto* p = static_cast<Pen*>(o.get());
      if (p->style & (PS_TYPE_MASK | PS_ENDCAP_MASK | PS_JOIN_MASK) || size >= static_cast<int>(sizeof(EXTLOGPEN))) {
        if (size >= static_cast<int>(sizeof(EXTLOGPEN)) || !buffer) {
          EXTLOGPEN e{};
          e.elpPenStyle = static_cast<DWORD>(p->style);
          e.elpWidth = static_cast<DWORD>(p->width);
          e.elpBrushStyle = p->brushStyle;
          e.elpColor = p->color;
          return give(&e, sizeof(e));
        }
      }
      LOGPEN lp{static_cast<UINT>(p->style), {p->width, 0}, p->color};
      return give(&lp, sizeof(lp));
    }
    case OBJ_BRUSH: {
      auto* b = static_cast<Brush*>(o.get());
      LOGBRUSH lb{b->style, b->sysColor >= 0 ? GetSysColor(b->sysColor) : b->color, static_cast<ULONG_PTR>(b->hatch)};
      return give(&lb, sizeof(lb));
    }
    case OBJ_FONT: return give(&static_cast<Font*>(o.get())->lf, sizeof(LOGFONT));
    case OBJ_BITMAP: {
      auto* b = static_cast<Bitmap*>(o.get());
      BITMAP bm{0, b->width, b->height, ((b->width * b->bpp + 15) / 16) * 2, 1, static_cast<WORD>(b->bpp), nullptr};
      if (b->dib) {
        bm.bmWidthBytes = b->stride();
        bm.bmBits = b->bpp == 32 && !b->Mirrored() ? static_cast<void*>(b->bits.data()) : b->bits.data();
        if (size >= static_cast<int>(sizeof(DIBSECTION))) {
          DIBSECTION ds{};
          ds.dsBm = bm;
          ds.dsBmih = b->header;
          return give(&ds, sizeof(ds));
        }
      }
      return give(&bm, sizeof(bm));
    }
    case OBJ_PAL: {
      WORD n = static_cast<WORD>(static_cast<Palette*>(o.get())->entries.size());
      return give(&n, sizeof(n));
    }
    default: return 0;
  }
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styles) {
  if (!brush) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool geometric = (style & PS_TYPE_MASK) == PS_GEOMETRIC;
  int kind = static_cast<int>(style & PS_STYLE_MASK);
  // Cosmetic pens are one pixel wide; PS_ALTERNATE exists only for them.
  if ((!geometric && width != 1) || (geometric && kind == PS_ALTERNATE) || kind > PS_ALTERNATE ||
      (kind == PS_USERSTYLE && (styleCount == 0 || styleCount > 16 || !styles)) ||
      (kind != PS_USERSTYLE && styleCount != 0) || (!geometric && brush->lbStyle != BS_SOLID)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto p = std::make_shared<Pen>();
  p->style = static_cast<int>(style);
  p->width = static_cast<int>(width);
  p->color = brush->lbColor;
  p->brushStyle = brush->lbStyle;
  if (kind == PS_USERSTYLE) p->userStyle.assign(styles, styles + styleCount);
  return static_cast<HPEN>(Insert(p));
}

HPEN CreatePen(int style, int width, COLORREF color) {
  if (style < 0 || style > PS_INSIDEFRAME) {
    // PS_ALTERNATE and user styles need ExtCreatePen; others fall back to solid as the old call does.
    style = PS_SOLID;
  }
  auto p = std::make_shared<Pen>();
  p->style = style;
  p->width = std::max(width, 0) == 0 ? 1 : width;
  p->color = color;
  return static_cast<HPEN>(Insert(p));
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  if (!pen) return nullptr;
  return CreatePen(static_cast<int>(pen->lopnStyle), pen->lopnWidth.x, pen->lopnColor);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto b = std::make_shared<Brush>();
  b->color = color & 0xFFFFFF;
  return static_cast<HBRUSH>(Insert(b));
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
  if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS) return nullptr;
  auto b = std::make_shared<Brush>();
  b->style = BS_HATCHED;
  b->hatch = hatch;
  b->color = color & 0xFFFFFF;
  return static_cast<HBRUSH>(Insert(b));
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
  auto bm = LookupAs<Bitmap>(bitmap);
  if (!bm) return nullptr;
  bm->LoadFromBits();
  auto b = std::make_shared<Brush>();
  b->style = BS_PATTERN;
  b->pattern = std::make_shared<draw::Surface>(*bm->surface);  // the brush keeps its own copy
  b->monoPattern = bm->mono;
  return static_cast<HBRUSH>(Insert(b));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  if (!brush) return nullptr;
  switch (brush->lbStyle) {
    case BS_SOLID: return CreateSolidBrush(brush->lbColor);
    case BS_HATCHED: return CreateHatchBrush(static_cast<int>(brush->lbHatch), brush->lbColor);
    case BS_PATTERN: return CreatePatternBrush(reinterpret_cast<HBITMAP>(brush->lbHatch));
    case BS_NULL: {
      auto b = std::make_shared<Brush>();
      b->style = BS_NULL;
      return static_cast<HBRUSH>(Insert(b));
    }
    default: return nullptr;
  }
}

HFONT CreateFontIndirect(const LOGFONT* font) {
  if (!font) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return static_cast<HFONT>(Insert(OpenFont(*font)));
}

HFONT CreateFont(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                 DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                 DWORD pitchAndFamily, LPCSTR face) {
  LOGFONT lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic);
  lf.lfUnderline = static_cast<BYTE>(underline);
  lf.lfStrikeOut = static_cast<BYTE>(strikeOut);
  lf.lfCharSet = static_cast<BYTE>(charSet);
  lf.lfOutPrecision = static_cast<BYTE>(outPrecision);
  lf.lfClipPrecision = static_cast<BYTE>(clipPrecision);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
  if (face) std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width < 0 || height < 0 || planes != 1 || width > 32768 || height > 32768) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (width == 0 || height == 0) return static_cast<HBITMAP>(StockBitmap());
  auto b = std::make_shared<Bitmap>();
  b->width = width;
  b->height = height;
  b->mono = bitsPerPixel == 1;
  b->bpp = b->mono ? 1 : 32;
  b->surface = std::make_shared<draw::Surface>(width, height, 0);
  if (bits) {
    const auto* src = static_cast<const uint8_t*>(bits);
    if (b->mono) {
      size_t stride = ((static_cast<size_t>(width) + 15) / 16) * 2;  // rows of whole 16-bit words
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          b->surface->set(x, y, (src[y * stride + x / 8] >> (7 - x % 8)) & 1 ? 0xFFFFFF : 0);
    } else if (bitsPerPixel == 32) {
      for (int y = 0; y < height; ++y) std::memcpy(b->surface->row(y), src + static_cast<size_t>(y) * width * 4, width * 4u);
    } else if (bitsPerPixel == 24) {
      size_t stride = ((static_cast<size_t>(width) * 3 + 1) / 2) * 2;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const uint8_t* p = src + y * stride + x * 3;
          b->surface->set(x, y, draw::Rgb(p[2], p[1], p[0]));
        }
    }
  }
  return static_cast<HBITMAP>(Insert(b));
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  auto dc = LookupDc(hdc);
  if (!dc) return nullptr;
  return CreateBitmap(width, height, 1, dc->Mono() ? 1 : 32, nullptr);
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  if (!info) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  int bpp = h.biBitCount;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biWidth > 32768 ||
      std::abs(h.biHeight) > 32768 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) ||
      (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto b = std::make_shared<Bitmap>();
  b->dib = true;
  b->width = h.biWidth;
  b->height = std::abs(h.biHeight);
  b->bpp = bpp;
  b->topDown = h.biHeight < 0;
  b->header = h;
  b->header.biSize = sizeof(BITMAPINFOHEADER);
  b->header.biSizeImage = static_cast<DWORD>(b->stride() * b->height);
  b->bits.assign(static_cast<size_t>(b->stride()) * b->height, 0);
  if (bpp == 16 && h.biCompression == BI_BITFIELDS) {
    std::memcpy(b->masks, reinterpret_cast<const uint8_t*>(info) + h.biSize, sizeof(b->masks));
    if (!b->masks[0] || !b->masks[1] || !b->masks[2]) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  if (bpp <= 8) {
    std::shared_ptr<Palette> pal;
    if (auto dc = LookupDc(hdc)) pal = dc->palette;
    size_t n = DibColorCount(h);
    const auto* colors = reinterpret_cast<const uint8_t*>(info) + h.biSize;
    for (size_t i = 0; i < n; ++i) {
      RGBQUAD q{0, 0, 0, 0};
      if (usage == DIB_PAL_COLORS) {
        uint16_t index;
        std::memcpy(&index, colors + i * 2, 2);
        auto p = pal ? pal : LookupAs<Palette>(GetStockObject(DEFAULT_PALETTE));
        if (index < p->entries.size()) q = {p->entries[index].peBlue, p->entries[index].peGreen, p->entries[index].peRed, 0};
      } else {
        std::memcpy(&q, colors + i * 4, 4);
      }
      b->colors.push_back(q);
    }
  }
  if (bpp == 32 && h.biCompression == BI_RGB) {
    // The surface is a view of the bits themselves.
    uint8_t* top = b->topDown ? b->bits.data() : b->bits.data() + static_cast<size_t>(b->height - 1) * b->stride();
    b->surface = std::make_shared<draw::Surface>(
        draw::Surface::View(top, b->width, b->height, b->topDown ? b->stride() : -b->stride()));
  } else {
    if (bpp == 32) b->bpp = 32, b->header.biCompression = BI_RGB;  // bit fields of 32-bit rows read as BGRA
    b->surface = std::make_shared<draw::Surface>(b->width, b->height, 0);
    if (bpp != 32) b->LoadFromBits();
    else {
      uint8_t* top = b->topDown ? b->bits.data() : b->bits.data() + static_cast<size_t>(b->height - 1) * b->stride();
      b->surface = std::make_shared<draw::Surface>(
          draw::Surface::View(top, b->width, b->height, b->topDown ? b->stride() : -b->stride()));
    }
  }
  if (bits) *bits = b->bits.data();
  return static_cast<HBITMAP>(Insert(b));
}

HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage) {
  if (!header) return nullptr;
  int w = header->biWidth, h = std::abs(header->biHeight);
  HBITMAP bm = CreateBitmap(w, h, 1, 32, nullptr);
  if (!bm) return nullptr;
  (void)hdc;
  if ((init & CBM_INIT) && bits && info) {
    auto b = LookupAs<Bitmap>(bm);
    std::shared_ptr<Palette> pal;
    if (auto dc = LookupDc(hdc)) pal = dc->palette;
    DecodeDib(info, bits, usage, pal.get(), *b->surface, 0, static_cast<UINT>(h));
  }
  return bm;
}

LONG GetBitmapBits(HBITMAP bitmap, LONG size, LPVOID bits) {
  auto b = LookupAs<Bitmap>(bitmap);
  if (!b || !bits || size <= 0) return 0;
  b->LoadFromBits();
  auto* out = static_cast<uint8_t*>(bits);
  if (b->mono) {
    size_t stride = ((static_cast<size_t>(b->width) + 15) / 16) * 2;
    LONG total = static_cast<LONG>(std::min<size_t>(static_cast<size_t>(size), stride * b->height));
    std::memset(out, 0, static_cast<size_t>(total));
    for (int y = 0; y < b->height; ++y)
      for (int x = 0; x < b->width; ++x) {
        size_t at = y * stride + x / 8;
        if (at < static_cast<size_t>(total) && (b->surface->at(x, y) & 0xFFFFFF)) out[at] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    return total;
  }
  size_t stride = static_cast<size_t>(b->width) * 4;
  LONG total = static_cast<LONG>(std::min<size_t>(static_cast<size_t>(size), stride * b->height));
  for (int y = 0; y < b->height && static_cast<LONG>(y * stride) < total; ++y)
    std::memcpy(out + y * stride, b->surface->row(y), std::min<size_t>(stride, static_cast<size_t>(total) - y * stride));
  return total;
}

int SetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, const void* bits, const BITMAPINFO* info, UINT usage) {
  auto b = LookupAs<Bitmap>(bitmap);
  if (!b || !info || !bits) return 0;
  if (info->bmiHeader.biWidth != b->width || std::abs(info->bmiHeader.biHeight) != b->height) return 0;
  std::shared_ptr<Palette> pal;
  if (auto dc = LookupDc(hdc)) pal = dc->palette;
  b->LoadFromBits();
  draw::Surface decoded(*b->surface);
  UINT done = 0;
  if (!DecodeDib(info, bits, usage, pal.get(), decoded, start, lines, &done)) return 0;
  // Only the rows given change.
  bool topDown = info->bmiHeader.biHeight < 0;
  for (UINT i = 0; i < done; ++i) {
    int y = topDown ? static_cast<int>(start + i) : b->height - 1 - static_cast<int>(start + i);
    for (int x = 0; x < b->width; ++x) b->surface->set(x, y, b->mono ? MonoOf(decoded.at(x, y)) : decoded.at(x, y));
  }
  b->StoreToBits();
  return static_cast<int>(done);
}

int GetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info, UINT) {
  auto b = LookupAs<Bitmap>(bitmap);
  if (!b || !info) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (!bits && h.biBitCount == 0) {
    h.biWidth = b->width;
    h.biHeight = b->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(b->bpp);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(((b->width * b->bpp + 31) / 32) * 4 * b->height);
    return 1;
  }
  if (h.biWidth != b->width) return 0;
  int bpp = h.biBitCount;
  if (bpp != 1 && bpp != 24 && bpp != 32) return 0;
  if (bpp == 1) {
    RGBQUAD* table = info->bmiColors;
    table[0] = {0, 0, 0, 0};
    table[1] = {255, 255, 255, 0};
  }
  if (!bits) return static_cast<int>(std::min<UINT>(lines, static_cast<UINT>(b->height)));
  b->LoadFromBits();
  bool topDown = h.biHeight < 0;
  size_t stride = ((static_cast<size_t>(b->width) * bpp + 31) / 32) * 4;
  auto* out = static_cast<uint8_t*>(bits);
  UINT done = 0;
  for (UINT i = 0; i < lines; ++i) {
    UINT scan = start + i;
    if (scan >= static_cast<UINT>(b->height)) break;
    int y = topDown ? static_cast<int>(scan) : b->height - 1 - static_cast<int>(scan);
    uint8_t* row = out + i * stride;
    std::memset(row, 0, stride);
    for (int x = 0; x < b->width; ++x) {
      draw::Pixel p = b->surface->at(x, y);
      if (bpp == 32) std::memcpy(row + x * 4, &p, 4);
      else if (bpp == 24) {
        row[x * 3] = static_cast<uint8_t>(draw::BlueOf(p));
        row[x * 3 + 1] = static_cast<uint8_t>(draw::GreenOf(p));
        row[x * 3 + 2] = static_cast<uint8_t>(draw::RedOf(p));
      } else if (MonoOf(p)) {
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
    ++done;
  }
  return static_cast<int>(done);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  if (!palette || palette->palNumEntries == 0 || palette->palNumEntries > 1024) return nullptr;
  auto p = std::make_shared<Palette>();
  p->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  return static_cast<HPALETTE>(Insert(p));
}

HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL) {
  auto dc = LookupDc(hdc);
  auto p = LookupAs<Palette>(palette);
  if (!dc || !p) return nullptr;
  HGDIOBJ old = dc->state.palette ? dc->state.palette : GetStockObject(DEFAULT_PALETTE);
  if (dc->palette) --dc->palette->selections;
  dc->palette = p;
  ++p->selections;
  dc->state.palette = palette;
  return static_cast<HPALETTE>(old);
}

UINT RealizePalette(HDC hdc) { return LookupDc(hdc) ? 0 : GDI_ERROR_INT; }

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
  auto p = LookupAs<Palette>(palette);
  if (!p) return 0;
  if (!entries) return static_cast<UINT>(p->entries.size());
  UINT n = 0;
  for (; n < count && start + n < p->entries.size(); ++n) entries[n] = p->entries[start + n];
  return n;
}

UINT GetNearestPaletteIndex(HPALETTE palette, COLORREF color) {
  auto p = LookupAs<Palette>(palette);
  if (!p || p->entries.empty()) return CLR_INVALID;
  UINT best = 0;
  long bestD = -1;
  for (UINT i = 0; i < p->entries.size(); ++i) {
    long dr = GetRValue(color) - p->entries[i].peRed, dg = GetGValue(color) - p->entries[i].peGreen,
         db = GetBValue(color) - p->entries[i].peBlue;
    long d = dr * dr + dg * dg + db * db;
    if (bestD < 0 || d < bestD) { bestD = d; best = i; }
  }
  return best;
}

COLORREF GetNearestColor(HDC hdc, COLORREF color) {
  auto dc = LookupDc(hdc);
  if (!dc) return CLR_INVALID;
  return ToColorref(dc->Color(color & 0xFFFFFF));
}
