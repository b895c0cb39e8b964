// The AppKit classes the Mac side calls, as C++ classes under their own names, on the window core
// (gui/desktop.h): each NSWindow shown is one surface of the core, drawn by us with a Mac-like look of our
// own (a title bar with its three buttons), its text through the DejaVu faces.
//
// The selector rule and reference counting are Foundation's (cocoa/Foundation.h). Coordinates are the
// Mac's: the screen's origin is its bottom-left corner and y grows upward, in windows and in views too
// unless a view is flipped. Everything here runs on the main thread; input the core routes from another
// thread (the X display, the automation socket) is handed to the main run loop, which NSApplication runs.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cocoa/Foundation.h"
#include "cocoa/NSGeometry.h"
#include "draw/region.h"
#include "draw/surface.h"

class NSWindow;
class NSView;
class NSEvent;
class NSColor;
class NSFont;
class NSImage;
class NSMenu;
class NSGraphicsContext;

// ---- application

enum NSEventType : NSUInteger {
  NSLeftMouseDown = 1, NSLeftMouseUp = 2, NSRightMouseDown = 3, NSRightMouseUp = 4, NSMouseMoved = 5,
  NSLeftMouseDragged = 6, NSRightMouseDragged = 7, NSMouseExited = 9, NSKeyDown = 10, NSKeyUp = 11,
  NSApplicationDefined = 15,
};
enum : NSUInteger {
  NSShiftKeyMask = 1u << 17, NSControlKeyMask = 1u << 18, NSAlternateKeyMask = 1u << 19,
};
// Key codes of the keys that are not characters, as `characters` gives them (the system's function-key
// range), and the characters of Return, Tab, Backspace and Escape.
enum : unsigned {
  NSUpArrowFunctionKey = 0xF700, NSDownArrowFunctionKey = 0xF701, NSLeftArrowFunctionKey = 0xF702,
  NSRightArrowFunctionKey = 0xF703, NSHomeFunctionKey = 0xF729, NSEndFunctionKey = 0xF72B,
  NSPageUpFunctionKey = 0xF72C, NSPageDownFunctionKey = 0xF72D, NSDeleteFunctionKey = 0xF728,
};
inline constexpr char kNSReturnCharacter = '\r', kNSTabCharacter = '\t', kNSBackspaceCharacter = 0x7F,
                      kNSEscapeCharacter = 0x1B;

class NSEvent : public NSObject {
 public:
  // Our helper: a new event (autoreleased).
  static NSEvent* Make(NSEventType type, NSPoint locationInWindow, NSWindow* window, int clickCount = 1,
                       NSUInteger modifiers = 0, NSString* characters = nullptr, unsigned keyCode = 0);
  NSEventType type() const { return type_; }
  NSPoint locationInWindow() const { return location_; }
  NSWindow* window() const { return window_; }
  NSInteger clickCount() const { return clickCount_; }
  NSUInteger modifierFlags() const { return modifiers_; }
  NSString* characters() const { return characters_; }
  NSString* charactersIgnoringModifiers() const { return characters_; }
  unsigned short keyCode() const { return static_cast<unsigned short>(keyCode_); }
  NSTimeInterval timestamp() const { return timestamp_; }
  // Where the pointer is, in screen coordinates.
  static NSPoint mouseLocation();
  const char* className() const override { return "NSEvent"; }

 protected:
  void dealloc() override;

 private:
  NSEventType type_ = NSApplicationDefined;
  NSPoint location_{};
  NSWindow* window_ = nullptr;  // not retained: events live no longer than their dispatch
  NSInteger clickCount_ = 1;
  NSUInteger modifiers_ = 0;
  NSString* characters_ = nullptr;
  unsigned keyCode_ = 0;
  NSTimeInterval timestamp_ = 0;
};

