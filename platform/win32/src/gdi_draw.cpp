// Lines, shapes, pixels, region painting, blits, DIBs to devices, gradients, alpha blending and icons.
#include <algorithm>
#include <cstring>

#include "gdi_internal.h"
#include "win32/user_draw.h"

using namespace tavrin::gdi::detail;
namespace draw = tavrin::draw;

namespace {

draw::Point Dev(const Dc& dc, int x, int y) { return {x + dc.OffX(), y + dc.OffY()}; }
draw::Rect DevRect(const Dc& dc, int l, int t, int r, int b) {
  return draw::Rect{l + dc.OffX(), t + dc.OffY(), r + dc.OffX(), b + dc.OffY()};
}

std::shared_ptr<Dc> Target(HDC hdc) {
  auto dc = LookupDc(hdc);
  if (!dc || !dc->surface) return nullptr;
  return dc;
}

bool BrushPaint(const Dc& dc, draw::Paint& paint, draw::Surface& tile) {
  std::shared_ptr<Brush> b = dc.brush ? dc.brush : LookupAs<Brush>(GetStockObject(WHITE_BRUSH));
  return PaintOf(dc, *b, paint, tile);
}

// The source pixels in the form the destination takes them: a 1-bit source turns into the destination's
// text colour (0) and background colour (1); a colour source drawn into a 1-bit destination is white where
// it has the source's background colour, black elsewhere.
const draw::Surface* SourcePixels(const Dc& src, const Dc& dst, draw::Surface& temp) {
  if (src.bitmap) src.bitmap->LoadFromBits();
  bool srcMono = src.Mono(), dstMono = dst.Mono();
  if (srcMono == dstMono) return src.surface.get();
  temp = *src.surface;
  if (srcMono) {
    draw::Pixel fg = ToPixel(dst.state.textColor), bg = ToPixel(dst.state.bkColor);
    for (int y = 0; y < temp.height(); ++y)
      for (int x = 0; x < temp.width(); ++x) temp.set(x, y, (temp.at(x, y) & 0xFFFFFF) ? bg : fg);
  } else {
    draw::Pixel key = ToPixel(src.state.bkColor);
    for (int y = 0; y < temp.height(); ++y)
      for (int x = 0; x < temp.width(); ++x) temp.set(x, y, (temp.at(x, y) & 0xFFFFFF) == key ? 0xFFFFFF : 0);
  }
  return &temp;
}

// Source pixels that are the destination's own, copied to `copy` so that drawing reads them as they were.
const draw::Surface* Apart(const draw::Surface* from, const Dc& dst, draw::Surface& copy) {
  if (from != dst.surface.get()) return from;
  copy = *from;
  return &copy;
}

uint8_t RopOf(DWORD rop) { return static_cast<uint8_t>((rop >> 16) & 0xFF); }

BOOL StrokePolyline(HDC hdc, const POINT* points, size_t count, bool closed) {
  auto dc = Target(hdc);
  if (!dc || (!points && count)) return FALSE;
  draw::LineStyle pen;
  if (count < 2 || !LineStyleOf(*dc, pen)) return TRUE;
  DrawScope scope(*dc);
  draw::Region clip = dc->Clip();
  int phase = 0;
  for (size_t i = 0; i + 1 < count + (closed ? 1 : 0); ++i) {
    const POINT& a = points[i];
    const POINT& b = points[(i + 1) % count];
    draw::DrawLine(*dc->surface, clip, Dev(*dc, a.x, a.y), Dev(*dc, b.x, b.y), pen, &phase);
    dc->Touch(draw::Rect{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1}.offset(dc->OffX(), dc->OffY()));
  }
  return TRUE;
}

}  // namespace

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->state.position;
  dc->state.position = {x, y};
  return TRUE;
}

