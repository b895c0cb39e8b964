// Tables and outlines (data sources, columns by identifier, selection and its notification, clicked
// rows, expansion, scrolling), context menus, toolbars with validation, alerts and save panels.
#include <future>
#include <thread>

#include "appkit_fixture.h"

namespace {

using appkit_test::AppKitTest;
using tavrin::gui::PointerButton;

NSString* Text(const char* text) { return NSString::stringWithUTF8String(text); }

// A tree of servers, each with devices: plain NSString items, kept for the life of the source.
class Tree : public NSObject, public NSOutlineViewDataSource {
 public:
  Tree* Fill(int servers, int devices) {
    roots_ = alloc<NSMutableArray>()->init();
    children_ = alloc<NSMutableArray>()->init();
    for (int s = 0; s < servers; ++s) {
      roots_->addObject(NSString::stringWithFormat("10.0.0.%d", s));
      NSMutableArray* list = NSMutableArray::array();
      for (int d = 0; d < devices; ++d) list->addObject(NSString::stringWithFormat("device %d.%d", s, d));
      children_->addObject(list);
    }
    return this;
  }
  id outlineView_child_ofItem(NSOutlineView*, NSInteger index, id item) override {
    return item ? Children(item)->objectAtIndex(static_cast<NSUInteger>(index)) : roots_->objectAtIndex(static_cast<NSUInteger>(index));
  }
  BOOL outlineView_isItemExpandable(NSOutlineView*, id item) override { return roots_->indexOfObjectIdenticalTo(item) != NSNotFound; }
  NSInteger outlineView_numberOfChildrenOfItem(NSOutlineView*, id item) override {
    if (!item) return static_cast<NSInteger>(roots_->count());
    NSArray* list = Children(item);
    return list ? static_cast<NSInteger>(list->count()) : 0;
  }
  id outlineView_objectValueForTableColumn_byItem(NSOutlineView*, NSTableColumn* column, id item) override {
    auto* identifier = static_cast<NSString*>(column->identifier());
    if (identifier->isEqualToString(Text("1"))) return item;
    return Text("-");
  }

 protected:
  void dealloc() override {
    roots_->release();
    children_->release();
    NSObject::dealloc();
  }

 private:
  NSArray* Children(id item) {
    const NSUInteger at = roots_->indexOfObjectIdenticalTo(item);
    return at == NSNotFound ? nullptr : static_cast<NSArray*>(children_->objectAtIndex(at));
  }
  NSMutableArray* roots_ = nullptr;
  NSMutableArray* children_ = nullptr;
};

struct Watcher : NSObject {
  int selections = 0, actions = 0, doubles = 0;
  std::vector<NSInteger> tags;
  void Selected(NSNotification*) { ++selections; }
  void Act(id) { ++actions; }
  void Double(id) { ++doubles; }
  void Item(NSMenuItem* item) { tags.push_back(item->tag()); }
};

NSTableColumn* Column(const char* identifier, CGFloat width) {
  NSTableColumn* column = alloc<NSTableColumn>()->initWithIdentifier(Text(identifier));
  column->setWidth(width);
  column->headerCell()->setStringValue(Text(identifier));
  return static_cast<NSTableColumn*>(column->autorelease());
}

// An outline of servers and devices in a scroll view filling a window.
struct OutlineWindow {
  NSWindow* window = nullptr;
  NSScrollView* scroll = nullptr;
  NSOutlineView* outline = nullptr;
  Tree* tree = nullptr;