// Receives events and hands what it does not take to the next responder.
class NSResponder : public NSObject {
 public:
  virtual NSResponder* nextResponder() const { return nextResponder_; }
  void setNextResponder(NSResponder* next) { nextResponder_ = next; }
  virtual BOOL acceptsFirstResponder() { return NO; }
  virtual BOOL becomeFirstResponder() { return YES; }
  virtual BOOL resignFirstResponder() { return YES; }

  virtual void mouseDown(NSEvent* event);
  virtual void mouseUp(NSEvent* event);
  virtual void mouseDragged(NSEvent* event);
  virtual void mouseMoved(NSEvent* event);
  virtual void rightMouseDown(NSEvent* event);
  virtual void rightMouseUp(NSEvent* event);
  virtual void keyDown(NSEvent* event);
  virtual void keyUp(NSEvent* event);
  const char* className() const override { return "NSResponder"; }

 private:
  NSResponder* nextResponder_ = nullptr;  // not retained
};

enum NSApplicationTerminateReply { NSTerminateCancel = 0, NSTerminateNow = 1 };
enum : NSInteger { NSRunStoppedResponse = -1000, NSRunAbortedResponse = -1001, NSRunContinuesResponse = -1002 };

// What the application's delegate may answer; every method is optional.
class NSApplicationDelegate {
 public:
  virtual ~NSApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching(NSNotification*) {}
  virtual NSApplicationTerminateReply applicationShouldTerminate(class NSApplication*) { return NSTerminateNow; }
  virtual void applicationWillTerminate(NSNotification*) {}
};

class NSApplication : public NSResponder {
 public:
  // The application (made at the first call, for the life of the process); NSApp names it too.
  static NSApplication* sharedApplication();

  // Runs the main run loop until stop: or terminate:.
  void run();
  void stop(id sender);
  // Asks the delegate, then ends run() (the caller of NSApplicationMain returns).
  void terminate(id sender);
  BOOL isRunning() const { return running_ ? YES : NO; }
  void finishLaunching();

  // Modal runs: the window is shown and only it takes the person's input until stopModal (from its
  // actions) ends the run; runModalForWindow answers the code given.
  NSInteger runModalForWindow(NSWindow* window);
  void stopModal();
  void stopModalWithCode(NSInteger code);
  void abortModal();
  NSWindow* modalWindow() const { return modalWindow_; }

  void sendEvent(NSEvent* event);
  // Sends the action to the target, or along the key window's responders when the target is null.
  BOOL sendAction_to_from(std::function<void(id sender)> action, id target, id sender);

  NSArray* windows();  // autoreleased
  NSWindow* keyWindow() const { return keyWindow_; }
  NSWindow* mainWindow() const { return keyWindow_; }
  NSApplicationDelegate* delegate() const { return delegate_; }
  void setDelegate(NSApplicationDelegate* delegate) { delegate_ = delegate; }
  NSMenu* mainMenu() const { return mainMenu_; }
  void setMainMenu(NSMenu* menu);
  void activateIgnoringOtherApps(BOOL) {}
  void hide(id sender);
  // Shows the shared colour panel (NSColorPanel).
  void orderFrontColorPanel(id sender);
  void unhideAllApplications(id sender);
  const char* className() const override { return "NSApplication"; }

  // Our helpers, for the window list and the modal rule.
  void AddWindow(NSWindow* window);
  void RemoveWindow(NSWindow* window);
  void SetKeyWindow(NSWindow* window);
  // Whether a window takes the person's input while a modal run goes on.
  bool TakesInput(NSWindow* window) const;

 private:
  std::vector<NSWindow*> windows_;  // not retained: a window leaves the list as it goes
  NSWindow* keyWindow_ = nullptr;
  NSWindow* modalWindow_ = nullptr;
  NSInteger modalCode_ = 0;
  std::atomic<bool> modalEnded_{false};
  std::atomic<bool> running_{false};
  bool launched_ = false;
  NSApplicationDelegate* delegate_ = nullptr;
  NSMenu* mainMenu_ = nullptr;
};

extern NSApplication* NSApp;

