// AppKit's controls, tables, menus, toolbars and panels (part of cocoa/AppKit.h).
//
// Target and action: an action is a member function of the target's class taking the sender, made a
// value with `selector` (`@selector(showDevice:)` is `selector(&TavrinApp::showDevice)`). Data sources and
// delegates are C++ interfaces the object implements beside NSObject; like the Mac's, they are not
// retained.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "cocoa/Foundation.h"
#include "cocoa/NSGeometry.h"

class NSControl;
class NSTableColumn;
class NSTableView;
class NSOutlineView;
class NSToolbarItem;
class NSMenuItem;
class NSText;

// A selector as a value: calls the member function on a target of its class (nothing for another).
class SEL {
 public:
  SEL() = default;
  explicit SEL(std::function<bool(id target, id sender)> call) : call_(std::move(call)) {}
  explicit operator bool() const { return static_cast<bool>(call_); }
  // Whether the target took the message.
  bool Send(id target, id sender) const { return call_ && target && call_(target, sender); }

 private:
  std::function<bool(id, id)> call_;
};

template <class T, class S>
SEL selector(void (T::*method)(S*)) {
  return SEL([method](id target, id sender) {
    T* object = dynamic_cast<T*>(target);
    if (!object) return false;
    (object->*method)(static_cast<S*>(sender));
    return true;
  });
}

enum NSTextAlignment { NSLeftTextAlignment = 0, NSRightTextAlignment = 1, NSCenterTextAlignment = 2 };
enum : NSInteger { NSOffState = 0, NSOnState = 1, NSMixedState = -1 };

// What a cell shows: text (or a picture) in a font, colour and alignment. Table columns draw their
// cells' values with them.
class NSCell : public NSObject {
 public:
  NSCell* init() { return this; }
  NSCell* initTextCell(NSString* text);
  NSString* stringValue() const { return text_; }
  void setStringValue(NSString* text);
  id objectValue() const { return object_ ? object_ : text_; }
  void setObjectValue(id value);
  NSFont* font() const { return font_; }
  void setFont(NSFont* font);
  NSTextAlignment alignment() const { return alignment_; }
  void setAlignment(NSTextAlignment alignment) { alignment_ = alignment; }
  NSImage* image() const { return image_; }
  void setImage(NSImage* image);
  BOOL isEnabled() const { return enabled_ ? YES : NO; }
  void setEnabled(BOOL enabled) { enabled_ = enabled; }
  BOOL isEditable() const { return editable_ ? YES : NO; }
  void setEditable(BOOL editable) { editable_ = editable; }
  NSInteger state() const { return state_; }
  void setState(NSInteger state) { state_ = state; }
  NSInteger tag() const { return tag_; }
  void setTag(NSInteger tag) { tag_ = tag; }
  // Draws the value in the frame of the view being drawn.
  virtual void drawWithFrame_inView(NSRect frame, NSView* view);
  const char* className() const override { return "NSCell"; }

 protected:
  void dealloc() override;

 private:
  NSString* text_ = nullptr;
  id object_ = nullptr;
  NSFont* font_ = nullptr;
  NSImage* image_ = nullptr;
  NSTextAlignment alignment_ = NSLeftTextAlignment;
  bool enabled_ = true, editable_ = false;
  NSInteger state_ = NSOffState, tag_ = 0;
};

class NSTextFieldCell : public NSCell {
 public:
  NSTextFieldCell* initTextCell(NSString* text) {
    NSCell::initTextCell(text);
    return this;
  }
  NSColor* textColor() const { return textColor_; }
  void setTextColor(NSColor* colour);
  NSColor* backgroundColor() const { return background_; }
  void setBackgroundColor(NSColor* colour);
  void setDrawsBackground(BOOL draws) { drawsBackground_ = draws; }
  void drawWithFrame_inView(NSRect frame, NSView* view) override;
  const char* className() const override { return "NSTextFieldCell"; }

 protected:
  void dealloc() override;

 private:
  NSColor* textColor_ = nullptr;
  NSColor* background_ = nullptr;
  bool drawsBackground_ = false;
};

