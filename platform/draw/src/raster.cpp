#include "draw/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tavrin::draw {
namespace {

// Calls f(x, y) for every pixel of the rectangle that the clip (and the surface) holds, row by row.
template <class F>
void ForEachClipped(const Surface& dst, const Region& clip, const Rect& r, F&& f) {
  Rect area = r.normalized().intersect(dst.bounds());
  if (area.empty()) return;
  clip.ForEachRect(area, [&](const Rect& piece) {
    for (int y = piece.top; y < piece.bottom; ++y)
      for (int x = piece.left; x < piece.right; ++x) f(x, y);
  });
}

// Eight pixels a step so the compiler can use wide stores.
void FillPixels(Pixel* d, size_t n, Pixel color) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; ++k) d[i + k] = color;
  for (; i < n; ++i) d[i] = color;
}

}  // namespace

uint8_t Rop3FromRop2(int rop2) {
  int table = (rop2 - 1) & 0x0F;
  uint8_t out = 0;
  for (int i = 0; i < 8; ++i) {
    int p = (i >> 2) & 1, d = i & 1;
    if ((table >> (p * 2 + d)) & 1) out |= static_cast<uint8_t>(1u << i);
  }
  return out;
}

Pixel ApplyRop(uint8_t rop, Pixel p, Pixel s, Pixel d) {
  switch (rop) {
    case rop3::kSrcCopy: return s;
    case rop3::kPatCopy: return p;
    case rop3::kBlackness: return 0;
    case rop3::kWhiteness: return 0xFFFFFFu;
    case rop3::kDstInvert: return ~d;
    case rop3::kPatInvert: return p ^ d;
    case rop3::kSrcInvert: return s ^ d;
    case rop3::kSrcAnd: return s & d;
    case rop3::kSrcPaint: return s | d;
    case rop3::kNop: return d;
    default: break;
  }
  Pixel r = 0;
  for (int i = 0; i < 8; ++i)
    if (rop & (1 << i)) r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  return r;
}

void FillRect(Surface& dst, const Region& clip, const Rect& r, Pixel color) {
  Rect area = r.normalized().intersect(dst.bounds());
  if (area.empty()) return;
  bool bytesEqual = (color & 0xFF) == ((color >> 8) & 0xFF) && (color & 0xFF) == ((color >> 16) & 0xFF) &&
                    (color & 0xFF) == (color >> 24);
  clip.ForEachRect(area, [&](const Rect& piece) {
    // Whole rows of a packed surface: one run.
    bool packed = piece.left == 0 && piece.width() == dst.width() && dst.strideBytes() == dst.width() * 4;
    int rows = packed ? 1 : piece.height();
    size_t count = packed ? static_cast<size_t>(piece.width()) * piece.height() : piece.width();
    for (int i = 0; i < rows; ++i) {
      Pixel* d = dst.row(piece.top + i) + piece.left;
      if (bytesEqual) std::memset(d, static_cast<int>(color & 0xFF), count * sizeof(Pixel));
      else FillPixels(d, count, color);
    }
  });
}

void PatBlt(Surface& dst, const Region& clip, const Rect& r, const Paint& paint, uint8_t rop) {
  if (rop == rop3::kNop) return;
  if (rop == rop3::kBlackness) return FillRect(dst, clip, r, 0);
  if (rop == rop3::kWhiteness) return FillRect(dst, clip, r, 0xFFFFFF);
  if (rop == rop3::kPatCopy && !paint.tile) return FillRect(dst, clip, r, paint.color);
  ForEachClipped(dst, clip, r, [&](int x, int y) {
    Pixel p = paint.at(x, y);
    if (paint.keyed && paint.tile && p == paint.key) return;
    Pixel& d = dst.row(y)[x];
    d = ApplyRop(rop, p, 0, d);
  });
}

void FillRegion(Surface& dst, const Region& clip, const Region& area, const Paint& paint, int rop2) {
  Region target = Region::Combine(area, clip, Region::Op::kAnd);
  uint8_t rop = Rop3FromRop2(rop2);
  for (const Rect& r : target.rects()) PatBlt(dst, target, r, paint, rop);
}

void PlotPixel(Surface& dst, const Region& clip, int x, int y, Pixel color, int rop2) {
  if (!dst.bounds().contains(x, y) || !clip.contains(x, y)) return;
  Pixel& d = dst.row(y)[x];
  d = rop2 == 13 ? color : ApplyRop(Rop3FromRop2(rop2), color, 0, d);
}

