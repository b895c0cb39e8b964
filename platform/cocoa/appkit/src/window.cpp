// NSWindow: one surface of the window core each, drawn by us (title bar with its three buttons, the
// content view's tree), ordered by level, taking the events the application hands it.
#include <algorithm>
#include <cmath>

#include "appkit_internal.h"
#include "gui/desktop.h"

namespace draw = tavrin::draw;
namespace gui = tavrin::gui;
using namespace appkit::detail;

namespace {

constexpr CGFloat kButtonRadius = 6;
constexpr CGFloat kButtonSpacing = 20;
constexpr CGFloat kFirstButtonX = 14;

int Whole(CGFloat v) { return static_cast<int>(std::lround(v)); }

// The core's rectangle of a frame (screen coordinates with y downward).
draw::Rect ScreenRectOf(NSRect frame) {
  const int screenHeight = gui::TheDesktop().ScreenBounds().height();
  const int top = screenHeight - Whole(NSMaxY(frame));
  return {Whole(NSMinX(frame)), top, Whole(NSMinX(frame)) + Whole(frame.size.width), top + Whole(frame.size.height)};
}

}  // namespace

NSWindow* NSWindow::initWithContentRect_styleMask_backing_defer(NSRect content, NSUInteger style, NSBackingStoreType,
                                                                BOOL) {
  style_ = style;
  frame_ = frameRectForContentRect(content);
  title_ = static_cast<NSString*>(alloc<NSString>()->init());
  background_ = static_cast<NSColor*>(NSColor::windowBackgroundColor()->retain());
  firstResponder_ = this;
  gui::SurfaceState state;
  state.rect = ScreenRectOf(frame_);
  state.popup = IsPopup();
  state.role = Role();
  state.handle = reinterpret_cast<uintptr_t>(this);
  surface_ = gui::TheDesktop().Create(state);
  RegisterSurface(surface_, this);
  RouteInput(surface_);
  PublishWindow(this);
  NSApplication::sharedApplication()->AddWindow(this);
  NSView* view = alloc<NSView>()->initWithFrame(contentRectForFrameRect(frame_));
  setContentView(view);
  view->release();
  return this;
}

void NSWindow::dealloc() {
  gone_ = true;
  NSApplication::sharedApplication()->RemoveWindow(this);
  UnregisterSurface(surface_);
  gui::TheDesktop().Destroy(surface_);
  UnpublishWindow(this);
  if (contentView_) {
    contentView_->SetWindow(nullptr);
    contentView_->release();
  }
  if (mouseTarget_) mouseTarget_->release();
  if (title_) title_->release();
  if (background_) background_->release();
  if (toolbar_) toolbar_->release();
  for (NSButton* button : titleButtons_)
    if (button) button->release();
  Restack();
  NSObject::dealloc();
}

CGFloat NSWindow::TopHeight() const {
  return ((style_ & NSTitledWindowMask) ? kNSTitleBarHeight : 0) + (toolbar_ && toolbar_->isVisible() ? NSToolbar::kHeight : 0);
}

NSRect NSWindow::contentRectForFrameRect(NSRect frame) const {
  return NSMakeRect(frame.origin.x, frame.origin.y, frame.size.width, std::max<CGFloat>(0, frame.size.height - TopHeight()));
}

NSRect NSWindow::frameRectForContentRect(NSRect content) const {
  return NSMakeRect(content.origin.x, content.origin.y, content.size.width, content.size.height + TopHeight());
}

void NSWindow::LayoutContent() {
  if (!contentView_) return;
  NSRect content = contentRectForFrameRect(frame_);
  contentView_->setFrame(NSMakeRect(0, 0, content.size.width, content.size.height));
}

void NSWindow::setContentView(NSView* view) {
  if (view == contentView_) return;
  if (view) {
    view->retain();
    view->removeFromSuperview();
  }
  if (contentView_) {
    contentView_->SetWindow(nullptr);
    contentView_->release();
  }
  contentView_ = view;
  if (view) {
    view->SetWindow(this);
    LayoutContent();
  }
  NoteNeedsDisplay(NSMakeRect(0, 0, frame_.size.width, frame_.size.height));
}