// The program's window definitions stand where interface files would: the builder registered as the
// main interface runs as NSApplicationMain loads it (making the windows, wiring outlets, calling
// awakeFromNib).
namespace appkit {
void SetMainInterface(std::function<void()> builder);
// Shows the windows on the X display when DISPLAY is set (TAVRIN_DISPLAY=x11 forces it, =headless keeps
// them off any display); true when a display shows them.
bool StartDisplayFromEnvironment();
bool StartX11Display(const std::string& name);
void StopDisplay();
bool DisplayRunning();
// The automation protocol's listing of this process's windows and their views (main thread): the lines
// the Win32 side lists its windows in, a top-level window's with its role.
std::vector<std::string> ListWindows();
// Runs the main run loop until `done` holds or `seconds` pass; whether it held.
bool RunMainLoopUntil(const std::function<bool()>& done, double seconds = 10);
}  // namespace appkit

// Loads the main interface, shows the windows, runs the application; returns when it terminates.
int NSApplicationMain(int argc, const char** argv);

// ---- screens

class NSScreen : public NSObject {
 public:
  static NSScreen* mainScreen();  // autoreleased
  static NSArray* screens();      // autoreleased
  NSRect frame() const;
  // The frame below the menu bar.
  NSRect visibleFrame() const;
  const char* className() const override { return "NSScreen"; }
};

// Height of the menu bar at the top of the screen and of a titled window's title bar.
inline constexpr CGFloat kNSMenuBarHeight = 22;
inline constexpr CGFloat kNSTitleBarHeight = 22;

// ---- colours, fonts, drawing

class NSColor : public NSObject {
 public:
  static NSColor* colorWithCalibratedRed_green_blue_alpha(CGFloat r, CGFloat g, CGFloat b, CGFloat a);
  static NSColor* colorWithDeviceRed_green_blue_alpha(CGFloat r, CGFloat g, CGFloat b, CGFloat a);
  static NSColor* colorWithCalibratedWhite_alpha(CGFloat white, CGFloat a);
  // Components above 1 act as 1.
  static NSColor* colorWithDeviceCyan_magenta_yellow_black_alpha(CGFloat c, CGFloat m, CGFloat y, CGFloat k,
                                                                 CGFloat a);
  static NSColor* clearColor();
  static NSColor* blackColor();
  static NSColor* whiteColor();
  static NSColor* grayColor();
  static NSColor* lightGrayColor();
  static NSColor* darkGrayColor();
  static NSColor* redColor();
  static NSColor* greenColor();
  static NSColor* blueColor();
  static NSColor* yellowColor();
  static NSColor* orangeColor();
  static NSColor* controlColor();
  static NSColor* controlTextColor();
  static NSColor* disabledControlTextColor();
  static NSColor* windowBackgroundColor();
  static NSColor* textBackgroundColor();
  static NSColor* selectedTextBackgroundColor();
  static NSColor* alternateSelectedControlColor();
  static NSColor* gridColor();

  CGFloat redComponent() const { return r_; }
  CGFloat greenComponent() const { return g_; }
  CGFloat blueComponent() const { return b_; }
  CGFloat alphaComponent() const { return a_; }
  NSColor* colorWithAlphaComponent(CGFloat alpha) const;  // autoreleased
  // Makes the colour the current fill and stroke colour of the drawing.
  void set();
  void setFill();
  void setStroke();
  bool isEqual(NSObject* other) override;
  const char* className() const override { return "NSColor"; }

  uint32_t Pixel() const;  // our helper: 0xAARRGGBB

 private:
  static NSColor* Make(CGFloat r, CGFloat g, CGFloat b, CGFloat a);
  CGFloat r_ = 0, g_ = 0, b_ = 0, a_ = 1;
};

