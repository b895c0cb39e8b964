// AppKit windows on a private Xvfb display, driven with real X input through XTest.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status

#include <future>
#include <string>
#include <thread>

#include "appkit_fixture.h"
#include "testsupport/x_input.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"

namespace {

class ClickedView : public NSView {
 public:
  int downs = 0;
  NSPoint at{};
  void mouseDown(NSEvent* e) override {
    ++downs;
    at = convertPoint_fromView(e->locationInWindow(), nullptr);
  }
  void drawRect(NSRect) override {
    NSColor::colorWithCalibratedRed_green_blue_alpha(0.2f, 0.4f, 0.8f, 1)->set();
    NSBezierPath::bezierPathWithOvalInRect(bounds())->fill();
  }
};

class AppKitOnXvfb : public appkit_test::AppKitTest {
 protected:
  void SetUp() override {
    AppKitTest::SetUp();
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: AppKit on the X display is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = tavrin::test::OpenXDisplay(xvfb_.name());
    ASSERT_NE(x_, nullptr);
    tavrin::gui::TheDesktop().SetScreenSize(1024, 768);
    ASSERT_TRUE(appkit::StartX11Display(xvfb_.name()));
  }

  void TearDown() override {
    appkit::StopDisplay();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
    AppKitTest::TearDown();
  }

  ::Window FindXWindow(const std::string& title) { return tavrin::test::FindXWindowNamed(x_, title); }

  void XKey(KeySym symbol) { tavrin::test::XPressKey(x_, symbol); }

  // Where a point of a window is on the X screen.
  static std::pair<int, int> OnX(NSWindow* window, NSPoint at) {
    const auto p = OnScreen(window, at);
    return {p.x, p.y};
  }

  void XClickAt(NSWindow* window, NSPoint at, unsigned button = 1) {
    const auto [x, y] = OnX(window, at);
    tavrin::test::XClickOnScreen(x_, x, y, button);
  }

  bool XViewable(const std::string& title) { return tavrin::test::XWindowViewable(x_, title); }

  // Waits until the window shows on the X screen.
  void Shown(NSWindow* window) {
    ASSERT_TRUE(Until([&] { return XViewable(window->title()->str()); }));
  }