// A view with a target and an action, its value kept in a cell.
class NSControl : public NSView {
 public:
  NSControl* initWithFrame(NSRect frame);
  NSCell* cell() const { return cell_; }
  void setCell(NSCell* cell);
  id target() const { return target_; }
  void setTarget(id target) { target_ = target; }
  const SEL& action() const { return action_; }
  void setAction(SEL action) { action_ = std::move(action); }
  // Sends the action to the target (the application's key window's responders are not searched).
  BOOL sendAction_to(const SEL& action, id target);
  virtual NSString* stringValue() const { return cell_->stringValue(); }
  virtual void setStringValue(NSString* text);
  id objectValue() const { return cell_->objectValue(); }
  void setObjectValue(id value);
  int intValue() const { return stringValue() ? stringValue()->intValue() : 0; }
  void setIntValue(int value);
  NSFont* font() const { return cell_->font(); }
  void setFont(NSFont* font);
  NSTextAlignment alignment() const { return cell_->alignment(); }
  void setAlignment(NSTextAlignment alignment);
  BOOL isEnabled() const { return cell_->isEnabled(); }
  virtual void setEnabled(BOOL enabled);
  NSInteger tag() const override { return cell_->tag(); }
  void setTag(NSInteger tag) { cell_->setTag(tag); }
  const char* className() const override { return "NSControl"; }

 protected:
  void dealloc() override;

 private:
  NSCell* cell_ = nullptr;  // owned
  id target_ = nullptr;     // not retained
  SEL action_;
};

enum NSButtonType { NSMomentaryPushInButton = 7, NSToggleButton = 2, NSSwitchButton = 3, NSRadioButton = 4,
                    NSPushOnPushOffButton = 1 };
enum NSBezelStyle { NSRoundedBezelStyle = 1, NSRegularSquareBezelStyle = 2, NSShadowlessSquareBezelStyle = 6 };

// A push button (rounded, the default one blue), a check box, a radio button, or a two-state button
// (the tab buttons); the action goes on release over the button.
class NSButton : public NSControl {
 public:
  NSButton* initWithFrame(NSRect frame);
  NSString* title() const { return stringValue(); }
  void setTitle(NSString* title) { setStringValue(title); }
  void setButtonType(NSButtonType type) { type_ = type; }
  void setBezelStyle(NSBezelStyle style) { bezel_ = style; }
  NSInteger state() const { return cell()->state(); }
  void setState(NSInteger state);
  void setImage(NSImage* image);
  NSImage* image() const { return cell()->image(); }
  void setKeyEquivalent(NSString* key);
  BOOL isHighlighted() const { return highlighted_ ? YES : NO; }
  void highlight(BOOL flag);
  // As a click: highlight, state change, action.
  void performClick(id sender);
  void drawRect(NSRect dirty) override;
  void mouseDown(NSEvent* event) override;
  void mouseDragged(NSEvent* event) override;
  void mouseUp(NSEvent* event) override;
  const char* className() const override { return "NSButton"; }

 private:
  NSButtonType type_ = NSMomentaryPushInButton;
  NSBezelStyle bezel_ = NSRoundedBezelStyle;
  bool highlighted_ = false, pressed_ = false, isDefault_ = false;
};

extern NSString* const NSControlTextDidChangeNotification;
extern NSString* const NSTextDidChangeNotification;

// Text being edited (the field editor of a text field, or a text view): its string.
class NSText : public NSView {
 public:
  NSString* string() const { return text_; }
  virtual void setString(NSString* text);
  const char* className() const override { return "NSText"; }

 protected:
  void dealloc() override;
  NSString* text_ = nullptr;
};

class NSTextFieldDelegate {
 public:
  virtual ~NSTextFieldDelegate() = default;
  virtual void controlTextDidChange(NSNotification*) {}
  virtual void controlTextDidEndEditing(NSNotification*) {}
};

// A label, or an editable field: a click puts the caret at the end, typed characters go in, Backspace
// takes the last one out, Return ends the editing (and sends the action). Each change sends
// textDidChange: to the field (with its field editor as the object) and tells the delegate.
class NSTextField : public NSControl {
 public:
  NSTextField* initWithFrame(NSRect frame);
  void setEditable(BOOL editable) { cell()->setEditable(editable); }
  BOOL isEditable() const { return cell()->isEditable(); }
  void setSelectable(BOOL) {}
  void setBezeled(BOOL bezeled) { bezeled_ = bezeled; }
  void setBordered(BOOL bordered) { bezeled_ = bordered; }
  void setDrawsBackground(BOOL draws) { drawsBackground_ = draws; }
  void setTextColor(NSColor* colour);
  NSColor* textColor() const { return textColor_; }
  void setBackgroundColor(NSColor* colour);
  void setDelegate(NSTextFieldDelegate* delegate) { delegate_ = delegate; }
  NSTextFieldDelegate* delegate() const { return delegate_; }
  // The field editor while the field is edited (null otherwise).
  NSText* currentEditor() const { return editing_ ? editor_ : nullptr; }
  void selectText(id sender);
  virtual void textDidChange(NSNotification* notification);
  void setStringValue(NSString* text) override;
  void drawRect(NSRect dirty) override;
  void mouseDown(NSEvent* event) override;
  void keyDown(NSEvent* event) override;
  BOOL acceptsFirstResponder() override { return isEditable() && isEnabled(); }
  BOOL becomeFirstResponder() override;
  BOOL resignFirstResponder() override;
  const char* className() const override { return "NSTextField"; }

