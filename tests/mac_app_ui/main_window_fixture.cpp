#include "main_window_fixture.h"

#include "PelkoFramework/Node.h"
#include "TavrinMac/serverManager.h"
#include "gui/desktop.h"

namespace tavrinmac::test {

namespace gui = tavrin::gui;

void MainWindowTest::SetUp() {
  MacTest::SetUp();
  NSApplication::sharedApplication();
  host_ = std::make_unique<cocoa::iokit::Host>();  // made in the test's sysroot
  ASSERT_TRUE(host_->Start());
  driver_ = std::make_shared<quorvel::Driver>(*host_);
  host_->Register(driver_);
  if (startServers_) StartServers();
}

void MainWindowTest::TearDown() {
  if (window_) Quit();
  driver_->DisconnectAll();
  host_->Stop();
  MacTest::TearDown();
}

void MainWindowTest::Launch(double ovalSeconds, bool waitForTree) {
  // What lives for the whole process is made before counting: the server manager's lists, the menu bar,
  // the shared objects of Foundation and of the drawing.
  serverManager::serversArray();
  NSNotificationCenter::defaultCenter();
  NSCharacterSet::whitespaceCharacterSet();
  NSCharacterSet::whitespaceAndNewlineCharacterSet();
  NSFileManager::defaultManager();
  NSImage* canvas = alloc<NSImage>()->initWithSize(NSMakeSize(2, 2));
  canvas->lockFocus();
  canvas->unlockFocus();
  canvas->release();
  NSMenu* bar = alloc<NSMenu>()->init();
  NSApp->setMainMenu(bar);
  NSApp->setMainMenu(nullptr);
  bar->release();
  pool_->drain();
  pool_ = alloc<NSAutoreleasePool>()->init();
  liveAtLaunch_ = cocoa::LiveObjectCount();

  ui::MainInterfaceOptions options;
  options.ovalSeconds = ovalSeconds;
  options.timings.networkTimeout = 3000;
  options.timings.presencePeriod = 1500;
  options.timings.presenceFirst = 0;
  options.timings.startStopStep = 200;
  options.timings.startStopSettle = 50;
  options.timings.disconnectAllFirst = 10;
  options.timings.disconnectAllEach = 10;
  options.timings.noSocketRetry = 50;
  TavrinApp* app = alloc<TavrinApp>()->init();
  window_ = alloc<ui::MainWindowController>()->initWithController(app, options);
  app->release();
  window_->load();
  if (!waitForTree) return;
  ASSERT_TRUE(Until([&] { return TreeRow("Office LaserPrinter 1020") >= 0; })) << "the tree never showed the printer";
}

void MainWindowTest::Quit() {
  ui::MainWindowController* window = window_;
  window_ = nullptr;
  window->teardown();
  window->release();
  pool_->drain();  // what the test's own calls autoreleased
  pool_ = alloc<NSAutoreleasePool>()->init();
  // What the loop still holds for the windows goes at its next turns.
  Until([&] { return cocoa::LiveObjectCount() <= liveAtLaunch_; }, 2);
  if (checkLiveObjects_) {
    EXPECT_EQ(cocoa::LiveObjectCount(), liveAtLaunch_) << "objects of the main window outlived it";
  }
}

bool MainWindowTest::Until(const std::function<bool()>& done, double seconds) {
  return appkit::RunMainLoopUntil(done, seconds);
}

int MainWindowTest::TreeRow(const std::string& text) {
  for (NSInteger row = 0; row < window_->outlineView->numberOfRows(); ++row)
    if (TreeCell(static_cast<int>(row), "1") == text) return static_cast<int>(row);
  return -1;
}

std::string MainWindowTest::TreeCell(int row, const char* column) {
  NSOutlineView* tree = window_->outlineView;
  NSTableColumn* which = tree->tableColumnWithIdentifier(NSString::stringWithUTF8String(column));
  if (!which || row < 0 || row >= tree->numberOfRows()) return "(none)";
  id value = tree->ValueAt(which, row);
  if (auto* text = dynamic_cast<NSString*>(value)) return text->str();
  if (auto* cell = dynamic_cast<NSCell*>(value)) return cell->stringValue() ? cell->stringValue()->str() : "";
  if (auto* image = dynamic_cast<NSImage*>(value)) return image->name() ? image->name()->str() : "(image)";
  return "";
}

std::vector<std::string> MainWindowTest::LogLines() {
  std::vector<std::string> lines;
  NSTableView* log = window_->logDevicesTable;
  NSTableColumn* method = log->tableColumnWithIdentifier(NSString::stringWithUTF8String("method"));
  NSTableColumn* description = log->tableColumnWithIdentifier(NSString::stringWithUTF8String("description"));
  for (NSInteger row = 0; row < log->numberOfRows(); ++row) {
    auto* m = dynamic_cast<NSString*>(log->ValueAt(method, row));
    auto* d = dynamic_cast<NSString*>(log->ValueAt(description, row));
    lines.push_back((m ? m->str() : "") + " | " + (d ? d->str() : ""));
  }
  return lines;
}

bool MainWindowTest::WaitForLog(const std::string& line, double seconds) {
  return Until([&] { return HasLine(LogLines(), line); }, seconds);
}

NSPoint MainWindowTest::ToolbarItemPoint(const std::string& identifier) {
  NSWindow* window = window_->mainWindow;
  NSToolbar* toolbar = window->toolbar();
  NSArray* items = toolbar->items();
  const CGFloat width = window->frame().size.width;
  const CGFloat barBottom = window->frame().size.height - kNSTitleBarHeight - NSToolbar::kHeight;
  for (NSUInteger i = 0; i < items->count(); ++i) {
    auto* item = static_cast<NSToolbarItem*>(items->objectAtIndex(i));
    if (item->itemIdentifier()->str() != identifier) continue;
    const NSRect rect = toolbar->ItemRect(i, width);
    return NSMakePoint(NSMidX(rect), barBottom + NSMidY(rect));
  }
  ADD_FAILURE() << "no toolbar item " << identifier;
  return NSMakePoint(-1, -1);
}

NSPoint MainWindowTest::TreeRowPoint(int row) {
  NSOutlineView* tree = window_->outlineView;
  tree->scrollRowToVisible(row);
  const NSRect rect = tree->convertRect_toView(tree->rectOfRow(row), nullptr);
  return NSMakePoint(NSMinX(rect) + 120, NSMidY(rect));
}

void MainWindowTest::Click(NSWindow* window, NSPoint at, bool right) {
  const int height = gui::TheDesktop().ScreenBounds().height();
  const NSPoint screen = window->convertBaseToScreen(at);
  gui::PointerEvent event;
  event.button = right ? gui::PointerButton::kRight : gui::PointerButton::kLeft;
  event.screen = {static_cast<int>(screen.x), height - static_cast<int>(screen.y)};
  for (auto kind : {gui::PointerEvent::Kind::kPress, gui::PointerEvent::Kind::kRelease}) {
    event.kind = kind;
    gui::TheDesktop().Pointer(event, window->SurfaceId());
  }
}

void MainWindowTest::AnswerNextAlert(std::string* seen) {
  auto answer = std::make_shared<std::function<void()>>();
  *answer = [seen, answer] {
    NSWindow* alert = NSApp->modalWindow();
    if (!alert) {
      NSRunLoop::mainRunLoop()->Enqueue(*answer, 0.01);
      return;
    }
    NSArray* views = alert->contentView()->subviews();
    std::string text;
    NSButton* first = nullptr;
    for (NSUInteger i = 0; i < views->count(); ++i) {
      auto* view = static_cast<NSView*>(views->objectAtIndex(i));
      if (auto* words = dynamic_cast<NSText*>(view)) text = words->string() ? words->string()->str() : "";
      if (auto* button = dynamic_cast<NSButton*>(view); button && button->tag() == NSAlertDefaultReturn) first = button;
    }
    *seen = (alert->title() ? alert->title()->str() : "") + " " + text;
    if (first) Click(alert, NSMakePoint(NSMidX(first->frame()), NSMidY(first->frame())));
    *answer = nullptr;  // the cycle ends with the answer
  };
  NSRunLoop::mainRunLoop()->Enqueue(*answer, 0.01);
}

bool MainWindowTest::Busy(const std::string& address, uint16_t port) {
  for (const auto& d : server(address).devices())
    if (d.port == port) return d.busy;
  return false;
}

}  // namespace tavrinmac::test
