#include "draw/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "draw/raster.h"

namespace tavrin::draw {
namespace {

std::mutex g_engineLock;
FT_Library g_library = nullptr;

FT_Library Library() {
  if (!g_library && FT_Init_FreeType(&g_library) != 0) g_library = nullptr;
  return g_library;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A glyph as an 8-bit coverage mask.
struct Glyph {
  int left = 0, top = 0, width = 0, rows = 0, advance = 0;
  std::vector<uint8_t> bits;
};

// The drawn face: symbols painted into an em x em mask.
Glyph DrawnGlyph(unsigned char c, int em) {
  Glyph g;
  g.advance = em;
  g.width = em;
  g.rows = em;
  g.top = em;
  Surface mask(em, em, 0);
  Region all(mask.bounds());
  auto px = [&](double f) { return static_cast<int>(std::lround(f * em)); };
  int t = std::max(1, em / 8);  // stroke
  Paint on;
  on.color = 0xFF;
  auto poly = [&](std::vector<Point> pts) { DrawPolygon(mask, all, pts, true, nullptr, &on); };
  auto box = [&](Rect r, int thickTop) {
    FillRect(mask, all, {r.left, r.top, r.right, r.top + thickTop}, 0xFF);
    FillRect(mask, all, {r.left, r.bottom - t, r.right, r.bottom}, 0xFF);
    FillRect(mask, all, {r.left, r.top, r.left + t, r.bottom}, 0xFF);
    FillRect(mask, all, {r.right - t, r.top, r.right, r.bottom}, 0xFF);
  };
  switch (c) {
    case '0':  // minimize
      FillRect(mask, all, {px(0.2), px(0.75) - t, px(0.65), px(0.75) + t}, 0xFF);
      break;
    case '1':  // maximize
      box({px(0.15), px(0.15), px(0.85), px(0.85)}, 2 * t);
      break;
    case '2':  // restore
      box({px(0.35), px(0.15), px(0.85), px(0.6)}, 2 * t);
      FillRect(mask, all, {px(0.15), px(0.4), px(0.65), px(0.85)}, 0);
      box({px(0.15), px(0.4), px(0.65), px(0.85)}, 2 * t);
      break;
    case 'r': {  // close
      int a = px(0.2), b = px(0.8);
      poly({{a, a + t}, {a + t, a}, {b, b - t}, {b - t, b}});
      poly({{a, b - t}, {b - t, a}, {b, a + t}, {a + t, b}});
      break;
    }
    case 'a':
    case 'b': {  // check mark
      int s = std::max(1, em / 10);
      poly({{px(0.2), px(0.5)}, {px(0.4), px(0.7)}, {px(0.8), px(0.3)}, {px(0.8), px(0.3) + 2 * s},
            {px(0.4), px(0.7) + 2 * s}, {px(0.2), px(0.5) + 2 * s}});
      break;
    }
    case 'h':
    case 'i':  // radio bullet
      DrawEllipse(mask, all, {px(0.3), px(0.3), px(0.7), px(0.7)}, nullptr, &on);
      break;
    case 'n':  // radio circle
      DrawEllipse(mask, all, {px(0.1), px(0.1), px(0.9), px(0.9)}, nullptr, &on);
      break;
    case '3': poly({{px(0.65), px(0.2)}, {px(0.65), px(0.8)}, {px(0.35), px(0.5)}}); break;  // left
    case '4':
    case '8': poly({{px(0.35), px(0.2)}, {px(0.35), px(0.8)}, {px(0.65), px(0.5)}}); break;  // right
    case '5': poly({{px(0.2), px(0.65)}, {px(0.8), px(0.65)}, {px(0.5), px(0.35)}}); break;  // up
    case '6':
    case 'u': poly({{px(0.2), px(0.35)}, {px(0.8), px(0.35)}, {px(0.5), px(0.65)}}); break;  // down
    default: break;
  }
  g.bits.resize(static_cast<size_t>(em) * em);
  for (int y = 0; y < em; ++y)
    for (int x = 0; x < em; ++x) g.bits[static_cast<size_t>(y) * em + x] = static_cast<uint8_t>(mask.at(x, y) & 0xFF);
  return g;
}

}  // namespace

char32_t CodePointOf1252(unsigned char c) {
  static const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (c >= 0x80 && c < 0xA0) return kHigh[c - 0x80];
  return c;
}

std::string FontDirectory() {
  if (const char* dir = std::getenv("TAVRIN_FONT_DIR"); dir && *dir) return dir;
  for (const char* dir : {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/dejavu", "/usr/share/fonts/TTF"})
    if (std::filesystem::exists(std::filesystem::path(dir) / "DejaVuSans.ttf")) return dir;
  return "/usr/share/fonts/truetype/dejavu";
}

ResolvedFace ResolveFace(const std::string& face, int weight, bool italic) {
  std::string f = Lower(face);
  if (f == "marlett") return {"Marlett", "Regular", ""};
  bool bold = weight >= 600;
  std::string file, family;
  bool serif = false;
  if (f == "courier new" || f == "courier" || f == "lucida console" || f == "consolas" || f == "fixedsys" ||
      f == "terminal" || f.find("mono") != std::string::npos) {
    family = "DejaVu Sans Mono";
    file = "DejaVuSansMono";
  } else if (f == "times new roman" || f == "times" || f == "georgia" || f == "ms serif" || f == "serif" ||
             f == "garamond") {
    family = "DejaVu Serif";
    file = "DejaVuSerif";
    serif = true;
  } else {
    family = "DejaVu Sans";
    file = "DejaVuSans";
  }
  std::string slant = serif ? "Italic" : "Oblique";
  std::string style = bold ? (italic ? "Bold " + slant : "Bold") : (italic ? slant : "Book");
  std::string suffix = bold ? (italic ? "-Bold" + slant : "-Bold") : (italic ? "-" + slant : "");
  std::filesystem::path dir = FontDirectory();
  std::filesystem::path path = dir / (file + suffix + ".ttf");
  // Slanted files are optional: the upright one is slanted by FreeType instead.
  if (italic && !std::filesystem::exists(path)) path = dir / (file + (bold ? "-Bold" : "") + ".ttf");
  return {family, style, path.string()};
}

struct Font::Impl {
  ~Impl() {
    if (face) FT_Done_Face(face);
  }
  FT_Face face = nullptr;
  ResolvedFace resolved;
  FontMetrics metrics;
  bool drawn = false;
  bool synthesizeSlant = false;
  int em = 12;
  std::map<unsigned char, Glyph> glyphs;

  const Glyph& GlyphOf(unsigned char c) {
    auto it = glyphs.find(c);
    if (it != glyphs.end()) return it->second;
    Glyph g;
    if (drawn) {
      g = DrawnGlyph(c, em);
    } else if (face && FT_Load_Char(face, CodePointOf1252(c), FT_LOAD_DEFAULT) == 0) {
      if (synthesizeSlant) FT_GlyphSlot_Oblique(face->glyph);
      if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0) {
        const FT_Bitmap& bm = face->glyph->bitmap;
        g.left = face->glyph->bitmap_left;
        g.top = face->glyph->bitmap_top;
        g.width = static_cast<int>(bm.width);
        g.rows = static_cast<int>(bm.rows);
        g.bits.resize(static_cast<size_t>(g.width) * g.rows);
        for (int y = 0; y < g.rows; ++y)
          for (int x = 0; x < g.width; ++x) {
            uint8_t v = bm.pixel_mode == FT_PIXEL_MODE_MONO
                            ? ((bm.buffer[y * bm.pitch + x / 8] >> (7 - x % 8)) & 1 ? 0xFF : 0)
                            : bm.buffer[y * bm.pitch + x];
            g.bits[static_cast<size_t>(y) * g.width + x] = v;
          }
      }
      g.advance = static_cast<int>((face->glyph->advance.x + 32) >> 6);
    }
    return glyphs.emplace(c, std::move(g)).first->second;
  }
};

namespace {

// Faces at one size, shared by the fonts that ask for them and kept for later ones (a program may make
// the same font on every paint); entries only the cache holds are dropped once it grows large.
using FaceKey = std::tuple<std::string, int, int, bool>;
std::map<FaceKey, std::shared_ptr<Font::Impl>>& FaceCache() {
  static auto* cache = new std::map<FaceKey, std::shared_ptr<Font::Impl>>();
  return *cache;
}

}  // namespace

std::shared_ptr<Font::Impl> Font::MakeImpl(const FontSpec& spec, const ResolvedFace& resolved) {
  auto impl = std::make_shared<Impl>();
  impl->resolved = resolved;
  FontMetrics& m = impl->metrics;
  if (resolved.path.empty()) {
    impl->drawn = true;
    impl->em = std::clamp(spec.height < 0 ? -spec.height : (spec.height > 0 ? spec.height : 12), 1, 1000);
    m.ascent = impl->em;
    m.height = impl->em;
    m.averageCharWidth = m.maxCharWidth = impl->em;
    m.fixedPitch = true;
    return impl;
  }
  FT_Library lib = Library();
  if (!lib || FT_New_Face(lib, resolved.path.c_str(), 0, &impl->face) != 0) return nullptr;
  FT_Face face = impl->face;
  if (face->family_name) impl->resolved.family = face->family_name;
  if (face->style_name) impl->resolved.style = face->style_name;
  impl->synthesizeSlant = spec.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
  int em;
  if (spec.height < 0) em = -spec.height;
  else if (spec.height > 0)
    em = static_cast<int>(std::lround(static_cast<double>(spec.height) * face->units_per_EM /
                                      (face->ascender - face->descender)));
  else em = 12;
  impl->em = em = std::clamp(em, 1, 1000);
  FT_Set_Pixel_Sizes(face, 0, em);
  if (spec.width > 0) {
    // Stretch so the average width (that of 'x') becomes the asked one.
    if (FT_Load_Char(face, 'x', FT_LOAD_DEFAULT) == 0 && face->glyph->advance.x > 0) {
      double natural = face->glyph->advance.x / 64.0;
      FT_Set_Pixel_Sizes(face, std::clamp(static_cast<int>(std::lround(em * spec.width / natural)), 1, 2000), em);
    }
  }
  const FT_Size_Metrics& sm = face->size->metrics;
  m.ascent = static_cast<int>((sm.ascender + 63) >> 6);
  m.descent = static_cast<int>((-sm.descender + 63) >> 6);
  m.height = m.ascent + m.descent;
  m.internalLeading = std::max(0, m.height - em);
  m.externalLeading = 0;
  m.maxCharWidth = static_cast<int>((sm.max_advance + 63) >> 6);
  m.fixedPitch = FT_IS_FIXED_WIDTH(face);
  m.averageCharWidth = impl->GlyphOf('x').advance;
  return impl;
}

std::shared_ptr<Font> Font::Open(const FontSpec& spec) {
  std::lock_guard<std::mutex> lock(g_engineLock);
  ResolvedFace resolved = ResolveFace(spec.face, spec.weight, spec.italic);
  FaceKey key{resolved.path.empty() ? resolved.family : resolved.path, spec.height, spec.width, spec.italic};
  auto& cache = FaceCache();
  std::shared_ptr<Impl> impl;
  if (auto it = cache.find(key); it != cache.end()) {
    impl = it->second;
  } else {
    impl = MakeImpl(spec, resolved);
    if (!impl) return nullptr;
    if (cache.size() >= 64)
      for (auto e = cache.begin(); e != cache.end();) e = e->second.use_count() == 1 ? cache.erase(e) : std::next(e);
    cache[key] = impl;
  }
  std::shared_ptr<Font> font(new Font());
  font->spec_ = spec;
  font->impl_ = impl;
  font->resolved_ = impl->resolved;
  font->metrics_ = impl->metrics;
  font->metrics_.weight = spec.weight <= 0 ? 400 : spec.weight;
  return font;
}

Font::~Font() {
  std::lock_guard<std::mutex> lock(g_engineLock);
  impl_.reset();  // a face is closed under the engine's lock
}

int Font::Advance(unsigned char c) const {
  std::lock_guard<std::mutex> lock(g_engineLock);
  return impl_->GlyphOf(c).advance;
}

int Font::Measure(std::string_view text) const {
  std::lock_guard<std::mutex> lock(g_engineLock);
  int w = 0;
  for (unsigned char c : text) w += impl_->GlyphOf(c).advance;
  return w;
}

int Font::Turn() const {
  int angle = ((spec_.escapement % 3600) + 3600) % 3600;
  return ((angle + 450) / 900 * 900) % 3600;
}

Rect Font::CellBox(int x, int y, std::string_view text) const {
  int w = Measure(text), h = metrics_.height;
  switch (Turn()) {
    case 900: return {x, y - w, x + h, y};
    case 1800: return {x - w, y - h, x, y};
    case 2700: return {x - h, y, x, y + w};
    default: return {x, y, x + w, y + h};
  }
}

int Font::Draw(Surface& dst, const Region& clip, int x, int y, std::string_view text, Pixel color) const {
  std::lock_guard<std::mutex> lock(g_engineLock);
  int w = 0;
  for (unsigned char c : text) w += impl_->GlyphOf(c).advance;
  int h = metrics_.height;
  if (w <= 0 || h <= 0) return w;
  // Coverage of the whole line in its own frame, cut to the cell box.
  std::vector<uint8_t> mask(static_cast<size_t>(w) * h, 0);
  int pen = 0;
  for (unsigned char c : text) {
    const Glyph& g = impl_->GlyphOf(c);
    int gx = pen + g.left, gy = metrics_.ascent - g.top;
    for (int r = 0; r < g.rows; ++r) {
      int my = gy + r;
      if (my < 0 || my >= h) continue;
      for (int col = 0; col < g.width; ++col) {
        int mx = gx + col;
        if (mx < 0 || mx >= w) continue;
        uint8_t& m = mask[static_cast<size_t>(my) * w + mx];
        m = std::max(m, g.bits[static_cast<size_t>(r) * g.width + col]);
      }
    }
    pen += g.advance;
  }
  int thick = std::max(1, impl_->em / 14);
  auto bar = [&](int top) {
    for (int yy = std::max(0, top); yy < std::min(h, top + thick); ++yy)
      std::fill_n(mask.begin() + static_cast<ptrdiff_t>(yy) * w, w, 0xFF);
  };
  if (spec_.underline) bar(std::min(h - thick, metrics_.ascent + 1));
  if (spec_.strikeOut) bar(metrics_.ascent - metrics_.ascent / 3);
  int turn = Turn();
  for (int v = 0; v < h; ++v) {
    for (int u = 0; u < w; ++u) {
      int a = mask[static_cast<size_t>(v) * w + u];
      if (!a) continue;
      int dx, dy;
      switch (turn) {
        case 900: dx = x + v; dy = y - u - 1; break;
        case 1800: dx = x - u - 1; dy = y - v - 1; break;
        case 2700: dx = x - v - 1; dy = y + u; break;
        default: dx = x + u; dy = y + v; break;
      }
      if (!dst.bounds().contains(dx, dy) || !clip.contains(dx, dy)) continue;
      Pixel& d = dst.row(dy)[dx];
      if (a == 255) {
        d = color & 0xFFFFFF;
      } else {
        auto mix = [&](int s, int t) { return t + (s - t) * a / 255; };
        d = Rgb(mix(RedOf(color), RedOf(d)), mix(GreenOf(color), GreenOf(d)), mix(BlueOf(color), BlueOf(d)));
      }
    }
  }
  return w;
}

}  // namespace tavrin::draw
