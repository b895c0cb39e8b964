// Geometry and 32-bit pixel surfaces: the ground every drawing call works on. A pixel is a uint32_t
// 0xAARRGGBB, so its bytes in memory are B, G, R, A (the layout of a 32-bit bottom-up or top-down DIB row).
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin::draw {

using Pixel = uint32_t;

constexpr Pixel Rgb(int r, int g, int b) {
  return (static_cast<Pixel>(r & 0xFF) << 16) | (static_cast<Pixel>(g & 0xFF) << 8) | static_cast<Pixel>(b & 0xFF);
}
constexpr int RedOf(Pixel p) { return (p >> 16) & 0xFF; }
constexpr int GreenOf(Pixel p) { return (p >> 8) & 0xFF; }
constexpr int BlueOf(Pixel p) { return p & 0xFF; }
constexpr int AlphaOf(Pixel p) { return (p >> 24) & 0xFF; }

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Half-open: [left, right) x [top, bottom).
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  Rect offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  Rect intersect(const Rect& o) const {
    Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
    return r.empty() ? Rect{} : r;
  }
  // The smallest rectangle holding both; an empty one adds nothing.
  Rect unite(const Rect& o) const {
    if (empty()) return o;
    if (o.empty()) return *this;
    return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right), std::max(bottom, o.bottom)};
  }
  // Swaps inverted edges.
  Rect normalized() const {
    return {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
  }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// A width x height block of pixels: its own memory, or a view of someone else's rows (a DIB section's
// bits; a negative stride walks a bottom-up image). Copies are deep copies that own their pixels.
class Surface {
 public:
  Surface() = default;
  Surface(int width, int height, Pixel fill = 0);
  // A view of foreign rows: firstRow is the top row's first pixel, strideBytes the step to the next row.
  static Surface View(void* firstRow, int width, int height, ptrdiff_t strideBytes);

  Surface(const Surface& other);
  Surface& operator=(const Surface& other);
  Surface(Surface&& other) noexcept;
  Surface& operator=(Surface&& other) noexcept;

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ <= 0 || height_ <= 0; }
  Rect bounds() const { return {0, 0, width_, height_}; }
  bool owns() const { return !own_.empty() || base_ == nullptr; }
  ptrdiff_t strideBytes() const { return stride_ * static_cast<ptrdiff_t>(sizeof(Pixel)); }

  Pixel* row(int y) { return base_ + stride_ * y; }
  const Pixel* row(int y) const { return base_ + stride_ * y; }
  Pixel at(int x, int y) const { return row(y)[x]; }
  void set(int x, int y, Pixel p) { row(y)[x] = p; }
  // Safe forms: outside pixels read as 0 and are not written.
  Pixel get(int x, int y) const { return bounds().contains(x, y) ? at(x, y) : 0; }
  void put(int x, int y, Pixel p) {
    if (bounds().contains(x, y)) set(x, y, p);
  }

  // A new owned surface; the old pixels are dropped (a view stops being one).
  void Reset(int width, int height, Pixel fill = 0);
  void Fill(Pixel p);
  // Same size and the same pixels (alpha included).
  bool SamePixels(const Surface& other) const;

 private:
  std::vector<Pixel> own_;
  Pixel* base_ = nullptr;
  ptrdiff_t stride_ = 0;  // in pixels
  int width_ = 0;
  int height_ = 0;
};

}  // namespace tavrin::draw