class NSFont : public NSObject {
 public:
  // Any name is taken: serif names draw in DejaVu Serif, fixed ones in DejaVu Sans Mono, the rest in
  // DejaVu Sans ("Bold" in the name takes the bold face).
  static NSFont* fontWithName_size(NSString* name, CGFloat size);
  static NSFont* systemFontOfSize(CGFloat size);
  static NSFont* boldSystemFontOfSize(CGFloat size);
  static NSFont* userFontOfSize(CGFloat size);
  static NSFont* labelFontOfSize(CGFloat size);
  static CGFloat systemFontSize() { return 13; }
  static CGFloat smallSystemFontSize() { return 11; }
  NSString* fontName() const { return name_; }
  CGFloat pointSize() const { return size_; }
  CGFloat ascender() const;
  CGFloat descender() const;  // negative, as the Mac gives it
  CGFloat defaultLineHeightForFont() const;
  const char* className() const override { return "NSFont"; }

  // Our helpers: a string's width in the font, and whether it is bold.
  CGFloat Width(const std::string& utf8) const;
  bool bold() const { return bold_; }

 protected:
  void dealloc() override;

 private:
  static NSFont* Make(const char* name, CGFloat size, bool bold);
  NSString* name_ = nullptr;
  CGFloat size_ = 13;
  bool bold_ = false;
};

extern NSString* const NSFontAttributeName;
extern NSString* const NSForegroundColorAttributeName;
extern NSString* const NSBackgroundColorAttributeName;

// Text drawn at a point (the bottom-left of its box in an unflipped view) or in a rectangle.
namespace appkit {
NSSize SizeOfString(NSString* text, NSDictionary* attributes);
void DrawString(NSString* text, NSPoint at, NSDictionary* attributes);
void DrawStringInRect(NSString* text, NSRect rect, NSDictionary* attributes);
}  // namespace appkit

class NSAttributedString : public NSObject {
 public:
  NSAttributedString* initWithString(NSString* text);
  NSAttributedString* initWithString_attributes(NSString* text, NSDictionary* attributes);
  NSString* string() const { return text_; }
  NSUInteger length() const { return text_ ? text_->length() : 0; }
  // The attributes at a byte position of the text (autoreleased).
  NSDictionary* attributesAtIndex_effectiveRange(NSUInteger index, NSRange* range) const;
  NSSize size() const;
  void drawAtPoint(NSPoint point) const;
  void drawInRect(NSRect rect) const;
  const char* className() const override { return "NSAttributedString"; }

 protected:
  void dealloc() override;
  struct Run {
    NSUInteger start = 0, length = 0;
    NSMutableDictionary* attributes = nullptr;  // owned
  };
  void Reset(NSString* text, NSDictionary* attributes);
  std::vector<Run> runs_;
  NSString* text_ = nullptr;
};

class NSMutableAttributedString : public NSAttributedString {
 public:
  NSMutableAttributedString* initWithString(NSString* text) {
    NSAttributedString::initWithString(text);
    return this;
  }
  NSMutableAttributedString* initWithString_attributes(NSString* text, NSDictionary* attributes) {
    NSAttributedString::initWithString_attributes(text, attributes);
    return this;
  }
  void addAttribute_value_range(NSString* name, id value, NSRange range);
  void setAttributes_range(NSDictionary* attributes, NSRange range);
  void replaceCharactersInRange_withString(NSRange range, NSString* text);
  const char* className() const override { return "NSMutableAttributedString"; }

 private:
  void Split(NSUInteger at);
};

enum NSWindingRule { NSNonZeroWindingRule = 0, NSEvenOddWindingRule = 1 };

class NSBezierPath : public NSObject {
 public:
  static NSBezierPath* bezierPath();
  static NSBezierPath* bezierPathWithRect(NSRect rect);
  static NSBezierPath* bezierPathWithOvalInRect(NSRect rect);
  static NSBezierPath* bezierPathWithRoundedRect_xRadius_yRadius(NSRect rect, CGFloat rx, CGFloat ry);
  static void fillRect(NSRect rect);
  static void strokeRect(NSRect rect);
  static void strokeLineFromPoint_toPoint(NSPoint a, NSPoint b);