BOOL GetCurrentPositionEx(HDC hdc, LPPOINT point) {
  auto dc = LookupDc(hdc);
  if (!dc || !point) return FALSE;
  *point = dc->state.position;
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  auto dc = LookupDc(hdc);
  if (!dc) return FALSE;
  POINT pts[2] = {dc->state.position, {x, y}};
  BOOL ok = StrokePolyline(hdc, pts, 2, false);
  dc->state.position = {x, y};
  return ok;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
  if (count < 0) return FALSE;
  return StrokePolyline(hdc, points, static_cast<size_t>(count), false);
}

BOOL PolylineTo(HDC hdc, const POINT* points, DWORD count) {
  auto dc = LookupDc(hdc);
  if (!dc || (!points && count)) return FALSE;
  std::vector<POINT> all{dc->state.position};
  all.insert(all.end(), points, points + count);
  BOOL ok = StrokePolyline(hdc, all.data(), all.size(), false);
  if (count) dc->state.position = points[count - 1];
  return ok;
}

BOOL PolyPolyline(HDC hdc, const POINT* points, const DWORD* counts, DWORD polylines) {
  if (!points || !counts) return FALSE;
  for (DWORD i = 0; i < polylines; ++i) {
    if (!StrokePolyline(hdc, points, counts[i], false)) return FALSE;
    points += counts[i];
  }
  return TRUE;
}

namespace {

template <class Fn>
BOOL Shape(HDC hdc, int l, int t, int r, int b, Fn fn) {
  auto dc = Target(hdc);
  if (!dc) return FALSE;
  draw::LineStyle pen;
  bool hasPen = LineStyleOf(*dc, pen);
  draw::Paint paint;
  draw::Surface tile;
  bool hasBrush = BrushPaint(*dc, paint, tile);
  draw::Rect box = DevRect(*dc, l, t, r, b).normalized();
  // Without a pen the figure is one pixel smaller on the right and bottom, as when the pen is there.
  if (!hasPen) box = {box.left, box.top, box.right - 1, box.bottom - 1};
  DrawScope scope(*dc);
  fn(*dc->surface, dc->Clip(), box, hasPen ? &pen : nullptr, hasBrush ? &paint : nullptr, dc->state.rop2);
  dc->Touch(box);
  return TRUE;
}

}  // namespace

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  return Shape(hdc, left, top, right, bottom, [](auto& s, const auto& clip, auto box, auto* pen, auto* fill, int rop2) {
    draw::DrawRectangle(s, clip, box, pen, fill, rop2);
  });
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) {
  return Shape(hdc, left, top, right, bottom, [](auto& s, const auto& clip, auto box, auto* pen, auto* fill, int rop2) {
    draw::DrawEllipse(s, clip, box, pen, fill, rop2);
  });
}

BOOL RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height) {
  return Shape(hdc, left, top, right, bottom, [&](auto& s, const auto& clip, auto box, auto* pen, auto* fill, int rop2) {
    draw::DrawRoundRect(s, clip, box, width, height, pen, fill, rop2);
  });
}

BOOL Polygon(HDC hdc, const POINT* points, int count) {
  auto dc = Target(hdc);
  if (!dc || !points || count < 2) return FALSE;
  std::vector<draw::Point> pts;
  draw::Rect box{points[0].x, points[0].y, points[0].x, points[0].y};
  for (int i = 0; i < count; ++i) {
    pts.push_back(Dev(*dc, points[i].x, points[i].y));
    box = box.unite(draw::Rect{pts.back().x, pts.back().y, pts.back().x + 1, pts.back().y + 1});
  }
  draw::LineStyle pen;
  bool hasPen = LineStyleOf(*dc, pen);
  draw::Paint paint;
  draw::Surface tile;
  bool hasBrush = BrushPaint(*dc, paint, tile);
  DrawScope scope(*dc);
  draw::DrawPolygon(*dc->surface, dc->Clip(), pts, dc->state.polyFillMode == WINDING, hasPen ? &pen : nullptr,
                    hasBrush ? &paint : nullptr, dc->state.rop2);
  dc->Touch(box);
  return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  auto dc = Target(hdc);
  if (!dc) return CLR_INVALID;
  draw::Point p = Dev(*dc, x, y);
  draw::Region clip = dc->Clip();
  if (!clip.contains(p.x, p.y)) return CLR_INVALID;
  DrawScope scope(*dc);
  draw::Pixel px = dc->Color(color & 0xFFFFFF);
  dc->surface->set(p.x, p.y, px);
  dc->Touch({p.x, p.y, p.x + 1, p.y + 1});
  return ToColorref(px);
}