void DrawLine(Surface& dst, const Region& clip, Point a, Point b, const LineStyle& style, int* phase) {
  int localPhase = 0;
  int& ph = phase ? *phase : localPhase;
  int total = 0;
  for (int d : style.dashes) total += std::max(d, 0);
  auto on = [&]() {
    if (total <= 0) return true;
    int pos = ph % total;
    for (size_t i = 0; i < style.dashes.size(); ++i) {
      if (pos < style.dashes[i]) return (i % 2) == 0;
      pos -= style.dashes[i];
    }
    return true;
  };
  auto plot = [&](int x, int y) {
    bool isOn = on();
    ++ph;
    if (!isOn && !style.opaqueGaps) return;
    Pixel c = isOn ? style.color : style.gapColor;
    if (style.width <= 1 || !isOn) return PlotPixel(dst, clip, x, y, c, style.rop2);
    int lo = -(style.width - 1) / 2;
    for (int yy = 0; yy < style.width; ++yy)
      for (int xx = 0; xx < style.width; ++xx) PlotPixel(dst, clip, x + lo + xx, y + lo + yy, c, style.rop2);
  };
  int dx = std::abs(b.x - a.x), dy = std::abs(b.y - a.y);
  int sx = b.x > a.x ? 1 : -1, sy = b.y > a.y ? 1 : -1;
  int x = a.x, y = a.y;
  if (dx >= dy) {
    int err = 2 * dy - dx;
    for (int i = 0; i < dx; ++i) {
      plot(x, y);
      if (err > 0) { y += sy; err -= 2 * dx; }
      err += 2 * dy;
      x += sx;
    }
  } else {
    int err = 2 * dx - dy;
    for (int i = 0; i < dy; ++i) {
      plot(x, y);
      if (err > 0) { x += sx; err -= 2 * dy; }
      err += 2 * dx;
      y += sy;
    }
  }
}

namespace {

// A shape given as an inside test over its box: the inside pixels with a 4-neighbour outside form the
// outline, the rest the fill.
template <class Inside>
void DrawMaskShape(Surface& dst, const Region& clip, const Rect& box, const LineStyle* pen, const Paint* fill, int rop2,
                   Inside inside) {
  Rect b = box.normalized();
  int w = b.width(), h = b.height();
  if (w <= 0 || h <= 0) return;
  std::vector<uint8_t> mask(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) mask[static_cast<size_t>(y) * w + x] = inside(x, y) ? 1 : 0;
  auto in = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && mask[static_cast<size_t>(y) * w + x]; };
  uint8_t fillRop = Rop3FromRop2(rop2);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (!in(x, y)) continue;
      bool edge = !in(x - 1, y) || !in(x + 1, y) || !in(x, y - 1) || !in(x, y + 1);
      int px = b.left + x, py = b.top + y;
      if (edge && pen) {
        PlotPixel(dst, clip, px, py, pen->color, pen->rop2);
      } else if (fill) {
        if (!dst.bounds().contains(px, py) || !clip.contains(px, py)) continue;
        Pixel p = fill->at(px, py);
        if (fill->keyed && fill->tile && p == fill->key) continue;
        Pixel& d = dst.row(py)[px];
        d = ApplyRop(fillRop, p, 0, d);
      }
    }
  }
}

bool InEllipse(double px, double py, double cx, double cy, double rx, double ry) {
  if (rx <= 0 || ry <= 0) return false;
  double nx = (px - cx) / rx, ny = (py - cy) / ry;
  return nx * nx + ny * ny <= 1.0 + 1e-9;
}

}  // namespace

void DrawRectangle(Surface& dst, const Region& clip, const Rect& box, const LineStyle* pen, const Paint* fill, int rop2) {
  Rect b = box.normalized();
  if (b.empty()) return;
  if (fill) {
    Rect inner = pen ? Rect{b.left + 1, b.top + 1, b.right - 1, b.bottom - 1} : b;
    if (!inner.empty()) PatBlt(dst, clip, inner, *fill, Rop3FromRop2(rop2));
  }
  if (!pen) return;
  int r = b.right - 1, bt = b.bottom - 1;
  if (b.width() == 1 || b.height() == 1) {
    // A one-pixel line: each pixel once.
    DrawLine(dst, clip, {b.left, b.top}, {b.width() == 1 ? b.left : b.right, b.height() == 1 ? b.top : b.bottom}, *pen);
    return;
  }
  int phase = 0;
  DrawLine(dst, clip, {b.left, b.top}, {r, b.top}, *pen, &phase);
  DrawLine(dst, clip, {r, b.top}, {r, bt}, *pen, &phase);
  DrawLine(dst, clip, {r, bt}, {b.left, bt}, *pen, &phase);
  DrawLine(dst, clip, {b.left, bt}, {b.left, b.top}, *pen, &phase);
}