  void moveToPoint(NSPoint p);
  void lineToPoint(NSPoint p);
  void curveToPoint_controlPoint1_controlPoint2(NSPoint end, NSPoint c1, NSPoint c2);
  void closePath();
  void appendBezierPath(NSBezierPath* other);
  void appendBezierPathWithOvalInRect(NSRect rect);
  void appendBezierPathWithRect(NSRect rect);
  void removeAllPoints() { figures_.clear(); }
  BOOL isEmpty() const { return figures_.empty() ? YES : NO; }
  NSRect bounds() const;
  BOOL containsPoint(NSPoint p) const;
  void setWindingRule(NSWindingRule rule) { rule_ = rule; }
  NSWindingRule windingRule() const { return rule_; }
  void setLineWidth(CGFloat width) { lineWidth_ = width; }
  CGFloat lineWidth() const { return lineWidth_; }
  // With the current fill / stroke colour.
  void fill();
  void stroke();
  const char* className() const override { return "NSBezierPath"; }

 private:
  struct Figure {
    std::vector<NSPoint> points;  // curves are kept flattened
    bool closed = false;
  };
  std::vector<Figure> figures_;
  NSWindingRule rule_ = NSNonZeroWindingRule;
  CGFloat lineWidth_ = 1;
};

// Fills a rectangle with the current colour, replacing what was there (a clear colour clears).
void NSRectFill(NSRect rect);
void NSFrameRect(NSRect rect);

enum NSCompositingOperation { NSCompositeClear = 0, NSCompositeCopy = 1, NSCompositeSourceOver = 2 };

// A picture: our own pictures by name (drawn by code), or drawn into with lockFocus.
class NSImage : public NSObject {
 public:
  // The picture of that name, or null when we draw none by it (autoreleased).
  static NSImage* imageNamed(NSString* name);
  NSImage* initWithSize(NSSize size);
  NSSize size() const { return size_; }
  void setSize(NSSize size);
  NSString* name() const { return name_; }
  // Drawing into the picture (its own coordinates, origin bottom-left) between these two.
  void lockFocus();
  void unlockFocus();
  void drawInRect_fromRect_operation_fraction(NSRect rect, NSRect from, NSCompositingOperation op, CGFloat fraction);
  void drawAtPoint_fromRect_operation_fraction(NSPoint point, NSRect from, NSCompositingOperation op, CGFloat fraction);
  void compositeToPoint_operation(NSPoint point, NSCompositingOperation op);
  const char* className() const override { return "NSImage"; }

  // Our helper: the pixels (alpha is opacity: 0 where nothing was drawn), top row first.
  const std::shared_ptr<tavrin::draw::Surface>& Pixels() const { return pixels_; }
  // A picture drawn by `paint` into a new image of the size (the registry of our own pictures).
  static void Register(const std::string& name, NSSize size, std::function<void(NSSize size)> paint);

 protected:
  void dealloc() override;

 private:
  NSSize size_{};
  NSString* name_ = nullptr;
  std::shared_ptr<tavrin::draw::Surface> pixels_;
};

// ---- graphics state

// The drawing of one view into its window's pixels; saveGraphicsState / restoreGraphicsState keep the
// colours and clip around a change.
class NSGraphicsContext : public NSObject {
 public:
  static NSGraphicsContext* currentContext();  // null outside drawing
  static void saveGraphicsState_class();
  static void restoreGraphicsState_class();
  void saveGraphicsState() { saveGraphicsState_class(); }
  void restoreGraphicsState() { restoreGraphicsState_class(); }
  void flushGraphics() {}
  const char* className() const override { return "NSGraphicsContext"; }
};

// Limits the drawing to the rectangle (within what it was limited to).
void NSRectClip(NSRect rect);

// ---- views and windows

enum : NSUInteger {
  NSViewNotSizable = 0, NSViewMinXMargin = 1, NSViewWidthSizable = 2, NSViewMaxXMargin = 4,
  NSViewMinYMargin = 8, NSViewHeightSizable = 16, NSViewMaxYMargin = 32,
};