BOOL SetPixelV(HDC hdc, int x, int y, COLORREF color) { return SetPixel(hdc, x, y, color) != CLR_INVALID; }

COLORREF GetPixel(HDC hdc, int x, int y) {
  auto dc = Target(hdc);
  if (!dc) return CLR_INVALID;
  draw::Point p = Dev(*dc, x, y);
  if (!dc->Clip().contains(p.x, p.y)) return CLR_INVALID;
  DrawScope scope(*dc, false);
  return ToColorref(dc->surface->at(p.x, p.y));
}

namespace {

BOOL PaintRegion(HDC hdc, HRGN region, const Brush* brush, int rop2Override) {
  auto dc = Target(hdc);
  auto r = LookupAs<Rgn>(region);
  if (!dc || !r) return FALSE;
  draw::Paint paint;
  draw::Surface tile;
  std::shared_ptr<Brush> own = dc->brush ? dc->brush : LookupAs<Brush>(GetStockObject(WHITE_BRUSH));
  if (!PaintOf(*dc, brush ? *brush : *own, paint, tile)) return TRUE;
  draw::Region area = r->region;  // device units
  area.offset(dc->origin.x, dc->origin.y);
  DrawScope scope(*dc);
  draw::FillRegion(*dc->surface, dc->Clip(), area, paint, rop2Override ? rop2Override : R2_COPYPEN);
  dc->Touch(area.bounds());
  return TRUE;
}

}  // namespace

BOOL FillRgn(HDC hdc, HRGN region, HBRUSH brush) {
  auto b = BrushOf(brush);
  if (!b) return FALSE;
  return PaintRegion(hdc, region, b.get(), 0);
}

BOOL PaintRgn(HDC hdc, HRGN region) {
  auto dc = LookupDc(hdc);
  return dc ? PaintRegion(hdc, region, nullptr, dc->state.rop2) : FALSE;
}

BOOL InvertRgn(HDC hdc, HRGN region) {
  Brush black;
  black.color = 0;
  return PaintRegion(hdc, region, &black, R2_NOT);
}