void DrawEllipse(Surface& dst, const Region& clip, const Rect& box, const LineStyle* pen, const Paint* fill, int rop2) {
  Rect b = box.normalized();
  double rx = b.width() / 2.0, ry = b.height() / 2.0;
  DrawMaskShape(dst, clip, b, pen, fill, rop2,
                [&](int x, int y) { return InEllipse(x + 0.5, y + 0.5, rx, ry, rx, ry); });
}

void DrawRoundRect(Surface& dst, const Region& clip, const Rect& box, int ew, int eh, const LineStyle* pen,
                   const Paint* fill, int rop2) {
  Rect b = box.normalized();
  int w = b.width(), h = b.height();
  double rx = std::min(std::abs(ew), w) / 2.0, ry = std::min(std::abs(eh), h) / 2.0;
  DrawMaskShape(dst, clip, b, pen, fill, rop2, [&](int x, int y) {
    double px = x + 0.5, py = y + 0.5;
    double cx = px < rx ? rx : (px > w - rx ? w - rx : px);
    double cy = py < ry ? ry : (py > h - ry ? h - ry : py);
    if (cx == px || cy == py) return true;
    return InEllipse(px, py, cx, cy, rx, ry);
  });
}

Region PolygonRegion(const std::vector<Point>& points, bool winding) {
  if (points.size() < 3) return {};
  int top = points[0].y, bottom = points[0].y;
  for (const Point& p : points) { top = std::min(top, p.y); bottom = std::max(bottom, p.y); }
  std::vector<Region::Band> bands;
  struct Cross { double x; int dir; };
  std::vector<Cross> crosses;
  for (int y = top; y < bottom; ++y) {
    double sy = y + 0.5;
    crosses.clear();
    for (size_t i = 0; i < points.size(); ++i) {
      Point p0 = points[i], p1 = points[(i + 1) % points.size()];
      if (p0.y == p1.y) continue;
      int dir = p1.y > p0.y ? 1 : -1;
      if (p0.y > p1.y) std::swap(p0, p1);
      if (sy < p0.y || sy >= p1.y) continue;
      double x = p0.x + (sy - p0.y) * (p1.x - p0.x) / static_cast<double>(p1.y - p0.y);
      crosses.push_back({x, dir});
    }
    std::sort(crosses.begin(), crosses.end(), [](const Cross& a, const Cross& b) { return a.x < b.x; });
    std::vector<int> xs;
    int count = 0;
    for (size_t i = 0; i + 1 < crosses.size(); ++i) {
      count += winding ? crosses[i].dir : 1;
      bool inside = winding ? count != 0 : (count & 1) != 0;
      if (!inside) continue;
      // Pixels whose centres lie in [x0, x1).
      int x0 = static_cast<int>(std::ceil(crosses[i].x - 0.5));
      int x1 = static_cast<int>(std::ceil(crosses[i + 1].x - 0.5));
      if (x0 >= x1) continue;
      if (!xs.empty() && xs.back() >= x0) xs.back() = std::max(xs.back(), x1);
      else { xs.push_back(x0); xs.push_back(x1); }
    }
    bands.push_back(Region::Band{y, y + 1, std::move(xs)});
  }
  return Region::FromBands(std::move(bands));
}

void DrawPolygon(Surface& dst, const Region& clip, const std::vector<Point>& points, bool winding, const LineStyle* pen,
                 const Paint* fill, int rop2) {
  if (fill) FillRegion(dst, clip, PolygonRegion(points, winding), *fill, rop2);
  if (!pen || points.size() < 2) return;
  int phase = 0;
  for (size_t i = 0; i < points.size(); ++i)
    DrawLine(dst, clip, points[i], points[(i + 1) % points.size()], *pen, &phase);
}