class NSView : public NSResponder {
 public:
  NSView* initWithFrame(NSRect frame);
  NSView* init() { return initWithFrame(NSZeroRect); }

  NSRect frame() const { return frame_; }
  NSRect bounds() const { return NSMakeRect(0, 0, frame_.size.width, frame_.size.height); }
  virtual void setFrame(NSRect frame);
  void setFrameOrigin(NSPoint origin);
  void setFrameSize(NSSize size);
  virtual BOOL isFlipped() const { return NO; }
  BOOL isHidden() const { return hidden_ ? YES : NO; }
  void setHidden(BOOL hidden);
  // Hidden itself or under a hidden view.
  BOOL isHiddenOrHasHiddenAncestor() const;
  void setAutoresizingMask(NSUInteger mask) { autoresizing_ = mask; }
  NSUInteger autoresizingMask() const { return autoresizing_; }
  virtual NSInteger tag() const { return tag_; }
  void setTag(NSInteger tag) { tag_ = tag; }

  NSView* superview() const { return superview_; }
  NSArray* subviews();  // autoreleased
  void addSubview(NSView* view);  // retained until removed
  void removeFromSuperview();
  NSWindow* window() const { return window_; }
  BOOL isDescendantOf(NSView* view) const;
  NSView* viewWithTag(NSInteger tag);

  void setNeedsDisplay(BOOL flag);
  void setNeedsDisplayInRect(NSRect rect);
  BOOL needsDisplay() const { return needsDisplay_ ? YES : NO; }
  // Draws now (the view and what lies under it).
  void display();
  void displayIfNeeded();
  virtual void drawRect(NSRect dirty);
  NSRect visibleRect() const;

  // `point` is in the superview's coordinates; the deepest view under it, or null.
  virtual NSView* hitTest(NSPoint point);
  NSPoint convertPoint_fromView(NSPoint point, NSView* view) const;  // null view: window coordinates
  NSPoint convertPoint_toView(NSPoint point, NSView* view) const;
  NSRect convertRect_toView(NSRect rect, NSView* view) const;
  BOOL mouse_inRect(NSPoint point, NSRect rect) const { return NSMouseInRect(point, rect, isFlipped()); }

  NSMenu* menu() const { return menu_; }
  virtual void setMenu(NSMenu* menu);
  virtual NSMenu* menuForEvent(NSEvent* event);
  virtual void viewDidMoveToWindow() {}
  virtual void awakeFromNib() {}
  void rightMouseDown(NSEvent* event) override;
  NSResponder* nextResponder() const override;
  const char* className() const override { return "NSView"; }

  // Our helpers: the window's pixels are drawn from here down; `dirty` in window coordinates.
  void DrawTree(const NSRect& dirtyInWindow);
  void SetWindow(NSWindow* window);
  // The view's rectangle in its window's coordinates.
  NSRect FrameInWindow() const;

 protected:
  void dealloc() override;
  // Subviews change their frame when this view's size changes, by their autoresizing masks.
  void ResizeSubviews(NSSize oldSize);

 private:
  NSRect frame_{};
  NSView* superview_ = nullptr;  // not retained
  NSWindow* window_ = nullptr;   // not retained
  std::vector<NSView*> subviews_;
  NSMenu* menu_ = nullptr;
  NSInteger tag_ = 0;
  NSUInteger autoresizing_ = 0;
  bool hidden_ = false;
  bool needsDisplay_ = true;
};

enum : NSUInteger {
  NSBorderlessWindowMask = 0, NSTitledWindowMask = 1, NSClosableWindowMask = 2, NSMiniaturizableWindowMask = 4,
  NSResizableWindowMask = 8,
};
enum NSBackingStoreType { NSBackingStoreRetained = 0, NSBackingStoreNonretained = 1, NSBackingStoreBuffered = 2 };
enum NSWindowButton { NSWindowCloseButton = 0, NSWindowMiniaturizeButton = 1, NSWindowZoomButton = 2 };
enum : NSInteger {
  NSNormalWindowLevel = 0, NSFloatingWindowLevel = 3, NSModalPanelWindowLevel = 8, NSMainMenuWindowLevel = 24,
  NSStatusWindowLevel = 25, NSPopUpMenuWindowLevel = 101,
};
enum NSWindowOrderingMode { NSWindowBelow = -1, NSWindowOut = 0, NSWindowAbove = 1 };