BOOL FrameRgn(HDC hdc, HRGN region, HBRUSH brush, int width, int height) {
  auto r = LookupAs<Rgn>(region);
  auto b = BrushOf(brush);
  if (!r || !b || width <= 0 || height <= 0) return FALSE;
  // The frame: the region less itself shrunk (the region moved each way, intersected).
  draw::Region inner = r->region;
  for (auto [dx, dy] : {std::pair{width, 0}, std::pair{-width, 0}, std::pair{0, height}, std::pair{0, -height}}) {
    draw::Region moved = r->region;
    moved.offset(dx, dy);
    inner &= moved;
  }
  auto frame = std::make_shared<Rgn>();
  frame->region = draw::Region::Combine(r->region, inner, draw::Region::Op::kDiff);
  HRGN h = static_cast<HRGN>(Insert(frame));
  BOOL ok = PaintRegion(hdc, h, b.get(), 0);
  DeleteObject(h);
  return ok;
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
  auto dc = Target(hdc);
  if (!dc) return FALSE;
  draw::Paint paint;
  draw::Surface tile;
  uint8_t code = RopOf(rop);
  if (draw::RopUsesSource(code)) return FALSE;
  if (!BrushPaint(*dc, paint, tile) && draw::RopUsesPattern(code)) return TRUE;
  draw::Rect r = DevRect(*dc, x, y, x + width, y + height).normalized();
  DrawScope scope(*dc);
  draw::PatBlt(*dc->surface, dc->Clip(), r, paint, code);
  dc->Touch(r);
  return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
  uint8_t code = RopOf(rop);
  if (!draw::RopUsesSource(code)) return PatBlt(dst, x, y, width, height, rop);
  return StretchBlt(dst, x, y, width, height, src, srcX, srcY, width, height, rop);
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth,
                int srcHeight, DWORD rop) {
  uint8_t code = RopOf(rop);
  if (!draw::RopUsesSource(code)) return PatBlt(dst, x, y, width, height, rop);
  auto d = Target(dst);
  auto s = Target(src);
  if (!d || !s) return FALSE;
  draw::Paint paint;
  draw::Surface tile;
  if (draw::RopUsesPattern(code)) BrushPaint(*d, paint, tile);
  DrawScope scope(*d);
  draw::Surface temp;
  const draw::Surface* from = SourcePixels(*s, *d, temp);
  draw::Rect dr = DevRect(*d, x, y, x + width, y + height);
  draw::Rect sr = DevRect(*s, srcX, srcY, srcX + srcWidth, srcY + srcHeight);
  // The same surface read while written: the core takes a snapshot when both are one object.
  if (from == d->surface.get() || s->surface == d->surface) from = d->surface.get();
  draw::StretchBlt(*d->surface, d->Clip(), dr, *from, sr, code, &paint);
  d->Touch(dr.normalized());
  return TRUE;
}

BOOL MaskBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, HBITMAP mask, int maskX,
             int maskY, DWORD rop) {
  if (!mask) return BitBlt(dst, x, y, width, height, src, srcX, srcY, rop & 0x00FFFFFF);
  auto m = LookupAs<Bitmap>(mask);
  auto d = Target(dst);
  auto s = Target(src);
  if (!m || !d || !s || !m->mono) return FALSE;
  // Foreground code where the mask is 1, background code (bits 24-31) where it is 0.
  uint8_t fore = RopOf(rop), back = static_cast<uint8_t>((rop >> 24) & 0xFF);
  draw::Paint paint;
  draw::Surface tile;
  BrushPaint(*d, paint, tile);
  DrawScope scope(*d);
  draw::Surface temp;
  draw::Surface snapshot;
  const draw::Surface* from = Apart(SourcePixels(*s, *d, temp), *d, snapshot);
  draw::Region clip = d->Clip();
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      draw::Point p = Dev(*d, x + i, y + j);
      draw::Point q = Dev(*s, srcX + i, srcY + j);
      if (!clip.contains(p.x, p.y) || !from->bounds().contains(q.x, q.y)) continue;
      bool bit = (m->surface->get(maskX + i, maskY + j) & 0xFFFFFF) != 0;
      draw::Pixel& out = d->surface->row(p.y)[p.x];
      out = draw::ApplyRop(bit ? fore : back, paint.at(p.x, p.y), from->at(q.x, q.y), out);
    }
  d->Touch(DevRect(*d, x, y, x + width, y + height));
  return TRUE;
}

int StretchDIBits(HDC hdc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth, int srcHeight,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  auto dc = Target(hdc);
  if (!dc || !info || !bits) return 0;
  draw::Surface image;
  if (!DecodeDib(info, bits, usage, dc->palette.get(), image, 0, static_cast<UINT>(std::abs(info->bmiHeader.biHeight)))) return 0;
  // A bottom-up DIB's source y counts from its bottom row.
  int top = info->bmiHeader.biHeight > 0 ? image.height() - srcY - srcHeight : srcY;
  DrawScope scope(*dc);
  draw::Rect dr = DevRect(*dc, x, y, x + width, y + height);
  draw::StretchBlt(*dc->surface, dc->Clip(), dr, image, {srcX, top, srcX + srcWidth, top + srcHeight}, RopOf(rop));
  dc->Touch(dr.normalized());
  return srcHeight;
}

