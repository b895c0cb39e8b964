// Menus: items, pop-up menus tracked on the main run loop, the menu bar at the top of the screen, and
// the controls that open a list (combo boxes); tab views.
#include <cmath>

#include "appkit_internal.h"
#include "gui/desktop.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

namespace {

constexpr CGFloat kItemHeight = 20, kSeparatorHeight = 9, kMenuMinWidth = 120;

NSWindow* g_shownMenu = nullptr;

// The window of a pop-up menu: its items top to bottom, the one under the pointer highlighted. It keeps
// the pointer while it shows; a press outside it dismisses it, a release over an enabled item chooses.
class MenuWindow : public NSWindow {
 public:
  NSMenu* menu = nullptr;  // retained
  NSMenuItem* chosen = nullptr;
  bool done = false;
  NSInteger hover = -1;

  std::string Role() const override { return "menu"; }

  CGFloat ItemTop(NSInteger index) const {
    CGFloat y = 4;
    for (NSInteger i = 0; i < index; ++i) y += menu->itemAtIndex(i)->isSeparatorItem() ? kSeparatorHeight : kItemHeight;
    return y;
  }

  // The item under a point of the window (its own coordinates), or -1.
  NSInteger ItemAt(NSPoint at) const {
    const CGFloat fromTop = frame().size.height - at.y;
    if (at.x < 0 || at.x >= frame().size.width) return -1;
    for (NSInteger i = 0; i < menu->numberOfItems(); ++i) {
      const CGFloat top = ItemTop(i), height = menu->itemAtIndex(i)->isSeparatorItem() ? kSeparatorHeight : kItemHeight;
      if (fromTop >= top && fromTop < top + height) return i;
    }
    return -1;
  }

  void SetHover(NSInteger index) {
    if (index >= 0) {
      NSMenuItem* item = menu->itemAtIndex(index);
      if (item->isSeparatorItem() || !menu->ItemEnabled(item)) index = -1;
    }
    if (index == hover) return;
    hover = index;
    setViewsNeedDisplay(YES);
  }

  void sendEvent(NSEvent* event) override {
    const NSPoint at = event->locationInWindow();
    const bool inside = NSPointInRect(at, NSMakeRect(0, 0, frame().size.width, frame().size.height));
    switch (event->type()) {
      case NSLeftMouseDown:
      case NSRightMouseDown:
        if (!inside) done = true;
        break;
      case NSLeftMouseUp:
      case NSRightMouseUp: {
        const NSInteger index = inside ? ItemAt(at) : -1;
        if (index < 0) break;
        NSMenuItem* item = menu->itemAtIndex(index);
        if (item->isSeparatorItem() || !menu->ItemEnabled(item)) break;
        chosen = item;
        done = true;
        break;
      }
      case NSMouseMoved:
      case NSLeftMouseDragged:
      case NSRightMouseDragged:
        SetHover(inside ? ItemAt(at) : -1);
        break;
      case NSKeyDown: {
        const std::string key = event->characters() ? event->characters()->str() : "";
        if (key == std::string(1, kNSEscapeCharacter)) done = true;
        if (key == std::string(1, kNSReturnCharacter) && hover >= 0) {
          chosen = menu->itemAtIndex(hover);
          done = true;
        }
        break;
      }
      default:
        break;
    }
  }

