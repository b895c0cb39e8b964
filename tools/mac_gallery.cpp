// tavrin-mac-gallery: the Mac windows' controls in one window beside the oval start-up window, for a
// person to look at. Shown on the X display (DISPLAY, or TAVRIN_DISPLAY=x11) until the window is closed,
// or with --png FILE drawn off screen, the screen composed and written as a PNG.
#include <cstdio>
#include <cstring>
#include <string>

#include "cocoa/AppKit.h"
#include "cocoa/AppKitBuilding.h"
#include "draw/png.h"
#include "gui/desktop.h"

namespace {

using appkit::AddSubview;
using appkit::Column;
using appkit::Label;
using appkit::Text;

// 4 servers with 3 devices each.
class Devices : public NSObject, public NSOutlineViewDataSource, public NSTableViewDataSource {
 public:
  Devices* init() {
    servers_ = alloc<NSMutableArray>()->init();
    devices_ = alloc<NSMutableArray>()->init();
    const char* names[] = {"Mass-Storage", "Printer", "HID"};
    for (int s = 0; s < 4; ++s) {
      servers_->addObject(NSString::stringWithFormat("192.168.1.%d", 20 + s));
      NSMutableArray* list = NSMutableArray::array();
      for (int d = 0; d < 3; ++d) list->addObject(NSString::stringWithFormat("%s %d", names[d], d + 1));
      devices_->addObject(list);
    }
    return this;
  }
  id outlineView_child_ofItem(NSOutlineView*, NSInteger index, id item) override {
    NSArray* list = item ? Children(item) : servers_;
    return list->objectAtIndex(static_cast<NSUInteger>(index));
  }
  BOOL outlineView_isItemExpandable(NSOutlineView*, id item) override { return Children(item) != nullptr; }
  NSInteger outlineView_numberOfChildrenOfItem(NSOutlineView*, id item) override {
    NSArray* list = item ? Children(item) : servers_;
    return list ? static_cast<NSInteger>(list->count()) : 0;
  }
  id outlineView_objectValueForTableColumn_byItem(NSOutlineView*, NSTableColumn* column, id item) override {
    const std::string which = static_cast<NSString*>(column->identifier())->str();
    const bool server = Children(item) != nullptr;
    if (which == "0") return NSImage::imageNamed(Text(server ? "server.icns" : "ConnectImage.png"));
    if (which == "3") return Text(server ? " " : "Free");
    return item;
  }
  NSInteger numberOfRowsInTableView(NSTableView*) override { return 5; }
  id tableView_objectValueForTableColumn_row(NSTableView*, NSTableColumn* column, NSInteger row) override {
    const std::string which = static_cast<NSString*>(column->identifier())->str();
    if (which == "sno") return NSString::stringWithFormat("%ld", row);
    if (which == "method") return Text(row % 2 ? "connectDevice" : "192.168.1.20");
    return Text(row % 2 ? "Made Busy" : "Started Recieving broadcast packets.");
  }

 protected:
  void dealloc() override {
    servers_->release();
    devices_->release();
    NSObject::dealloc();
  }