int SetDIBitsToDevice(HDC hdc, int x, int y, DWORD width, DWORD height, int srcX, int srcY, UINT startScan,
                      UINT scanLines, const void* bits, const BITMAPINFO* info, UINT usage) {
  auto dc = Target(hdc);
  if (!dc || !info || !bits) return 0;
  int dibHeight = std::abs(info->bmiHeader.biHeight);
  bool bottomUp = info->bmiHeader.biHeight > 0;
  draw::Surface image;
  UINT done = 0;
  // The bits hold scan lines [startScan, startScan + scanLines) of the DIB, in memory order.
  draw::Surface part;
  if (!DecodeDib(info, bits, usage, dc->palette.get(), part, 0, scanLines, &done)) return 0;
  // `part` holds lines 0..done-1 of the buffer at the rows of scans 0..done-1; move them to their scans.
  image.Reset(part.width(), dibHeight, 0);
  std::vector<bool> present(dibHeight, false);
  for (UINT i = 0; i < done; ++i) {
    int fromRow = bottomUp ? dibHeight - 1 - static_cast<int>(i) : static_cast<int>(i);
    int scan = static_cast<int>(startScan + i);
    if (scan >= dibHeight) break;
    int toRow = bottomUp ? dibHeight - 1 - scan : scan;
    std::memcpy(image.row(toRow), part.row(fromRow), sizeof(draw::Pixel) * part.width());
    present[toRow] = true;
  }
  int top = bottomUp ? dibHeight - srcY - static_cast<int>(height) : srcY;
  draw::Rect dr = DevRect(*dc, x, y, x + static_cast<int>(width), y + static_cast<int>(height));
  DrawScope scope(*dc);
  draw::Region clip = dc->Clip();
  // Only rows that were given are drawn.
  std::vector<draw::Region::Band> bands;
  for (int row = 0; row < static_cast<int>(height); ++row) {
    int imageRow = top + row;
    if (imageRow >= 0 && imageRow < dibHeight && present[imageRow])
      bands.push_back({dr.top + row, dr.top + row + 1, {dr.left, dr.right}});
  }
  clip &= draw::Region::FromBands(std::move(bands));
  draw::BitBlt(*dc->surface, clip, dr, image, {srcX, top}, draw::rop3::kSrcCopy);
  dc->Touch(dr);
  return static_cast<int>(done);
}

BOOL GradientFill(HDC hdc, PTRIVERTEX vertices, ULONG vertexCount, PVOID mesh, ULONG meshCount, ULONG mode) {
  auto dc = Target(hdc);
  if (!dc || !vertices || !mesh) return FALSE;
  auto color = [](const TRIVERTEX& v) { return draw::Color16{v.Red, v.Green, v.Blue, v.Alpha}; };
  DrawScope scope(*dc);
  draw::Region clip = dc->Clip();
  if (mode == GRADIENT_FILL_RECT_H || mode == GRADIENT_FILL_RECT_V) {
    const auto* rects = static_cast<const GRADIENT_RECT*>(mesh);
    for (ULONG i = 0; i < meshCount; ++i) {
      if (rects[i].UpperLeft >= vertexCount || rects[i].LowerRight >= vertexCount) return FALSE;
      const TRIVERTEX& a = vertices[rects[i].UpperLeft];
      const TRIVERTEX& b = vertices[rects[i].LowerRight];
      bool vertical = mode == GRADIENT_FILL_RECT_V;
      bool swap = vertical ? a.y > b.y : a.x > b.x;
      draw::Rect r = DevRect(*dc, a.x, a.y, b.x, b.y).normalized();
      draw::GradientRect(*dc->surface, clip, r, color(swap ? b : a), color(swap ? a : b), vertical);
      dc->Touch(r);
    }
    return TRUE;
  }
  if (mode == GRADIENT_FILL_TRIANGLE) {
    const auto* tris = static_cast<const GRADIENT_TRIANGLE*>(mesh);
    for (ULONG i = 0; i < meshCount; ++i) {
      ULONG idx[3] = {tris[i].Vertex1, tris[i].Vertex2, tris[i].Vertex3};
      draw::Point p[3];
      draw::Color16 c[3];
      for (int k = 0; k < 3; ++k) {
        if (idx[k] >= vertexCount) return FALSE;
        p[k] = Dev(*dc, vertices[idx[k]].x, vertices[idx[k]].y);
        c[k] = color(vertices[idx[k]]);
      }
      draw::GradientTriangle(*dc->surface, clip, p, c);
    }
    return TRUE;
  }
  return FALSE;
}