void NSWindow::setFrame_display(NSRect frame, BOOL display) {
  const bool resized = !NSEqualSizes(frame.size, frame_.size);
  frame_ = frame;
  if (resized) {
    LayoutContent();
    NoteNeedsDisplay(NSMakeRect(0, 0, frame_.size.width, frame_.size.height));
  }
  Mirror();
  if (display) displayIfNeeded();
}

void NSWindow::setFrameOrigin(NSPoint origin) { setFrame_display({origin, frame_.size}, NO); }

void NSWindow::setFrameTopLeftPoint(NSPoint point) {
  setFrameOrigin(NSMakePoint(point.x, point.y - frame_.size.height));
}

void NSWindow::center() {
  const draw::Rect screen = gui::TheDesktop().ScreenBounds();
  // A little above the middle, as the Mac places a centred window.
  setFrameOrigin(NSMakePoint(std::round((screen.width() - frame_.size.width) / 2),
                             std::round((screen.height() - frame_.size.height) * 2 / 3)));
}

void NSWindow::setTitle(NSString* title) {
  NSString* copy = static_cast<NSString*>(alloc<NSString>()->initWithString(title ? title : NSString::string()));
  title_->release();
  title_ = copy;
  Mirror();
  if (!gone_) PublishWindow(this);
  NoteNeedsDisplay(NSMakeRect(0, frame_.size.height - TopHeight(), frame_.size.width, TopHeight()));
}

void NSWindow::setBackgroundColor(NSColor* colour) {
  if (colour) colour->retain();
  if (background_) background_->release();
  background_ = colour;
  setViewsNeedDisplay(YES);
}

void NSWindow::setLevel(NSInteger level) {
  level_ = level;
  Restack();
}

void NSWindow::setAlphaValue(CGFloat alpha) {
  alpha_ = std::clamp<CGFloat>(alpha, 0, 1);
  setViewsNeedDisplay(YES);
}

void NSWindow::setOpaque(BOOL opaque) {
  opaque_ = opaque;
  setViewsNeedDisplay(YES);
}

void NSWindow::setHasShadow(BOOL shadow) {
  shadow_ = shadow;
  Mirror();
}

void NSWindow::setViewsNeedDisplay(BOOL flag) {
  if (flag) NoteNeedsDisplay(NSMakeRect(0, 0, frame_.size.width, frame_.size.height));
}

void NSWindow::setToolbar(NSToolbar* toolbar) {
  // The content keeps its size: the frame grows downward by the toolbar's height, or shrinks back.
  const NSRect content = contentRectForFrameRect(frame_);
  if (toolbar) toolbar->retain();
  if (toolbar_) toolbar_->release();
  toolbar_ = toolbar;
  if (toolbar_) toolbar_->validateVisibleItems();
  NSRect frame = frameRectForContentRect(content);
  frame.origin.y = NSMaxY(frame_) - frame.size.height;
  setFrame_display(frame, NO);
  setViewsNeedDisplay(YES);
}

NSInteger NSWindow::windowNumber() const { return static_cast<NSInteger>(surface_); }

// ---- ordering

void NSWindow::Mirror() {
  if (gone_) return;
  gui::SurfaceState state;
  state.rect = ScreenRectOf(frame_);
  state.visible = visible_;
  state.popup = IsPopup();
  state.title = title_ ? title_->str() : "";
  state.role = Role();
  state.handle = reinterpret_cast<uintptr_t>(this);
  state.shadow = shadow_;
  state.shape = opaque_ ? draw::Region() : shape_;
  gui::TheDesktop().Update(surface_, state);
}

