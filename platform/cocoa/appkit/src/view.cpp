// NSResponder and NSView: frames in the superview's coordinates, the view tree, drawing from the window
// down, hit testing.
#include <cmath>

#include "appkit_internal.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

// ---- NSResponder: what a responder does not take goes on to the next one

void NSResponder::mouseDown(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->mouseDown(e);
}
void NSResponder::mouseUp(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->mouseUp(e);
}
void NSResponder::mouseDragged(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->mouseDragged(e);
}
void NSResponder::mouseMoved(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->mouseMoved(e);
}
void NSResponder::rightMouseDown(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->rightMouseDown(e);
}
void NSResponder::rightMouseUp(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->rightMouseUp(e);
}
void NSResponder::keyDown(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->keyDown(e);
}
void NSResponder::keyUp(NSEvent* e) {
  if (NSResponder* next = nextResponder()) next->keyUp(e);
}

// ---- NSView

NSView* NSView::initWithFrame(NSRect frame) {
  frame_ = frame;
  return this;
}

void NSView::dealloc() {
  for (NSView* view : subviews_) {
    view->superview_ = nullptr;
    view->SetWindow(nullptr);
    view->release();
  }
  subviews_.clear();
  if (menu_) menu_->release();
  NSObject::dealloc();
}

NSResponder* NSView::nextResponder() const {
  if (NSResponder* set = NSResponder::nextResponder()) return set;
  if (superview_) return superview_;
  return window_;
}

void NSView::setFrame(NSRect frame) {
  if (NSEqualRects(frame, frame_)) return;
  setNeedsDisplay(YES);  // where it was
  const NSSize old = frame_.size;
  frame_ = frame;
  if (!NSEqualSizes(old, frame.size)) ResizeSubviews(old);
  setNeedsDisplay(YES);
}

void NSView::setFrameOrigin(NSPoint origin) { setFrame({origin, frame_.size}); }
void NSView::setFrameSize(NSSize size) { setFrame({frame_.origin, size}); }

void NSView::ResizeSubviews(NSSize old) {
  const CGFloat dw = frame_.size.width - old.width, dh = frame_.size.height - old.height;
  for (NSView* view : subviews_) {
    const NSUInteger mask = view->autoresizing_;
    if (!mask) continue;
    NSRect f = view->frame_;
    // The change is shared among the flexible parts of each direction.
    auto share = [](CGFloat delta, bool a, bool b, bool c, CGFloat& first, CGFloat& middle) {
      const int parts = a + b + c;
      if (!parts) return;
      const CGFloat each = delta / parts;
      if (a) first += each;
      if (b) middle += each;
    };
    CGFloat dx = 0, dwidth = 0, dy = 0, dheight = 0;
    share(dw, mask & NSViewMinXMargin, mask & NSViewWidthSizable, mask & NSViewMaxXMargin, dx, dwidth);
    share(dh, mask & NSViewMinYMargin, mask & NSViewHeightSizable, mask & NSViewMaxYMargin, dy, dheight);
    if (isFlipped()) {
      // Measured from the top: the bottom margin's share moves nothing, the top margin's does.
      dy = 0;
      if (mask & NSViewMaxYMargin) {
        const int parts = ((mask & NSViewMinYMargin) != 0) + ((mask & NSViewHeightSizable) != 0) + 1;
        dy = dh / parts;
      }
    }
    view->setFrame(NSMakeRect(f.origin.x + dx, f.origin.y + dy, f.size.width + dwidth, f.size.height + dheight));
  }
}

void NSView::setHidden(BOOL hidden) {
  if (hidden_ == static_cast<bool>(hidden)) return;
  if (hidden) setNeedsDisplay(YES);
  hidden_ = hidden;
  if (!hidden) setNeedsDisplay(YES);
}

BOOL NSView::isHiddenOrHasHiddenAncestor() const {
  for (const NSView* v = this; v; v = v->superview_)
    if (v->hidden_) return YES;
  return NO;
}

NSArray* NSView::subviews() {
  NSMutableArray* list = NSMutableArray::array();
  for (NSView* view : subviews_) list->addObject(view);
  return list;
}

void NSView::addSubview(NSView* view) {
  if (!view || view == this) return;
  view->retain();
  view->removeFromSuperview();
  subviews_.push_back(view);
  view->superview_ = this;
  view->SetWindow(window_);
  view->setNeedsDisplay(YES);
}

void NSView::removeFromSuperview() {
  NSView* parent = superview_;
  if (!parent) return;
  setNeedsDisplay(YES);
  std::erase(parent->subviews_, this);
  superview_ = nullptr;
  SetWindow(nullptr);
  release();
}

void NSView::SetWindow(NSWindow* window) {
  if (window_ == window) return;
  if (window_ && window_->firstResponder() == this) window_->makeFirstResponder(window_);
  if (window_) window_->ForgetMouseTarget(this);
  window_ = window;
  for (NSView* view : subviews_) view->SetWindow(window);
  if (window) viewDidMoveToWindow();
}

BOOL NSView::isDescendantOf(NSView* view) const {
  for (const NSView* v = this; v; v = v->superview_)
    if (v == view) return YES;
  return NO;
}

NSView* NSView::viewWithTag(NSInteger tag) {
  if (this->tag() == tag) return this;
  for (NSView* view : subviews_)
    if (NSView* found = view->viewWithTag(tag)) return found;
  return nullptr;
}

void NSView::setMenu(NSMenu* menu) {
  auto* object = reinterpret_cast<NSObject*>(menu);
  if (object) object->retain();
  if (menu_) menu_->release();
  menu_ = menu;
}

NSMenu* NSView::menuForEvent(NSEvent*) { return menu_; }

