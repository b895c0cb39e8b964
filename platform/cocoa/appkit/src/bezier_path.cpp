// NSBezierPath: figures of straight lines (curves and ovals are flattened as they are added), filled by
// their winding rule and stroked with the current colours.
#include <cmath>
#include <numbers>

#include "appkit_internal.h"
#include "draw/raster.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

namespace {

constexpr int kCurveSteps = 16;

// Enough sides that no side is much longer than a few pixels.
int OvalSides(NSRect rect) {
  const double perimeter = std::numbers::pi * (rect.size.width + rect.size.height);
  return std::clamp(static_cast<int>(perimeter / 3), 16, 720);
}

}  // namespace

NSBezierPath* NSBezierPath::bezierPath() { return static_cast<NSBezierPath*>(alloc<NSBezierPath>()->autorelease()); }

NSBezierPath* NSBezierPath::bezierPathWithRect(NSRect rect) {
  NSBezierPath* path = bezierPath();
  path->appendBezierPathWithRect(rect);
  return path;
}

NSBezierPath* NSBezierPath::bezierPathWithOvalInRect(NSRect rect) {
  NSBezierPath* path = bezierPath();
  path->appendBezierPathWithOvalInRect(rect);
  return path;
}

NSBezierPath* NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(NSRect r, CGFloat rx, CGFloat ry) {
  NSBezierPath* path = bezierPath();
  rx = std::clamp<CGFloat>(rx, 0, r.size.width / 2);
  ry = std::clamp<CGFloat>(ry, 0, r.size.height / 2);
  Figure figure;
  const int steps = 8;
  // Corners counter-clockwise from the bottom-right, each a quarter of an ellipse.
  const NSPoint centres[4] = {{NSMaxX(r) - rx, NSMinY(r) + ry}, {NSMaxX(r) - rx, NSMaxY(r) - ry},
                              {NSMinX(r) + rx, NSMaxY(r) - ry}, {NSMinX(r) + rx, NSMinY(r) + ry}};
  for (int corner = 0; corner < 4; ++corner) {
    for (int i = 0; i <= steps; ++i) {
      const double angle = (corner - 1 + static_cast<double>(i) / steps) * std::numbers::pi / 2;
      figure.points.push_back({static_cast<CGFloat>(centres[corner].x + rx * std::cos(angle)),
                               static_cast<CGFloat>(centres[corner].y + ry * std::sin(angle))});
    }
  }
  figure.closed = true;
  path->figures_.push_back(std::move(figure));
  return path;
}

void NSBezierPath::fillRect(NSRect rect) { bezierPathWithRect(rect)->fill(); }
void NSBezierPath::strokeRect(NSRect rect) { bezierPathWithRect(rect)->stroke(); }

void NSBezierPath::strokeLineFromPoint_toPoint(NSPoint a, NSPoint b) {
  NSBezierPath* path = bezierPath();
  path->moveToPoint(a);
  path->lineToPoint(b);
  path->stroke();
}

void NSBezierPath::moveToPoint(NSPoint p) { figures_.push_back({{p}, false}); }

void NSBezierPath::lineToPoint(NSPoint p) {
  if (figures_.empty() || figures_.back().closed) moveToPoint(figures_.empty() ? p : figures_.back().points.front());
  figures_.back().points.push_back(p);
}

void NSBezierPath::curveToPoint_controlPoint1_controlPoint2(NSPoint end, NSPoint c1, NSPoint c2) {
  if (figures_.empty() || figures_.back().closed) moveToPoint(end);
  const NSPoint start = figures_.back().points.back();
  for (int i = 1; i <= kCurveSteps; ++i) {
    const CGFloat t = static_cast<CGFloat>(i) / kCurveSteps, u = 1 - t;
    const CGFloat a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    figures_.back().points.push_back({a * start.x + b * c1.x + c * c2.x + d * end.x,
                                      a * start.y + b * c1.y + c * c2.y + d * end.y});
  }
}

