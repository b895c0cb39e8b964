// The main window driven through the window core as a person would: the tree from the broadcasts, a
// click on a row and on the toolbar's Connect and DisConnect, the details, the quit rule, STOP and
// START, the log's file, the start-up window.
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "PelkoFramework/Node.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/ui/ControlService.h"
#include "cocoa/mac_root.h"
#include "main_window_fixture.h"
#include "nub_descriptor.h"
#include "testsupport/eventually.h"

namespace tavrinmac::test {
namespace {

bool Enabled(NSWindow* window, const std::string& identifier) {
  NSArray* items = window->toolbar()->items();
  for (NSUInteger i = 0; i < items->count(); ++i) {
    auto* item = static_cast<NSToolbarItem*>(items->objectAtIndex(i));
    if (item->itemIdentifier()->str() == identifier) return item->isEnabled();
  }
  return false;
}

TEST_F(MainWindowTest, TheTreeShowsTheServersTheirDevicesAndTheirStates) {
  Launch();
  ASSERT_TRUE(Until([&] { return TreeRow("127.0.0.4") >= 0 && TreeRow("Compact USB Keyboard") >= 0; }));
  const int office = TreeRow("127.0.0.2"), printer = TreeRow("Office LaserPrinter 1020");
  EXPECT_EQ(TreeCell(office, "0"), "server.icns");
  EXPECT_EQ(TreeCell(office, "3"), " ");
  EXPECT_GT(printer, office);  // under its server, which shows expanded
  EXPECT_EQ(TreeCell(printer, "2"), "Printer");
  EXPECT_EQ(TreeCell(printer, "3"), "Free");
  EXPECT_EQ(TreeCell(printer, "0"), "ConnectImage.png");
  EXPECT_EQ(TreeCell(printer, "5"), "1");
  ASSERT_TRUE(Until([&] { return TreeRow("Pocket Flash Drive") >= 0; }));
  EXPECT_EQ(TreeCell(TreeRow("Pocket Flash Drive"), "3"), "Busy");  // another computer holds it
  EXPECT_TRUE(WaitForLog("NewServerArrival | 127.0.0.2"));  // the log's table reloads on its own turn of the loop
  EXPECT_EQ(window_->tabText->stringValue()->str(), "Device Mapping");
  // Nothing chosen: nothing to connect; mapping runs: STOP, not START.
  EXPECT_FALSE(Enabled(window_->mainWindow, "Connect"));
  EXPECT_TRUE(Enabled(window_->mainWindow, "STOP"));
  EXPECT_FALSE(Enabled(window_->mainWindow, "START"));
  EXPECT_FALSE(Enabled(window_->mainWindow, "Auto-Connect Settings"));

  // A click on the busy device: its details, and neither Connect nor DisConnect.
  Click(window_->mainWindow, TreeRowPoint(TreeRow("Pocket Flash Drive")));
  ASSERT_TRUE(Until([&] { return window_->statusText->stringValue()->str().find("(BUSY)") != std::string::npos; }));
  EXPECT_FALSE(Enabled(window_->mainWindow, "Connect"));
  EXPECT_FALSE(Enabled(window_->mainWindow, "DisConnect"));
  // A click on a server row: its address.
  Click(window_->mainWindow, TreeRowPoint(TreeRow("127.0.0.3")));
  ASSERT_TRUE(Until([&] { return window_->statusText->stringValue()->str() == "Server 127.0.0.3"; }));
}

TEST_F(MainWindowTest, ConnectAndDisConnectFromTheToolbarAndTheQuitRule) {
  Launch();
  Click(window_->mainWindow, TreeRowPoint(TreeRow("Office LaserPrinter 1020")));
  ASSERT_TRUE(Until([&] { return Enabled(window_->mainWindow, "Connect"); })) << "Connect never enabled";
  EXPECT_TRUE(Until([&] {
    return window_->statusText->stringValue()->str().find("Office LaserPrinter 1020 : (FREE)") != std::string::npos;
  }));

  Click(window_->mainWindow, ToolbarItemPoint("Connect"));
  ASSERT_TRUE(WaitForLog("127.0.0.2 | Office LaserPrinter 1020 Made Busy Success"));
  ASSERT_TRUE(Until([&] { return TreeCell(TreeRow("Office LaserPrinter 1020"), "3") == "Connected"; }));
  EXPECT_TRUE(Busy("127.0.0.2", 1));
  EXPECT_EQ(driver_->slotsInUse(), std::vector<int>{1});
  const std::vector<uint8_t> descriptor = ReadDescriptorThroughTheNub();
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[8] | (descriptor[9] << 8), 0x03F0);
  EXPECT_TRUE(Enabled(window_->mainWindow, "DisConnect"));
  EXPECT_FALSE(Enabled(window_->mainWindow, "Connect"));