 protected:
  void dealloc() override {
    if (menu) menu->release();
    NSWindow::dealloc();
  }
};

class MenuContent : public NSView {
 public:
  MenuWindow* owner = nullptr;
  BOOL isFlipped() const override { return YES; }
  void drawRect(NSRect) override {
    PaintRect(bounds(), Argb(0xF6, 0xF6, 0xF6));
    NSFrameRect(bounds());
    NSMenu* menu = owner->menu;
    for (NSInteger i = 0; i < menu->numberOfItems(); ++i) {
      NSMenuItem* item = menu->itemAtIndex(i);
      const CGFloat top = owner->ItemTop(i);
      if (item->isSeparatorItem()) {
        PaintRect(NSMakeRect(1, top + 4, bounds().size.width - 2, 1), Argb(0xD0, 0xD0, 0xD0));
        continue;
      }
      const bool enabled = menu->ItemEnabled(item), lit = i == owner->hover;
      const NSRect row = NSMakeRect(4, top, bounds().size.width - 8, kItemHeight);
      if (lit) {
        Current()->fill = kSelectionColour;
        NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(row, 4, 4)->fill();
      }
      const uint32_t text = !enabled ? Argb(0xA0, 0xA0, 0xA0) : lit ? Argb(0xFF, 0xFF, 0xFF) : Argb(0, 0, 0);
      if (item->state() == NSOnState) TextInRect("\xE2\x9C\x93", *SystemFont(13), NSMakeRect(6, top, 14, kItemHeight), text);
      if (NSImage* image = item->image())
        image->drawInRect_fromRect_operation_fraction(NSMakeRect(22, top + 2, 16, 16), NSZeroRect, NSCompositeSourceOver,
                                                      enabled ? 1 : 0.4f);
      TextInRect(item->title() ? item->title()->str() : "", *SystemFont(13), NSMakeRect(42, top, row.size.width - 40, kItemHeight),
                 text);
    }
  }
};

NSSize MenuSize(NSMenu* menu) {
  CGFloat width = kMenuMinWidth, height = 8;
  for (NSInteger i = 0; i < menu->numberOfItems(); ++i) {
    NSMenuItem* item = menu->itemAtIndex(i);
    height += item->isSeparatorItem() ? kSeparatorHeight : kItemHeight;
    const std::string title = item->title() ? item->title()->str() : "";
    width = std::max(width, static_cast<CGFloat>(SystemFont(13)->Measure(ToCodePage(title)) + 64));
  }
  return NSMakeSize(width, height);
}

// Shows the menu with its top-left at a screen point and tracks it; the item chosen, or null.
NSMenuItem* TrackMenu(NSMenu* menu, NSPoint topLeft) {
  const NSSize size = MenuSize(menu);
  const NSRect screen = NSScreen::mainScreen()->frame();
  // Kept on the screen: moved left or up where it would leave it.
  const CGFloat x = std::clamp<CGFloat>(topLeft.x, 0, std::max<CGFloat>(0, NSMaxX(screen) - size.width));
  const CGFloat top = std::clamp<CGFloat>(topLeft.y, size.height, NSMaxY(screen));
  auto* window = static_cast<MenuWindow*>(alloc<MenuWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(x, top - size.height, size.width, size.height), NSBorderlessWindowMask, NSBackingStoreBuffered, NO));
  window->setReleasedWhenClosed(NO);
  window->menu = static_cast<NSMenu*>(menu->retain());
  window->setTitle(menu->title()->length() ? menu->title() : NSString::stringWithUTF8String("Menu"));
  window->setLevel(NSPopUpMenuWindowLevel);
  window->setAcceptsMouseMovedEvents(YES);
  auto* content = static_cast<MenuContent*>(alloc<MenuContent>()->initWithFrame(NSMakeRect(0, 0, size.width, size.height)));
  content->owner = window;
  window->setContentView(content);
  content->release();
  window->orderFront(nullptr);
  NSWindow* outer = g_shownMenu;
  const uint64_t outerCapture = MenuCapture();
  g_shownMenu = window;
  SetMenuCapture(window->SurfaceId());
  while (!window->done) TurnMainLoop(3600);
  SetMenuCapture(outerCapture);
  g_shownMenu = outer;
  NSMenuItem* chosen = window->chosen;
  if (chosen) chosen->retain();
  window->orderOut(nullptr);
  window->release();
  return chosen ? static_cast<NSMenuItem*>(chosen->autorelease()) : nullptr;
}

void SendItemAction(NSMenuItem* item) {
  if (!item) return;
  if (NSMenu* sub = item->submenu(); sub && !item->action()) return;
  item->action().Send(item->target(), item);
}

}  // namespace

// ---- NSMenuItem

NSMenuItem* NSMenuItem::separatorItem() {
  NSMenuItem* item = alloc<NSMenuItem>()->initWithTitle_action_keyEquivalent(nullptr, SEL(), nullptr);
  item->separator_ = true;
  item->enabled_ = false;
  return static_cast<NSMenuItem*>(item->autorelease());
}