  OutlineWindow(int servers, int devices) {
    window = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(NSMakeRect(100, 100, 400, 300), NSTitledWindowMask,
                                                                            NSBackingStoreBuffered, NO);
    window->setReleasedWhenClosed(NO);
    scroll = alloc<NSScrollView>()->initWithFrame(NSMakeRect(0, 0, 400, 300));
    outline = alloc<NSOutlineView>()->initWithFrame(NSMakeRect(0, 0, 385, 300));
    outline->addTableColumn(Column("1", 200));
    outline->addTableColumn(Column("2", 100));
    scroll->setDocumentView(outline);
    window->contentView()->addSubview(scroll);
    tree = alloc<Tree>()->Fill(servers, devices);
    outline->setDataSource(tree);
    window->makeKeyAndOrderFront(nullptr);
  }
  ~OutlineWindow() {
    window->close();
    window->release();
    outline->release();
    scroll->release();
    tree->release();
  }
  // A point in the middle of a row's first column, in the window's coordinates (row 0 under the header).
  NSPoint Row(NSInteger row) const {
    return outline->convertPoint_toView(NSMakePoint(100, NSMidY(outline->rectOfRow(row))), nullptr);
  }
};

TEST_F(AppKitTest, ClickingARowSelectsItAndTellsTheObserversOnce) {
  OutlineWindow w(3, 2);
  auto* watcher = alloc<Watcher>();
  NSNotificationCenter::defaultCenter()->addObserver_selector_name_object(
      watcher, &Watcher::Selected, NSOutlineViewSelectionDidChangeNotification, w.outline);
  w.outline->setTarget(watcher);
  w.outline->setAction(selector(&Watcher::Act));
  w.outline->setDoubleAction(selector(&Watcher::Double));
  ASSERT_EQ(w.outline->numberOfRows(), 3);

  Click(w.window, w.Row(1));
  ASSERT_TRUE(Until([&] { return watcher->actions == 1; }));
  EXPECT_EQ(w.outline->selectedRow(), 1);
  EXPECT_EQ(w.outline->clickedRow(), 1);
  EXPECT_EQ(w.outline->clickedColumn(), 0);
  EXPECT_EQ(watcher->selections, 1);
  Click(w.window, w.Row(1));  // the same row again: a double click, and no new selection
  ASSERT_TRUE(Until([&] { return watcher->doubles == 1; }));
  EXPECT_EQ(watcher->selections, 1);

  // Below the last row: nothing selected, no clicked row.
  Click(w.window, NSMakePoint(100, 20));
  ASSERT_TRUE(Until([&] { return watcher->selections == 2; }));
  EXPECT_EQ(w.outline->selectedRow(), -1);
  EXPECT_EQ(w.outline->clickedRow(), -1);
  NSNotificationCenter::defaultCenter()->removeObserver(watcher);
  watcher->release();
}

TEST_F(AppKitTest, ExpandingAServerShowsItsDevicesIndentedAndKeepsTheSelectedItem) {
  OutlineWindow w(3, 4);
  w.outline->selectRow_byExtendingSelection(2, NO);
  id third = w.outline->itemAtRow(2);
  w.outline->expandItem(w.outline->itemAtRow(0));
  EXPECT_EQ(w.outline->numberOfRows(), 7);
  EXPECT_EQ(w.outline->levelForRow(1), 1);
  EXPECT_EQ(static_cast<NSString*>(w.outline->itemAtRow(1))->str(), "device 0.0");
  EXPECT_EQ(w.outline->selectedRow(), 6);  // the same server, further down
  EXPECT_EQ(w.outline->itemAtRow(6), third);

  // A click on a server's triangle opens it; on an open one closes it.
  const NSPoint triangle = w.outline->convertPoint_toView(NSMakePoint(7, NSMidY(w.outline->rectOfRow(6))), nullptr);
  Click(w.window, triangle);
  ASSERT_TRUE(Until([&] { return w.outline->numberOfRows() == 11; }));
  EXPECT_TRUE(w.outline->isItemExpanded(third));
  w.outline->collapseItem(w.outline->itemAtRow(0));
  EXPECT_EQ(w.outline->numberOfRows(), 7);
}

TEST_F(AppKitTest, ATableAsksItsColumnsByIdentifierAndScrollsARowIntoView) {
  struct Rows : NSObject, NSTableViewDataSource {
    std::vector<std::string> asked;
    NSInteger numberOfRowsInTableView(NSTableView*) override { return 100; }
    id tableView_objectValueForTableColumn_row(NSTableView*, NSTableColumn* column, NSInteger row) override {
      asked.push_back(static_cast<NSString*>(column->identifier())->str());
      return NSString::stringWithFormat("%ld", row);
    }
  };
  NSWindow* window = MakeWindow(NSMakeRect(100, 100, 300, 200));
  NSScrollView* scroll = alloc<NSScrollView>()->initWithFrame(NSMakeRect(0, 0, 300, 200));
  NSTableView* table = alloc<NSTableView>()->initWithFrame(NSMakeRect(0, 0, 285, 200));
  table->addTableColumn(Column("sno", 50));
  table->addTableColumn(Column("now", 120));
  scroll->setDocumentView(table);
  window->contentView()->addSubview(scroll);
  auto* rows = alloc<Rows>();
  table->setDataSource(rows);
  window->makeKeyAndOrderFront(nullptr);
  Pixels(window);
  EXPECT_EQ(table->columnWithIdentifier(Text("now")), 1);
  EXPECT_EQ(table->tableColumnWithIdentifier(Text("x")), nullptr);
  ASSERT_FALSE(rows->asked.empty());
  EXPECT_LT(rows->asked.size(), 100u);  // only the rows that show are asked for, not all 200 values
  EXPECT_EQ(rows->asked[0], "sno");
  EXPECT_EQ(rows->asked[1], "now");

  table->scrollRowToVisible(90);
  const NSRect row = table->rectOfRow(90);
  EXPECT_GE(NSMinY(row), scroll->scrollOffset().y);
  EXPECT_LE(NSMaxY(row), scroll->scrollOffset().y + scroll->contentSize().height);
  // A click now lands on the rows that show.
  Click(window, NSMakePoint(30, 100));
  ASSERT_TRUE(Until([&] { return table->selectedRow() > 70; }));
  table->release();
  scroll->release();
  rows->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, ARightClickShowsTheViewsMenuAndAChosenItemSendsItsAction) {
  OutlineWindow w(3, 2);
  auto* watcher = alloc<Watcher>();
  NSMenu* menu = alloc<NSMenu>()->initWithTitle(Text("device"));
  menu->setAutoenablesItems(NO);
  for (const char* title : {"Connect", "Disconnect"}) {
    NSMenuItem* item = menu->addItemWithTitle_action_keyEquivalent(Text(title), selector(&Watcher::Item), nullptr);
    item->setTarget(watcher);
    item->setTag(menu->numberOfItems() - 1);
  }
  menu->itemAtIndex(1)->setEnabled(NO);
  w.outline->setMenu(menu);

  NSInteger clickedRow = -2;
  WhenReady([] { return NSMenu::ShownMenuWindow() != nullptr; }, [&] {
    clickedRow = w.outline->clickedRow();
    NSWindow* shown = NSMenu::ShownMenuWindow();
    const CGFloat top = shown->frame().size.height;
    Click(shown, NSMakePoint(40, top - 4 - 30));  // the disabled second item: nothing
    Click(shown, NSMakePoint(40, top - 4 - 10));  // the first
  });
  Click(w.window, w.Row(2), PointerButton::kRight);
  ASSERT_TRUE(Until([&] { return !watcher->tags.empty(); }));
  EXPECT_EQ(watcher->tags, std::vector<NSInteger>{0});
  EXPECT_EQ(clickedRow, 2);
  EXPECT_EQ(NSMenu::ShownMenuWindow(), nullptr);

  // A press outside the menu dismisses it without an action.
  bool shown = false;
  WhenReady([] { return NSMenu::ShownMenuWindow() != nullptr; }, [&] {
    shown = true;
    Click(NSMenu::ShownMenuWindow(), NSMakePoint(-50, -50));
  });
  Click(w.window, w.Row(0), PointerButton::kRight);
  ASSERT_TRUE(Until([&] { return shown; }));
  ASSERT_TRUE(Until([] { return NSMenu::ShownMenuWindow() == nullptr; }));
  EXPECT_EQ(watcher->tags.size(), 1u);
  menu->release();
  watcher->release();
}

class Toolbar : public NSObject, public NSToolbarDelegate, public NSToolbarItemValidation {
 public:
  bool startAllowed = false;
  int starts = 0, connects = 0;
  NSToolbarItem* toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(NSToolbar*, NSString* identifier, BOOL) override {
    NSToolbarItem* item = alloc<NSToolbarItem>()->initWithItemIdentifier(identifier);
    item->setLabel(identifier);
    item->setTarget(this);
    item->setAction(identifier->isEqualToString(Text("START")) ? selector(&Toolbar::Start) : selector(&Toolbar::Connect));
    return static_cast<NSToolbarItem*>(item->autorelease());
  }
  NSArray* toolbarDefaultItemIdentifiers(NSToolbar*) override {
    NSMutableArray* list = NSMutableArray::array();
    list->addObject(Text("Connect"));
    list->addObject(NSToolbarSeparatorItemIdentifier);
    list->addObject(Text("START"));
    return list;
  }
  NSArray* toolbarAllowedItemIdentifiers(NSToolbar* toolbar) override { return toolbarDefaultItemIdentifiers(toolbar); }
  BOOL validateToolbarItem(NSToolbarItem* item) override {
    return item->itemIdentifier()->isEqualToString(Text("START")) ? startAllowed : YES;
  }
  void Start(id) { ++starts; }
  void Connect(id) { ++connects; }
};

TEST_F(AppKitTest, AToolbarItemValidatedOffIsDrawnDisabledAndIgnoresClicks) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 100, 400, 200));
  auto* delegate = alloc<Toolbar>();
  NSToolbar* toolbar = alloc<NSToolbar>()->initWithIdentifier(Text("tooltest"));
  toolbar->setDelegate(delegate);
  window->setToolbar(toolbar);
  EXPECT_EQ(window->frame().size.height, 200 + kNSTitleBarHeight + NSToolbar::kHeight);
  EXPECT_EQ(window->contentView()->frame().size.height, 200);
  window->makeKeyAndOrderFront(nullptr);
  ASSERT_EQ(toolbar->items()->count(), 3u);
  EXPECT_FALSE(static_cast<NSToolbarItem*>(toolbar->items()->objectAtIndex(2))->isEnabled());

  // Items: 8 pixels in, 72 wide, a separator of 12: START's middle at 8 + 72 + 12 + 36.
  const CGFloat barMiddle = 200 + NSToolbar::kHeight / 2;
  auto labelInk = [&](int x) {
    auto image = Pixels(window);
    int darkest = 255;
    for (int y = static_cast<int>(kNSTitleBarHeight) + 38; y < static_cast<int>(kNSTitleBarHeight + NSToolbar::kHeight); ++y)
      for (int dx = -20; dx < 20; ++dx) darkest = std::min(darkest, static_cast<int>(image.at(x + dx, y) & 0xFF));
    return darkest;
  };
  EXPECT_GT(labelInk(128), 0x90);  // START's label is grey
  EXPECT_LT(labelInk(44), 0x60);   // Connect's is dark
  Click(window, NSMakePoint(128, barMiddle));
  Click(window, NSMakePoint(44, barMiddle));
  ASSERT_TRUE(Until([&] { return delegate->connects == 1; }));
  EXPECT_EQ(delegate->starts, 0);

  delegate->startAllowed = true;
  window->update();
  EXPECT_LT(labelInk(128), 0x60);
  Click(window, NSMakePoint(128, barMiddle));
  ASSERT_TRUE(Until([&] { return delegate->starts == 1; }));
  window->close();  // before its items' target goes
  window->release();
  toolbar->release();
  delegate->release();
}

