// The drawing state, painting with alpha, text, and the graphics context.
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include "appkit_internal.h"
#include "draw/raster.h"
#include "gui/desktop.h"

namespace draw = tavrin::draw;

namespace appkit::detail {
namespace {

// Drawing happens on the main thread only, views inside views: a stack.
std::vector<DrawState>& Stack() {
  static thread_local std::vector<DrawState> stack;
  return stack;
}

int Round(CGFloat v) { return static_cast<int>(std::lround(v)); }

// Straight-alpha "over": the colour at opacity `a` (0..255) onto a pixel.
Pixel Over(Pixel dst, uint32_t colour, int a, bool hasAlpha) {
  const int sr = (colour >> 16) & 0xFF, sg = (colour >> 8) & 0xFF, sb = colour & 0xFF;
  if (!hasAlpha) {
    auto mix = [a](int s, int d) { return d + (s - d) * a / 255; };
    return draw::Rgb(mix(sr, draw::RedOf(dst)), mix(sg, draw::GreenOf(dst)), mix(sb, draw::BlueOf(dst)));
  }
  const int da = draw::AlphaOf(dst);
  const int outA = a + da * (255 - a) / 255;
  if (outA == 0) return 0;
  auto mix = [&](int s, int d) { return (s * a + d * da * (255 - a) / 255) / outA; };
  return (static_cast<Pixel>(outA) << 24) |
         draw::Rgb(mix(sr, draw::RedOf(dst)), mix(sg, draw::GreenOf(dst)), mix(sb, draw::BlueOf(dst)));
}

}  // namespace

DrawState* Current() { return Stack().empty() ? nullptr : &Stack().back(); }
void Begin(const DrawState& state) { Stack().push_back(state); }
void End() {
  if (!Stack().empty()) Stack().pop_back();
}

draw::Point ToPixel(const DrawState& s, NSPoint p) {
  return {Round(s.originX + p.x), Round(s.flipped ? s.originY + p.y : s.originY - p.y)};
}

draw::Rect ToPixels(const DrawState& s, NSRect r) {
  draw::Point a = ToPixel(s, r.origin), b = ToPixel(s, NSMakePoint(NSMaxX(r), NSMaxY(r)));
  return draw::Rect{a.x, a.y, b.x, b.y}.normalized();
}

void PaintRegion(const draw::Region& area, uint32_t colour, bool replace) {
  DrawState* s = Current();
  if (!s || !s->surface) return;
  const int a = static_cast<int>(colour >> 24);
  draw::Region shown = draw::Region::Combine(area, s->clip, draw::Region::Op::kAnd);
  shown = shown.clipped(s->surface->bounds());
  if (replace || a == 255) {
    // A window cannot be seen through: what a clear colour leaves shows the desktop's colour.
    Pixel value = colour;
    if (!s->hasAlpha) value = a == 255 ? colour & 0xFFFFFF : Over(tavrin::gui::kDesktopColour, colour, a, false);
    shown.ForEachRect(s->surface->bounds(), [&](const draw::Rect& r) {
      for (int y = r.top; y < r.bottom; ++y) std::fill_n(s->surface->row(y) + r.left, r.width(), value);
    });
    return;
  }
  if (a == 0) return;
  shown.ForEachRect(s->surface->bounds(), [&](const draw::Rect& r) {
    for (int y = r.top; y < r.bottom; ++y) {
      Pixel* row = s->surface->row(y);
      for (int x = r.left; x < r.right; ++x) row[x] = Over(row[x], colour, a, s->hasAlpha);
    }
  });
}

void PaintRect(NSRect rect, uint32_t colour, bool replace) {
  DrawState* s = Current();
  if (!s) return;
  PaintRegion(draw::Region(ToPixels(*s, rect)), colour, replace);
}

void PaintImage(const draw::Surface& picture, const draw::Rect& to, CGFloat fraction) {
  DrawState* s = Current();
  if (!s || !s->surface || picture.empty() || to.empty()) return;
  const int f = std::clamp(Round(fraction * 255), 0, 255);
  draw::Region shown = s->clip.clipped(to).clipped(s->surface->bounds());
  shown.ForEachRect(s->surface->bounds(), [&](const draw::Rect& r) {
    for (int y = r.top; y < r.bottom; ++y) {
      const int py = (y - to.top) * picture.height() / to.height();
      Pixel* row = s->surface->row(y);
      for (int x = r.left; x < r.right; ++x) {
        const Pixel p = picture.at((x - to.left) * picture.width() / to.width(), py);
        const int a = draw::AlphaOf(p) * f / 255;
        if (a) row[x] = Over(row[x], p, a, s->hasAlpha);
      }
    }
  });
}

std::string ToCodePage(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t code = c;
    int length = 1;
    if (c >= 0xF0) code = c & 0x07, length = 4;
    else if (c >= 0xE0) code = c & 0x0F, length = 3;
    else if (c >= 0xC0) code = c & 0x1F, length = 2;
    for (int k = 1; k < length; ++k)
      code = (code << 6) | (i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) & 0x3F : 0);
    i += length;
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      out += static_cast<char>(code);
      continue;
    }
    char mapped = '?';
    for (int b = 0x80; b < 0xA0; ++b)
      if (draw::CodePointOf1252(static_cast<unsigned char>(b)) == code) mapped = static_cast<char>(b);
    out += mapped;
  }
  return out;
}

