// TavrinMac's own widgets: the borderless start-up window and its oval face, the device tree with its
// right-click menu, and the password field of the unlock window.
#pragma once
#include <functional>

#include "cocoa/AppKit.h"

// The start-up window: borderless, clear, above the other windows, dragged by any point of it; a mouse
// movement over it closes it.
class CustomWindow : public NSWindow {
 public:
  // The style and deferral given are ignored: the window is always borderless and buffered.
  CustomWindow* initWithContentRect_styleMask_backing_defer(NSRect content, NSUInteger style,
                                                            NSBackingStoreType backing, BOOL defer);
  void mouseDown(NSEvent* event) override;
  void mouseDragged(NSEvent* event) override;
  void mouseMoved(NSEvent* event) override;
  void close() override;
  NSPoint initialLocation() const { return initialLocation_; }
  const char* className() const override { return "CustomWindow"; }

 private:
  NSPoint initialLocation_{};  // where, from the window's origin, the mouse went down
};

// The start-up window's face: an orange ring, the inner oval in its colour, "Pelko" in the middle.
class CustomView : public NSView {
 public:
  CustomView* initWithFrame(NSRect frame);
  void drawRect(NSRect dirty) override;
  NSColor* innerColor() const { return innerColor_; }
  void setInnerColor(NSColor* colour);
  // The colour panel's action: the inner oval takes the panel's colour.
  void changeColor(NSObject* sender);
  NSBezierPath* outside() const { return outside_; }
  NSBezierPath* inside() const { return inside_; }
  NSMutableAttributedString* word() const { return word_; }
  NSButton* okButton = nullptr;  // outlet of the window definition; the view does not use it
  const char* className() const override { return "CustomView"; }

 protected:
  void dealloc() override;

 private:
  NSBezierPath* outside_ = nullptr;  // the outer oval with the inner one in it: a ring
  NSBezierPath* inside_ = nullptr;
  NSColor* innerColor_ = nullptr;
  NSMutableAttributedString* word_ = nullptr;
};

// What a right click on a device row asks of the controller: the device's driver slot and the action rule
// applied to it, then whether its menu offers Connect and Disconnect.
class TavrinOutlineMenuDelegate {
 public:
  virtual ~TavrinOutlineMenuDelegate() = default;
  // The device of the item: false when the item is no device with a record.
  virtual bool ApplyDeviceRule(id item) = 0;
  virtual bool CanConnect() = 0;
  virtual bool CanDisconnect() = 0;
};

// The device tree: reloads asked for during a reload run once after it; the right-click menu selects its
// row and shows Connect (tag 0) and Disconnect (tag 1) as the device's state allows.
class TavrinOutlineView : public NSOutlineView {
 public:
  TavrinOutlineView* initWithFrame(NSRect frame) {
    NSOutlineView::initWithFrame(frame);
    return this;
  }
  void awakeFromNib() override { myIsReloading_ = false; }
  void reloadData() override;
  void rightMouseDown(NSEvent* event) override;
  // No menu for the system's own contextual handling: the menu comes only from rightMouseDown.
  NSMenu* menuForEvent(NSEvent*) override { return nullptr; }
  int columnIndexWithMenu() const { return columnIndexWithMenu_; }
  void setColumnIndexWithMenu(int column) { columnIndexWithMenu_ = column; }
  int menuActionRow() const { return menuActionRow_; }
  int menuActionColumn() const { return menuActionColumn_; }
  void setMenuDelegate(TavrinOutlineMenuDelegate* delegate) { menuDelegate_ = delegate; }
  // How many reloads ran (tests see deferred reloads run once).
  int reloads() const { return reloads_; }
  const char* className() const override { return "TavrinOutlineView"; }

 private:
  bool myIsReloading_ = false;
  bool reloadQueued_ = false;
  int columnIndexWithMenu_ = 0;
  int menuActionRow_ = -1;
  int menuActionColumn_ = -1;
  int reloads_ = 0;
  TavrinOutlineMenuDelegate* menuDelegate_ = nullptr;
};

// The unlock window's password field: OK is enabled while the text holds more than white space.
class MySecureTextField : public NSSecureTextField {
 public:
  MySecureTextField* initWithFrame(NSRect frame) {
    NSSecureTextField::initWithFrame(frame);
    return this;
  }
  void textDidChange(NSNotification* notification) override;
  // The button it enables (the unlock window's OK); by default the server manager's word is taken.
  void setOkButton(NSButton* button) { okButton_ = button; }
  const char* className() const override { return "MySecureTextField"; }

 private:
  NSButton* okButton_ = nullptr;  // not retained: a control of the same window
};
