// The Server Manager's windows without a display: the window definition's tables, items and fields show
// what the core's roads did, input going through the window core as a display would route it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cocoa/mac_root.h"
#include "gui/desktop.h"
#include "windows_fixture.h"

namespace tavrinmac::test {
namespace {

class ServerManagerWindowsTest : public WindowsTest {
 protected:
  static void Click(NSWindow* window, NSPoint at) {
    const int height = tavrin::gui::TheDesktop().ScreenBounds().height();
    const NSPoint screen = window->convertBaseToScreen(at);
    tavrin::gui::PointerEvent event;
    event.button = tavrin::gui::PointerButton::kLeft;
    event.screen = {static_cast<int>(screen.x), height - static_cast<int>(screen.y)};
    for (auto kind : {tavrin::gui::PointerEvent::Kind::kPress, tavrin::gui::PointerEvent::Kind::kRelease}) {
      event.kind = kind;
      tavrin::gui::TheDesktop().Pointer(event, window->SurfaceId());
    }
  }
  void ClickRow(int row) {
    NSTableView* table = w_->serversTable;
    Click(w_->ServerManagerWindow, table->convertPoint_toView(NSMakePoint(60, NSMidY(table->rectOfRow(row))), nullptr));
  }
  std::string Details() { return w_->statusText->string() ? w_->statusText->string()->str() : ""; }
  // Runs `act` from the main loop once `ready` holds: also inside a modal run begun meanwhile.
  static void WhenReady(std::function<bool()> ready, std::function<void()> act) {
    NSRunLoop::mainRunLoop()->Enqueue(
        [ready, act] {
          if (ready()) act();
          else WhenReady(ready, act);
        },
        0.005);
  }
  // The alert with that title, once shown, answered with its default button.
  static void AnswerAlert(const std::string& title) {
    WhenReady([title] { return NSApp->modalWindow() && NSApp->modalWindow()->title()->str() == title; },
              [] { NSApp->stopModalWithCode(NSAlertDefaultReturn); });
  }
  static bool Choose(NSMenuItem* item) { return item->isEnabled() && item->action().Send(item->target(), item); }
};

TEST_F(ServerManagerWindowsTest, ASearchFillsBothTablesAndTheLogAndARowChoosesTheCommands) {
  StartServers();
  w_->searchButton->performClick(nullptr);  // returns once the search window's modal run ended
  ASSERT_TRUE(Until([&] { return LogShows("Found  - 3 - servers") && w_->serversTable->numberOfRows() == 3; }));
  ASSERT_TRUE(Until([&] { return !w_->searchWindow->isVisible(); }));
  EXPECT_EQ(w_->servStatusTable->numberOfRows(), 3);
  EXPECT_TRUE(LogShows("Retrieved Information from 127.0.0.4 success"));
  const int lab = RowOf("127.0.0.3"), office = RowOf("127.0.0.2");
  ASSERT_GE(lab, 0);
  ASSERT_GE(office, 0);
  EXPECT_EQ(Cell(w_->serversTable, "0", lab), std::to_string(lab));
  EXPECT_EQ(Cell(w_->serversTable, "1", lab), "Zarnet - 1");
  EXPECT_EQ(Cell(w_->serversTable, "2", lab), "00:1B:5A:00:00:03");
  EXPECT_EQ(Cell(w_->serversTable, "4", lab), "Locked");
  EXPECT_EQ(Cell(w_->servStatusTable, "4", office), "Unlocked");
  EXPECT_EQ(Cell(w_->logTable, "0", 0), "0");
  // Nothing chosen yet: only the search items.
  EXPECT_TRUE(w_->searchHeaderMenuItem->isEnabled() && w_->searchMenuItem->isEnabled());
  EXPECT_FALSE(w_->unlockHeaderMenuItem->isEnabled() || w_->serverConfigMenuItem->isEnabled() ||
               w_->refreshMenuItem->isEnabled());

  // A locked server offers unlock and nothing else of the five.
  ClickRow(lab);
  ASSERT_TRUE(Until([&] { return w_->unlockHeaderMenuItem->isEnabled(); }));
  EXPECT_TRUE(w_->unlockMenuItem->isEnabled());
  EXPECT_TRUE(w_->refreshMenuItem->isEnabled());
  for (NSMenuItem* item : {w_->serverConfigHeaderMenuItem, w_->upgradeMenuItem, w_->restoreHeaderMenuItem})
    EXPECT_FALSE(item->isEnabled());

  // An unlocked one the reverse, and its configuration up to the connection table.
  ClickRow(office);
  ASSERT_TRUE(Until([&] { return Details().find("server_name=zarnet-office") != std::string::npos; })) << Details();
  EXPECT_TRUE(w_->serverConfigHeaderMenuItem->isEnabled());
  EXPECT_FALSE(w_->unlockHeaderMenuItem->isEnabled());
  EXPECT_TRUE(w_->upgradeHeaderMenuItem->isEnabled() && w_->restoreMenuItem->isEnabled());
  EXPECT_EQ(Details().find("[ConnectionTable]"), std::string::npos);

  // A double click opens its configuration.
  w_->serversTable->selectRow_byExtendingSelection(office, NO);
  w_->serverConfiguration(nullptr);
  ASSERT_TRUE(Until([&] { return w_->serverConfigWindow->isVisible(); }));
  EXPECT_EQ(w_->basicSettingsText->stringValue()->str(), "zarnet-office");
  EXPECT_EQ(w_->ipConfigText->indexOfSelectedItem(), 0);
  EXPECT_EQ(w_->selectedIndex->stringValue()->str(), std::to_string(office));
  EXPECT_NE(w_->informationText->stringValue()->str().find("ServerName: zarnet-office"), std::string::npos);
  EXPECT_FALSE(w_->basicSettingsText->isEnabled());
  EXPECT_TRUE(w_->setConfigProgress->isHidden());
}

TEST_F(ServerManagerWindowsTest, TheWindowsOwnControlsEndTheirRunsAndOpenTheirFields) {
  StartServers();
  // Stop pressed once the first server has answered: the window goes at once, the search ends with it.
  WhenReady([&] { return NSApp->modalWindow() == w_->searchWindow && w_->servStatusTable->numberOfRows() > 0; },
            [&] { w_->stopSearchButton->performClick(nullptr); });
  w_->searchButton->performClick(nullptr);
  ASSERT_TRUE(Until([&] {
    for (int n = 1; n <= 3; ++n)
      if (LogShows(cocoa::Format("Found  - %d - servers", n))) return !w_->searchWindow->isVisible();
    return false;
  }));
  EXPECT_EQ(loop.load(), 0);
  // A whole search for the rest.
  w_->searchButton->performClick(nullptr);
  ASSERT_TRUE(Until([&] { return LogShows("Found  - 3 - servers") && w_->serversTable->numberOfRows() == 3; }));
  const int office = RowOf("127.0.0.2"), lab = RowOf("127.0.0.3");

  // The unlock window from the server menu; Cancel ends its run.
  ClickRow(lab);
  ASSERT_TRUE(Until([&] { return w_->unlockHeaderMenuItem->isEnabled(); }));
  WhenReady([&] { return NSApp->modalWindow() == w_->unlockWindow; }, [&] { w_->unlockCancelButton->performClick(nullptr); });
  ASSERT_TRUE(Choose(w_->unlockHeaderMenuItem));
  ASSERT_TRUE(Until([&] { return !w_->unlockWindow->isVisible(); }));
  EXPECT_EQ(w_->unlockDisplay->stringValue()->str(), "Unlocking 127.0.0.3");

  // The configuration window from the menu bar's set: each modify box opens its fields.
  ClickRow(office);
  ASSERT_TRUE(Until([&] { return w_->serverConfigMenuItem->isEnabled(); }));
  ASSERT_TRUE(Choose(w_->serverConfigMenuItem));
  ASSERT_TRUE(Until([&] { return w_->serverConfigWindow->isVisible(); }));
  EXPECT_FALSE(w_->newPwdText->isEnabled() || w_->ipAddressText->isEnabled() || w_->enablePwd->isEnabled());
  w_->modifyPwdSet->performClick(nullptr);
  ASSERT_TRUE(Until([&] { return w_->newPwdText->isEnabled() && w_->confirmPwdText->isEnabled(); }));
  w_->modifyIPSettings->performClick(nullptr);
  ASSERT_TRUE(Until([&] { return w_->ipAddressText->isEnabled() && w_->ipConfigText->isEnabled(); }));
  w_->modifyPwdEnable->performClick(nullptr);
  ASSERT_TRUE(Until([&] { return w_->enablePwd->isEnabled(); }));
  EXPECT_FALSE(w_->basicSettingsText->isEnabled());

  // Passwords that differ: said so, both fields emptied, nothing sent.
  w_->newPwdText->setStringValue(NSString::stringWithUTF8String("one"));
  w_->confirmPwdText->setStringValue(NSString::stringWithUTF8String("two"));
  AnswerAlert("Error:");
  w_->serverConfigOk->performClick(nullptr);
  ASSERT_TRUE(Until([&] { return w_->newPwdText->stringValue()->length() == 0; }));
  EXPECT_EQ(w_->confirmPwdText->stringValue()->length(), 0u);
  EXPECT_EQ(windowsUi_->alertLines(), std::vector<std::string>{"Error: Invalid Password!!!"});
  w_->serverConfigCancel->performClick(nullptr);
  EXPECT_FALSE(w_->serverConfigWindow->isVisible());
}

TEST_F(ServerManagerWindowsTest, TheLogIsClearedAndAnEmptyOneSavesItsHeaderAndFooter) {
  w_->searchButton->performClick(nullptr);  // nobody answers
  ASSERT_TRUE(Until([&] { return LogShows("Unable to find Servers"); }));
  w_->clearButton->performClick(nullptr);
  ASSERT_TRUE(Until([&] { return w_->logTable->numberOfRows() == 0; }));
  std::filesystem::create_directories(cocoa::MacPath("/Users/Shared"));
  std::string asked;
  appkit::SetPanelSink([&](bool opening, const std::string& title, std::string& path) {
    asked = title;
    path = "/Users/Shared/server-log.txt";
    return !opening;
  });
  w_->saveButton->performClick(nullptr);
  EXPECT_EQ(asked, "Save DeviceMapping Log File");
  std::ifstream in(cocoa::MacPath("/Users/Shared/server-log.txt"));
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "S.no\tDate & Time\t\t\tDescription\n====\t===========\t\t\t===========\n"
                 "----\t-----------\t\t\t----------------------------------\n");
}

TEST_F(ServerManagerWindowsTest, TheWindowMatchesItsReferencePicture) {
  // Three servers as discovery makes them, in a fixed order; the first chosen before its configuration came.
  for (int i = 2; i <= 4; ++i) {
    ServerNode* server = alloc<ServerNode>()->init();
    server->setRecvIpAddres(cocoa::Format("127.0.0.%d", i).c_str());
    server->setDevType(i == 3 ? 1 : 0);
    const char mac[6] = {0x00, 0x1b, 0x5a, 0x00, 0x00, static_cast<char>(i)};
    server->setMacAddr(mac);
    server->setPwd(i == 3 ? 1 : 0);
    {
      std::lock_guard guard(serverManager::lock());
      serverManager::serversArray()->addObject(server);
    }
    server->release();
  }
  w_->Reload(View::kServersTable);
  ClickRow(0);
  ASSERT_TRUE(Until([&] { return Details() == "\nPlease Wait..." && w_->restoreHeaderMenuItem->isEnabled(); }));
  // Without a stored configuration the MAC address is the reply's bytes, without leading zeros.
  EXPECT_EQ(Cell(w_->serversTable, "2", 0), "0:1b:5a:0:0:2");
  appkit::RunMainLoopUntil([] { return false; }, 0);
  tavrin::draw::Surface image;
  ASSERT_TRUE(w_->ServerManagerWindow->Snapshot(image));
  EXPECT_TRUE(MatchesPicture(image, TAVRIN_MAC_WINDOWS_REFERENCE_DIR "/server_manager.png", 8));
}

}  // namespace
}  // namespace tavrinmac::test