void BitBlt(Surface& dst, const Region& clip, const Rect& dstRect, const Surface& src, Point srcOrigin, uint8_t rop,
            const Paint* paint) {
  if (!RopUsesSource(rop)) {
    Paint none;
    return PatBlt(dst, clip, dstRect, paint ? *paint : none, rop);
  }
  int dx = srcOrigin.x - dstRect.left, dy = srcOrigin.y - dstRect.top;
  Rect area = dstRect.intersect(dst.bounds()).intersect(src.bounds().offset(-dx, -dy));
  if (area.empty()) return;
  const Surface* from = &src;
  Surface copy;
  if (&src == &dst) {  // overlapping copy: read from a snapshot
    copy = src;
    from = &copy;
  }
  Paint none;
  const Paint& pat = paint ? *paint : none;
  clip.ForEachRect(area, [&](const Rect& piece) {
    for (int y = piece.top; y < piece.bottom; ++y) {
      Pixel* d = dst.row(y) + piece.left;
      const Pixel* s = from->row(y + dy) + piece.left + dx;
      int n = piece.width();
      switch (rop) {
        case rop3::kSrcCopy: std::memcpy(d, s, sizeof(Pixel) * n); break;
        case rop3::kSrcAnd: for (int i = 0; i < n; ++i) d[i] &= s[i]; break;
        case rop3::kSrcPaint: for (int i = 0; i < n; ++i) d[i] |= s[i]; break;
        case rop3::kSrcInvert: for (int i = 0; i < n; ++i) d[i] ^= s[i]; break;
        default:
          for (int i = 0; i < n; ++i) d[i] = ApplyRop(rop, pat.at(piece.left + i, y), s[i], d[i]);
      }
    }
  });
}

namespace {

// Maps destination pixels to source pixels for the scaling calls; false when nothing is drawn.
struct Scale {
  Rect dst, src;
  bool mirrorX = false, mirrorY = false;
  bool Setup(Rect d, Rect s) {
    if (d.right < d.left) { std::swap(d.left, d.right); mirrorX = !mirrorX; }
    if (d.bottom < d.top) { std::swap(d.top, d.bottom); mirrorY = !mirrorY; }
    if (s.right < s.left) { std::swap(s.left, s.right); mirrorX = !mirrorX; }
    if (s.bottom < s.top) { std::swap(s.top, s.bottom); mirrorY = !mirrorY; }
    dst = d;
    src = s;
    return !d.empty() && !s.empty();
  }
  int SrcX(int x) const {
    int i = static_cast<int>((static_cast<int64_t>(2 * (x - dst.left) + 1) * src.width()) / (2 * dst.width()));
    return src.left + (mirrorX ? src.width() - 1 - i : i);
  }
  int SrcY(int y) const {
    int i = static_cast<int>((static_cast<int64_t>(2 * (y - dst.top) + 1) * src.height()) / (2 * dst.height()));
    return src.top + (mirrorY ? src.height() - 1 - i : i);
  }
};

template <class F>
void ForEachScaled(Surface& dst, const Region& clip, const Scale& sc, const Surface& src, F&& f) {
  Rect area = sc.dst.intersect(dst.bounds());
  if (area.empty()) return;
  std::vector<int> xs(area.width());
  clip.ForEachRect(area, [&](const Rect& piece) {
    for (int x = piece.left; x < piece.right; ++x) xs[x - area.left] = sc.SrcX(x);
    for (int y = piece.top; y < piece.bottom; ++y) {
      int sy = sc.SrcY(y);
      if (sy < 0 || sy >= src.height()) continue;
      Pixel* d = dst.row(y);
      const Pixel* s = src.row(sy);
      for (int x = piece.left; x < piece.right; ++x) {
        int sx = xs[x - area.left];
        if (sx < 0 || sx >= src.width()) continue;
        f(x, y, d[x], s[sx]);
      }
    }
  });
}

}  // namespace

void StretchBlt(Surface& dst, const Region& clip, Rect dstRect, const Surface& src, Rect srcRect, uint8_t rop,
                const Paint* paint) {
  Scale sc;
  if (!sc.Setup(dstRect, srcRect)) return;
  if (!sc.mirrorX && !sc.mirrorY && sc.dst.width() == sc.src.width() && sc.dst.height() == sc.src.height())
    return BitBlt(dst, clip, sc.dst, src, {sc.src.left, sc.src.top}, rop, paint);
  Surface copy;
  const Surface* from = &src;
  if (&src == &dst) {
    copy = src;
    from = &copy;
  }
  Paint none;
  const Paint& pat = paint ? *paint : none;
  ForEachScaled(dst, clip, sc, *from, [&](int x, int y, Pixel& d, Pixel s) { d = ApplyRop(rop, pat.at(x, y), s, d); });
}