  // The close button quits, but not while this Mac holds a device: the alert says so, the window stays.
  std::string alert;
  AnswerNextAlert(&alert);
  NSButton* close = window_->mainWindow->standardWindowButton(NSWindowCloseButton);
  close->performClick(nullptr);
  EXPECT_EQ(alert, "Note: Before EXIT, Disconnect all the connected devices");
  EXPECT_FALSE(window_->quitting());
  EXPECT_TRUE(window_->mainWindow->isVisible());

  Click(window_->mainWindow, ToolbarItemPoint("DisConnect"));
  ASSERT_TRUE(WaitForLog("127.0.0.2 | Office LaserPrinter 1020 Made Free"));
  ASSERT_TRUE(Until([&] { return TreeCell(TreeRow("Office LaserPrinter 1020"), "3") == "Free"; }));
  EXPECT_TRUE(Until([&] { return !Busy("127.0.0.2", 1); }));
  EXPECT_TRUE(driver_->slotsInUse().empty());

  // Nothing held: the close button ends the run.
  bool ended = false;
  NSRunLoop::mainRunLoop()->Enqueue([&] {
    close->performClick(nullptr);
    ended = window_->quitting();
  }, 0);
  Until([&] { return ended; }, 2);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(window_->mainWindow->isVisible());