 private:
  NSArray* Children(id item) {
    const NSUInteger at = servers_->indexOfObjectIdenticalTo(item);
    return at == NSNotFound ? nullptr : static_cast<NSArray*>(devices_->objectAtIndex(at));
  }
  NSMutableArray* servers_ = nullptr;
  NSMutableArray* devices_ = nullptr;
};

class Toolbar : public NSObject, public NSToolbarDelegate, public NSToolbarItemValidation {
 public:
  NSToolbarItem* toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(NSToolbar*, NSString* identifier, BOOL) override {
    const std::string name = identifier->str();
    const char* image = name == "Connect" ? "Connect.ico" : name == "DisConnect" ? "Disconnect.ico"
                        : name == "START" ? "play_blue_h.png" : name == "STOP" ? "stop_blue.png" : "network.png";
    NSToolbarItem* item = alloc<NSToolbarItem>()->initWithItemIdentifier(identifier);
    item->setLabel(identifier);
    item->setImage(NSImage::imageNamed(Text(image)));
    item->setTarget(this);
    return static_cast<NSToolbarItem*>(item->autorelease());
  }
  NSArray* toolbarDefaultItemIdentifiers(NSToolbar*) override {
    NSMutableArray* list = NSMutableArray::array();
    for (const char* name : {"Connect", "DisConnect"}) list->addObject(Text(name));
    list->addObject(NSToolbarSeparatorItemIdentifier);
    for (const char* name : {"START", "STOP"}) list->addObject(Text(name));
    list->addObject(NSToolbarSeparatorItemIdentifier);
    list->addObject(Text("Auto-Connect Settings"));
    list->addObject(NSToolbarShowColorsItemIdentifier);
    return list;
  }
  NSArray* toolbarAllowedItemIdentifiers(NSToolbar* toolbar) override { return toolbarDefaultItemIdentifiers(toolbar); }
  // START and DisConnect are off, as while device mapping runs with no device chosen.
  BOOL validateToolbarItem(NSToolbarItem* item) override {
    const std::string name = item->itemIdentifier()->str();
    return name != "START" && name != "DisConnect";
  }
};

// The start-up window's face: an orange ring around the inner oval, the name in the middle.
class OvalView : public NSView {
 public:
  void drawRect(NSRect) override {
    NSBezierPath* outside = NSBezierPath::bezierPathWithOvalInRect(bounds());
    NSBezierPath* inside = NSBezierPath::bezierPathWithOvalInRect(NSInsetRect(bounds(), 60, 15));
    outside->setWindingRule(NSEvenOddWindingRule);
    outside->appendBezierPath(inside);
    NSColor::orangeColor()->set();
    outside->fill();
    NSColor::colorWithCalibratedRed_green_blue_alpha(1, 1, 0.9f, 1)->set();
    inside->fill();
    NSMutableDictionary* look = NSMutableDictionary::dictionary();
    look->setObject_forKey(NSFont::userFontOfSize(75), NSFontAttributeName);
    look->setObject_forKey(NSColor::orangeColor(), NSForegroundColorAttributeName);
    NSAttributedString* word = alloc<NSAttributedString>()->initWithString_attributes(Text("Pelko"), look);
    const NSSize size = word->size();
    word->drawInRect(NSMakeRect((bounds().size.width - size.width) / 2, (bounds().size.height - size.height) / 2,
                                size.width, size.height));
    word->release();
  }
};

struct Closer : NSObject, NSWindowDelegate {
  void windowWillClose(NSNotification*) override { NSApp->terminate(nullptr); }
};

NSWindow* BuildGallery(Devices* devices, Toolbar* toolbarDelegate) {
  NSWindow* window = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(40, 60, 760, 520), NSTitledWindowMask | NSClosableWindowMask | NSMiniaturizableWindowMask,
      NSBackingStoreBuffered, NO);
  window->setTitle(Text("Pelko Mac Gallery"));
  NSToolbar* toolbar = alloc<NSToolbar>()->initWithIdentifier(Text("tooltest"));
  toolbar->setDelegate(toolbarDelegate);
  window->setToolbar(toolbar);
  toolbar->release();
  NSView* content = window->contentView();

  // The device tree in a tab, the log under it.
  NSTabView* tabs = AddSubview(content, alloc<NSTabView>()->initWithFrame(NSMakeRect(10, 170, 480, 340)));
  NSTabViewItem* device = alloc<NSTabViewItem>()->initWithIdentifier(Text("device"));
  device->setLabel(Text("Device Mapping"));
  NSScrollView* treeScroll = alloc<NSScrollView>()->initWithFrame(NSZeroRect);
  NSOutlineView* outline = alloc<NSOutlineView>()->initWithFrame(NSMakeRect(0, 0, 460, 300));
  outline->addTableColumn(Column("0", " ", 24));
  outline->addTableColumn(Column("1", "Server / Device", 250));
  outline->addTableColumn(Column("3", "State", 120));
  treeScroll->setDocumentView(outline);
  outline->release();
  device->setView(treeScroll);
  treeScroll->release();
  tabs->addTabViewItem(device);
  device->release();
  NSTabViewItem* server = alloc<NSTabViewItem>()->initWithIdentifier(Text("server"));
  server->setLabel(Text("Server Manager"));
  server->setView(alloc<NSView>()->init());
  server->view()->release();
  tabs->addTabViewItem(server);
  server->release();
  outline->setDataSource(devices);
  outline->expandItem(outline->itemAtRow(0));
  outline->expandItem(outline->itemAtRow(4));
  outline->selectRow_byExtendingSelection(2, NO);

  NSScrollView* logScroll = AddSubview(content, alloc<NSScrollView>()->initWithFrame(NSMakeRect(10, 10, 480, 150)));
  NSTableView* log = alloc<NSTableView>()->initWithFrame(NSMakeRect(0, 0, 465, 150));
  log->addTableColumn(Column("sno", "S.no", 40));
  log->addTableColumn(Column("method", "Method", 130));
  log->addTableColumn(Column("description", "Description", 290));
  log->setUsesAlternatingRowBackgroundColors(YES);
  logScroll->setDocumentView(log);
  log->release();
  log->setDataSource(devices);