// ---- coordinates

namespace {

// A view's y runs up from its frame's bottom, or down from its top when flipped; a point crosses to
// the superview's y turned over when the two differ. The window's own coordinates are unflipped.
bool ParentFlipped(const NSView* view) { return view->superview() && view->superview()->isFlipped(); }

NSPoint ToSuperview(const NSView* v, NSPoint p) {
  const NSRect f = v->frame();
  return NSMakePoint(f.origin.x + p.x, v->isFlipped() != ParentFlipped(v) ? f.origin.y + f.size.height - p.y : f.origin.y + p.y);
}

NSPoint FromSuperview(const NSView* v, NSPoint p) {
  const NSRect f = v->frame();
  return NSMakePoint(p.x - f.origin.x, v->isFlipped() != ParentFlipped(v) ? f.origin.y + f.size.height - p.y : p.y - f.origin.y);
}

NSPoint ToWindow(const NSView* view, NSPoint p) {
  for (const NSView* v = view; v; v = v->superview()) p = ToSuperview(v, p);
  return p;
}

NSPoint FromWindow(const NSView* view, NSPoint p) {
  if (!view) return p;
  return FromSuperview(view, FromWindow(view->superview(), p));
}

NSRect Normalized(NSPoint a, NSPoint b) {
  return NSMakeRect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(a.x - b.x), std::fabs(a.y - b.y));
}

}  // namespace

NSPoint NSView::convertPoint_fromView(NSPoint point, NSView* view) const {
  return FromWindow(this, view ? ToWindow(view, point) : point);
}

NSPoint NSView::convertPoint_toView(NSPoint point, NSView* view) const {
  NSPoint inWindow = ToWindow(this, point);
  return view ? FromWindow(view, inWindow) : inWindow;
}

NSRect NSView::convertRect_toView(NSRect rect, NSView* view) const {
  return Normalized(convertPoint_toView(rect.origin, view),
                    convertPoint_toView(NSMakePoint(NSMaxX(rect), NSMaxY(rect)), view));
}

NSRect NSView::FrameInWindow() const { return convertRect_toView(bounds(), nullptr); }

NSRect NSView::visibleRect() const {
  NSRect visible = FrameInWindow();
  for (const NSView* v = superview_; v; v = v->superview()) visible = NSIntersectionRect(visible, v->FrameInWindow());
  NSPoint a = FromWindow(this, visible.origin), b = FromWindow(this, NSMakePoint(NSMaxX(visible), NSMaxY(visible)));
  return NSIsEmptyRect(visible) ? NSZeroRect : Normalized(a, b);
}

NSView* NSView::hitTest(NSPoint point) {
  if (hidden_) return nullptr;
  if (!NSMouseInRect(point, frame_, superview_ ? superview_->isFlipped() : NO)) return nullptr;
  const NSPoint local = FromSuperview(this, point);
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it)  // the last added is on top
    if (NSView* hit = (*it)->hitTest(local)) return hit;
  return this;
}

// ---- drawing

void NSView::setNeedsDisplay(BOOL flag) {
  if (!flag) {
    needsDisplay_ = false;
    return;
  }
  setNeedsDisplayInRect(bounds());
}

void NSView::setNeedsDisplayInRect(NSRect rect) {
  needsDisplay_ = true;
  if (window_) window_->NoteNeedsDisplay(convertRect_toView(rect, nullptr));
}

void NSView::display() {
  if (window_) {
    window_->NoteNeedsDisplay(FrameInWindow());
    window_->displayIfNeeded();
  }
}

void NSView::displayIfNeeded() {
  if (window_) window_->displayIfNeeded();
}

void NSView::drawRect(NSRect) {}

void NSView::rightMouseDown(NSEvent* event) {
  // The view's menu for the event as a context menu; without one the event goes on.
  if (NSMenu* menu = menuForEvent(event)) {
    NSMenu::popUpContextMenu_withEvent_forView(menu, event, this);
    return;
  }
  NSResponder::rightMouseDown(event);
}

void NSView::DrawTree(const NSRect& dirtyInWindow) {
  if (hidden_) return;
  DrawState* parent = Current();
  if (!parent) return;
  const NSRect inWindow = FrameInWindow();
  const NSRect dirty = NSIntersectionRect(dirtyInWindow, inWindow);
  if (NSIsEmptyRect(dirty)) return;
  // The window's pixels: its height less a point's window y is the pixel row.
  const CGFloat windowHeight = window_ ? window_->frame().size.height : 0;
  DrawState state = *parent;
  state.originX = inWindow.origin.x;
  state.flipped = isFlipped();
  state.originY = state.flipped ? windowHeight - NSMaxY(inWindow) : windowHeight - NSMinY(inWindow);
  const draw::Rect box{static_cast<int>(std::floor(NSMinX(dirty))), static_cast<int>(std::floor(windowHeight - NSMaxY(dirty))),
                       static_cast<int>(std::ceil(NSMaxX(dirty))), static_cast<int>(std::ceil(windowHeight - NSMinY(dirty)))};
  state.clip = parent->clip.clipped(box);
  if (state.clip.empty()) return;
  Begin(state);
  NSPoint a = FromWindow(this, dirty.origin), b = FromWindow(this, NSMakePoint(NSMaxX(dirty), NSMaxY(dirty)));
  drawRect(Normalized(a, b));
  needsDisplay_ = false;
  End();
  // Subviews draw over their superview, clipped to it; one may go while another draws.
  std::vector<NSView*> children = subviews_;
  for (NSView* view : children) view->retain();
  Begin(state);
  for (NSView* view : children) view->DrawTree(dirty);
  End();
  for (NSView* view : children) view->release();
}