  // What lives for the process was made by now: a second run leaves no object of its own behind.
  Quit();
  checkLiveObjects_ = true;
  Launch();
  Click(window_->mainWindow, TreeRowPoint(TreeRow("Office LaserPrinter 1020")));
  ASSERT_TRUE(Until([&] { return Enabled(window_->mainWindow, "Connect"); }));
}

TEST_F(MainWindowTest, StopEmptiesTheTreeAndStartFillsItAgain) {
  Launch();
  Click(window_->mainWindow, ToolbarItemPoint("STOP"));
  ASSERT_TRUE(WaitForLog("stopRun | Stopped Recieving Packets."));
  ASSERT_TRUE(Until([&] { return window_->outlineView->numberOfRows() == 0 && Enabled(window_->mainWindow, "START"); }));
  EXPECT_FALSE(Enabled(window_->mainWindow, "STOP"));
  Click(window_->mainWindow, ToolbarItemPoint("START"));
  ASSERT_TRUE(WaitForLog("startRun | Started Recieving broadcast packets."));
  EXPECT_TRUE(Until([&] { return TreeRow("Office LaserPrinter 1020") >= 0; }));
}

TEST_F(MainWindowTest, TheRightClickMenuOffersWhatTheDeviceAllows) {
  Launch();
  std::string chosen;
  // The menu shows for the free printer with Connect on; choosing it connects.
  auto choose = std::make_shared<std::function<void()>>();
  *choose = [&, choose] {
    NSWindow* shown = NSMenu::ShownMenuWindow();
    if (!shown) {
      NSRunLoop::mainRunLoop()->Enqueue(*choose, 0.01);
      return;
    }
    chosen = window_->menuConnect->isEnabled() && !window_->menuDisConnect->isEnabled() ? "connect" : "wrong";
    window_->menuConnect->action().Send(window_->menuConnect->target(), window_->menuConnect);
    shown->orderOut(nullptr);
    NSEvent* escape = NSEvent::Make(NSKeyDown, NSZeroPoint, shown, 1, 0, NSString::stringWithUTF8String("\x1b"));
    shown->sendEvent(escape);
    *choose = nullptr;
  };
  NSRunLoop::mainRunLoop()->Enqueue(*choose, 0.01);
  // The row clicked (the tree is rebuilt as the connect's answers come, so it is read before the click).
  const auto clicked = TreeRow("Office LaserPrinter 1020");
  Click(window_->mainWindow, TreeRowPoint(clicked), /*right=*/true);
  ASSERT_TRUE(Until([&] { return !chosen.empty(); }));
  EXPECT_EQ(chosen, "connect");
  EXPECT_EQ(window_->outlineView->menuActionRow(), clicked);
  ASSERT_TRUE(WaitForLog("127.0.0.2 | Office LaserPrinter 1020 Made Busy Success"));
  // Disconnecting takes once the broadcasts say it is this Mac's.
  ASSERT_TRUE(Until([&] { return TreeCell(TreeRow("Office LaserPrinter 1020"), "3") == "Connected"; }));
  Click(window_->mainWindow, TreeRowPoint(TreeRow("Office LaserPrinter 1020")));
  ASSERT_TRUE(Until([&] { return Enabled(window_->mainWindow, "DisConnect"); }));
  Click(window_->mainWindow, ToolbarItemPoint("DisConnect"));
  ASSERT_TRUE(WaitForLog("127.0.0.2 | Office LaserPrinter 1020 Made Free"));
}

TEST_F(MainWindowTest, AnEmptyLogSavesItsHeaderAndClosingLine) {
  Launch();
  // Mapping stopped, so that no new line comes meanwhile.
  Click(window_->mainWindow, ToolbarItemPoint("STOP"));
  ASSERT_TRUE(Until([&] { return Enabled(window_->mainWindow, "START"); }));
  window_->RemItem(nullptr);
  ASSERT_TRUE(Until([&] { return window_->logDevicesTable->numberOfRows() == 0; }));
  appkit::SetPanelSink([&](bool opening, const std::string& title, std::string& chosen) {
    if (opening || title != "Save DeviceMapping Log File") return false;
    chosen = "/empty.txt";
    return true;
  });
  window_->saveLogToFile(nullptr);
  appkit::SetPanelSink(nullptr);
  const std::filesystem::path file = cocoa::MacPath("/empty.txt");
  ASSERT_TRUE(std::filesystem::exists(file)) << file;
  EXPECT_EQ(std::filesystem::file_size(file), 148u);
}

TEST_F(MainWindowTest, TheStartUpWindowShowsTheOvalThenTheMainWindowComes) {
  Launch(/*ovalSeconds=*/30, /*waitForTree=*/false);  // only a mouse movement ends it soon
  CustomWindow* oval = window_->ovalScreen;
  ASSERT_NE(oval, nullptr);
  Until([&] { return oval->isVisible(); }, 1);
  EXPECT_TRUE(oval->isVisible());
  EXPECT_FALSE(window_->mainWindow->isVisible());
  EXPECT_EQ(oval->styleMask(), static_cast<NSUInteger>(NSBorderlessWindowMask));
  EXPECT_EQ(oval->level(), NSStatusWindowLevel);
  // The ring is orange, the middle is the inner colour, the corners are clear.
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(oval->Snapshot(pixels));
  const uint32_t ring = pixels.at(pixels.width() / 2, 4);
  EXPECT_GT((ring >> 16) & 0xFF, 0xE0u) << std::hex << ring;
  EXPECT_LT(ring & 0xFF, 0x40u) << std::hex << ring;
  EXPECT_EQ(pixels.at(1, 1) >> 24, 0u) << "a corner is not clear";

  // The mouse moves over it: it closes, and the main window comes with device mapping running.
  NSEvent* moved = NSEvent::Make(NSMouseMoved, NSMakePoint(200, 70), oval);
  oval->sendEvent(moved);
  ASSERT_TRUE(Until([&] { return window_->started(); }, 5));
  EXPECT_EQ(window_->ovalScreen, nullptr);
  EXPECT_TRUE(window_->mainWindow->isVisible());
  EXPECT_TRUE(Until([&] { return TreeRow("Office LaserPrinter 1020") >= 0; }));
}

}  // namespace
}  // namespace tavrinmac::test

