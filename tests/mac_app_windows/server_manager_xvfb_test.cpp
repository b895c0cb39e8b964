// The Server Manager's windows on a private Xvfb display, used as a person uses them: real X clicks and
// keys against the bundled servers on loopback. The person acts from a thread of its own while the main
// thread turns the run loop, also inside the modal runs of the search and unlock windows and the alerts.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the key symbols come after it.
#include <X11/keysym.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "TavrinMac/system_commands.h"
#include "cocoa/mac_root.h"
#include "../mac_app/on_main.h"
#include "../mac_app/tftp_service.h"
#include "../mac_app/xvfb/xvfb_person.h"
#include "windows_fixture.h"

namespace tavrinmac::test {
namespace {

using namespace std::chrono_literals;

class ServerManagerOnXvfb : public WindowsTest, protected XvfbPerson {
 protected:
  void SetUp() override {
    WindowsTest::SetUp();
    StartXvfb("the Server Manager");
  }

  void TearDown() override {
    KeepScreenIfFailed("mac_server_manager_");
    StopXvfb();
    WindowsTest::TearDown();
  }

  // A window shows on the X screen and takes input.
  bool Shown(NSWindow* window) {
    const std::string title = OnMain([&] { return window->title()->str(); });
    return Await([&] { return window->isVisible() && window->isKeyWindow(); }) &&
           Await([&] { return XViewable(title); });
  }

  void XClickView(NSView* view, unsigned button = 1) {
    const NSRect frame = OnMain([&] { return view->FrameInWindow(); });
    XClickAt(OnMain([&] { return view->window(); }), NSMakePoint(NSMidX(frame), NSMidY(frame)), button);
  }

  // Lower-case letters, digits and dots.
  void XType(const std::string& text) {
    for (char c : text) XKey(c == '.' ? XK_period : static_cast<unsigned long>(c));
  }

  NSPoint RowPoint(int row) {
    return OnMain([&] {
      NSTableView* table = w_->serversTable;
      return table->convertPoint_toView(NSMakePoint(60, NSMidY(table->rectOfRow(row))), nullptr);
    });
  }

  // A click on the row, then its context menu's item.
  void ChooseFromRowMenu(int row, int item) {
    XClickAt(w_->ServerManagerWindow, RowPoint(row), 3);
    ASSERT_TRUE(Await([&] { return NSMenu::ShownMenuWindow() != nullptr; }));
    NSWindow* menu = OnMain([] { return NSMenu::ShownMenuWindow(); });
    const std::string title = OnMain([&] { return menu->title() ? menu->title()->str() : std::string(); });
    ASSERT_TRUE(Await([&] { return XViewable(title); }));
    const CGFloat height = OnMain([&] { return menu->frame().size.height; });
    XClickAt(menu, NSMakePoint(50, height - (4 + 20 * item + 10)));
    ASSERT_TRUE(Await([] { return NSMenu::ShownMenuWindow() == nullptr; }));
  }

  // A search from the window's own button, until its window has gone.
  void SearchByClick() {
    XClickView(w_->searchButton);
    ASSERT_TRUE(Await([&] { return LogShows("Found  - 3 - servers") && w_->serversTable->numberOfRows() == 3; }));
    ASSERT_TRUE(Await([&] { return !w_->searchWindow->isVisible() && NSApp->modalWindow() == nullptr; }));
  }

  void ClickRow(const std::string& address) {
    const int row = OnMain([&] { return RowOf(address); });
    ASSERT_GE(row, 0) << address;
    XClickAt(w_->ServerManagerWindow, RowPoint(row));
    ASSERT_TRUE(Await([&] { return serverManager::selectedRow() == row; }));
  }

  // The alert now shown, answered with Return (its default button).
  bool AnswerAlert(const std::string& title) {
    if (!Await([&] { return NSApp->modalWindow() && NSApp->modalWindow()->title()->str() == title; })) return false;
    if (!Await([&] { return XViewable(title); })) return false;
    XKey(XK_Return);
    return Await([&] { return !NSApp->modalWindow() || NSApp->modalWindow()->title()->str() != title; });
  }