 protected:
  void dealloc() override;
  // What the field shows of its text (a secure field shows bullets).
  virtual std::string Shown(const std::string& text) const { return text; }

 private:
  NSText* editor_ = nullptr;  // owned
  NSColor* textColor_ = nullptr;
  NSColor* background_ = nullptr;
  NSTextFieldDelegate* delegate_ = nullptr;
  bool bezeled_ = true, drawsBackground_ = true, editing_ = false;
};

class NSSecureTextField : public NSTextField {
 public:
  NSSecureTextField* initWithFrame(NSRect frame) {
    NSTextField::initWithFrame(frame);
    return this;
  }
  const char* className() const override { return "NSSecureTextField"; }

 protected:
  std::string Shown(const std::string& text) const override;
};

// Several lines of text, scrolled by its scroll view; editable by keys as a field is.
class NSTextView : public NSText {
 public:
  NSTextView* initWithFrame(NSRect frame);
  void setString(NSString* text) override;
  void setEditable(BOOL editable) { editable_ = editable; }
  BOOL isEditable() const { return editable_ ? YES : NO; }
  void setSelectable(BOOL) {}
  void setFont(NSFont* font);
  void setTextColor(NSColor* colour);
  void insertText(NSString* text);
  void scrollRangeToVisible(NSRange range);
  BOOL isFlipped() const override { return YES; }
  void drawRect(NSRect dirty) override;
  void keyDown(NSEvent* event) override;
  BOOL acceptsFirstResponder() override { return editable_ ? YES : NO; }
  const char* className() const override { return "NSTextView"; }

 protected:
  void dealloc() override;

 private:
  void Fit();
  NSFont* font_ = nullptr;
  NSColor* colour_ = nullptr;
  bool editable_ = true;
};

// Shows part of its document view, with a vertical scroller at the right when the document is taller.
class NSScrollView : public NSView {
 public:
  NSScrollView* initWithFrame(NSRect frame);
  NSView* documentView() const { return document_; }
  void setDocumentView(NSView* view);
  void setHasVerticalScroller(BOOL has) { vertical_ = has; }
  void setHasHorizontalScroller(BOOL) {}
  void setBorderType(NSInteger) {}
  NSSize contentSize() const;
  // The document's point at the top-left of what shows (document coordinates, flipped documents).
  NSPoint scrollOffset() const { return offset_; }
  void scrollToPoint(NSPoint offset);
  // Scrolls so that the rectangle of the document shows.
  void scrollRectToVisible(NSRect rectInDocument);
  void drawRect(NSRect dirty) override;
  void mouseDown(NSEvent* event) override;
  void mouseDragged(NSEvent* event) override;
  void tile();
  const char* className() const override { return "NSScrollView"; }

 protected:
  void dealloc() override;

 private:
  NSRect ScrollerRect() const;
  NSRect KnobRect() const;
  NSView* clip_ = nullptr;      // owned: the clip view holding the document
  NSView* document_ = nullptr;  // retained
  NSPoint offset_{};
  bool vertical_ = true;
  CGFloat grabbedAt_ = -1;
};

// ---- tables and outlines

class NSTableColumn : public NSObject {
 public:
  NSTableColumn* initWithIdentifier(id identifier);
  id identifier() const { return identifier_; }
  void setIdentifier(id identifier);
  CGFloat width() const { return width_; }
  void setWidth(CGFloat width) { width_ = width; }
  NSCell* headerCell() const { return header_; }
  NSCell* dataCell() const { return dataCell_; }
  void setDataCell(NSCell* cell);
  void setEditable(BOOL editable) { editable_ = editable; }
  BOOL isEditable() const { return editable_ ? YES : NO; }
  NSTableView* tableView() const { return table_; }
  void SetTable(NSTableView* table) { table_ = table; }  // our helper
  const char* className() const override { return "NSTableColumn"; }

 protected:
  void dealloc() override;

 private:
  id identifier_ = nullptr;
  NSCell* header_ = nullptr;
  NSCell* dataCell_ = nullptr;
  CGFloat width_ = 100;
  bool editable_ = false;
  NSTableView* table_ = nullptr;
};

class NSTableViewDataSource {
 public:
  virtual ~NSTableViewDataSource() = default;
  virtual NSInteger numberOfRowsInTableView(NSTableView* table) = 0;
  virtual id tableView_objectValueForTableColumn_row(NSTableView* table, NSTableColumn* column, NSInteger row) = 0;
  virtual void tableView_setObjectValue_forTableColumn_row(NSTableView*, id, NSTableColumn*, NSInteger) {}
};