class NSWindowDelegate {
 public:
  virtual ~NSWindowDelegate() = default;
  virtual BOOL windowShouldClose(id) { return YES; }
  virtual void windowWillClose(NSNotification*) {}
};

class NSButton;
class NSToolbar;

class NSWindow : public NSResponder {
 public:
  NSWindow* initWithContentRect_styleMask_backing_defer(NSRect content, NSUInteger style, NSBackingStoreType backing,
                                                        BOOL defer);
  NSWindow* init() { return initWithContentRect_styleMask_backing_defer(NSMakeRect(0, 0, 480, 360), NSTitledWindowMask, NSBackingStoreBuffered, NO); }

  // The whole window (title bar included), in screen coordinates.
  NSRect frame() const { return frame_; }
  void setFrame_display(NSRect frame, BOOL display);
  void setFrameOrigin(NSPoint origin);
  void setFrameTopLeftPoint(NSPoint point);
  void center();
  NSRect contentRectForFrameRect(NSRect frame) const;
  NSRect frameRectForContentRect(NSRect content) const;
  NSUInteger styleMask() const { return style_; }

  NSView* contentView() const { return contentView_; }
  void setContentView(NSView* view);
  NSString* title() const { return title_; }
  void setTitle(NSString* title);
  NSColor* backgroundColor() const { return background_; }
  void setBackgroundColor(NSColor* colour);
  NSInteger level() const { return level_; }
  void setLevel(NSInteger level);
  CGFloat alphaValue() const { return alpha_; }
  void setAlphaValue(CGFloat alpha);
  BOOL isOpaque() const { return opaque_ ? YES : NO; }
  void setOpaque(BOOL opaque);
  BOOL hasShadow() const { return shadow_ ? YES : NO; }
  void setHasShadow(BOOL shadow);
  void invalidateShadow() {}
  void setAcceptsMouseMovedEvents(BOOL accepts) { mouseMoved_ = accepts; }
  BOOL acceptsMouseMovedEvents() const { return mouseMoved_ ? YES : NO; }
  void setIgnoresMouseEvents(BOOL ignores) { ignoresMouse_ = ignores; }
  BOOL ignoresMouseEvents() const { return ignoresMouse_ ? YES : NO; }
  void setReleasedWhenClosed(BOOL released) { releasedWhenClosed_ = released; }
  BOOL isReleasedWhenClosed() const { return releasedWhenClosed_ ? YES : NO; }
  void setCanHide(BOOL canHide) { canHide_ = canHide; }
  BOOL canHide() const { return canHide_ ? YES : NO; }
  void setDelegate(NSWindowDelegate* delegate) { delegate_ = delegate; }
  NSWindowDelegate* delegate() const { return delegate_; }

  void makeKeyAndOrderFront(id sender);
  void orderFront(id sender);
  void orderFrontRegardless() { orderFront(nullptr); }
  void orderBack(id sender);
  void orderOut(id sender);
  void orderWindow_relativeTo(NSWindowOrderingMode mode, NSInteger other);
  void makeKeyWindow();
  BOOL isVisible() const { return visible_ ? YES : NO; }
  BOOL isKeyWindow() const;
  BOOL isMainWindow() const { return isKeyWindow(); }
  // Closes the window: it goes from the screen, observers hear NSWindowWillCloseNotification, and it is
  // released when releasedWhenClosed.
  virtual void close();
  // As a click on the close button: asks the delegate, then closes.
  void performClose(id sender);
  void miniaturize(id sender);

