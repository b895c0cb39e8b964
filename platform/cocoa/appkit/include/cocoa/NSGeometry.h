// Points, sizes, rectangles and ranges, as the Mac's Foundation has them (in the Mac's coordinates:
// origin bottom-left, y upward, unless a view is flipped).
#pragma once
#include <algorithm>

#include "cocoa/Foundation.h"

using CGFloat = float;

struct NSPoint {
  CGFloat x = 0, y = 0;
};
struct NSSize {
  CGFloat width = 0, height = 0;
};
struct NSRect {
  NSPoint origin;
  NSSize size;
};
// NSRange and NSMakeRange come with Foundation.

inline NSPoint NSMakePoint(CGFloat x, CGFloat y) { return {x, y}; }
inline NSSize NSMakeSize(CGFloat w, CGFloat h) { return {w, h}; }
inline NSRect NSMakeRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }
inline constexpr NSRect NSZeroRect{};
inline constexpr NSPoint NSZeroPoint{};
inline constexpr NSSize NSZeroSize{};

inline CGFloat NSMinX(NSRect r) { return r.origin.x; }
inline CGFloat NSMinY(NSRect r) { return r.origin.y; }
inline CGFloat NSMaxX(NSRect r) { return r.origin.x + r.size.width; }
inline CGFloat NSMaxY(NSRect r) { return r.origin.y + r.size.height; }
inline CGFloat NSMidX(NSRect r) { return r.origin.x + r.size.width / 2; }
inline CGFloat NSMidY(NSRect r) { return r.origin.y + r.size.height / 2; }
inline CGFloat NSWidth(NSRect r) { return r.size.width; }
inline CGFloat NSHeight(NSRect r) { return r.size.height; }
inline BOOL NSIsEmptyRect(NSRect r) { return r.size.width <= 0 || r.size.height <= 0 ? YES : NO; }
inline BOOL NSEqualPoints(NSPoint a, NSPoint b) { return a.x == b.x && a.y == b.y ? YES : NO; }
inline BOOL NSEqualSizes(NSSize a, NSSize b) { return a.width == b.width && a.height == b.height ? YES : NO; }
inline BOOL NSEqualRects(NSRect a, NSRect b) { return NSEqualPoints(a.origin, b.origin) && NSEqualSizes(a.size, b.size); }
inline BOOL NSPointInRect(NSPoint p, NSRect r) {
  return p.x >= NSMinX(r) && p.x < NSMaxX(r) && p.y >= NSMinY(r) && p.y < NSMaxY(r) ? YES : NO;
}
// In a flipped view the rectangle's top edge belongs to it, in an unflipped one its bottom edge.
inline BOOL NSMouseInRect(NSPoint p, NSRect r, BOOL flipped) {
  if (flipped) return NSPointInRect(p, r);
  return p.x >= NSMinX(r) && p.x < NSMaxX(r) && p.y > NSMinY(r) && p.y <= NSMaxY(r) ? YES : NO;
}
inline NSRect NSInsetRect(NSRect r, CGFloat dx, CGFloat dy) {
  return NSMakeRect(r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy);
}
inline NSRect NSOffsetRect(NSRect r, CGFloat dx, CGFloat dy) {
  return NSMakeRect(r.origin.x + dx, r.origin.y + dy, r.size.width, r.size.height);
}
inline NSRect NSIntersectionRect(NSRect a, NSRect b) {
  CGFloat l = std::max(NSMinX(a), NSMinX(b)), r = std::min(NSMaxX(a), NSMaxX(b));
  CGFloat t = std::max(NSMinY(a), NSMinY(b)), u = std::min(NSMaxY(a), NSMaxY(b));
  return r <= l || u <= t ? NSZeroRect : NSMakeRect(l, t, r - l, u - t);
}
inline NSRect NSUnionRect(NSRect a, NSRect b) {
  if (NSIsEmptyRect(a)) return b;
  if (NSIsEmptyRect(b)) return a;
  CGFloat l = std::min(NSMinX(a), NSMinX(b)), r = std::max(NSMaxX(a), NSMaxX(b));
  CGFloat t = std::min(NSMinY(a), NSMinY(b)), u = std::max(NSMaxY(a), NSMaxY(b));
  return NSMakeRect(l, t, r - l, u - t);
}
inline BOOL NSIntersectsRect(NSRect a, NSRect b) { return NSIsEmptyRect(NSIntersectionRect(a, b)) ? NO : YES; }