extern NSString* const NSTableViewSelectionDidChangeNotification;
extern NSString* const NSOutlineViewSelectionDidChangeNotification;

// Rows of cells under a header of column titles, in a scroll view. Values are the data source's, asked
// as rows show: a string, a number (its text), a picture, or a cell that draws itself.
class NSTableView : public NSControl {
 public:
  NSTableView* initWithFrame(NSRect frame);
  void addTableColumn(NSTableColumn* column);
  void removeTableColumn(NSTableColumn* column);
  NSArray* tableColumns();  // autoreleased
  NSTableColumn* tableColumnWithIdentifier(id identifier) const;
  NSInteger columnWithIdentifier(id identifier) const;
  NSTableViewDataSource* dataSource() const { return tableSource_; }
  void setDataSource(NSTableViewDataSource* source);
  virtual void reloadData();
  virtual NSInteger numberOfRows() const { return rows_; }
  NSInteger numberOfColumns() const { return static_cast<NSInteger>(columns_.size()); }
  CGFloat rowHeight() const { return rowHeight_; }
  void setRowHeight(CGFloat height);
  void setHeaderHidden(BOOL hidden);
  void setUsesAlternatingRowBackgroundColors(BOOL uses) { alternating_ = uses; }
  void setDoubleAction(SEL action) { doubleAction_ = std::move(action); }
  void setAllowsMultipleSelection(BOOL) {}
  void setAllowsEmptySelection(BOOL allows) { allowsEmpty_ = allows; }

  NSInteger selectedRow() const { return selected_; }
  NSInteger numberOfSelectedRows() const { return selected_ >= 0 ? 1 : 0; }
  // Selects the row alone (-1: none); posts the selection notification when the selection changed.
  void selectRow_byExtendingSelection(NSInteger row, BOOL extend);
  void deselectAll(id sender);
  BOOL isRowSelected(NSInteger row) const { return row >= 0 && row == selected_ ? YES : NO; }
  // The row and column of the last click (-1 for none).
  NSInteger clickedRow() const { return clickedRow_; }
  NSInteger clickedColumn() const { return clickedColumn_; }
  // The row or column at a point of the table (-1 when none).
  NSInteger rowAtPoint(NSPoint point) const;
  NSInteger columnAtPoint(NSPoint point) const;
  NSRect rectOfRow(NSInteger row) const;
  NSRect rectOfColumn(NSInteger column) const;
  void scrollRowToVisible(NSInteger row);
  void noteNumberOfRowsChanged() { reloadData(); }

  BOOL isFlipped() const override { return YES; }
  void drawRect(NSRect dirty) override;
  void mouseDown(NSEvent* event) override;
  void rightMouseDown(NSEvent* event) override;
  void keyDown(NSEvent* event) override;
  BOOL acceptsFirstResponder() override { return YES; }
  const char* className() const override { return "NSTableView"; }

  // Our helpers for the outline view: the value of a cell, the indent of a row, and the notification.
  virtual id ValueAt(NSTableColumn* column, NSInteger row);
  virtual CGFloat IndentOf(NSInteger) const { return 0; }
  virtual void DrawDisclosure(NSInteger, NSRect) {}
  virtual bool ClickDisclosure(NSInteger, NSPoint) { return false; }
  virtual NSString* SelectionNotification() const { return NSTableViewSelectionDidChangeNotification; }
  CGFloat HeaderHeight() const { return headerHidden_ ? 0 : kHeaderHeight; }
  // A new row for the same selection after the rows moved: no notification.
  void SetSelectionQuietly(NSInteger row) { selected_ = row; }

 protected:
  void dealloc() override;
  void Resize();
  void TakeClick(NSEvent* event);
  static constexpr CGFloat kHeaderHeight = 17;

 private:
  std::vector<NSTableColumn*> columns_;  // retained
  NSTableViewDataSource* tableSource_ = nullptr;
  NSInteger rows_ = 0, selected_ = -1, clickedRow_ = -1, clickedColumn_ = -1;
  CGFloat rowHeight_ = 18;
  bool headerHidden_ = false, alternating_ = false, allowsEmpty_ = true;
  SEL doubleAction_;
};