void AlphaBlend(Surface& dst, const Region& clip, const Rect& dstRect, const Surface& src, const Rect& srcRect,
                int constantAlpha, bool sourceAlpha) {
  Scale sc;
  if (!sc.Setup(dstRect, srcRect)) return;
  int ca = std::clamp(constantAlpha, 0, 255);
  ForEachScaled(dst, clip, sc, src, [&](int, int, Pixel& d, Pixel s) {
    int sa = sourceAlpha ? AlphaOf(s) * ca / 255 : ca;
    auto ch = [&](int sv, int dv) {
      int scaled = sourceAlpha ? sv * ca / 255 : sv * ca / 255;
      return std::min(255, scaled + dv * (255 - sa) / 255);
    };
    int a = std::min(255, sa + AlphaOf(d) * (255 - sa) / 255);
    d = (static_cast<Pixel>(a) << 24) | Rgb(ch(RedOf(s), RedOf(d)), ch(GreenOf(s), GreenOf(d)), ch(BlueOf(s), BlueOf(d)));
  });
}

void TransparentBlt(Surface& dst, const Region& clip, const Rect& dstRect, const Surface& src, const Rect& srcRect,
                    Pixel transparent) {
  Scale sc;
  if (!sc.Setup(dstRect, srcRect)) return;
  ForEachScaled(dst, clip, sc, src, [&](int, int, Pixel& d, Pixel s) {
    if ((s & 0xFFFFFF) != (transparent & 0xFFFFFF)) d = s & 0xFFFFFF;
  });
}

namespace {

Pixel Mix16(const Color16& a, const Color16& b, int64_t num, int64_t den) {
  auto ch = [&](int x, int y) { return static_cast<int>((x + (static_cast<int64_t>(y) - x) * num / den) >> 8); };
  return Rgb(ch(a.red, b.red), ch(a.green, b.green), ch(a.blue, b.blue));
}

}  // namespace

void GradientRect(Surface& dst, const Region& clip, const Rect& r, Color16 c0, Color16 c1, bool vertical) {
  Rect b = r.normalized();
  int n = vertical ? b.height() : b.width();
  if (n <= 0 || b.empty()) return;
  std::vector<Pixel> colors(n);
  for (int i = 0; i < n; ++i) colors[i] = n == 1 ? Mix16(c0, c1, 0, 1) : Mix16(c0, c1, i, n - 1);
  Rect area = b.intersect(dst.bounds());
  clip.ForEachRect(area, [&](const Rect& piece) {
    for (int y = piece.top; y < piece.bottom; ++y) {
      Pixel* d = dst.row(y);
      if (vertical) std::fill_n(d + piece.left, piece.width(), colors[y - b.top]);
      else std::memcpy(d + piece.left, colors.data() + (piece.left - b.left), sizeof(Pixel) * piece.width());
    }
  });
}

void GradientTriangle(Surface& dst, const Region& clip, const Point p[3], const Color16 c[3]) {
  Rect box{std::min({p[0].x, p[1].x, p[2].x}), std::min({p[0].y, p[1].y, p[2].y}),
           std::max({p[0].x, p[1].x, p[2].x}) + 1, std::max({p[0].y, p[1].y, p[2].y}) + 1};
  double area = static_cast<double>(p[1].x - p[0].x) * (p[2].y - p[0].y) - static_cast<double>(p[2].x - p[0].x) * (p[1].y - p[0].y);
  if (area == 0) return;
  ForEachClipped(dst, clip, box, [&](int x, int y) {
    double w[3];
    for (int i = 0; i < 3; ++i) {
      const Point& a = p[(i + 1) % 3];
      const Point& b = p[(i + 2) % 3];
      w[i] = (static_cast<double>(b.x - a.x) * (y - a.y) - static_cast<double>(x - a.x) * (b.y - a.y)) / area;
    }
    if (w[0] < -1e-9 || w[1] < -1e-9 || w[2] < -1e-9) return;
    auto ch = [&](uint16_t Color16::*m) {
      double v = w[0] * (c[0].*m) + w[1] * (c[1].*m) + w[2] * (c[2].*m);
      return std::clamp(static_cast<int>(v) >> 8, 0, 255);
    };
    dst.row(y)[x] = Rgb(ch(&Color16::red), ch(&Color16::green), ch(&Color16::blue));
  });
}

}  // namespace tavrin::draw