BOOL AlphaBlend(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth,
                int srcHeight, BLENDFUNCTION blend) {
  auto d = Target(dst);
  auto s = Target(src);
  if (!d || !s || width < 0 || height < 0 || srcWidth < 0 || srcHeight < 0 || blend.BlendOp != AC_SRC_OVER) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  draw::Rect sr = DevRect(*s, srcX, srcY, srcX + srcWidth, srcY + srcHeight);
  if (sr.intersect(s->surface->bounds()) != sr && !sr.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);  // the source must lie inside its surface
    return FALSE;
  }
  DrawScope scope(*d);
  if (s->bitmap) s->bitmap->LoadFromBits();
  draw::Surface snapshot;
  const draw::Surface* from = Apart(s->surface.get(), *d, snapshot);
  draw::Rect dr = DevRect(*d, x, y, x + width, y + height);
  draw::AlphaBlend(*d->surface, d->Clip(), dr, *from, sr, blend.SourceConstantAlpha,
                   (blend.AlphaFormat & AC_SRC_ALPHA) != 0);
  d->Touch(dr);
  return TRUE;
}

BOOL TransparentBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth,
                    int srcHeight, UINT transparent) {
  auto d = Target(dst);
  auto s = Target(src);
  if (!d || !s || width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) return FALSE;
  DrawScope scope(*d);
  draw::Surface temp;
  draw::Surface snapshot;
  const draw::Surface* from = Apart(SourcePixels(*s, *d, temp), *d, snapshot);
  draw::Rect dr = DevRect(*d, x, y, x + width, y + height);
  draw::TransparentBlt(*d->surface, d->Clip(), dr, *from, DevRect(*s, srcX, srcY, srcX + srcWidth, srcY + srcHeight),
                       ToPixel(transparent));
  d->Touch(dr);
  return TRUE;
}

// --- Icons and cursors ---