namespace {

// What a see-through window drew: the pixels its clear background left showing the desktop's colour are
// not part of it.
draw::Region DrawnPart(const draw::Surface& pixels) {
  std::vector<draw::Region::Band> bands;
  for (int y = 0; y < pixels.height(); ++y) {
    draw::Region::Band band{y, y + 1, {}};
    const draw::Pixel* row = pixels.row(y);
    for (int x = 0; x < pixels.width();) {
      while (x < pixels.width() && (row[x] & 0xFFFFFF) == (gui::kDesktopColour & 0xFFFFFF)) ++x;
      const int start = x;
      while (x < pixels.width() && (row[x] & 0xFFFFFF) != (gui::kDesktopColour & 0xFFFFFF)) ++x;
      if (x > start) band.xs.insert(band.xs.end(), {start, x});
    }
    bands.push_back(std::move(band));
  }
  return draw::Region::FromBands(std::move(bands));
}

}  // namespace

void NSWindow::Show(bool front) {
  const bool wasVisible = visible_;
  if (!wasVisible) {
    // Drawn before it shows, so that no blank window flashes.
    visible_ = true;
    dirty_ = true;
    dirtyRect_ = NSMakeRect(0, 0, frame_.size.width, frame_.size.height);
    Render();
  }
  if (front) {
    auto& desktop = gui::TheDesktop();
    desktop.Raise(surface_);
  } else {
    gui::TheDesktop().Lower(surface_);
  }
  Restack();
  Mirror();
}

void NSWindow::Hide() {
  if (!visible_) return;
  visible_ = false;
  Mirror();
  if (gui::TheDesktop().Capture() == surface_) gui::TheDesktop().SetCapture(0);
  NSApplication* app = NSApplication::sharedApplication();
  if (app->keyWindow() == this) app->SetKeyWindow(nullptr);
}

void NSWindow::makeKeyAndOrderFront(id) {
  Show(true);
  makeKeyWindow();
}

void NSWindow::orderFront(id) { Show(true); }
void NSWindow::orderBack(id) { Show(false); }
void NSWindow::orderOut(id) { Hide(); }

void NSWindow::orderWindow_relativeTo(NSWindowOrderingMode mode, NSInteger) {
  if (mode == NSWindowOut) Hide();
  else Show(mode == NSWindowAbove);
}

void NSWindow::makeKeyWindow() {
  if (!visible_) return;
  NSApplication::sharedApplication()->SetKeyWindow(this);
}

BOOL NSWindow::isKeyWindow() const { return NSApplication::sharedApplication()->keyWindow() == this ? YES : NO; }

void NSWindow::close() {
  if (closing_) return;
  closing_ = true;
  retain();  // observers may let go of the window while it closes
  NSNotification* note = NSNotification::notificationWithName_object(NSWindowWillCloseNotification, this);
  NSNotificationCenter::defaultCenter()->postNotification(note);
  if (delegate_) delegate_->windowWillClose(note);
  Hide();
  closing_ = false;
  const bool released = releasedWhenClosed_;
  release();
  if (released) release();
}

void NSWindow::performClose(id sender) {
  if (delegate_ && !delegate_->windowShouldClose(sender)) return;
  close();
}

void NSWindow::miniaturize(id) { Hide(); }

BOOL NSWindow::makeFirstResponder(NSResponder* responder) {
  if (!responder) responder = this;
  if (responder == firstResponder_) return YES;
  if (firstResponder_ && !firstResponder_->resignFirstResponder()) return NO;
  if (responder != this && !responder->becomeFirstResponder()) {
    firstResponder_ = this;
    return NO;
  }
  firstResponder_ = responder;
  return YES;
}

// ---- coordinates

NSPoint NSWindow::convertBaseToScreen(NSPoint p) const { return NSMakePoint(p.x + frame_.origin.x, p.y + frame_.origin.y); }
NSPoint NSWindow::convertScreenToBase(NSPoint p) const { return NSMakePoint(p.x - frame_.origin.x, p.y - frame_.origin.y); }
NSPoint NSWindow::mouseLocationOutsideOfEventStream() const { return convertScreenToBase(PointerOnScreen()); }

// ---- drawing