class NSOutlineViewDataSource {
 public:
  virtual ~NSOutlineViewDataSource() = default;
  // `item` null is the root.
  virtual id outlineView_child_ofItem(NSOutlineView* outline, NSInteger index, id item) = 0;
  virtual BOOL outlineView_isItemExpandable(NSOutlineView* outline, id item) = 0;
  virtual NSInteger outlineView_numberOfChildrenOfItem(NSOutlineView* outline, id item) = 0;
  virtual id outlineView_objectValueForTableColumn_byItem(NSOutlineView* outline, NSTableColumn* column, id item) = 0;
  virtual void outlineView_setObjectValue_forTableColumn_byItem(NSOutlineView*, id, NSTableColumn*, id) {}
  virtual BOOL outlineView_shouldCollapseItem(NSOutlineView*, id) { return YES; }
};

// A table of items in a tree: the first column indents each row by its level and shows a disclosure
// triangle for items that expand. Items are the data source's objects (retained while shown).
class NSOutlineView : public NSTableView {
 public:
  NSOutlineView* initWithFrame(NSRect frame) {
    NSTableView::initWithFrame(frame);
    return this;
  }
  NSOutlineViewDataSource* outlineSource() const { return outlineSource_; }
  void setDataSource(NSOutlineViewDataSource* source);
  void reloadData() override;
  NSInteger numberOfRows() const override { return static_cast<NSInteger>(flat_.size()); }
  void reloadItem(id item) { (void)item; reloadData(); }
  void expandItem(id item);
  void expandItem_expandChildren(id item, BOOL children);
  void collapseItem(id item);
  BOOL isItemExpanded(id item) const;
  id itemAtRow(NSInteger row) const;
  NSInteger rowForItem(id item) const;
  NSInteger levelForRow(NSInteger row) const;
  NSInteger levelForItem(id item) const { return levelForRow(rowForItem(item)); }
  void setIndentationPerLevel(CGFloat indent) { indent_ = indent; }
  void setOutlineTableColumn(NSTableColumn* column) { outlineColumn_ = column; }
  const char* className() const override { return "NSOutlineView"; }

  id ValueAt(NSTableColumn* column, NSInteger row) override;
  CGFloat IndentOf(NSInteger row) const override;
  void DrawDisclosure(NSInteger row, NSRect cell) override;
  bool ClickDisclosure(NSInteger row, NSPoint at) override;
  NSString* SelectionNotification() const override { return NSOutlineViewSelectionDidChangeNotification; }

 protected:
  void dealloc() override;

 private:
  struct Row {
    id item;
    NSInteger level;
    bool expandable;
  };
  void Build(id parent, NSInteger level);
  void ClearRows();
  NSOutlineViewDataSource* outlineSource_ = nullptr;
  std::vector<Row> flat_;
  NSMutableArray* expanded_ = nullptr;  // the items shown expanded
  NSTableColumn* outlineColumn_ = nullptr;
  CGFloat indent_ = 16;
};

// ---- menus

class NSMenuValidation {
 public:
  virtual ~NSMenuValidation() = default;
  virtual BOOL validateMenuItem(NSMenuItem* item) = 0;
};

class NSMenuItem : public NSObject {
 public:
  static NSMenuItem* separatorItem();  // autoreleased
  NSMenuItem* initWithTitle_action_keyEquivalent(NSString* title, SEL action, NSString* key);
  NSString* title() const { return title_; }
  void setTitle(NSString* title);
  void setTitleWithMnemonic(NSString* title);  // '&' marks are taken out
  id target() const { return target_; }
  void setTarget(id target) { target_ = target; }
  const SEL& action() const { return action_; }
  void setAction(SEL action) { action_ = std::move(action); }
  NSInteger tag() const { return tag_; }
  void setTag(NSInteger tag) { tag_ = tag; }
  BOOL isEnabled() const { return enabled_ ? YES : NO; }
  void setEnabled(BOOL enabled) { enabled_ = enabled; }
  NSImage* image() const { return image_; }
  void setImage(NSImage* image);
  NSInteger state() const { return state_; }
  void setState(NSInteger state) { state_ = state; }
  NSMenu* submenu() const { return submenu_; }
  void setSubmenu(NSMenu* menu);
  BOOL hasSubmenu() const { return submenu_ ? YES : NO; }
  BOOL isSeparatorItem() const { return separator_ ? YES : NO; }
  NSMenu* menu() const { return menu_; }
  void SetMenu(NSMenu* menu) { menu_ = menu; }  // our helper
  const char* className() const override { return "NSMenuItem"; }

 protected:
  void dealloc() override;

 private:
  NSString* title_ = nullptr;
  id target_ = nullptr;
  SEL action_;
  NSInteger tag_ = 0, state_ = NSOffState;
  bool enabled_ = true, separator_ = false;
  NSImage* image_ = nullptr;
  NSMenu* submenu_ = nullptr;
  NSMenu* menu_ = nullptr;
};

