#include "draw/region.h"

#include <algorithm>

namespace tavrin::draw {
namespace {

bool Apply(Region::Op op, bool a, bool b) {
  switch (op) {
    case Region::Op::kAnd: return a && b;
    case Region::Op::kOr: return a || b;
    case Region::Op::kXor: return a != b;
    case Region::Op::kDiff: return a && !b;
    case Region::Op::kCopy: return a;
  }
  return false;
}

// Combines two span lists of one band.
std::vector<int> CombineSpans(const std::vector<int>* a, const std::vector<int>* b, Region::Op op) {
  static const std::vector<int> kNone;
  const std::vector<int>& sa = a ? *a : kNone;
  const std::vector<int>& sb = b ? *b : kNone;
  std::vector<int> out;
  size_t ia = 0, ib = 0;
  bool inA = false, inB = false, inOut = false;
  while (ia < sa.size() || ib < sb.size()) {
    int x;
    if (ib >= sb.size() || (ia < sa.size() && sa[ia] <= sb[ib])) x = sa[ia];
    else x = sb[ib];
    // Toggle every edge at x (both lists may have one there).
    while (ia < sa.size() && sa[ia] == x) { inA = !inA; ++ia; }
    while (ib < sb.size() && sb[ib] == x) { inB = !inB; ++ib; }
    bool now = Apply(op, inA, inB);
    if (now != inOut) {
      if (!out.empty() && out.back() == x) out.pop_back();  // touching spans join
      else out.push_back(x);
      inOut = now;
    }
  }
  return out;
}

}  // namespace

Region::Region(const Rect& rect) {
  if (!rect.empty()) bands_.push_back(Band{rect.top, rect.bottom, {rect.left, rect.right}});
}

Region Region::FromBands(std::vector<Band> bands) {
  Region out;
  for (Band& b : bands) {
    if (b.xs.empty() || b.bottom <= b.top) continue;
    if (!out.bands_.empty() && out.bands_.back().bottom == b.top && out.bands_.back().xs == b.xs) {
      out.bands_.back().bottom = b.bottom;
    } else {
      out.bands_.push_back(std::move(b));
    }
  }
  return out;
}

Region Region::Combine(const Region& a, const Region& b, Op op) {
  if (op == Op::kCopy) return a;
  std::vector<int> ys;
  ys.reserve((a.bands_.size() + b.bands_.size()) * 2);
  for (const Band& band : a.bands_) { ys.push_back(band.top); ys.push_back(band.bottom); }
  for (const Band& band : b.bands_) { ys.push_back(band.top); ys.push_back(band.bottom); }
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  Region out;
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < ys.size(); ++i) {
    int y0 = ys[i], y1 = ys[i + 1];
    while (ia < a.bands_.size() && a.bands_[ia].bottom <= y0) ++ia;
    while (ib < b.bands_.size() && b.bands_[ib].bottom <= y0) ++ib;
    const std::vector<int>* sa = (ia < a.bands_.size() && a.bands_[ia].top <= y0) ? &a.bands_[ia].xs : nullptr;
    const std::vector<int>* sb = (ib < b.bands_.size() && b.bands_[ib].top <= y0) ? &b.bands_[ib].xs : nullptr;
    if (!sa && !sb) continue;
    std::vector<int> xs = CombineSpans(sa, sb, op);
    if (xs.empty()) continue;
    if (!out.bands_.empty() && out.bands_.back().bottom == y0 && out.bands_.back().xs == xs) {
      out.bands_.back().bottom = y1;
    } else {
      out.bands_.push_back(Band{y0, y1, std::move(xs)});
    }
  }
  return out;
}

Rect Region::bounds() const {
  if (bands_.empty()) return {};
  Rect r{bands_.front().xs.front(), bands_.front().top, bands_.front().xs.back(), bands_.back().bottom};
  for (const Band& b : bands_) {
    r.left = std::min(r.left, b.xs.front());
    r.right = std::max(r.right, b.xs.back());
  }
  return r;
}

bool Region::contains(int x, int y) const {
  auto it = std::upper_bound(bands_.begin(), bands_.end(), y, [](int v, const Band& b) { return v < b.bottom; });
  if (it == bands_.end() || it->top > y) return false;
  // Odd count of edges at or left of x: inside.
  auto e = std::upper_bound(it->xs.begin(), it->xs.end(), x);
  return ((e - it->xs.begin()) & 1) != 0;
}

bool Region::intersects(const Rect& rect) const {
  bool any = false;
  ForEachRect(rect, [&](const Rect&) { any = true; });
  return any;
}

void Region::offset(int dx, int dy) {
  for (Band& b : bands_) {
    b.top += dy;
    b.bottom += dy;
    for (int& x : b.xs) x += dx;
  }
}

std::vector<Rect> Region::rects() const {
  std::vector<Rect> out;
  for (const Band& b : bands_)
    for (size_t i = 0; i + 1 < b.xs.size(); i += 2) out.push_back(Rect{b.xs[i], b.top, b.xs[i + 1], b.bottom});
  return out;
}

}  // namespace tavrin::draw
