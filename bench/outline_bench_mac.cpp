// The outline benchmark's AppKit side: an NSOutlineView in an NSScrollView filling a borderless NSWindow.
#include <array>
#include <map>

#include "cocoa/AppKit.h"
#include "gui/desktop.h"
#include "outline_bench.h"

namespace outline_bench {
namespace {

// The model as the outline's items: a server is its address string, a device its name string; the cells
// are made once, as a program's model objects are.
class Devices : public NSObject, public NSOutlineViewDataSource {
 public:
  Devices* initWithModel(const Model& model) {
    servers_ = alloc<NSMutableArray>()->init();
    for (size_t s = 0; s < model.servers.size(); ++s) {
      NSString* server = NSString::stringWithUTF8String(model.servers[s].c_str());
      servers_->addObject(server);
      NSMutableArray* list = NSMutableArray::array();
      for (const Model::Device& device : model.devices[s]) {
        NSString* name = NSString::stringWithUTF8String(device.name.c_str());
        list->addObject(name);
        cells_[name] = {NSString::stringWithUTF8String(device.port.c_str()),
                        NSString::stringWithUTF8String(device.cls.c_str()),
                        NSString::stringWithUTF8String(device.state.c_str())};
        for (NSString* cell : cells_[name]) cell->retain();
      }
      children_[server] = static_cast<NSMutableArray*>(list->retain());
    }
    return this;
  }
  NSArray* servers() const { return servers_; }

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
    const int which = static_cast<NSString*>(column->identifier())->str()[0] - '0';
    if (which == 0) return item;
    auto cells = cells_.find(static_cast<NSString*>(item));
    return cells == cells_.end() ? nullptr : cells->second[static_cast<size_t>(which - 1)];
  }

 protected:
  void dealloc() override {
    for (auto& [server, list] : children_) list->release();
    for (auto& [name, cells] : cells_)
      for (NSString* cell : cells) cell->release();
    servers_->release();
    NSObject::dealloc();
  }

 private:
  NSArray* Children(id item) const {
    auto it = children_.find(static_cast<NSString*>(item));
    return it == children_.end() ? nullptr : it->second;
  }
  NSMutableArray* servers_ = nullptr;
  std::map<NSString*, NSMutableArray*> children_;
  std::map<NSString*, std::array<NSString*, 3>> cells_;
};

class MacScene : public Scene {
 public:
  explicit MacScene(const Model& model) {
    devices_ = alloc<Devices>()->initWithModel(model);
    window_ = alloc<NSWindow>()->initWithContentRect_styleMask_backing_defer(NSMakeRect(0, 0, 1024, 768),
                                                                             NSBorderlessWindowMask,
                                                                             NSBackingStoreBuffered, NO);
    window_->setReleasedWhenClosed(NO);
    NSScrollView* scroll = alloc<NSScrollView>()->initWithFrame(NSMakeRect(0, 0, 1024, 768));
    scroll->setHasVerticalScroller(YES);
    outline_ = alloc<NSOutlineView>()->initWithFrame(NSMakeRect(0, 0, 1000, 768));
    const char* headings[][2] = {{"0", "Device Info"}, {"1", "Port"}, {"2", "Class"}, {"3", "Status"}};
    const CGFloat widths[] = {400, 80, 200, 200};
    for (int c = 0; c < 4; ++c) {
      NSTableColumn* column = alloc<NSTableColumn>()->initWithIdentifier(NSString::stringWithUTF8String(headings[c][0]));
      column->setWidth(widths[c]);
      column->headerCell()->setStringValue(NSString::stringWithUTF8String(headings[c][1]));
      outline_->addTableColumn(column);
      column->release();
    }
    scroll->setDocumentView(outline_);
    window_->contentView()->addSubview(scroll);
    scroll->release();
    outline_->setDataSource(devices_);
    window_->orderFront(nullptr);
  }
  ~MacScene() override {
    outline_->setDataSource(nullptr);
    window_->close();
    window_->release();
    outline_->release();
    devices_->release();
  }

  void Reload() override {
    outline_->reloadData();
    NSArray* servers = devices_->servers();
    for (NSUInteger s = 0; s < servers->count(); ++s) outline_->expandItem(servers->objectAtIndex(s));
    window_->display();
  }
  long Rows() const override { return static_cast<long>(outline_->numberOfRows()); }

 private:
  Devices* devices_ = nullptr;
  NSWindow* window_ = nullptr;
  NSOutlineView* outline_ = nullptr;
};

NSAutoreleasePool* g_pool = nullptr;

}  // namespace

void StartMacSide() {
  NSThread::setMainThread_class();
  NSApplication::sharedApplication();
  g_pool = alloc<NSAutoreleasePool>()->init();
  tavrin::gui::TheDesktop().SetScreenSize(1024, 768);
}

void EndMacSide() {
  g_pool->drain();
  g_pool = nullptr;
}

std::unique_ptr<Scene> MakeMacScene(const Model& model) { return std::make_unique<MacScene>(model); }

}  // namespace outline_bench