class NSMenu : public NSObject {
 public:
  NSMenu* initWithTitle(NSString* title);
  NSMenu* init() { return initWithTitle(nullptr); }
  NSString* title() const { return title_; }
  void addItem(NSMenuItem* item);
  NSMenuItem* addItemWithTitle_action_keyEquivalent(NSString* title, SEL action, NSString* key);
  void insertItem_atIndex(NSMenuItem* item, NSInteger index);
  void removeItem(NSMenuItem* item);
  void removeItemAtIndex(NSInteger index);
  NSArray* itemArray();  // autoreleased
  NSInteger numberOfItems() const { return static_cast<NSInteger>(items_.size()); }
  NSMenuItem* itemAtIndex(NSInteger index) const;
  NSMenuItem* itemWithTag(NSInteger tag) const;
  NSMenuItem* itemWithTitle(NSString* title) const;
  NSInteger indexOfItem(NSMenuItem* item) const;
  void setAutoenablesItems(BOOL autoenables) { autoenables_ = autoenables; }
  BOOL autoenablesItems() const { return autoenables_ ? YES : NO; }
  // Whether the item can be chosen now: its own flag, or, when the menu enables its items, whether it
  // has an action its target validates.
  bool ItemEnabled(NSMenuItem* item) const;
  // Shows the menu at the event's place and runs until an item is chosen (its action sent) or the menu
  // is dismissed (a click outside, Escape).
  static void popUpContextMenu_withEvent_forView(NSMenu* menu, NSEvent* event, NSView* view);
  // Our helper: the menu shown by a pop-up now (null when none), for tests and automation.
  static NSWindow* ShownMenuWindow();
  const char* className() const override { return "NSMenu"; }

 protected:
  void dealloc() override;

 private:
  NSString* title_ = nullptr;
  std::vector<NSMenuItem*> items_;  // retained
  bool autoenables_ = true;
};

// ---- toolbars

extern NSString* const NSToolbarSeparatorItemIdentifier;
extern NSString* const NSToolbarSpaceItemIdentifier;
extern NSString* const NSToolbarFlexibleSpaceItemIdentifier;
extern NSString* const NSToolbarShowColorsItemIdentifier;

class NSToolbarDelegate {
 public:
  virtual ~NSToolbarDelegate() = default;
  virtual NSToolbarItem* toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(class NSToolbar* toolbar,
                                                                                NSString* identifier, BOOL insert) = 0;
  virtual NSArray* toolbarDefaultItemIdentifiers(NSToolbar* toolbar) = 0;
  virtual NSArray* toolbarAllowedItemIdentifiers(NSToolbar* toolbar) = 0;
};

// What a toolbar item's target answers to keep it enabled.
class NSToolbarItemValidation {
 public:
  virtual ~NSToolbarItemValidation() = default;
  virtual BOOL validateToolbarItem(NSToolbarItem* item) = 0;
};

class NSToolbarItem : public NSObject {
 public:
  NSToolbarItem* initWithItemIdentifier(NSString* identifier);
  NSString* itemIdentifier() const { return identifier_; }
  NSString* label() const { return label_; }
  void setLabel(NSString* label);
  NSString* paletteLabel() const { return paletteLabel_; }
  void setPaletteLabel(NSString* label);
  void setToolTip(NSString*) {}
  NSImage* image() const { return image_; }
  void setImage(NSImage* image);
  id target() const { return target_; }
  void setTarget(id target) { target_ = target; }
  const SEL& action() const { return action_; }
  void setAction(SEL action) { action_ = std::move(action); }
  BOOL isEnabled() const { return enabled_ ? YES : NO; }
  void setEnabled(BOOL enabled) { enabled_ = enabled; }
  NSInteger tag() const { return tag_; }
  void setTag(NSInteger tag) { tag_ = tag; }
  // Asks the target (when it validates) whether the item is enabled.
  void validate();
  const char* className() const override { return "NSToolbarItem"; }

 protected:
  void dealloc() override;

 private:
  NSString* identifier_ = nullptr;
  NSString* label_ = nullptr;
  NSString* paletteLabel_ = nullptr;
  NSImage* image_ = nullptr;
  id target_ = nullptr;
  SEL action_;
  bool enabled_ = true;
  NSInteger tag_ = 0;
};

// A row of items under a window's title bar, made by the delegate from its default identifiers when the
// toolbar goes on a window; items are validated as the window updates and before a click takes them.
class NSToolbar : public NSObject {
 public:
  NSToolbar* initWithIdentifier(NSString* identifier);
  NSString* identifier() const { return identifier_; }
  void setDelegate(NSToolbarDelegate* delegate) { delegate_ = delegate; }
  NSToolbarDelegate* delegate() const { return delegate_; }
  void setAllowsUserCustomization(BOOL) {}
  void setAutosavesConfiguration(BOOL) {}
  void setDisplayMode(NSInteger) {}
  BOOL isVisible() const { return visible_ ? YES : NO; }
  void setVisible(BOOL visible) { visible_ = visible; }
  NSArray* items();  // autoreleased
  void validateVisibleItems();
  const char* className() const override { return "NSToolbar"; }