void NSWindow::NoteNeedsDisplay(NSRect rect) {
  if (gone_) return;
  dirtyRect_ = dirty_ ? NSUnionRect(dirtyRect_, rect) : rect;
  dirty_ = true;
  if (displayQueued_ || !visible_) return;
  // Drawn at the next turn of the main run loop, once for everything asked meanwhile.
  displayQueued_ = true;
  retain();
  NSRunLoop::mainRunLoop()->Enqueue(
      [this] {
        displayQueued_ = false;
        displayIfNeeded();
        release();
      },
      0);
}

void NSWindow::display() {
  dirty_ = true;
  dirtyRect_ = NSMakeRect(0, 0, frame_.size.width, frame_.size.height);
  displayIfNeeded();
}

void NSWindow::displayIfNeeded() {
  if (!dirty_ || !visible_ || gone_) return;
  Render();
}

void NSWindow::update() {
  if (toolbar_) toolbar_->validateVisibleItems();
  setViewsNeedDisplay(YES);
}

NSButton* NSWindow::standardWindowButton(NSWindowButton which) {
  const int index = static_cast<int>(which);
  if (index < 0 || index > 2) return nullptr;
  if (!titleButtons_[index]) {
    const CGFloat x = kFirstButtonX + index * kButtonSpacing;
    titleButtons_[index] = alloc<NSButton>()->initWithFrame(
        NSMakeRect(x - kButtonRadius, frame_.size.height - kNSTitleBarHeight / 2 - kButtonRadius, 2 * kButtonRadius, 2 * kButtonRadius));
  }
  return titleButtons_[index];
}

void NSWindow::keyDown(NSEvent*) {}

void NSWindow::Render() {
  auto& desktop = gui::TheDesktop();
  const int width = Whole(frame_.size.width), height = Whole(frame_.size.height);
  std::shared_ptr<draw::Surface> pixels = desktop.Pixels(surface_);
  if (!pixels || pixels->width() != width || pixels->height() != height) {
    pixels = desktop.Resize(surface_, width, height);
    dirtyRect_ = NSMakeRect(0, 0, frame_.size.width, frame_.size.height);
  }
  if (!pixels) return;
  const NSRect dirty = NSIntersectionRect(dirtyRect_, NSMakeRect(0, 0, frame_.size.width, frame_.size.height));
  dirty_ = false;
  dirtyRect_ = NSZeroRect;
  if (NSIsEmptyRect(dirty)) return;
  const draw::Rect box{static_cast<int>(std::floor(NSMinX(dirty))), static_cast<int>(std::floor(height - NSMaxY(dirty))),
                       static_cast<int>(std::ceil(NSMaxX(dirty))), static_cast<int>(std::ceil(height - NSMinY(dirty)))};
  DrawState state;
  state.surface = pixels.get();
  state.clip = draw::Region(box.intersect(pixels->bounds()));
  state.originY = static_cast<CGFloat>(height);
  Begin(state);
  const uint32_t background = background_ ? background_->Pixel() : 0;
  PaintRect(NSMakeRect(0, 0, frame_.size.width, frame_.size.height), opaque_ ? background | 0xFF000000 : background, true);
  if (TopHeight() > 0) DrawFrame();
  if (toolbar_ && toolbar_->isVisible()) {
    const CGFloat barTop = frame_.size.height - ((style_ & NSTitledWindowMask) ? kNSTitleBarHeight : 0);
    toolbar_->Draw(NSMakeRect(0, barTop - NSToolbar::kHeight, frame_.size.width, NSToolbar::kHeight));
  }
  if (contentView_) contentView_->DrawTree(dirty);
  End();
  if (alpha_ < 1) {
    // Seen through onto the desktop's colour: the core composes opaque surfaces.
    const int a = Whole(alpha_ * 255);
    const draw::Pixel under = gui::kDesktopColour;
    for (int y = std::max(0, box.top); y < std::min(height, box.bottom); ++y) {
      draw::Pixel* row = pixels->row(y);
      for (int x = std::max(0, box.left); x < std::min(width, box.right); ++x) {
        auto mix = [a](int s, int d) { return d + (s - d) * a / 255; };
        row[x] = draw::Rgb(mix(draw::RedOf(row[x]), draw::RedOf(under)), mix(draw::GreenOf(row[x]), draw::GreenOf(under)),
                           mix(draw::BlueOf(row[x]), draw::BlueOf(under)));
      }
    }
  }
  if (!opaque_ && shadow_) {
    // The shadow follows what was drawn (taken before the pixels are shown, where they cannot change).
    draw::Region shape = DrawnPart(*pixels);
    if (!(shape.bands() == shape_.bands())) {
      shape_ = std::move(shape);
      Mirror();
    }
  }
  desktop.Damage(surface_, box.intersect(pixels->bounds()));
}

