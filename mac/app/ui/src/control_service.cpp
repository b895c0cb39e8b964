#include "TavrinMac/ui/ControlService.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <vector>

#include "PelkoFramework/Node.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/ui/MainWindow.h"
#include "base/local_socket.h"
#include "cocoa/mac_root.h"
#include "gui/desktop.h"

namespace local = tavrin::base::local;
namespace gui = tavrin::gui;

namespace tavrinmac::ui {
namespace {

constexpr uint32_t kMaxMessage = 1 << 20;
constexpr auto kMainThreadWait = std::chrono::seconds(20);

local::Address SocketAddress() { return local::Address::File(cocoa::RunDir() / kControlSocketName); }

bool SendMessage(local::Connection& connection, const std::string& text) {
  const uint32_t size = static_cast<uint32_t>(text.size());
  return connection.SendAll(&size, sizeof size) && connection.SendAll(text.data(), text.size());
}

bool ReceiveMessage(local::Connection& connection, std::string& text) {
  uint32_t size = 0;
  if (!connection.ReceiveAll(&size, sizeof size) || size > kMaxMessage) return false;
  text.resize(size);
  return connection.ReceiveAll(text.data(), size);
}

std::string CellText(NSTableView* table, NSTableColumn* column, NSInteger row) {
  id value = table->ValueAt(column, row);
  if (auto* text = dynamic_cast<NSString*>(value)) return text->str();
  if (auto* cell = dynamic_cast<NSCell*>(value)) return cell->stringValue() ? cell->stringValue()->str() : "";
  if (auto* image = dynamic_cast<NSImage*>(value)) return image->name() ? image->name()->str() : "";
  return "";
}

std::string Column(NSTableView* table, NSInteger row, const char* identifier) {
  NSTableColumn* column = table->tableColumnWithIdentifier(NSString::stringWithUTF8String(identifier));
  return column ? CellText(table, column, row) : "";
}

// A press and release through the window core, as a display hands a person's click on.
void ClickAt(NSWindow* window, NSPoint at) {
  const int height = gui::TheDesktop().ScreenBounds().height();
  const NSPoint screen = window->convertBaseToScreen(at);
  gui::PointerEvent event;
  event.button = gui::PointerButton::kLeft;
  event.screen = {static_cast<int>(screen.x), height - static_cast<int>(screen.y)};
  for (auto kind : {gui::PointerEvent::Kind::kPress, gui::PointerEvent::Kind::kRelease}) {
    event.kind = kind;
    gui::TheDesktop().Pointer(event, window->SurfaceId());
  }
}

NSToolbarItem* ToolbarItem(NSWindow* window, const std::string& identifier, size_t* index) {
  NSToolbar* toolbar = window->toolbar();
  NSArray* items = toolbar ? toolbar->items() : nullptr;
  for (NSUInteger i = 0; items && i < items->count(); ++i) {
    auto* item = static_cast<NSToolbarItem*>(items->objectAtIndex(i));
    if (item->itemIdentifier()->str() != identifier) continue;
    *index = i;
    return item;
  }
  return nullptr;
}

std::string Tree(MainWindowController* window) {
  std::string out;
  NSOutlineView* tree = window->outlineView;
  for (NSInteger row = 0; row < tree->numberOfRows(); ++row) {
    out += std::string(2 * static_cast<size_t>(tree->levelForRow(row)), ' ') + Column(tree, row, "1") + "\t" +
           Column(tree, row, "2") + "\t" + Column(tree, row, "3") + "\t" + Column(tree, row, "5") +
           (tree->isRowSelected(row) ? "\t*" : "") + "\n";
  }
  return out;
}

std::string DeviceLog(MainWindowController* window) {
  std::string out;
  NSTableView* log = window->logDevicesTable;
  for (NSInteger row = 0; row < log->numberOfRows(); ++row)
    out += Column(log, row, "sno") + "\t" + Column(log, row, "method") + "\t" + Column(log, row, "description") + "\n";
  return out;
}

std::string ServerLog() {
  std::string out;
  for (int row = 0; row < serverManager::numberOfLogLines(); ++row)
    out += serverManager::logCellText("0", row) + "\t" + serverManager::logCellText("2", row) + "\n";
  return out;
}

std::string Servers() {
  std::string out;
  for (int row = 0; row < serverManager::numberOfServers(); ++row) {
    for (const char* column : {"0", "1", "2", "3", "4"}) out += serverManager::serverCellText(column, row) + "\t";
    out.back() = '\n';
  }
  return out;
}

std::string Toolbar(MainWindowController* window) {
  std::string out;
  NSToolbar* toolbar = window->mainWindow->toolbar();
  if (!toolbar) return out;
  toolbar->validateVisibleItems();
  NSArray* items = toolbar->items();
  for (NSUInteger i = 0; i < items->count(); ++i) {
    auto* item = static_cast<NSToolbarItem*>(items->objectAtIndex(i));
    if (item->itemIdentifier() == NSToolbarSeparatorItemIdentifier) continue;
    out += item->itemIdentifier()->str() + (item->isEnabled() ? "\tenabled\n" : "\tdisabled\n");
  }
  return out;
}

std::string Select(MainWindowController* window, const std::string& text) {
  NSOutlineView* tree = window->outlineView;
  for (NSInteger row = 0; row < tree->numberOfRows(); ++row) {
    if (Column(tree, row, "1") != text) continue;
    tree->scrollRowToVisible(row);
    const NSRect rect = tree->convertRect_toView(tree->rectOfRow(row), nullptr);
    ClickAt(window->mainWindow, NSMakePoint(NSMinX(rect) + 60, NSMidY(rect)));  // taken at the loop's next turn
    return "";
  }
  return "no row shows " + text;
}

std::string Press(MainWindowController* window, const std::string& identifier) {
  NSWindow* main = window->mainWindow;
  size_t index = 0;
  NSToolbarItem* item = ToolbarItem(main, identifier, &index);
  if (!item) return "no toolbar item " + identifier;
  item->validate();
  if (!item->isEnabled()) return identifier + " is disabled";
  const NSRect rect = main->toolbar()->ItemRect(index, main->frame().size.width);
  const CGFloat barBottom = main->frame().size.height - kNSTitleBarHeight - NSToolbar::kHeight;
  ClickAt(main, NSMakePoint(NSMidX(rect), barBottom + NSMidY(rect)));
  return "";
}

std::string ChooseMenuItem(const std::string& path) {
  const size_t slash = path.find('/');
  if (slash == std::string::npos) return "a menu item is MENU/ITEM";
  NSMenu* bar = NSApp->mainMenu();
  NSMenuItem* holder = bar ? bar->itemWithTitle(NSString::stringWithStd(path.substr(0, slash))) : nullptr;
  NSMenu* menu = holder ? holder->submenu() : nullptr;
  NSMenuItem* item = menu ? menu->itemWithTitle(NSString::stringWithStd(path.substr(slash + 1))) : nullptr;
  if (!item) return "no menu item " + path;
  if (!menu->ItemEnabled(item)) return path + " is disabled";
  item->retain();
  item->action().Send(item->target(), item);
  item->release();
  return "";
}

std::string ShowTab(MainWindowController* window, const std::string& tab) {
  NSButton* button = tab == "device" ? window->devButton : tab == "server" ? window->servButton
                     : tab == "settings" ? window->locSetButton : nullptr;
  if (!button) return "the tabs are device, server and settings";
  button->performClick(nullptr);
  return "";
}

// The alert shown now: its title and text.
std::string ShownAlert() {
  NSWindow* alert = NSApp->modalWindow();
  if (!alert) return "";
  std::string text = alert->title() ? alert->title()->str() : "";
  NSArray* views = alert->contentView()->subviews();
  for (NSUInteger i = 0; i < views->count(); ++i)
    if (auto* words = dynamic_cast<NSText*>(views->objectAtIndex(i)); words && words->string())
      text += "\t" + words->string()->str();
  return text + "\n";
}

// A click on the shown alert's default button.
std::string AnswerAlert() {
  NSWindow* alert = NSApp->modalWindow();
  if (!alert) return "no alert shows";
  NSArray* views = alert->contentView()->subviews();
  for (NSUInteger i = 0; i < views->count(); ++i) {
    auto* button = dynamic_cast<NSButton*>(views->objectAtIndex(i));
    if (!button || button->tag() != NSAlertDefaultReturn) continue;
    ClickAt(alert, NSMakePoint(NSMidX(button->frame()), NSMidY(button->frame())));
    return "";
  }
  return "the alert has no default button";
}

}  // namespace

std::string ControlService::Answer(const std::string& request) {
  MainWindowController* window = CurrentMainWindow();
  if (!window || !window->started()) return "error: the main window is not up";
  std::istringstream words(request);
  std::string verb;
  words >> verb;
  std::string argument;
  std::getline(words >> std::ws, argument);
  std::string error;
  std::string out;
  if (verb == "tree") out = Tree(window);
  else if (verb == "log") out = argument == "server" ? ServerLog() : DeviceLog(window);
  else if (verb == "servers") out = Servers();
  else if (verb == "details") out = window->statusText->stringValue() ? window->statusText->stringValue()->str() + "\n" : "";
  else if (verb == "toolbar") out = Toolbar(window);
  else if (verb == "select") error = Select(window, argument);
  else if (verb == "press") error = Press(window, argument);
  else if (verb == "menu") error = ChooseMenuItem(argument);
  else if (verb == "tab") error = ShowTab(window, argument);
  else if (verb == "alert") out = ShownAlert();
  else if (verb == "answer") error = AnswerAlert();
  else if (verb == "quit") {
    // On the next turn: the alert of the quit rule may run its own loop meanwhile.
    NSRunLoop::mainRunLoop()->Enqueue([] {
      if (MainWindowController* shown = CurrentMainWindow()) shown->exitApplication(nullptr);
    }, 0);
  }
  else error = "unknown request " + verb;
  return error.empty() ? "ok\n" + out : "error: " + error + "\n";
}

struct ControlService::Impl {
  local::Server server;
};

ControlService::ControlService() : impl_(std::make_unique<Impl>()) {}

ControlService::~ControlService() { Stop(); }

bool ControlService::Start(std::string* error) {
  auto handler = [](const std::shared_ptr<local::Connection>& connection) {
    std::string request;
    while (ReceiveMessage(*connection, request)) {
      // The windows are the main thread's: the request waits for its turn there.
      struct Reply {
        std::mutex mutex;
        std::condition_variable done;
        bool ready = false;
        std::string text;
      };
      auto reply = std::make_shared<Reply>();
      NSRunLoop::mainRunLoop()->Enqueue([reply, request] {
        NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
        std::string text = Answer(request);
        pool->drain();
        std::lock_guard lock(reply->mutex);
        reply->text = std::move(text);
        reply->ready = true;
        reply->done.notify_all();
      }, 0);
      std::unique_lock lock(reply->mutex);
      if (!reply->done.wait_for(lock, kMainThreadWait, [&] { return reply->ready; })) reply->text = "error: busy\n";
      if (!SendMessage(*connection, reply->text)) return;
    }
  };
  return impl_->server.Start(SocketAddress(), handler, {.maxConnections = 8, .name = "TavrinMac control"}, error);
}

void ControlService::Stop() { impl_->server.Stop(); }

bool SendControlRequest(const std::string& request, std::string& reply) {
  local::Connection connection = local::Connect(SocketAddress());
  if (!connection.valid()) return false;
  connection.SetReceiveTimeout(std::chrono::seconds(60));
  return SendMessage(connection, request) && ReceiveMessage(connection, reply);
}

}  // namespace tavrinmac::ui