  // Our helpers: the items made on first need, their places, and a click.
  void MakeItems();
  NSRect ItemRect(size_t index, CGFloat width) const;
  void Draw(NSRect area);
  bool Click(NSPoint inBar, CGFloat width);
  static constexpr CGFloat kHeight = 56;

 protected:
  void dealloc() override;

 private:
  NSString* identifier_ = nullptr;
  NSToolbarDelegate* delegate_ = nullptr;
  std::vector<NSToolbarItem*> items_;  // retained
  bool made_ = false, visible_ = true;
};

// ---- other controls

enum NSProgressIndicatorStyle { NSProgressIndicatorBarStyle = 0, NSProgressIndicatorSpinningStyle = 1 };

class NSProgressIndicator : public NSView {
 public:
  NSProgressIndicator* initWithFrame(NSRect frame) {
    NSView::initWithFrame(frame);
    return this;
  }
  void startAnimation(id sender);
  void stopAnimation(id sender);
  BOOL isAnimating() const { return animating_ ? YES : NO; }
  void setIndeterminate(BOOL indeterminate);
  BOOL isIndeterminate() const { return indeterminate_ ? YES : NO; }
  double doubleValue() const { return value_; }
  void setDoubleValue(double value);
  void setMinValue(double value) { min_ = value; }
  void setMaxValue(double value) { max_ = value; }
  void setStyle(NSProgressIndicatorStyle style) { style_ = style; }
  void setDisplayedWhenStopped(BOOL displayed);
  void setUsesThreadedAnimation(BOOL) {}
  void drawRect(NSRect dirty) override;
  const char* className() const override { return "NSProgressIndicator"; }

 protected:
  void dealloc() override;

 private:
  void Tick(NSTimer* timer);
  NSTimer* timer_ = nullptr;  // retained while animating
  bool animating_ = false, indeterminate_ = true, displayedWhenStopped_ = true;
  double value_ = 0, min_ = 0, max_ = 100;
  int phase_ = 0;
  NSProgressIndicatorStyle style_ = NSProgressIndicatorBarStyle;
};

class NSTabView;

class NSTabViewItem : public NSObject {
 public:
  NSTabViewItem* initWithIdentifier(id identifier);
  id identifier() const { return identifier_; }
  NSString* label() const { return label_; }
  void setLabel(NSString* label);
  NSView* view() const { return view_; }
  void setView(NSView* view);
  NSTabView* tabView() const { return tabView_; }
  void SetTabView(NSTabView* tabView) { tabView_ = tabView; }  // our helper
  const char* className() const override { return "NSTabViewItem"; }

 protected:
  void dealloc() override;

 private:
  id identifier_ = nullptr;
  NSString* label_ = nullptr;
  NSView* view_ = nullptr;
  NSTabView* tabView_ = nullptr;
};

enum NSTabViewType { NSTopTabsBezelBorder = 0, NSNoTabsBezelBorder = 4, NSNoTabsNoBorder = 6 };

// Tabs along the top (unless the type has none) over the selected item's view.
class NSTabView : public NSView {
 public:
  NSTabView* initWithFrame(NSRect frame) {
    NSView::initWithFrame(frame);
    return this;
  }
  void addTabViewItem(NSTabViewItem* item);
  void removeTabViewItem(NSTabViewItem* item);
  NSInteger numberOfTabViewItems() const { return static_cast<NSInteger>(items_.size()); }
  NSTabViewItem* tabViewItemAtIndex(NSInteger index) const;
  NSInteger indexOfTabViewItemWithIdentifier(id identifier) const;
  NSTabViewItem* selectedTabViewItem() const { return selected_; }
  void selectTabViewItem(NSTabViewItem* item);
  void selectTabViewItemAtIndex(NSInteger index);
  void selectTabViewItemWithIdentifier(id identifier);
  void setTabViewType(NSTabViewType type);
  NSTabViewType tabViewType() const { return type_; }
  NSRect contentRect() const;
  void drawRect(NSRect dirty) override;
  void mouseDown(NSEvent* event) override;
  const char* className() const override { return "NSTabView"; }

 protected:
  void dealloc() override;

 private:
  NSRect TabRect(size_t index) const;
  std::vector<NSTabViewItem*> items_;  // retained
  NSTabViewItem* selected_ = nullptr;
  NSTabViewType type_ = NSTopTabsBezelBorder;
};