NSMenuItem* NSMenuItem::initWithTitle_action_keyEquivalent(NSString* title, SEL action, NSString*) {
  title_ = Copy(title);
  action_ = std::move(action);
  return this;
}

void NSMenuItem::setTitle(NSString* title) {
  NSString* copy = Copy(title);
  title_->release();
  title_ = copy;
}

void NSMenuItem::setTitleWithMnemonic(NSString* title) {
  std::string text = title ? title->str() : "";
  std::erase(text, '&');
  setTitle(NSString::stringWithStd(text));
}

void NSMenuItem::setImage(NSImage* image) { Assign(image_, image); }

void NSMenuItem::setSubmenu(NSMenu* menu) { Assign(submenu_, menu); }

void NSMenuItem::dealloc() {
  if (title_) title_->release();
  if (image_) image_->release();
  if (submenu_) submenu_->release();
  NSObject::dealloc();
}

// ---- NSMenu

NSMenu* NSMenu::initWithTitle(NSString* title) {
  title_ = Copy(title);
  return this;
}

void NSMenu::dealloc() {
  for (NSMenuItem* item : items_) {
    item->SetMenu(nullptr);
    item->release();
  }
  items_.clear();
  if (title_) title_->release();
  NSObject::dealloc();
}

void NSMenu::addItem(NSMenuItem* item) { insertItem_atIndex(item, numberOfItems()); }

NSMenuItem* NSMenu::addItemWithTitle_action_keyEquivalent(NSString* title, SEL action, NSString* key) {
  NSMenuItem* item = alloc<NSMenuItem>()->initWithTitle_action_keyEquivalent(title, std::move(action), key);
  addItem(item);
  item->release();
  return item;
}

void NSMenu::insertItem_atIndex(NSMenuItem* item, NSInteger index) {
  if (!item) throw NSException("NSInvalidArgumentException", "null menu item");
  if (index < 0 || index > numberOfItems()) throw NSException("NSRangeException", "menu index out of range");
  item->retain();
  item->SetMenu(this);
  items_.insert(items_.begin() + index, item);
}

void NSMenu::removeItem(NSMenuItem* item) {
  const NSInteger at = indexOfItem(item);
  if (at >= 0) removeItemAtIndex(at);
}

void NSMenu::removeItemAtIndex(NSInteger index) {
  if (index < 0 || index >= numberOfItems()) throw NSException("NSRangeException", "menu index out of range");
  NSMenuItem* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  item->SetMenu(nullptr);
  item->release();
}

NSArray* NSMenu::itemArray() {
  NSMutableArray* list = NSMutableArray::array();
  for (NSMenuItem* item : items_) list->addObject(item);
  return list;
}

NSMenuItem* NSMenu::itemAtIndex(NSInteger index) const {
  if (index < 0 || index >= numberOfItems()) throw NSException("NSRangeException", "menu index out of range");
  return items_[static_cast<size_t>(index)];
}

NSMenuItem* NSMenu::itemWithTag(NSInteger tag) const {
  for (NSMenuItem* item : items_)
    if (item->tag() == tag) return item;
  return nullptr;
}

NSMenuItem* NSMenu::itemWithTitle(NSString* title) const {
  for (NSMenuItem* item : items_)
    if (title && item->title()->isEqualToString(title)) return item;
  return nullptr;
}

NSInteger NSMenu::indexOfItem(NSMenuItem* item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == item) return static_cast<NSInteger>(i);
  return -1;
}

bool NSMenu::ItemEnabled(NSMenuItem* item) const {
  if (!item || item->isSeparatorItem()) return false;
  if (!autoenables_) return item->isEnabled();
  if (item->submenu()) return true;
  if (!item->action() || !item->target()) return false;
  if (auto* validator = dynamic_cast<NSMenuValidation*>(item->target())) return validator->validateMenuItem(item);
  return true;
}

void NSMenu::popUpContextMenu_withEvent_forView(NSMenu* menu, NSEvent* event, NSView* view) {
  if (!menu || !event) return;
  NSWindow* window = event->window() ? event->window() : view ? view->window() : nullptr;
  if (!window) return;
  // Just right of and under the pointer, so that the releasing button chooses nothing.
  NSPoint at = window->convertBaseToScreen(event->locationInWindow());
  at.x += 1;
  at.y -= 1;
  menu->retain();
  if (view) view->retain();
  SendItemAction(TrackMenu(menu, at));
  if (view) view->release();
  menu->release();
}