namespace tavrinmac::test {
namespace {

// A request to the control socket from another process's side, answered as the main loop turns.
std::string Ask(const std::string& request) {
  auto asked = std::async(std::launch::async, [request] {
    std::string reply;
    return ui::SendControlRequest(request, reply) ? reply : std::string("(no answer)");
  });
  appkit::RunMainLoopUntil([&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20);
  return asked.get();
}

TEST_F(MainWindowTest, TheControlSocketListsTheTreeAndPressesWhatAPersonWould) {
  Launch();
  ui::ControlService control;
  ASSERT_TRUE(control.Start());
  EXPECT_NE(Ask("tree").find("\n  Office LaserPrinter 1020\tPrinter\tFree\t1\n"), std::string::npos) << Ask("tree");
  EXPECT_EQ(Ask("press Connect"), "error: Connect is disabled\n");  // nothing chosen yet
  EXPECT_EQ(Ask("select Office LaserPrinter 1020"), "ok\n");
  ASSERT_TRUE(Until([&] { return Ask("toolbar").find("Connect\tenabled") != std::string::npos; }));
  EXPECT_NE(Ask("details").find("Office LaserPrinter 1020 : (FREE)"), std::string::npos);
  EXPECT_EQ(Ask("press Connect"), "ok\n");
  ASSERT_TRUE(Until([&] { return Ask("tree").find("Office LaserPrinter 1020\tPrinter\tConnected\t1\t*") != std::string::npos; }));
  EXPECT_NE(Ask("log").find("\t127.0.0.2\tOffice LaserPrinter 1020 Made Busy Success\n"), std::string::npos);

  // Quitting is refused while the printer is held: the alert says so and is answered. The alert runs the
  // main loop itself, so the one who reads and answers it asks from a thread of its own.
  auto answered = std::async(std::launch::async, [] {
    std::string alert;
    tavrin::test::Eventually([&] {
      if (!ui::SendControlRequest("alert", alert)) alert.clear();
      return alert.find("Note:") != std::string::npos;
    });
    std::string reply;
    ui::SendControlRequest("answer", reply);
    return alert + reply;
  });
  EXPECT_EQ(Ask("quit"), "ok\n");
  ASSERT_TRUE(appkit::RunMainLoopUntil(
      [&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20));
  EXPECT_EQ(answered.get(), "ok\nNote:\tBefore EXIT, Disconnect all the connected devices\nok\n");
  ASSERT_TRUE(Until([&] { return NSApp->modalWindow() == nullptr; }));
  EXPECT_FALSE(window_->quitting());

  EXPECT_EQ(Ask("menu Device Mapping/DisConnect"), "ok\n");
  ASSERT_TRUE(Until([&] { return Ask("tree").find("Office LaserPrinter 1020\tPrinter\tFree") != std::string::npos; }));
  EXPECT_EQ(Ask("menu Device Mapping/Nothing"), "error: no menu item Device Mapping/Nothing\n");
  EXPECT_EQ(Ask("tab server"), "ok\n");
  EXPECT_EQ(window_->tabText->stringValue()->str(), "Server Manager");
  EXPECT_NE(Ask("toolbar").find("Search Pelko Servers\t"), std::string::npos);
  // The server manager's own command items are in the menu bar, enabled as it says: no server is chosen.
  EXPECT_EQ(Ask("menu Server/Unlock"), "error: Server/Unlock is disabled\n");
  EXPECT_EQ(Ask("fly"), "error: unknown request fly\n");
  control.Stop();
}

}  // namespace
}  // namespace tavrinmac::test

namespace tavrinmac::test {
namespace {

// Before any server is heard: the tabs, the empty tree and log, the toolbar as mapping starts.
class MainWindowPictureTest : public MainWindowTest {
 protected:
  void SetUp() override {
    startServers_ = false;
    MainWindowTest::SetUp();
  }
};

TEST_F(MainWindowPictureTest, TheMainWindowAsItFirstShows) {
  Launch(0, /*waitForTree=*/false);
  ASSERT_TRUE(Until([&] { return window_->started(); }));
  window_->progressForNetwork->stopAnimation(nullptr);  // its turning is no part of the picture
  tavrin::draw::Surface pixels;
  ASSERT_TRUE(window_->mainWindow->Snapshot(pixels));
  EXPECT_TRUE(MatchesMainWindowPicture(pixels, TAVRIN_MAC_UI_REFERENCE_DIR "/main_window.png"));
}

}  // namespace
}  // namespace tavrinmac::test

namespace tavrinmac::test {
namespace {

TEST(CustomViewTest, TheInnerOvalTakesTheColourChosenInTheColourPanel) {
  NSApplication::sharedApplication();
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  CustomView* view = alloc<CustomView>()->initWithFrame(NSMakeRect(0, 0, 440, 150));
  NSColorPanel* panel = NSColorPanel::sharedColorPanel();
  panel->setTarget(view);
  panel->setAction(selector(&CustomView::changeColor));
  panel->ChooseSwatch(3);
  EXPECT_EQ(view->innerColor()->Pixel() & 0xFFFFFF, NSColorPanel::SwatchPixel(3) & 0xFFFFFF);
  panel->setTarget(nullptr);
  view->release();
  pool->drain();
}

}  // namespace
}  // namespace tavrinmac::test