// A text field with a list of values to choose from under its arrow button.
class NSComboBox : public NSTextField {
 public:
  NSComboBox* initWithFrame(NSRect frame) {
    NSTextField::initWithFrame(frame);
    return this;
  }
  void addItemWithObjectValue(id value);
  void addItemsWithObjectValues(NSArray* values);
  void removeAllItems();
  NSInteger numberOfItems() const;
  id itemObjectValueAtIndex(NSInteger index) const;
  void selectItemAtIndex(NSInteger index);
  NSInteger indexOfSelectedItem() const { return selected_; }
  id objectValueOfSelectedItem() const;
  void drawRect(NSRect dirty) override;
  void mouseDown(NSEvent* event) override;
  const char* className() const override { return "NSComboBox"; }

 protected:
  void dealloc() override;

 private:
  void Choose(NSMenuItem* item);
  NSMutableArray* values_ = nullptr;
  NSInteger selected_ = -1;
};

// ---- panels

enum : NSInteger { NSAlertDefaultReturn = 1, NSAlertAlternateReturn = 0, NSAlertOtherReturn = -1 };

// A modal alert with up to three buttons; from any thread (a worker's is shown and answered on the main
// thread, the worker waiting). Answers the button clicked.
NSInteger NSRunAlertPanel(NSString* title, NSString* message, NSString* defaultButton, NSString* alternateButton,
                          NSString* otherButton, ...);

enum : NSInteger { NSFileHandlingPanelCancelButton = 0, NSFileHandlingPanelOKButton = 1 };
enum : NSInteger { NSCancelButton = 0, NSOKButton = 1 };

// Asks for a file to save (NSOpenPanel: to open). A sink set by a test answers first; on a display the
// panel asks for the file's path (a folder and a name); without either it is cancelled.
class NSSavePanel : public NSWindow {
 public:
  static NSSavePanel* savePanel();  // autoreleased
  void setTitle(NSString* title) { NSWindow::setTitle(title); }
  void setCanCreateDirectories(BOOL can) { canCreateDirectories_ = can; }
  void setAllowedFileTypes(NSArray* types);
  void setRequiredFileType(NSString* type);
  void setDirectory(NSString* path);
  NSInteger runModal();
  NSInteger runModalForDirectory_file(NSString* directory, NSString* file);
  NSString* filename() const { return filename_; }
  std::string Role() const override { return "dialog"; }
  const char* className() const override { return "NSSavePanel"; }

 protected:
  void dealloc() override;
  NSInteger Run(NSString* directory, NSString* file, bool opening);
  NSString* filename_ = nullptr;
  NSString* directory_ = nullptr;
  std::vector<std::string> types_;
  bool canCreateDirectories_ = true;
};

class NSOpenPanel : public NSSavePanel {
 public:
  static NSOpenPanel* openPanel();  // autoreleased
  void setCanChooseFiles(BOOL) {}
  void setCanChooseDirectories(BOOL) {}
  void setAllowsMultipleSelection(BOOL) {}
  NSInteger runModalForDirectory_file_types(NSString* directory, NSString* file, NSArray* types);
  NSArray* filenames() const;  // autoreleased
  const char* className() const override { return "NSOpenPanel"; }
};

// The colour panel: one shared floating panel, a grid of colour swatches over the chosen colour's well.
// A click on a swatch makes it the colour and sends the panel's action to its target at once (as a
// continuous control does); the toolbar's Show Colors item and orderFrontColorPanel: show it.
class NSColorPanel : public NSWindow {
 public:
  static NSColorPanel* sharedColorPanel();
  static BOOL sharedColorPanelExists();
  NSColor* color() const { return colour_; }
  void setColor(NSColor* colour);
  void setTarget(id target) { target_ = target; }
  void setAction(SEL action) { action_ = std::move(action); }
  void setContinuous(BOOL) {}
  void setShowsAlpha(BOOL) {}
  std::string Role() const override { return "panel"; }
  const char* className() const override { return "NSColorPanel"; }

  // Our helpers: the swatches' colours (left to right, top to bottom), and a swatch chosen as a click does.
  static constexpr int kColumns = 8, kRows = 5;
  static uint32_t SwatchPixel(int index);
  void ChooseSwatch(int index);

 protected:
  void dealloc() override;

 private:
  NSColor* colour_ = nullptr;  // retained
  id target_ = nullptr;
  SEL action_;
};

namespace appkit {
// A test's answer to the save and open panels: true with the chosen Mac path, false to cancel.
using PanelSink = std::function<bool(bool opening, const std::string& title, std::string& path)>;
void SetPanelSink(PanelSink sink);
}  // namespace appkit