std::shared_ptr<draw::Font> SystemFont(CGFloat size, bool bold) {
  static std::mutex lock;
  static auto* fonts = new std::map<std::pair<int, bool>, std::shared_ptr<draw::Font>>;
  const int pixels = std::max(1, Round(size));
  std::lock_guard guard(lock);
  auto& font = (*fonts)[{pixels, bold}];
  if (!font) font = draw::Font::Open({.face = "DejaVu Sans", .height = -pixels, .weight = bold ? 700 : 400});
  return font;
}

void PaintText(const std::string& utf8, const draw::Font& font, draw::Point topLeft, uint32_t colour) {
  DrawState* s = Current();
  if (!s || !s->surface) return;
  const std::string text = ToCodePage(utf8);
  const draw::Rect box = font.CellBox(topLeft.x, topLeft.y, text);
  const draw::Rect shownBox = s->clip.bounds().intersect(box).intersect(s->surface->bounds());
  if (shownBox.empty()) return;
  // Drawn white on black aside, so that the glyphs' coverage blends in any colour over any pixels.
  draw::Surface mask(box.width(), box.height(), 0);
  font.Draw(mask, draw::Region(mask.bounds()), 0, 0, text, 0xFFFFFF);
  const int alpha = static_cast<int>(colour >> 24);
  s->clip.ForEachRect(shownBox, [&](const draw::Rect& r) {
    for (int y = r.top; y < r.bottom; ++y) {
      Pixel* row = s->surface->row(y);
      for (int x = r.left; x < r.right; ++x) {
        const int coverage = draw::GreenOf(mask.at(x - box.left, y - box.top)) * alpha / 255;
        if (coverage) row[x] = Over(row[x], colour, coverage, s->hasAlpha);
      }
    }
  });
}

void TextInRect(const std::string& utf8, const draw::Font& font, NSRect rect, uint32_t colour, Align align) {
  DrawState* s = Current();
  if (!s) return;
  const draw::Rect box = ToPixels(*s, rect);
  const std::string text = ToCodePage(utf8);
  const int width = font.Measure(text);
  int x = box.left;
  if (align == Align::kCenter) x = box.left + (box.width() - width) / 2;
  if (align == Align::kRight) x = box.right - width;
  const int y = box.top + (box.height() - font.metrics().height) / 2;
  DrawState clipped = *s;
  clipped.clip = s->clip.clipped(box);
  Begin(clipped);
  PaintText(utf8, font, {x, y}, colour);
  End();
}

}  // namespace appkit::detail

using namespace appkit::detail;

// ---- graphics context

NSGraphicsContext* NSGraphicsContext::currentContext() {
  // One object stands for every drawing: what it does acts on the drawing under way.
  static NSGraphicsContext* context = alloc<NSGraphicsContext>();
  return Current() ? context : nullptr;
}

void NSGraphicsContext::saveGraphicsState_class() {
  if (DrawState* s = Current()) Begin(DrawState(*s));
}

void NSGraphicsContext::restoreGraphicsState_class() { End(); }

void NSRectClip(NSRect rect) {
  if (DrawState* s = Current()) s->clip = s->clip.clipped(ToPixels(*s, rect));
}

void NSRectFill(NSRect rect) {
  if (DrawState* s = Current()) PaintRect(rect, s->fill, true);
}

void NSFrameRect(NSRect rect) {
  DrawState* s = Current();
  if (!s) return;
  const draw::Rect r = ToPixels(*s, rect);
  if (r.empty()) return;
  for (const draw::Rect& edge : {draw::Rect{r.left, r.top, r.right, r.top + 1}, draw::Rect{r.left, r.bottom - 1, r.right, r.bottom},
                                 draw::Rect{r.left, r.top, r.left + 1, r.bottom}, draw::Rect{r.right - 1, r.top, r.right, r.bottom}})
    PaintRegion(draw::Region(edge), s->fill);
}
