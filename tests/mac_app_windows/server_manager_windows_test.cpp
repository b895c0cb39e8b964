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

}  // namespace
}  // namespace tavrinmac::test