void NSWindow::DrawFrame() {
  // The title bar: a light grey gradient, a line under it, the three buttons at the left, the title in
  // the middle. A window that is not the key window shows its buttons grey.
  const CGFloat top = frame_.size.height, bar = kNSTitleBarHeight;
  for (int i = 0; i < static_cast<int>(bar); ++i) {
    const int level = 0xEC - (0xEC - 0xD0) * i / static_cast<int>(bar);
    PaintRect(NSMakeRect(0, top - i - 1, frame_.size.width, 1), Argb(level, level, level), true);
  }
  PaintRect(NSMakeRect(0, top - bar, frame_.size.width, 1), Argb(0xA8, 0xA8, 0xA8), true);
  const bool key = isKeyWindow();
  const uint32_t colours[3] = {Argb(0xFF, 0x5F, 0x57), Argb(0xFF, 0xBD, 0x2E), Argb(0x28, 0xC9, 0x40)};
  const bool present[3] = {(style_ & NSClosableWindowMask) != 0, (style_ & NSMiniaturizableWindowMask) != 0,
                           (style_ & NSResizableWindowMask) != 0};
  for (int i = 0; i < 3; ++i) {
    const NSPoint centre = NSMakePoint(kFirstButtonX + i * kButtonSpacing, top - bar / 2);
    const NSRect oval = NSMakeRect(centre.x - kButtonRadius, centre.y - kButtonRadius, 2 * kButtonRadius, 2 * kButtonRadius);
    NSBezierPath* path = NSBezierPath::bezierPathWithOvalInRect(oval);
    DrawState* s = Current();
    s->fill = key && present[i] ? colours[i] : Argb(0xCC, 0xCC, 0xCC);
    path->fill();
    s->stroke = Argb(0x90, 0x90, 0x90);
    path->stroke();
  }
  const std::string title = title_ ? title_->str() : "";
  TextInRect(title, *SystemFont(13), NSMakeRect(70, top - bar, frame_.size.width - 140, bar - 1),
             key ? Argb(0x20, 0x20, 0x20) : Argb(0x90, 0x90, 0x90), Align::kCenter);
}

bool NSWindow::Snapshot(draw::Surface& image) {
  displayIfNeeded();
  return gui::TheDesktop().Snapshot(surface_, image);
}

// ---- events

void NSWindow::HandleTitleBar(NSEvent* event, NSPoint at) {
  const CGFloat centreY = frame_.size.height - kNSTitleBarHeight / 2;
  int button = -1;
  for (int i = 0; i < 3; ++i) {
    const CGFloat dx = at.x - (kFirstButtonX + i * kButtonSpacing), dy = at.y - centreY;
    if (dx * dx + dy * dy <= (kButtonRadius + 1) * (kButtonRadius + 1)) button = i;
  }
  switch (event->type()) {
    case NSLeftMouseDown:
      titleButtonDown_ = button;
      draggingTitle_ = button < 0;
      dragFrom_ = NSMakePoint(at.x, at.y);
      break;
    case NSLeftMouseDragged:
      if (draggingTitle_) {
        const NSPoint screen = convertBaseToScreen(at);
        setFrameOrigin(NSMakePoint(screen.x - dragFrom_.x, screen.y - dragFrom_.y));
      }
      break;
    case NSLeftMouseUp: {
      const int pressed = titleButtonDown_;
      titleButtonDown_ = -1;
      draggingTitle_ = false;
      if (pressed < 0 || pressed != button) break;
      if (pressed == 0 && (style_ & NSClosableWindowMask)) ClickCloseButton();
      if (pressed == 1 && (style_ & NSMiniaturizableWindowMask)) miniaturize(this);
      break;
    }
    default:
      break;
  }
}

