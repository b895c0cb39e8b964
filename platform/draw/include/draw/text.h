// Text through FreeType with the DejaVu faces. A face name is mapped to a font file: sans faces to
// DejaVu Sans, "Courier New" and other fixed faces to DejaVu Sans Mono, serif faces to DejaVu Serif;
// weight >= 600 takes the bold file, italic the oblique one. "Marlett" is drawn by code: its glyphs are
// the window-button and check-mark symbols. Strings are single-byte (Windows-1252).
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "draw/region.h"
#include "draw/surface.h"

namespace tavrin::draw {

struct FontSpec {
  std::string face;
  int height = 0;      // < 0: character height in pixels; > 0: cell height; 0: the default size
  int width = 0;       // average character width; 0: natural
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  int escapement = 0;  // tenths of a degree, counter-clockwise; drawn turned to the nearest quarter
};

struct FontMetrics {
  int height = 0;  // ascent + descent
  int ascent = 0;
  int descent = 0;
  int internalLeading = 0;
  int externalLeading = 0;
  int averageCharWidth = 0;
  int maxCharWidth = 0;
  int weight = 400;
  bool fixedPitch = false;
};

// Which file a face resolves to: the family and style as the file names them.
struct ResolvedFace {
  std::string family;  // "DejaVu Sans", "DejaVu Sans Mono", "DejaVu Serif" or "Marlett"
  std::string style;   // "Book", "Bold", "Oblique", "Bold Oblique"
  std::string path;    // empty for the drawn face
};
ResolvedFace ResolveFace(const std::string& face, int weight, bool italic);

// The folder holding the DejaVu files (TAVRIN_FONT_DIR, else the system's).
std::string FontDirectory();

// A font at one size. Thread-safe: every use takes the text engine's lock.
class Font {
 public:
  static std::shared_ptr<Font> Open(const FontSpec& spec);
  ~Font();
  struct Impl;

  const FontSpec& spec() const { return spec_; }
  const ResolvedFace& resolved() const { return resolved_; }
  const FontMetrics& metrics() const { return metrics_; }
  // Pixel advance of one character and of a string (along the text direction).
  int Advance(unsigned char c) const;
  int Measure(std::string_view text) const;
  // Draws text with the top-left of its cell at (x, y) (for turned text: the cell's corner that would be
  // top-left before turning), in `color`; `clip` limits it. Returns the advance.
  int Draw(Surface& dst, const Region& clip, int x, int y, std::string_view text, Pixel color) const;
  // The rectangle Draw would touch (cell box, turned with the text).
  Rect CellBox(int x, int y, std::string_view text) const;
  // The turn the text is drawn with: 0, 900, 1800 or 2700.
  int Turn() const;

 private:
  Font() = default;
  static std::shared_ptr<Impl> MakeImpl(const FontSpec& spec, const ResolvedFace& resolved);
  std::shared_ptr<Impl> impl_;
  FontSpec spec_;
  ResolvedFace resolved_;
  FontMetrics metrics_;
};

// Unicode code point of a Windows-1252 byte.
char32_t CodePointOf1252(unsigned char c);

}  // namespace tavrin::draw