  tavrin::test::XvfbServer xvfb_;
  Display* x_ = nullptr;
};

NSString* Text(const char* text) { return NSString::stringWithUTF8String(text); }

// Three servers: a flat list is enough for the rows' clicks.
class Servers : public NSObject, public NSOutlineViewDataSource {
 public:
  NSMutableArray* names = nullptr;
  id outlineView_child_ofItem(NSOutlineView*, NSInteger index, id) override {
    return names->objectAtIndex(static_cast<NSUInteger>(index));
  }
  BOOL outlineView_isItemExpandable(NSOutlineView*, id) override { return NO; }
  NSInteger outlineView_numberOfChildrenOfItem(NSOutlineView*, id item) override {
    return item ? 0 : static_cast<NSInteger>(names->count());
  }
  id outlineView_objectValueForTableColumn_byItem(NSOutlineView*, NSTableColumn*, id item) override { return item; }
};

struct Observer : NSObject {
  int selections = 0, changes = 0, starts = 0;
  std::vector<NSInteger> chosen;
  void Selected(NSNotification*) { ++selections; }
  void Chosen(NSMenuItem* item) { chosen.push_back(item->tag()); }
  void Start(id) { ++starts; }
};

class Field : public NSSecureTextField {
 public:
  Observer* observer = nullptr;
  std::string lastEditorText;
  void textDidChange(NSNotification* note) override {
    ++observer->changes;
    lastEditorText = static_cast<NSText*>(note->object())->string()->str();
  }
};

class StartBar : public NSObject, public NSToolbarDelegate, public NSToolbarItemValidation {
 public:
  Observer* observer = nullptr;
  NSToolbarItem* toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(NSToolbar*, NSString* identifier, BOOL) override {
    NSToolbarItem* item = alloc<NSToolbarItem>()->initWithItemIdentifier(identifier);
    item->setLabel(identifier);
    item->setTarget(observer);
    item->setAction(selector(&Observer::Start));
    return static_cast<NSToolbarItem*>(item->autorelease());
  }
  NSArray* toolbarDefaultItemIdentifiers(NSToolbar*) override {
    NSMutableArray* list = NSMutableArray::array();
    list->addObject(Text("START"));
    return list;
  }
  NSArray* toolbarAllowedItemIdentifiers(NSToolbar* toolbar) override { return toolbarDefaultItemIdentifiers(toolbar); }
  BOOL validateToolbarItem(NSToolbarItem*) override { return NO; }
};

TEST_F(AppKitOnXvfb, AWindowShowsItsPixelsAndTakesRealClicksAndTitleDrags) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 400, 240, 160));
  window->setTitle(NSString::stringWithUTF8String("Mac on Xvfb"));
  auto* view = static_cast<ClickedView*>(alloc<ClickedView>()->initWithFrame(NSMakeRect(20, 20, 200, 120)));
  window->contentView()->addSubview(view);
  window->makeKeyAndOrderFront(nullptr);

  ::Window xid = 0;
  ASSERT_TRUE(Until([&] { return (xid = FindXWindow("Mac on Xvfb")) != 0; }));
  XWindowAttributes attributes{};
  ASSERT_TRUE(Until([&] {
    XGetWindowAttributes(x_, xid, &attributes);
    return attributes.map_state == IsViewable;
  }));
  // The frame's top-left on a screen 768 high: y = 768 - (400 + 160 + title bar).
  EXPECT_EQ(attributes.x, 100);
  EXPECT_EQ(attributes.y, 768 - 400 - 160 - static_cast<int>(kNSTitleBarHeight));
  EXPECT_EQ(attributes.height, 160 + static_cast<int>(kNSTitleBarHeight));

  tavrin::draw::Surface pixels = Pixels(window);
  ASSERT_TRUE(Until([&] {
    XImage* image = XGetImage(x_, xid, 0, 0, 240, attributes.height, AllPlanes, ZPixmap);
    if (!image) return false;
    bool same = true;
    for (int y = 0; y < attributes.height && same; y += 3)
      for (int x = 0; x < 240 && same; x += 3) same = (XGetPixel(image, x, y) & 0xFFFFFF) == (pixels.at(x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return same;
  }));

  // A click in the middle of the oval: 120 across the window, 80 up from its bottom.
  tavrin::test::XClickOnScreen(x_, attributes.x + 120, attributes.y + attributes.height - 80);
  ASSERT_TRUE(Until([&] { return view->downs == 1; }));
  EXPECT_EQ(view->at.x, 100);
  EXPECT_EQ(view->at.y, 60);

  // Dragged by its title bar 30 pixels right and 40 down.
  XTestFakeMotionEvent(x_, -1, attributes.x + 120, attributes.y + 10, 0);
  XTestFakeButtonEvent(x_, 1, True, 0);
  XTestFakeMotionEvent(x_, -1, attributes.x + 150, attributes.y + 50, 0);
  XTestFakeButtonEvent(x_, 1, False, 0);
  XFlush(x_);
  ASSERT_TRUE(Until([&] { return window->frame().origin.x == 130 && window->frame().origin.y == 360; }));
  ASSERT_TRUE(Until([&] {
    XGetWindowAttributes(x_, xid, &attributes);
    return attributes.x == 130;
  }));

  view->release();
  window->close();
  window->release();
}

TEST_F(AppKitOnXvfb, RowsMenusSecureFieldsToolbarsAndAlertsTakeRealInput) {
  auto* observer = alloc<Observer>();
  auto* servers = alloc<Servers>();
  servers->names = alloc<NSMutableArray>()->init();
  for (const char* name : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) servers->names->addObject(Text(name));
  auto* bar = alloc<StartBar>();
  bar->observer = observer;

  NSWindow* window = MakeWindow(NSMakeRect(100, 200, 420, 260));
  window->setTitle(Text("Device Mapping"));
  NSToolbar* toolbar = alloc<NSToolbar>()->initWithIdentifier(Text("tooltest"));
  toolbar->setDelegate(bar);
  window->setToolbar(toolbar);
  NSScrollView* scroll = alloc<NSScrollView>()->initWithFrame(NSMakeRect(0, 60, 420, 200));
  NSOutlineView* outline = alloc<NSOutlineView>()->initWithFrame(NSMakeRect(0, 0, 405, 200));
  NSTableColumn* column = alloc<NSTableColumn>()->initWithIdentifier(Text("1"));
  column->setWidth(300);
  outline->addTableColumn(column);
  column->release();
  scroll->setDocumentView(outline);
  window->contentView()->addSubview(scroll);
  outline->setDataSource(servers);
  NSMenu* menu = alloc<NSMenu>()->initWithTitle(Text("device"));
  menu->setAutoenablesItems(NO);
  for (const char* title : {"Connect", "Disconnect"}) {
    NSMenuItem* item = menu->addItemWithTitle_action_keyEquivalent(Text(title), selector(&Observer::Chosen), nullptr);
    item->setTarget(observer);
    item->setTag(menu->numberOfItems() - 1);
  }
  outline->setMenu(menu);
  NSNotificationCenter::defaultCenter()->addObserver_selector_name_object(
      observer, &Observer::Selected, NSOutlineViewSelectionDidChangeNotification, outline);
  auto* field = static_cast<Field*>(alloc<Field>()->initWithFrame(NSMakeRect(10, 20, 200, 22)));
  field->observer = observer;
  window->contentView()->addSubview(field);
  window->makeKeyAndOrderFront(nullptr);
  Shown(window);

  // A click on the second row selects it and tells the observer.
  const NSPoint second = outline->convertPoint_toView(NSMakePoint(100, NSMidY(outline->rectOfRow(1))), nullptr);
  XClickAt(window, second);
  ASSERT_TRUE(Until([&] { return observer->selections == 1; }));
  EXPECT_EQ(outline->selectedRow(), 1);

  // A right click on the third row opens the menu there; a click on its first item chooses it.
  const NSPoint third = outline->convertPoint_toView(NSMakePoint(100, NSMidY(outline->rectOfRow(2))), nullptr);
  NSInteger clickedRow = -2;
  WhenReady([&] { return NSMenu::ShownMenuWindow() != nullptr && XViewable(NSMenu::ShownMenuWindow()->title()->str()); }, [&] {
    clickedRow = outline->clickedRow();
    NSWindow* shown = NSMenu::ShownMenuWindow();
    XClickAt(shown, NSMakePoint(40, shown->frame().size.height - 14));
  });
  XClickAt(window, third, 3);
  ASSERT_TRUE(Until([&] { return observer->chosen.size() == 1; }));
  EXPECT_EQ(observer->chosen[0], 0);
  EXPECT_EQ(clickedRow, 2);

  // Typed into the secure field: the text is kept, each change told, bullets shown.
  XClickAt(window, NSMakePoint(100, 31));
  ASSERT_TRUE(Until([&] { return window->firstResponder() == field; }));
  XKey(XK_p);
  XKey(XK_w);
  ASSERT_TRUE(Until([&] { return observer->changes == 2; }));
  EXPECT_EQ(field->stringValue()->str(), "pw");
  EXPECT_EQ(field->lastEditorText, "pw");
  tavrin::draw::Surface pixels = Pixels(window);
  const int fieldTop = static_cast<int>(window->frame().size.height) - 42;
  int ink = 0;
  for (int y = fieldTop; y < fieldTop + 22; ++y)
    for (int x = 14; x < 60; ++x) ink += (pixels.at(x, y) & 0xFF) < 0x60;
  EXPECT_GT(ink, 8);  // two bullets (a letter would not stand where both stand)

  // START is validated off: drawn grey, and a click on it does nothing.
  const CGFloat barMiddle = 260 + NSToolbar::kHeight / 2;
  XClickAt(window, NSMakePoint(44, barMiddle));
  XClickAt(window, second);  // something that surely arrives after it
  ASSERT_TRUE(Until([&] { return observer->selections == 1 && window->isKeyWindow(); }));
  EXPECT_EQ(observer->starts, 0);

  // An alert a worker asks for is answered by a click on its button.
  std::promise<NSInteger> answered;
  std::thread worker([&] {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    answered.set_value(NSRunAlertPanel(Text("Note:"), Text("Driver Not Installed"), Text("Ok"), nullptr, nullptr));
    pool->drain();
  });
  auto answer = answered.get_future();
  bool clicked = false;
  // Clicked once the panel shows on the X screen.
  WhenReady([&] { return NSApp->modalWindow() != nullptr && XViewable("Note:"); }, [&] {
    NSWindow* panel = NSApp->modalWindow();
    XClickAt(panel, NSMakePoint(panel->frame().size.width - 50, 26));
    clicked = true;
  });
  ASSERT_TRUE(Until([&] { return clicked && answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  worker.join();
  EXPECT_EQ(answer.get(), NSAlertDefaultReturn);

  NSNotificationCenter::defaultCenter()->removeObserver(observer);
  window->close();
  window->release();
  field->release();
  outline->release();
  scroll->release();
  menu->release();
  toolbar->release();
  bar->release();
  servers->names->release();
  servers->release();
  observer->release();
}

}  // namespace