NSWindow* NSMenu::ShownMenuWindow() { return g_shownMenu; }

// ---- the menu bar

namespace {

// The bar along the top of the screen: the application menu's submenus by title.
class MenuBarView : public NSView {
 public:
  NSMenu* menu = nullptr;  // the application's: not retained (NSApplication holds it)
  CGFloat TitleX(NSInteger index) const {
    CGFloat x = 14;
    for (NSInteger i = 0; i < index; ++i) x += Width(i);
    return x;
  }
  CGFloat Width(NSInteger index) const {
    NSMenuItem* item = menu->itemAtIndex(index);
    NSString* title = item->submenu() && item->submenu()->title()->length() ? item->submenu()->title() : item->title();
    return static_cast<CGFloat>(SystemFont(13, index == 0)->Measure(ToCodePage(title->str())) + 20);
  }
  void drawRect(NSRect) override {
    PaintRect(bounds(), Argb(0xF0, 0xF0, 0xF0));
    PaintRect(NSMakeRect(0, 0, bounds().size.width, 1), Argb(0xB8, 0xB8, 0xB8));
    if (!menu) return;
    for (NSInteger i = 0; i < menu->numberOfItems(); ++i) {
      NSMenuItem* item = menu->itemAtIndex(i);
      NSString* title = item->submenu() && item->submenu()->title()->length() ? item->submenu()->title() : item->title();
      TextInRect(title->str(), *SystemFont(13, i == 0), NSMakeRect(TitleX(i) + 10, 1, Width(i) - 10, bounds().size.height - 1),
                 Argb(0, 0, 0));
    }
  }
  void mouseDown(NSEvent* event) override {
    if (!menu) return;
    const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
    for (NSInteger i = 0; i < menu->numberOfItems(); ++i) {
      if (at.x < TitleX(i) || at.x >= TitleX(i) + Width(i)) continue;
      NSMenuItem* item = menu->itemAtIndex(i);
      if (item->submenu()) SendItemAction(TrackMenu(item->submenu(), NSMakePoint(TitleX(i), window()->frame().origin.y)));
      else SendItemAction(item);
      return;
    }
  }
};

NSWindow* g_menuBar = nullptr;

}  // namespace

namespace appkit::detail {

void ShowMenuBar(NSMenu* menu) {
  if (!menu) {
    if (g_menuBar) g_menuBar->orderOut(nullptr);
    return;
  }
  const NSRect screen = NSScreen::mainScreen()->frame();
  if (!g_menuBar) {
    g_menuBar = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(
        NSMakeRect(0, NSMaxY(screen) - kNSMenuBarHeight, screen.size.width, kNSMenuBarHeight), NSBorderlessWindowMask,
        NSBackingStoreBuffered, NO);
    g_menuBar->setReleasedWhenClosed(NO);
    g_menuBar->setLevel(NSMainMenuWindowLevel);
    g_menuBar->setTitle(NSString::stringWithUTF8String("Menu Bar"));
    g_menuBar->setContentView(alloc<MenuBarView>()->initWithFrame(NSMakeRect(0, 0, screen.size.width, kNSMenuBarHeight)));
    g_menuBar->contentView()->release();
  }
  static_cast<MenuBarView*>(g_menuBar->contentView())->menu = menu;
  g_menuBar->setViewsNeedDisplay(YES);
  g_menuBar->orderFront(nullptr);
}

}  // namespace appkit::detail

// ---- NSComboBox

void NSComboBox::dealloc() {
  if (values_) values_->release();
  NSTextField::dealloc();
}

void NSComboBox::addItemWithObjectValue(id value) {
  if (!values_) values_ = alloc<NSMutableArray>()->init();
  values_->addObject(value);
}

void NSComboBox::addItemsWithObjectValues(NSArray* values) {
  for (NSUInteger i = 0; values && i < values->count(); ++i) addItemWithObjectValue(values->objectAtIndex(i));
}

void NSComboBox::removeAllItems() {
  if (values_) values_->removeAllObjects();
  selected_ = -1;
}

