// Pixel operations on a surface, every one limited to a clip region given in the surface's coordinates.
// Raster operations follow the usual ternary table: bit (P*4 + S*2 + D) of the code is the result for
// pattern bit P, source bit S and destination bit D; binary pen operations use the 1-16 numbering with
// bit (P*2 + D) of (code - 1).
#pragma once
#include <cstdint>
#include <vector>

#include "draw/region.h"
#include "draw/surface.h"

namespace tavrin::draw {

// Ternary codes used by name here (the high byte of the 32-bit codes).
namespace rop3 {
constexpr uint8_t kBlackness = 0x00;
constexpr uint8_t kNotSrcErase = 0x11;
constexpr uint8_t kNotSrcCopy = 0x33;
constexpr uint8_t kSrcErase = 0x44;
constexpr uint8_t kDstInvert = 0x55;
constexpr uint8_t kPatInvert = 0x5A;
constexpr uint8_t kSrcInvert = 0x66;
constexpr uint8_t kSrcAnd = 0x88;
constexpr uint8_t kMergePaint = 0xBB;
constexpr uint8_t kMergeCopy = 0xC0;
constexpr uint8_t kSrcCopy = 0xCC;
constexpr uint8_t kSrcPaint = 0xEE;
constexpr uint8_t kPatCopy = 0xF0;
constexpr uint8_t kPatPaint = 0xFB;
constexpr uint8_t kWhiteness = 0xFF;
constexpr uint8_t kNop = 0xAA;
}  // namespace rop3

// The ternary code of a binary pen operation (1..16).
uint8_t Rop3FromRop2(int rop2);
// One pixel of a raster operation.
Pixel ApplyRop(uint8_t rop, Pixel pattern, Pixel source, Pixel dest);
inline bool RopUsesSource(uint8_t rop) { return ((rop >> 2) & 0x33) != (rop & 0x33); }
inline bool RopUsesPattern(uint8_t rop) { return ((rop >> 4) & 0x0F) != (rop & 0x0F); }
inline bool RopUsesDest(uint8_t rop) { return ((rop >> 1) & 0x55) != (rop & 0x55); }

// A brush: one colour, or a tile repeated so that tile pixel (0, 0) falls on `origin`.
// With `keyed`, tile pixels of the key colour are left out (a hatch drawn on a transparent background).
struct Paint {
  Pixel color = 0;
  const Surface* tile = nullptr;
  Point origin;
  bool keyed = false;
  Pixel key = 0;
  Pixel at(int x, int y) const {
    if (!tile || tile->empty()) return color;
    int tx = (x - origin.x) % tile->width(), ty = (y - origin.y) % tile->height();
    if (tx < 0) tx += tile->width();
    if (ty < 0) ty += tile->height();
    return tile->at(tx, ty);
  }
};

void FillRect(Surface& dst, const Region& clip, const Rect& r, Pixel color);
// A pattern operation over a rectangle (no source).
void PatBlt(Surface& dst, const Region& clip, const Rect& r, const Paint& paint, uint8_t rop);
// Fills every pixel of `area` with the paint under a pen-style binary operation (13 = copy).
void FillRegion(Surface& dst, const Region& clip, const Region& area, const Paint& paint, int rop2 = 13);
// One pixel under a binary operation, if the clip holds it.
void PlotPixel(Surface& dst, const Region& clip, int x, int y, Pixel color, int rop2);

// How lines are stroked. `dashes` alternates on and off lengths (empty: solid); off pixels take
// `gapColor` when `opaqueGaps`. A width above 1 stamps a width x width square at every on pixel.
struct LineStyle {
  Pixel color = 0;
  std::vector<int> dashes;
  bool opaqueGaps = false;
  Pixel gapColor = 0;
  int rop2 = 13;
  int width = 1;
};
// From a to b, b itself not drawn. `phase` (may be null) carries the dash position from one segment to
// the next of a connected figure.
void DrawLine(Surface& dst, const Region& clip, Point a, Point b, const LineStyle& style, int* phase = nullptr);

// Shapes in a bounding rectangle [left, right) x [top, bottom): the outline (when `pen`) is the
// rectangle's edge pixels, the inside takes the paint (when `fill`). Without a pen the fill covers the
// whole rectangle.
void DrawRectangle(Surface& dst, const Region& clip, const Rect& box, const LineStyle* pen, const Paint* fill, int rop2 = 13);
void DrawEllipse(Surface& dst, const Region& clip, const Rect& box, const LineStyle* pen, const Paint* fill, int rop2 = 13);
void DrawRoundRect(Surface& dst, const Region& clip, const Rect& box, int ellipseWidth, int ellipseHeight,
                   const LineStyle* pen, const Paint* fill, int rop2 = 13);
// A closed polygon: filled by pixel centres with the even-odd rule or, when `winding`, non-zero winding;
// its outline drawn as closed lines.
void DrawPolygon(Surface& dst, const Region& clip, const std::vector<Point>& points, bool winding,
                 const LineStyle* pen, const Paint* fill, int rop2 = 13);
// The pixels a polygon fill would cover.
Region PolygonRegion(const std::vector<Point>& points, bool winding);

// dstRect's pixels combined with the source block whose top-left is srcOrigin. Source pixels outside the
// source surface are left out. dst and src may be the same surface (overlap is handled).
void BitBlt(Surface& dst, const Region& clip, const Rect& dstRect, const Surface& src, Point srcOrigin, uint8_t rop,
            const Paint* paint = nullptr);
// Nearest-pixel scaling; a negative width or height of either rectangle (right < left...) mirrors.
void StretchBlt(Surface& dst, const Region& clip, Rect dstRect, const Surface& src, Rect srcRect, uint8_t rop,
                const Paint* paint = nullptr);
// Blends the source over the destination with constant alpha, and with the source's own (premultiplied)
// alpha when `sourceAlpha`.
void AlphaBlend(Surface& dst, const Region& clip, const Rect& dstRect, const Surface& src, const Rect& srcRect,
                int constantAlpha, bool sourceAlpha);
// Copies (scaled) every source pixel except those of the transparent colour (alpha ignored).
void TransparentBlt(Surface& dst, const Region& clip, const Rect& dstRect, const Surface& src, const Rect& srcRect,
                    Pixel transparent);

// 16-bit-per-channel colours of gradient vertices.
struct Color16 {
  uint16_t red = 0, green = 0, blue = 0, alpha = 0;
};
// A linear gradient across the rectangle: the first column (row when vertical) has exactly c0 and the
// last exactly c1.
void GradientRect(Surface& dst, const Region& clip, const Rect& r, Color16 c0, Color16 c1, bool vertical);
// Colours interpolated across a triangle.
void GradientTriangle(Surface& dst, const Region& clip, const Point p[3], const Color16 c[3]);

}  // namespace tavrin::draw