TEST_F(AppKitTest, AnAlertAskedForByAWorkerShowsOnTheMainThreadAndAnswersTheButtonClicked) {
  std::promise<NSInteger> answered;
  std::thread worker([&] {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    answered.set_value(NSRunAlertPanel(Text("Note:"), Text("Driver %s"), Text("Ok"), Text("Cancel"), nullptr, "Not Installed"));
    pool->drain();
  });
  std::string title, role;
  bool onMain = false;
  WhenReady([] { return NSApp->modalWindow() != nullptr; }, [&] {
    NSWindow* panel = NSApp->modalWindow();
    title = panel->title()->str();
    role = panel->Role();
    onMain = NSThread::isMainThread_class();
    // The default button at the bottom right, the alternate left of it.
    Click(panel, NSMakePoint(panel->frame().size.width - 50, 26));
  });
  auto answer = answered.get_future();
  ASSERT_TRUE(Until([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  worker.join();
  EXPECT_EQ(answer.get(), NSAlertDefaultReturn);
  EXPECT_EQ(title, "Note:");
  EXPECT_EQ(role, "dialog");
  EXPECT_TRUE(onMain);
}

TEST_F(AppKitTest, ASavePanelTakesTheSinksAnswerAndAddsTheRequiredType) {
  std::string askedTitle;
  appkit::SetPanelSink([&](bool opening, const std::string& title, std::string& path) {
    EXPECT_FALSE(opening);
    askedTitle = title;
    path = "/Users/Shared/device log";
    return true;
  });
  NSSavePanel* panel = NSSavePanel::savePanel();
  panel->setTitle(Text("Save DeviceMapping Log File"));
  panel->setCanCreateDirectories(NO);
  panel->setRequiredFileType(Text("txt"));
  EXPECT_EQ(panel->runModal(), NSFileHandlingPanelOKButton);
  EXPECT_EQ(askedTitle, "Save DeviceMapping Log File");
  EXPECT_EQ(panel->filename()->str(), "/Users/Shared/device log.txt");

  appkit::SetPanelSink([](bool, const std::string&, std::string&) { return false; });
  EXPECT_EQ(NSSavePanel::savePanel()->runModal(), NSFileHandlingPanelCancelButton);
  appkit::SetPanelSink(nullptr);
  EXPECT_EQ(NSOpenPanel::openPanel()->runModal(), NSFileHandlingPanelCancelButton);  // no display, no sink
}

TEST_F(AppKitTest, AWindowWithAThousandOutlineRowsGivesBackEveryObjectWhenItCloses) {
  NSNotificationCenter::defaultCenter();
  { OutlineWindow warmup(1, 1); }
  RunWhatIsDue();
  pool_->drain();
  pool_ = alloc<NSAutoreleasePool>()->init();
  const long before = cocoa::LiveObjectCount();
  {
    OutlineWindow w(100, 9);
    for (NSInteger row = 0; row < w.outline->numberOfRows(); row += 10) w.outline->expandItem(w.outline->itemAtRow(row));
    EXPECT_EQ(w.outline->numberOfRows(), 1000);
    w.outline->selectRow_byExtendingSelection(500, NO);
    w.outline->scrollRowToVisible(999);
    Pixels(w.window);
  }
  ASSERT_TRUE(Until([&] {
    pool_->drain();
    pool_ = alloc<NSAutoreleasePool>()->init();
    return cocoa::LiveObjectCount() == before;
  }));
}

}  // namespace