  NSResponder* firstResponder() const { return firstResponder_; }
  BOOL makeFirstResponder(NSResponder* responder);
  virtual void sendEvent(NSEvent* event);
  NSPoint convertBaseToScreen(NSPoint point) const;
  NSPoint convertScreenToBase(NSPoint point) const;
  NSPoint mouseLocationOutsideOfEventStream() const;
  void keyDown(NSEvent* event) override;
  // Draws what needs it now (the application draws at each turn of its run loop).
  void display();
  void displayIfNeeded();
  void update();
  void setViewsNeedDisplay(BOOL flag);
  // The title bar's buttons (close, minimise, zoom): NSButtons the window owns, whose target and action
  // stand for the window's own when set.
  NSButton* standardWindowButton(NSWindowButton which);
  NSToolbar* toolbar() const { return toolbar_; }
  void setToolbar(NSToolbar* toolbar);
  NSInteger windowNumber() const;
  const char* className() const override { return "NSWindow"; }

  // Our helpers.
  void NoteNeedsDisplay(NSRect rectInWindow);
  uint64_t SurfaceId() const { return surface_; }
  // What the window's pixels show now, whole (title bar included), top row first.
  bool Snapshot(tavrin::draw::Surface& image);
  // A view leaving the window stops taking the mouse (the window lets go of it).
  void ForgetMouseTarget(NSView* leaving);
  // The role the automation protocol lists ("window", "panel", "menu").
  virtual std::string Role() const { return "window"; }
  // A pop-up above everything: no title bar, shown without a window manager's frame.
  bool IsPopup() const { return style_ == NSBorderlessWindowMask; }

 protected:
  void dealloc() override;
  // The height the frame holds above the content (title bar, toolbar).
  CGFloat TopHeight() const;
  void DrawFrame();

 private:
  void Show(bool front);
  void Hide();
  void Mirror();
  void Render();
  void HandleTitleBar(NSEvent* event, NSPoint at);
  void ClickCloseButton();
  void LayoutContent();

  NSRect frame_{};
  NSUInteger style_ = NSTitledWindowMask;
  NSView* contentView_ = nullptr;  // retained
  NSButton* titleButtons_[3] = {};  // made on request
  NSString* title_ = nullptr;
  NSColor* background_ = nullptr;
  NSToolbar* toolbar_ = nullptr;  // retained
  NSInteger level_ = NSNormalWindowLevel;
  CGFloat alpha_ = 1;
  bool opaque_ = true, shadow_ = true, mouseMoved_ = false, ignoresMouse_ = false, releasedWhenClosed_ = true;
  bool canHide_ = true, visible_ = false, closing_ = false, gone_ = false;
  NSWindowDelegate* delegate_ = nullptr;
  NSResponder* firstResponder_ = nullptr;
  NSView* mouseTarget_ = nullptr;
  uint64_t surface_ = 0;  // the core's surface while the window exists
  tavrin::draw::Region shape_;  // a see-through window's drawn part, which its shadow follows
  bool dirty_ = true, displayQueued_ = false;
  NSRect dirtyRect_{};
  NSPoint dragFrom_{};
  bool draggingTitle_ = false;
  int titleButtonDown_ = -1;
};

enum NSImageScaling { NSScaleProportionally = 0, NSScaleToFit = 1, NSScaleNone = 2 };

// Shows a picture, centred; larger pictures scale down (proportionally unless told otherwise).
class NSImageView : public NSView {
 public:
  NSImageView* initWithFrame(NSRect frame) {
    NSView::initWithFrame(frame);
    return this;
  }
  NSImage* image() const { return image_; }
  void setImage(NSImage* image);
  void setImageScaling(NSImageScaling scaling);
  NSImageScaling imageScaling() const { return scaling_; }
  void drawRect(NSRect dirty) override;
  const char* className() const override { return "NSImageView"; }

 protected:
  void dealloc() override;

 private:
  NSImage* image_ = nullptr;
  NSImageScaling scaling_ = NSScaleProportionally;
};

#include "cocoa/AppKitControls.h"  // IWYU pragma: export