  // The controls of the side panel.
  NSButton* connect = AddSubview(content, alloc<NSButton>()->initWithFrame(NSMakeRect(510, 470, 110, 30)));
  connect->setTitle(Text("Connect"));
  connect->setKeyEquivalent(Text("\r"));
  NSButton* cancel = AddSubview(content, alloc<NSButton>()->initWithFrame(NSMakeRect(630, 470, 110, 30)));
  cancel->setTitle(Text("Cancel"));
  NSButton* off = AddSubview(content, alloc<NSButton>()->initWithFrame(NSMakeRect(510, 430, 110, 30)));
  off->setTitle(Text("Disabled"));
  off->setEnabled(NO);
  NSButton* tab = AddSubview(content, alloc<NSButton>()->initWithFrame(NSMakeRect(630, 430, 110, 30)));
  tab->setButtonType(NSPushOnPushOffButton);
  tab->setTitle(Text("Device Mapping"));
  tab->setState(NSOnState);
  NSButton* check = AddSubview(content, alloc<NSButton>()->initWithFrame(NSMakeRect(510, 395, 230, 22)));
  check->setButtonType(NSSwitchButton);
  check->setTitle(Text("Enable password"));
  check->setState(NSOnState);
  NSTextField* label = AddSubview(content, alloc<NSTextField>()->initWithFrame(NSMakeRect(510, 360, 230, 20)));
  label->setEditable(NO);
  label->setBezeled(NO);
  label->setStringValue(Text("IP Address:"));
  NSTextField* address = AddSubview(content, alloc<NSTextField>()->initWithFrame(NSMakeRect(510, 335, 230, 22)));
  address->setStringValue(Text("192.168.1.20"));
  NSSecureTextField* password = AddSubview(content, alloc<NSSecureTextField>()->initWithFrame(NSMakeRect(510, 300, 230, 22)));
  password->setStringValue(Text("secret"));
  NSComboBox* combo = AddSubview(content, alloc<NSComboBox>()->initWithFrame(NSMakeRect(510, 265, 230, 22)));
  for (const char* value : {"DHCP", "Static IP"}) combo->addItemWithObjectValue(Text(value));
  combo->selectItemAtIndex(0);
  NSProgressIndicator* progress = AddSubview(content, alloc<NSProgressIndicator>()->initWithFrame(NSMakeRect(510, 230, 230, 20)));
  progress->setIndeterminate(NO);
  progress->setDoubleValue(60);
  NSProgressIndicator* spinner = AddSubview(content, alloc<NSProgressIndicator>()->initWithFrame(NSMakeRect(510, 190, 32, 32)));
  spinner->setStyle(NSProgressIndicatorSpinningStyle);
  NSImageView* network = AddSubview(content, alloc<NSImageView>()->initWithFrame(NSMakeRect(560, 190, 32, 32)));
  network->setImage(NSImage::imageNamed(Text("network.png")));
  NSTextView* details = AddSubview(content, alloc<NSTextView>()->initWithFrame(NSMakeRect(510, 10, 230, 170)));
  details->setEditable(NO);
  details->setString(Text("Device:\nProduct ID    : 4096\nVendor ID     : 1921\nPortnumber   : 2\n"
                          "ServerIP      : 192.168.1.20\nMass-Storage 1 : (FREE)"));
  return window;
}

NSWindow* BuildOval() {
  NSWindow* oval = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(560, 600, 440, 150), NSBorderlessWindowMask, NSBackingStoreBuffered, NO);
  oval->setTitle(Text("Pelko"));
  oval->setBackgroundColor(NSColor::clearColor());
  oval->setOpaque(NO);
  oval->setLevel(NSStatusWindowLevel);
  oval->contentView()->addSubview(alloc<OvalView>()->initWithFrame(NSMakeRect(0, 0, 440, 150)));
  static_cast<NSView*>(oval->contentView()->subviews()->lastObject())->release();
  return oval;
}

}  // namespace

int main(int argc, char** argv) {
  std::string png;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--png") && i + 1 < argc) {
      png = argv[++i];
    } else {
      fprintf(stderr, "usage: tavrin-mac-gallery [--png FILE]\n");
      return 2;
    }
  }
  NSThread::setMainThread_class();
  NSApplication::sharedApplication();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  tavrin::gui::TheDesktop().SetScreenSize(1024, 768);
  auto* devices = alloc<Devices>()->init();
  auto* toolbar = alloc<Toolbar>();
  NSWindow* window = BuildGallery(devices, toolbar);
  window->setReleasedWhenClosed(NO);
  NSWindow* oval = BuildOval();
  // The colour panel beside the window, a colour chosen.
  NSColorPanel* colours = NSColorPanel::sharedColorPanel();
  colours->setFrameOrigin(NSMakePoint(796, 200));
  colours->setColor(NSColor::orangeColor());
  window->makeKeyAndOrderFront(nullptr);
  oval->orderFront(nullptr);
  colours->orderFront(nullptr);
  int status = 0;
  if (!png.empty()) {
    appkit::RunMainLoopUntil([] { return false; }, 0.2);  // what was asked to draw is drawn
    window->displayIfNeeded();
    oval->displayIfNeeded();
    colours->displayIfNeeded();
    if (!tavrin::draw::WritePngFile(tavrin::gui::TheDesktop().Compose(), png)) {
      fprintf(stderr, "tavrin-mac-gallery: cannot write %s\n", png.c_str());
      status = 1;
    }
  } else if (appkit::StartDisplayFromEnvironment()) {
    auto* closer = alloc<Closer>();
    window->setDelegate(closer);
    NSApp->run();
    window->setDelegate(nullptr);
    closer->release();
    appkit::StopDisplay();
  } else {
    fprintf(stderr, "tavrin-mac-gallery: no display (set DISPLAY, or use --png FILE)\n");
    status = 1;
  }
  colours->close();
  oval->close();
  window->close();
  window->release();
  toolbar->release();
  devices->release();
  pool->drain();
  return status;
}