NSInteger NSComboBox::numberOfItems() const { return values_ ? static_cast<NSInteger>(values_->count()) : 0; }

id NSComboBox::itemObjectValueAtIndex(NSInteger index) const {
  if (index < 0 || index >= numberOfItems()) throw NSException("NSRangeException", "combo box index out of range");
  return values_->objectAtIndex(static_cast<NSUInteger>(index));
}

void NSComboBox::selectItemAtIndex(NSInteger index) {
  if (index < -1 || index >= numberOfItems()) return;
  selected_ = index;
  if (index >= 0) {
    id value = itemObjectValueAtIndex(index);
    auto* text = dynamic_cast<NSString*>(value);
    setStringValue(text ? text : value->description());
  }
}

id NSComboBox::objectValueOfSelectedItem() const { return selected_ >= 0 ? itemObjectValueAtIndex(selected_) : nullptr; }

void NSComboBox::Choose(NSMenuItem* item) {
  selectItemAtIndex(item->tag());
  sendAction_to(action(), target());
}

void NSComboBox::drawRect(NSRect dirty) {
  NSTextField::drawRect(dirty);
  // The arrow button at the right end.
  const NSRect button = NSMakeRect(bounds().size.width - 18, 0, 18, bounds().size.height);
  PaintRect(button, kSelectionColour);
  NSBezierPath* arrow = NSBezierPath::bezierPath();
  const NSPoint c = NSMakePoint(NSMidX(button), NSMidY(button));
  arrow->moveToPoint(NSMakePoint(c.x - 4, c.y + 2));
  arrow->lineToPoint(NSMakePoint(c.x + 4, c.y + 2));
  arrow->lineToPoint(NSMakePoint(c.x, c.y - 3));
  arrow->closePath();
  Current()->fill = Argb(0xFF, 0xFF, 0xFF);
  arrow->fill();
}

void NSComboBox::mouseDown(NSEvent* event) {
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  if (at.x < bounds().size.width - 18 || !isEnabled()) {
    NSTextField::mouseDown(event);
    return;
  }
  NSMenu* list = alloc<NSMenu>()->init();
  list->setAutoenablesItems(NO);
  for (NSInteger i = 0; i < numberOfItems(); ++i) {
    id value = itemObjectValueAtIndex(i);
    auto* text = dynamic_cast<NSString*>(value);
    NSMenuItem* item = list->addItemWithTitle_action_keyEquivalent(text ? text : value->description(),
                                                                   selector(&NSComboBox::Choose), nullptr);
    item->setTarget(this);
    item->setTag(i);
    if (i == selected_) item->setState(NSOnState);
  }
  // Under the field, as wide as it.
  const NSRect inWindow = FrameInWindow();
  retain();
  SendItemAction(TrackMenu(list, window()->convertBaseToScreen(NSMakePoint(inWindow.origin.x, inWindow.origin.y))));
  release();
  list->release();
}

// ---- NSTabView

NSTabViewItem* NSTabViewItem::initWithIdentifier(id identifier) {
  Assign(identifier_, identifier);
  label_ = Copy(nullptr);
  return this;
}

void NSTabViewItem::setLabel(NSString* label) {
  NSString* copy = Copy(label);
  label_->release();
  label_ = copy;
  if (tabView_) tabView_->setNeedsDisplay(YES);
}

void NSTabViewItem::setView(NSView* view) {
  const bool shown = tabView_ && tabView_->selectedTabViewItem() == this;
  if (shown && view_) view_->removeFromSuperview();
  Assign(view_, view);
  if (shown) tabView_->selectTabViewItem(this);
}

void NSTabViewItem::dealloc() {
  if (identifier_) identifier_->release();
  if (label_) label_->release();
  if (view_) view_->release();
  NSObject::dealloc();
}

void NSTabView::dealloc() {
  for (NSTabViewItem* item : items_) {
    item->SetTabView(nullptr);
    item->release();
  }
  items_.clear();
  NSView::dealloc();
}

void NSTabView::addTabViewItem(NSTabViewItem* item) {
  if (!item) return;
  item->retain();
  item->SetTabView(this);
  items_.push_back(item);
  if (!selected_) selectTabViewItem(item);
  setNeedsDisplay(YES);
}