  // Serves the Mac's TFTP folder while the core has the service started.
  void ServeTftp(TftpService& service) {
    SetServiceHandler("tftp", [&service](const std::string& action) {
      if (action == "stop") service.Stop();
      return action == "stop" || service.Start();
    });
  }

};

TEST_F(ServerManagerOnXvfb, ALockedServerIsUnlockedWithThePasswordTypedAfterAWrongOne) {
  StartServers();
  Person([&] {
    SearchByClick();
    ClickRow("127.0.0.3");
    ASSERT_TRUE(Await([&] { return w_->unlockHeaderMenuItem->isEnabled(); }));
    ChooseFromRowMenu(OnMain([&] { return RowOf("127.0.0.3"); }), 1);  // Unlock
    ASSERT_TRUE(Shown(w_->unlockWindow));
    ASSERT_TRUE(Await([&] { return w_->unlockWindow->firstResponder() == w_->unlockText; }));
    EXPECT_EQ(OnMain([&] { return w_->unlockDisplay->stringValue()->str(); }), "Unlocking 127.0.0.3");
    EXPECT_FALSE(OnMain([&] { return w_->unlockOk->isEnabled(); }));

    XType("wrong");
    ASSERT_TRUE(Await([&] { return w_->unlockOk->isEnabled(); }));
    XClickView(w_->unlockOk);
    ASSERT_TRUE(AnswerAlert("Server Response"));
    // Offered again, ready for another password.
    ASSERT_TRUE(Await([&] {
      return NSApp->modalWindow() == w_->unlockWindow && w_->unlockText->isEnabled() &&
             w_->unlockText->stringValue()->length() == 0 && w_->unlockCancelButton->isEnabled();
    }));
    EXPECT_TRUE(server("127.0.0.3").locked());

    XClickView(w_->unlockText);
    XType("lab");
    ASSERT_TRUE(Await([&] { return w_->unlockOk->isEnabled(); }));
    XClickView(w_->unlockOk);
    ASSERT_TRUE(Await([&] { return LogShows("127.0.0.3 Unlocked\n"); }));
    ASSERT_TRUE(Await([&] { return !w_->unlockWindow->isVisible() && NSApp->modalWindow() == nullptr; }));
    EXPECT_TRUE(Await([&] { return Cell(w_->serversTable, "4", RowOf("127.0.0.3")) == "Unlocked"; }));
    EXPECT_TRUE(OnMain([&] { return w_->serverConfigHeaderMenuItem->isEnabled(); }));
  });
  EXPECT_FALSE(server("127.0.0.3").locked());
  EXPECT_EQ(windowsUi_->alertLines(), std::vector<std::string>{"Server Response Invalid Password - 3(127.0.0.3)(3)"});
}

TEST_F(ServerManagerOnXvfb, TheConfigurationWindowRenamesAServer) {
  StartServers();
  Person([&] {
    SearchByClick();
    ClickRow("127.0.0.2");
    ASSERT_TRUE(Await([&] { return w_->serverConfigHeaderMenuItem->isEnabled(); }));
    ChooseFromRowMenu(OnMain([&] { return RowOf("127.0.0.2"); }), 2);  // Server Configuration
    ASSERT_TRUE(Shown(w_->serverConfigWindow));
    EXPECT_NE(OnMain([&] { return w_->informationText->stringValue()->str(); }).find("ServerName: zarnet-office"),
              std::string::npos);

    // The basic settings' tab, its modify box, the name typed anew.
    const NSPoint tab = OnMain([&] {
      NSTabView* tabs = w_->configTabs;
      CGFloat width = 0, left = 0;
      for (NSInteger i = 0; i < tabs->numberOfTabViewItems(); ++i) {
        const CGFloat w = NSFont::systemFontOfSize(12)->Width(tabs->tabViewItemAtIndex(i)->label()->str()) + 24;
        if (i == 0) left = w;
        width += w;
      }
      const CGFloat start = std::round((tabs->bounds().size.width - width) / 2);
      const CGFloat second = NSFont::systemFontOfSize(12)->Width("Basic Settings") + 24;
      return tabs->convertPoint_toView(NSMakePoint(start + left + second / 2, tabs->bounds().size.height - 13), nullptr);
    });
    XClickAt(w_->serverConfigWindow, tab);
    ASSERT_TRUE(Await([&] { return w_->configTabs->selectedTabViewItem()->label()->str() == "Basic Settings"; }));
    XClickView(w_->modifyBasicSettings);
    ASSERT_TRUE(Await([&] { return w_->basicSettingsText->isEnabled(); }));
    XClickView(w_->basicSettingsText);
    ASSERT_TRUE(Await([&] { return w_->serverConfigWindow->firstResponder() == w_->basicSettingsText; }));
    for (size_t i = 0; i < std::string("zarnet-office").size(); ++i) XKey(XK_BackSpace);
    XType("frontdesk");
    ASSERT_TRUE(Await([&] { return w_->basicSettingsText->stringValue()->str() == "frontdesk"; }));
    XClickView(w_->serverConfigOk);
    ASSERT_TRUE(AnswerAlert("Pelko Admin"));
    ASSERT_TRUE(Await([&] { return LogShows(" 127.0.0.2 Configuration Changed Succesfully"); }));
    ASSERT_TRUE(Await([&] { return !w_->serverConfigWindow->isVisible(); }));
  });
  EXPECT_EQ(server("127.0.0.2").configuration().server_name, "frontdesk");
  EXPECT_EQ(windowsUi_->alertLines(), std::vector<std::string>{"Pelko Admin Changing configuration settings for 127.0.0.2"});
}

TEST_F(ServerManagerOnXvfb, ClientsAreRefreshedFirmwareIsUpgradedAndFactorySettingsRestored) {
  StartServers();
  server("127.0.0.2").SetBusy(1, true, "127.0.0.1");
  namespace fs = std::filesystem;
  const fs::path folder = cocoa::MacPath(kTftpRoot);
  TftpService tftp(root(), folder, tftpPort_);
  ServeTftp(tftp);
  const std::string name = "zarnet-update-2.0.0.3.bin";
  fs::create_directories(cocoa::MacPath("/Users/Shared"));
  std::ofstream(cocoa::MacPath("/Users/Shared/" + name)) << std::string(2000, 'I');
  std::string asked;
  appkit::SetPanelSink([&](bool opening, const std::string& title, std::string& path) {
    asked = title;
    path = "/Users/Shared/" + name;
    return opening;
  });
  zarnet::sim::Server& office = server("127.0.0.2");
  Person([&] {
    SearchByClick();
    ClickRow("127.0.0.2");
    ASSERT_TRUE(Await([&] { return w_->refreshButton->isEnabled(); }));
    XClickView(w_->refreshButton);
    ASSERT_TRUE(Await([&] {
      return w_->clientsTextField->stringValue() &&
             w_->clientsTextField->stringValue()->str().find("127.0.0.1  ::  1\n") != std::string::npos;
    }));

    ChooseFromRowMenu(OnMain([&] { return RowOf("127.0.0.2"); }), 3);  // Upgrade Firmware
    ASSERT_TRUE(Await([&] { return LogShows("Firmware upgraded at 127.0.0.2"); }));
    // The server fetches the image once it has answered, and restarts with it.
    using State = zarnet::sim::UpgradeStatus::State;
    ASSERT_TRUE(office.WaitUntil([&] { auto s = office.upgrade().state; return s == State::kSucceeded || s == State::kFailed; }, 10s));
    EXPECT_EQ(office.upgrade().state, State::kSucceeded) << office.upgrade().message;
    EXPECT_EQ(office.configuration().fw_version, "2.0.0.3");
    ASSERT_TRUE(office.WaitUntil([&] { return office.restarts() == 1 && office.running(); }, 10s));

    ChooseFromRowMenu(OnMain([&] { return RowOf("127.0.0.2"); }), 4);  // Restore Factory Settings
    ASSERT_TRUE(AnswerAlert("Pelko Admin"));
    // Restored, and reset as its answer asked.
    EXPECT_TRUE(office.WaitUntil([&] { return office.restarts() == 2 && office.running(); }, 10s));
  });
  serverManager::joinWorkers();
  EXPECT_EQ(asked, "Choose a File to upgrade Firmware");
  EXPECT_EQ(windowsUi_->alertLines(), std::vector<std::string>{"Pelko Admin Restore Factory Settings"});
  tftp.Stop();
}

}  // namespace
}  // namespace tavrinmac::test