void NSBezierPath::closePath() {
  if (!figures_.empty()) figures_.back().closed = true;
}

void NSBezierPath::appendBezierPath(NSBezierPath* other) {
  if (other && other != this) figures_.insert(figures_.end(), other->figures_.begin(), other->figures_.end());
}

void NSBezierPath::appendBezierPathWithOvalInRect(NSRect rect) {
  Figure figure;
  const int sides = OvalSides(rect);
  for (int i = 0; i < sides; ++i) {
    const double angle = 2 * std::numbers::pi * i / sides;
    figure.points.push_back({static_cast<CGFloat>(NSMidX(rect) + rect.size.width / 2 * std::cos(angle)),
                             static_cast<CGFloat>(NSMidY(rect) + rect.size.height / 2 * std::sin(angle))});
  }
  figure.closed = true;
  figures_.push_back(std::move(figure));
}

void NSBezierPath::appendBezierPathWithRect(NSRect r) {
  figures_.push_back({{{NSMinX(r), NSMinY(r)}, {NSMaxX(r), NSMinY(r)}, {NSMaxX(r), NSMaxY(r)}, {NSMinX(r), NSMaxY(r)}}, true});
}

NSRect NSBezierPath::bounds() const {
  bool any = false;
  CGFloat l = 0, b = 0, r = 0, t = 0;
  for (const Figure& figure : figures_) {
    for (const NSPoint& p : figure.points) {
      if (!any) l = r = p.x, b = t = p.y, any = true;
      l = std::min(l, p.x), r = std::max(r, p.x), b = std::min(b, p.y), t = std::max(t, p.y);
    }
  }
  return NSMakeRect(l, b, r - l, t - b);
}

namespace {

// The pixels the figures cover under the rule: even-odd toggles where figures overlap, non-zero joins them.
template <class Figures, class Map>
draw::Region Cover(const Figures& figures, bool evenOdd, Map map) {
  draw::Region area;
  for (const auto& figure : figures) {
    if (figure.points.size() < 3) continue;
    std::vector<draw::Point> points;
    for (const NSPoint& p : figure.points) points.push_back(map(p));
    draw::Region one = draw::PolygonRegion(points, !evenOdd);
    area = draw::Region::Combine(area, one, evenOdd ? draw::Region::Op::kXor : draw::Region::Op::kOr);
  }
  return area;
}

}  // namespace

BOOL NSBezierPath::containsPoint(NSPoint p) const {
  // Measured at a finer grid than pixels, so that small paths answer well too.
  constexpr CGFloat kScale = 8;
  draw::Region area = Cover(figures_, rule_ == NSEvenOddWindingRule, [](NSPoint q) {
    return draw::Point{static_cast<int>(std::lround(q.x * kScale)), static_cast<int>(std::lround(q.y * kScale))};
  });
  return area.contains(static_cast<int>(std::floor(p.x * kScale)), static_cast<int>(std::floor(p.y * kScale))) ? YES : NO;
}

void NSBezierPath::fill() {
  DrawState* s = Current();
  if (!s) return;
  PaintRegion(Cover(figures_, rule_ == NSEvenOddWindingRule, [s](NSPoint p) { return ToPixel(*s, p); }), s->fill);
}

void NSBezierPath::stroke() {
  DrawState* s = Current();
  if (!s || !s->surface || (s->stroke >> 24) == 0) return;
  draw::LineStyle style;
  style.color = s->hasAlpha ? s->stroke : s->stroke & 0xFFFFFF;
  style.width = std::max(1, static_cast<int>(std::lround(lineWidth_)));
  for (const Figure& figure : figures_) {
    for (size_t i = 1; i < figure.points.size(); ++i)
      draw::DrawLine(*s->surface, s->clip, ToPixel(*s, figure.points[i - 1]), ToPixel(*s, figure.points[i]), style);
    if (figure.closed && figure.points.size() > 2)
      draw::DrawLine(*s->surface, s->clip, ToPixel(*s, figure.points.back()), ToPixel(*s, figure.points.front()), style);
  }
}
