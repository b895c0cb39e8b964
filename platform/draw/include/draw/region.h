// Regions: sets of pixels kept as y-bands, each band a sorted list of disjoint x spans; adjacent bands
// with equal spans are merged, so two equal sets have the same bands.
#pragma once
#include <vector>

#include "draw/surface.h"

namespace tavrin::draw {

class Region {
 public:
  enum class Op { kAnd, kOr, kXor, kDiff, kCopy };

  struct Band {
    int top = 0;
    int bottom = 0;
    std::vector<int> xs;  // pairs: [xs[0], xs[1]), [xs[2], xs[3]) ...
    friend bool operator==(const Band&, const Band&) = default;
  };

  Region() = default;
  explicit Region(const Rect& rect);

  // From bands in top-down order (they may touch; empty ones are dropped, equal neighbours merged).
  static Region FromBands(std::vector<Band> bands);
  // a op b; kCopy gives a.
  static Region Combine(const Region& a, const Region& b, Op op);

  bool empty() const { return bands_.empty(); }
  // One rectangle (or none).
  bool simple() const { return bands_.size() <= 1 && (bands_.empty() || bands_[0].xs.size() == 2); }
  Rect bounds() const;
  bool contains(int x, int y) const;
  // Some pixel of the rectangle is in the region.
  bool intersects(const Rect& rect) const;
  void offset(int dx, int dy);
  // The rectangles, top band first and left to right inside a band.
  std::vector<Rect> rects() const;
  const std::vector<Band>& bands() const { return bands_; }

  Region& operator&=(const Region& o) { return *this = Combine(*this, o, Op::kAnd); }
  Region& operator|=(const Region& o) { return *this = Combine(*this, o, Op::kOr); }
  Region& operator-=(const Region& o) { return *this = Combine(*this, o, Op::kDiff); }
  Region clipped(const Rect& r) const { return Combine(*this, Region(r), Op::kAnd); }

  // Calls f(Rect) for each rectangle of the region inside `within`.
  template <class F>
  void ForEachRect(const Rect& within, F&& f) const {
    for (const Band& b : bands_) {
      if (b.bottom <= within.top) continue;
      if (b.top >= within.bottom) break;
      int top = std::max(b.top, within.top), bottom = std::min(b.bottom, within.bottom);
      for (size_t i = 0; i + 1 < b.xs.size(); i += 2) {
        int l = std::max(b.xs[i], within.left), r = std::min(b.xs[i + 1], within.right);
        if (l < r) f(Rect{l, top, r, bottom});
      }
    }
  }

  friend bool operator==(const Region&, const Region&) = default;

 private:
  std::vector<Band> bands_;
};

}  // namespace tavrin::draw