void NSTabView::removeTabViewItem(NSTabViewItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  if (selected_ == item) {
    if (item->view()) item->view()->removeFromSuperview();
    selected_ = nullptr;
  }
  items_.erase(it);
  item->SetTabView(nullptr);
  item->release();
  if (!selected_ && !items_.empty()) selectTabViewItem(items_.front());
  setNeedsDisplay(YES);
}

NSTabViewItem* NSTabView::tabViewItemAtIndex(NSInteger index) const {
  if (index < 0 || index >= numberOfTabViewItems()) throw NSException("NSRangeException", "tab index out of range");
  return items_[static_cast<size_t>(index)];
}

NSInteger NSTabView::indexOfTabViewItemWithIdentifier(id identifier) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (identifier && items_[i]->identifier() && items_[i]->identifier()->isEqual(identifier)) return static_cast<NSInteger>(i);
  return -1;
}

NSRect NSTabView::contentRect() const {
  const NSRect box = bounds();
  if (type_ == NSNoTabsNoBorder) return box;
  if (type_ == NSNoTabsBezelBorder) return NSInsetRect(box, 1, 1);
  return NSMakeRect(1, 1, box.size.width - 2, box.size.height - 26);
}

void NSTabView::selectTabViewItem(NSTabViewItem* item) {
  if (!item || std::find(items_.begin(), items_.end(), item) == items_.end()) return;
  if (selected_ && selected_ != item && selected_->view()) selected_->view()->removeFromSuperview();
  selected_ = item;
  if (NSView* view = item->view()) {
    view->setFrame(contentRect());
    if (view->superview() != this) addSubview(view);
  }
  setNeedsDisplay(YES);
}

void NSTabView::selectTabViewItemAtIndex(NSInteger index) { selectTabViewItem(tabViewItemAtIndex(index)); }

void NSTabView::selectTabViewItemWithIdentifier(id identifier) {
  const NSInteger at = indexOfTabViewItemWithIdentifier(identifier);
  if (at >= 0) selectTabViewItemAtIndex(at);
}

void NSTabView::setTabViewType(NSTabViewType type) {
  type_ = type;
  if (selected_) selectTabViewItem(selected_);
  setNeedsDisplay(YES);
}

NSRect NSTabView::TabRect(size_t index) const {
  CGFloat width = 0;
  for (NSTabViewItem* item : items_)
    width += static_cast<CGFloat>(SystemFont(12)->Measure(ToCodePage(item->label()->str())) + 24);
  CGFloat x = std::round((bounds().size.width - width) / 2);
  for (size_t i = 0; i < index; ++i) x += static_cast<CGFloat>(SystemFont(12)->Measure(ToCodePage(items_[i]->label()->str())) + 24);
  const CGFloat w = static_cast<CGFloat>(SystemFont(12)->Measure(ToCodePage(items_[index]->label()->str())) + 24);
  return NSMakeRect(x, bounds().size.height - 24, w, 22);
}

void NSTabView::drawRect(NSRect) {
  if (type_ == NSNoTabsNoBorder) return;
  const NSRect content = contentRect();
  PaintRect(NSInsetRect(content, -1, -1), Argb(0xC0, 0xC0, 0xC0));
  PaintRect(content, Argb(0xE8, 0xE8, 0xE8));
  if (type_ != NSTopTabsBezelBorder) return;
  for (size_t i = 0; i < items_.size(); ++i) {
    const NSRect tab = TabRect(i);
    const bool on = items_[i] == selected_;
    Current()->fill = on ? kSelectionColour : Argb(0xFF, 0xFF, 0xFF);
    NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(tab, 4, 4)->fill();
    Current()->stroke = kControlBorder;
    NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(tab, 4, 4)->stroke();
    TextInRect(items_[i]->label()->str(), *SystemFont(12), tab, on ? Argb(0xFF, 0xFF, 0xFF) : Argb(0, 0, 0), Align::kCenter);
  }
}

void NSTabView::mouseDown(NSEvent* event) {
  if (type_ != NSTopTabsBezelBorder) return;
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  for (size_t i = 0; i < items_.size(); ++i)
    if (NSPointInRect(at, TabRect(i))) selectTabViewItem(items_[i]);
}