void NSWindow::ClickCloseButton() {
  // A close button given an action of its own sends it instead of closing.
  NSButton* button = titleButtons_[NSWindowCloseButton];
  if (button && button->action() && button->target()) {
    button->sendAction_to(button->action(), button->target());
    return;
  }
  performClose(this);
}

void NSWindow::ForgetMouseTarget(NSView* leaving) {
  // Only the view pressed: a press that takes other views away (a tab's page) keeps its release.
  if (!leaving || mouseTarget_ != leaving) return;
  mouseTarget_ = nullptr;
  leaving->release();
}

void NSWindow::sendEvent(NSEvent* event) {
  retain();  // a handler may close the window
  const NSPoint at = event->locationInWindow();
  const CGFloat titleHeight = (style_ & NSTitledWindowMask) ? kNSTitleBarHeight : 0;
  const bool inTitle = titleHeight > 0 && at.y >= frame_.size.height - titleHeight;
  const bool inToolbar = !inTitle && toolbar_ && toolbar_->isVisible() && at.y >= frame_.size.height - TopHeight();
  auto target = [&]() -> NSResponder* {
    NSView* hit = contentView_ ? contentView_->hitTest(at) : nullptr;
    return hit ? static_cast<NSResponder*>(hit) : this;
  };
  switch (event->type()) {
    case NSLeftMouseDown: {
      if (ignoresMouse_) break;
      if (!isKeyWindow() && Role() != "menu") makeKeyAndOrderFront(this);
      if (inTitle) {
        HandleTitleBar(event, at);
        break;
      }
      if (inToolbar) {
        const CGFloat barBottom = frame_.size.height - TopHeight();
        if (toolbar_->Click(NSMakePoint(at.x, at.y - barBottom), frame_.size.width)) update();
        break;
      }
      NSResponder* responder = target();
      if (responder != this && responder->acceptsFirstResponder()) makeFirstResponder(responder);
      if (mouseTarget_) mouseTarget_->release();
      mouseTarget_ = responder != this ? static_cast<NSView*>(responder) : nullptr;
      if (mouseTarget_) mouseTarget_->retain();
      responder->mouseDown(event);
      break;
    }
    case NSLeftMouseDragged:
    case NSLeftMouseUp: {
      if (titleButtonDown_ >= 0 || draggingTitle_) {
        HandleTitleBar(event, at);
        break;
      }
      NSResponder* responder = mouseTarget_ ? static_cast<NSResponder*>(mouseTarget_) : this;
      responder->retain();
      if (event->type() == NSLeftMouseUp) {
        responder->mouseUp(event);
        if (mouseTarget_) mouseTarget_->release();
        mouseTarget_ = nullptr;
      } else {
        responder->mouseDragged(event);
      }
      responder->release();
      break;
    }
    case NSRightMouseDown:
      if (!ignoresMouse_ && !inTitle) target()->rightMouseDown(event);
      break;
    case NSRightMouseUp:
      if (!ignoresMouse_ && !inTitle) target()->rightMouseUp(event);
      break;
    case NSMouseMoved:
      if (mouseMoved_) (firstResponder_ ? firstResponder_ : this)->mouseMoved(event);
      break;
    case NSKeyDown:
      (firstResponder_ ? firstResponder_ : this)->keyDown(event);
      break;
    case NSKeyUp:
      (firstResponder_ ? firstResponder_ : this)->keyUp(event);
      break;
    default:
      break;
  }
  release();
}
