// NSImage: pictures drawn by code and registered by name, or drawn into with lockFocus; NSImage
// names come from the program's window definitions ("server.icns", "ConnectImage.png"...).
#include <cmath>
#include <map>
#include <mutex>

#include "appkit_internal.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

namespace {

struct Picture {
  NSSize size;
  std::function<void(NSSize)> paint;
};

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::string, Picture>& Registry() {
  static auto* pictures = new std::map<std::string, Picture>;
  return *pictures;
}

int Whole(CGFloat v) { return std::max(0, static_cast<int>(std::lround(v))); }

}  // namespace

void NSImage::Register(const std::string& name, NSSize size, std::function<void(NSSize)> paint) {
  std::lock_guard guard(RegistryLock());
  Registry()[name] = {size, std::move(paint)};
}

NSImage* NSImage::imageNamed(NSString* name) {
  if (!name) return nullptr;
  RegisterBuiltInPictures();
  Picture picture;
  {
    std::lock_guard guard(RegistryLock());
    auto it = Registry().find(name->str());
    if (it == Registry().end()) return nullptr;
    picture = it->second;
  }
  NSImage* image = alloc<NSImage>()->initWithSize(picture.size);
  image->name_ = static_cast<NSString*>(name->retain());
  image->lockFocus();
  picture.paint(picture.size);
  image->unlockFocus();
  return static_cast<NSImage*>(image->autorelease());
}

NSImage* NSImage::initWithSize(NSSize size) {
  size_ = size;
  pixels_ = std::make_shared<draw::Surface>(Whole(size.width), Whole(size.height), 0);
  return this;
}

void NSImage::setSize(NSSize size) {
  // The picture keeps its pixels and is drawn at the new size.
  size_ = size;
}

void NSImage::dealloc() {
  if (name_) name_->release();
  NSObject::dealloc();
}

void NSImage::lockFocus() {
  if (!pixels_) initWithSize(size_);
  DrawState state;
  state.surface = pixels_.get();
  state.hasAlpha = true;
  state.clip = draw::Region(pixels_->bounds());
  state.originX = 0;
  state.originY = static_cast<CGFloat>(pixels_->height());
  Begin(state);
}

void NSImage::unlockFocus() { End(); }

void NSImage::drawInRect_fromRect_operation_fraction(NSRect rect, NSRect from, NSCompositingOperation op,
                                                     CGFloat fraction) {
  DrawState* s = Current();
  if (!s || !pixels_ || pixels_->empty()) return;
  draw::Surface part = *pixels_;
  if (!NSIsEmptyRect(from)) {
    // `from` is in the picture's own coordinates (origin bottom-left).
    const int h = pixels_->height();
    draw::Rect r = draw::Rect{Whole(NSMinX(from)), h - Whole(NSMaxY(from)), Whole(NSMaxX(from)), h - Whole(NSMinY(from))}
                       .intersect(pixels_->bounds());
    part = draw::Surface(r.width(), r.height(), 0);
    for (int y = 0; y < r.height(); ++y)
      for (int x = 0; x < r.width(); ++x) part.set(x, y, pixels_->at(r.left + x, r.top + y));
  }
  const draw::Rect to = ToPixels(*s, rect);
  if (op == NSCompositeCopy) PaintRegion(draw::Region(to), 0, true);
  PaintImage(part, to, op == NSCompositeClear ? 0 : fraction);
}

void NSImage::drawAtPoint_fromRect_operation_fraction(NSPoint point, NSRect from, NSCompositingOperation op,
                                                      CGFloat fraction) {
  NSSize size = NSIsEmptyRect(from) ? size_ : from.size;
  drawInRect_fromRect_operation_fraction(NSMakeRect(point.x, point.y, size.width, size.height), from, op, fraction);
}

void NSImage::compositeToPoint_operation(NSPoint point, NSCompositingOperation op) {
  drawAtPoint_fromRect_operation_fraction(point, NSZeroRect, op, 1);
}

// ---- NSImageView

void NSImageView::setImage(NSImage* image) {
  if (image) image->retain();
  if (image_) image_->release();
  image_ = image;
  setNeedsDisplay(YES);
}

void NSImageView::setImageScaling(NSImageScaling scaling) {
  scaling_ = scaling;
  setNeedsDisplay(YES);
}

void NSImageView::dealloc() {
  if (image_) image_->release();
  NSView::dealloc();
}

void NSImageView::drawRect(NSRect) {
  if (!image_) return;
  const NSRect box = bounds();
  NSSize size = image_->size();
  if (scaling_ == NSScaleToFit) {
    size = box.size;
  } else if (scaling_ == NSScaleProportionally && (size.width > box.size.width || size.height > box.size.height)) {
    const CGFloat scale = std::min(box.size.width / size.width, box.size.height / size.height);
    size = NSMakeSize(size.width * scale, size.height * scale);
  }
  const NSRect at = NSMakeRect(std::round(NSMidX(box) - size.width / 2), std::round(NSMidY(box) - size.height / 2),
                               size.width, size.height);
  image_->drawInRect_fromRect_operation_fraction(at, NSZeroRect, NSCompositeSourceOver, 1);
}