HICON CreateIconIndirect(PICONINFO info) {
  if (!info) return nullptr;
  auto mask = LookupAs<Bitmap>(info->hbmMask);
  auto color = LookupAs<Bitmap>(info->hbmColor);
  if (!mask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  mask->LoadFromBits();
  auto icon = std::make_shared<Icon>();
  icon->isIcon = info->fIcon != 0;
  if (color) {
    color->LoadFromBits();
    icon->width = color->width;
    icon->height = color->height;
    icon->color = *color->surface;
    icon->hasColor = true;
    icon->mask.Reset(icon->width, icon->height, 0);
    for (int y = 0; y < icon->height; ++y)
      for (int x = 0; x < icon->width; ++x) icon->mask.set(x, y, MonoOf(mask->surface->get(x, y)));
    if (color->bpp == 32)
      for (int y = 0; y < icon->height && !icon->hasAlpha; ++y)
        for (int x = 0; x < icon->width; ++x)
          if (draw::AlphaOf(icon->color.at(x, y))) { icon->hasAlpha = true; break; }
  } else {
    // A monochrome icon: AND mask on top, XOR image below.
    icon->width = mask->width;
    icon->height = mask->height / 2;
    icon->mask.Reset(icon->width, icon->height, 0);
    icon->color.Reset(icon->width, icon->height, 0);
    for (int y = 0; y < icon->height; ++y)
      for (int x = 0; x < icon->width; ++x) {
        icon->mask.set(x, y, MonoOf(mask->surface->at(x, y)));
        icon->color.set(x, y, MonoOf(mask->surface->at(x, y + icon->height)));
      }
  }
  if (icon->isIcon) {
    icon->hotX = static_cast<DWORD>(icon->width / 2);
    icon->hotY = static_cast<DWORD>(icon->height / 2);
  } else {
    icon->hotX = info->xHotspot;
    icon->hotY = info->yHotspot;
  }
  return static_cast<HICON>(Insert(icon));
}

BOOL GetIconInfo(HICON handle, PICONINFO info) {
  auto icon = LookupAs<Icon>(handle);
  if (!icon || !info) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  info->fIcon = icon->isIcon;
  info->xHotspot = icon->hotX;
  info->yHotspot = icon->hotY;
  if (icon->hasColor) {
    info->hbmMask = CreateBitmap(icon->width, icon->height, 1, 1, nullptr);
    *LookupAs<Bitmap>(info->hbmMask)->surface = icon->mask;
    info->hbmColor = tavrin::gdi::CreateBitmapFromSurface(icon->color);
  } else {
    info->hbmMask = CreateBitmap(icon->width, icon->height * 2, 1, 1, nullptr);
    auto& s = *LookupAs<Bitmap>(info->hbmMask)->surface;
    for (int y = 0; y < icon->height; ++y)
      for (int x = 0; x < icon->width; ++x) {
        s.set(x, y, icon->mask.at(x, y));
        s.set(x, y + icon->height, icon->color.at(x, y));
      }
    info->hbmColor = nullptr;
  }
  return TRUE;
}

BOOL DestroyIcon(HICON icon) {
  auto object = LookupAs<Icon>(icon);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->stock) return TRUE;  // the system's cursors stay
  Remove(icon);
  return TRUE;
}

BOOL DestroyCursor(HCURSOR cursor) { return DestroyIcon(cursor); }

HICON CopyIcon(HICON handle) {
  auto icon = LookupAs<Icon>(handle);
  if (!icon) return nullptr;
  return static_cast<HICON>(Insert(std::make_shared<Icon>(*icon)));
}

BOOL DrawIconEx(HDC hdc, int x, int y, HICON handle, int width, int height, UINT, HBRUSH, UINT flags) {
  auto dc = Target(hdc);
  auto icon = LookupAs<Icon>(handle);
  if (!dc || !icon) return FALSE;
  if (width == 0) width = (flags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CXICON) : icon->width;
  if (height == 0) height = (flags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CYICON) : icon->height;
  if (!(flags & DI_NORMAL)) flags |= DI_NORMAL;
  DrawScope scope(*dc);
  draw::Region clip = dc->Clip();
  draw::Rect dr = DevRect(*dc, x, y, x + width, y + height);
  draw::Rect sr{0, 0, icon->width, icon->height};
  if (icon->hasAlpha && (flags & DI_NORMAL) == DI_NORMAL) {
    // Straight alpha: premultiply for the blend.
    draw::Surface pre = icon->color;
    for (int j = 0; j < pre.height(); ++j)
      for (int i = 0; i < pre.width(); ++i) {
        draw::Pixel p = pre.at(i, j);
        int a = draw::AlphaOf(p);
        pre.set(i, j, (p & 0xFF000000u) | draw::Rgb(draw::RedOf(p) * a / 255, draw::GreenOf(p) * a / 255, draw::BlueOf(p) * a / 255));
      }
    draw::AlphaBlend(*dc->surface, clip, dr, pre, sr, 255, true);
  } else {
    if (flags & DI_MASK) draw::StretchBlt(*dc->surface, clip, dr, icon->mask, sr, draw::rop3::kSrcAnd);
    if (flags & DI_IMAGE)
      draw::StretchBlt(*dc->surface, clip, dr, icon->color, sr, (flags & DI_MASK) ? draw::rop3::kSrcInvert : draw::rop3::kSrcCopy);
  }
  dc->Touch(dr);
  return TRUE;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) { return DrawIconEx(hdc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE); }
