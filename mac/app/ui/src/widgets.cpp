#include "TavrinMac/ui/widgets.h"

#include <string>

#include "PelkoFramework/Node.h"
#include "TavrinMac/serverManager.h"

// ---- the start-up window

CustomWindow* CustomWindow::initWithContentRect_styleMask_backing_defer(NSRect content, NSUInteger, NSBackingStoreType,
                                                                        BOOL) {
  setAcceptsMouseMovedEvents(YES);
  NSWindow::initWithContentRect_styleMask_backing_defer(content, NSBorderlessWindowMask, NSBackingStoreBuffered, NO);
  setBackgroundColor(NSColor::clearColor());
  setLevel(NSStatusWindowLevel);
  setAlphaValue(1.0);
  setOpaque(NO);
  setHasShadow(YES);
  return this;
}

void CustomWindow::mouseDown(NSEvent* event) {
  const NSPoint screen = convertBaseToScreen(event->locationInWindow());
  initialLocation_ = NSMakePoint(screen.x - frame().origin.x, screen.y - frame().origin.y);
}

void CustomWindow::mouseDragged(NSEvent*) {
  const NSPoint mouse = convertBaseToScreen(mouseLocationOutsideOfEventStream());
  NSPoint origin = NSMakePoint(mouse.x - initialLocation_.x, mouse.y - initialLocation_.y);
  // The top never goes above the top of the main screen; the other edges are free.
  const NSRect screen = NSScreen::mainScreen()->frame();
  const CGFloat top = screen.origin.y + screen.size.height;
  if (origin.y + frame().size.height > top) origin.y = top - frame().size.height;
  setFrameOrigin(origin);
}

void CustomWindow::mouseMoved(NSEvent*) { close(); }

void CustomWindow::close() { NSWindow::close(); }

// ---- its face

CustomView* CustomView::initWithFrame(NSRect frame) {
  NSView::initWithFrame(frame);
  NSColorPanel::sharedColorPanel()->setShowsAlpha(YES);
  innerColor_ = static_cast<NSColor*>(NSColor::clearColor()->retain());
  outside_ = static_cast<NSBezierPath*>(NSBezierPath::bezierPathWithOvalInRect(bounds())->retain());
  inside_ = static_cast<NSBezierPath*>(NSBezierPath::bezierPathWithOvalInRect(NSInsetRect(bounds(), 60.0, 15.0))->retain());
  outside_->setWindingRule(NSEvenOddWindingRule);
  outside_->appendBezierPath(inside_);
  word_ = alloc<NSMutableAttributedString>()->initWithString(NSString::stringWithUTF8String("Pelko"));
  const NSRange whole = NSMakeRange(0, word_->length());
  word_->addAttribute_value_range(NSFontAttributeName, NSFont::userFontOfSize(75.0), whole);
  word_->addAttribute_value_range(NSForegroundColorAttributeName, NSColor::orangeColor(), whole);
  return this;
}

void CustomView::dealloc() {
  for (NSObject* held : std::initializer_list<NSObject*>{outside_, inside_, innerColor_, word_})
    if (held) held->release();
  NSView::dealloc();
}

void CustomView::drawRect(NSRect) {
  NSColor::orangeColor()->set();
  outside_->fill();
  innerColor_->set();
  inside_->fill();
  const NSSize size = word_->size();
  word_->drawInRect(NSMakeRect((bounds().size.width - size.width) / 2, (bounds().size.height - size.height) / 2,
                               size.width, size.height));
  // The shadow follows the shape just drawn.
  if (NSWindow* shown = window()) {
    shown->setHasShadow(NO);
    shown->setHasShadow(YES);
  }
}

void CustomView::setInnerColor(NSColor* colour) {
  if (colour) colour->retain();
  if (innerColor_) innerColor_->release();
  innerColor_ = colour;
  setNeedsDisplay(YES);
}

void CustomView::changeColor(NSObject* sender) {
  if (auto* panel = dynamic_cast<NSColorPanel*>(sender)) setInnerColor(panel->color());
  else if (auto* colour = dynamic_cast<NSColor*>(sender)) setInnerColor(colour);
}

// ---- the device tree

void TavrinOutlineView::reloadData() {
  if (myIsReloading_) {
    // Not nested: once more on the next turn of the run loop, however many were asked for meanwhile.
    if (reloadQueued_) return;
    reloadQueued_ = true;
    retain();
    NSRunLoop::mainRunLoop()->Enqueue([this] {
      reloadQueued_ = false;
      reloadData();
      release();
    }, 0.0);
    return;
  }
  myIsReloading_ = true;
  NSOutlineView::reloadData();
  ++reloads_;
  myIsReloading_ = false;
}

void TavrinOutlineView::rightMouseDown(NSEvent* event) {
  if (!menu()) {
    menuActionRow_ = menuActionColumn_ = -1;
    return;
  }
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  menuActionRow_ = static_cast<int>(rowAtPoint(at));
  menuActionColumn_ = static_cast<int>(columnAtPoint(at));
  bool reload = true;
  if (menuActionRow_ == -1) {
    menuActionColumn_ = -1;
  } else {
    selectRow_byExtendingSelection(menuActionRow_, NO);
    id item = itemAtRow(menuActionRow_);
    auto* node = dynamic_cast<Node*>(item);
    if (node && node->isDevice() && !node->deviceInformation()) {
      reload = false;
    } else if (node && node->isDevice() && menuDelegate_ && menuDelegate_->ApplyDeviceRule(item)) {
      if (NSMenuItem* connect = menu()->itemWithTag(0)) connect->setEnabled(menuDelegate_->CanConnect() ? YES : NO);
      if (NSMenuItem* disconnect = menu()->itemWithTag(1))
        disconnect->setEnabled(menuDelegate_->CanDisconnect() ? YES : NO);
      NSMenu::popUpContextMenu_withEvent_forView(menu(), event, this);
    }
  }
  if (reload) reloadData();
  NSOutlineView::rightMouseDown(event);
}

// ---- the password field

void MySecureTextField::textDidChange(NSNotification* notification) {
  auto* editor = notification ? dynamic_cast<NSText*>(notification->object()) : nullptr;
  NSString* text = editor ? editor->string() : stringValue();
  NSString* trimmed = text ? text->stringByTrimmingCharactersInSet(NSCharacterSet::whitespaceCharacterSet()) : nullptr;
  const bool something = trimmed && trimmed->length() > 0;
  if (okButton_) okButton_->setEnabled(something ? YES : NO);
  serverManager::unlockTextDidChange(text ? text->str() : std::string());
}
