// TavrinAdmin as a person uses it: the installed program starts on a private Xvfb display behind its
// tray icon, with two simulated servers on loopback and the kernel host with the bus driver. Everything
// is done with real X input (XTest) and read back through "tavrin-ctl windows", as another program sees
// it. A screenshot of each step is kept beside the test program when the test fails.
#include <cstdlib>
#include <regex>

#include "admin_gui_fixture.h"
#include "testsupport/sanitizers.h"
#include "testsupport/x_tray_manager.h"

namespace admin_gui {
namespace {

using namespace std::chrono_literals;

// The splash goes within 2 s of showing; a sanitizer build makes the rest of the frame's making so slow
// that only its going is checked there.
constexpr bool kSplashTimed = !tavrin::test::kSanitized;

TEST_F(AdminGuiTest, StartsBehindItsTrayIconAfterTheSplash) {
  StartAdmin();
  // The splash picture (400 x 240) shows while the frame is made, then goes. It is looked for on the
  // screen itself: the program's thread is busy making the frame while it shows.
  ASSERT_TRUE(Eventually([&] { return OnScreen(400, 240); })) << "no splash";
  const auto shown = std::chrono::steady_clock::now();  // it showed by then
  Shot("splash");
  // It was still there when the last look that saw it began: the time between is what it surely stayed,
  // however late a busy machine lets us look.
  auto lastSeen = shown;
  ASSERT_TRUE(Eventually([&] {
    const auto look = std::chrono::steady_clock::now();
    if (!OnScreen(400, 240)) return true;
    lastSeen = look;
    return false;
  })) << "the splash stays";
  if (kSplashTimed) {
    EXPECT_LT(lastSeen - shown, 2s) << "the splash stays too long";
  }
  Shot("after-splash");
  EXPECT_FALSE(Frame().visible) << "the frame starts hidden";

  // The tray icon, its tip shown while the pointer rests on it.
  Window tray;
  ASSERT_TRUE(TrayIcon(&tray));
  EXPECT_EQ(tray.text, "Pelko Admin Utility");
  Move((tray.left + tray.right) / 2, tray.CentreY());
  EXPECT_TRUE(FindWindow(
      [](const Window& w) { return w.cls == "tooltips_class32" && w.visible && w.text == "Pelko Admin Utility"; },
      nullptr))
      << "no tip over the tray icon";
  Shot("tray-tip");
}

// With a system tray on the display, the icon docks there: a right click opens its menu at the pointer and
// a double click shows the frame.
TEST_F(AdminGuiTest, DocksItsIconIntoTheDisplaysTrayWhereItsMenuOpensAndADoubleClickShowsTheFrame) {
  tavrin::test::XTrayManager tray;
  ASSERT_TRUE(tray.Start(xvfb_.name()));
  StartAdmin();
  ASSERT_TRUE(TrayIcon(nullptr)) << "no tray icon";
  ::Window docked = 0;
  ASSERT_TRUE(Eventually([&] {
    const auto icons = tray.Icons(x_);
    docked = icons.empty() ? 0 : icons[0];
    XWindowAttributes attributes{};
    return docked && XGetWindowAttributes(x_, docked, &attributes) && attributes.map_state == IsViewable;
  })) << "the icon did not dock";
  Shot("docked");
  int x = 0, y = 0;
  ::Window child = 0;
  XTranslateCoordinates(x_, docked, DefaultRootWindow(x_), 8, 8, &x, &y, &child);
  // A right click opens the tray's menu at the pointer, there in the tray.
  Click(x, y, 3);
  Window menu;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.depth == 0 && w.cls == "#32768" && w.visible; }, &menu))
      << "no menu from a right click in the tray";
  Shot("menu");
  EXPECT_LT(std::abs(menu.left - x) + std::abs(menu.top - y), 100) << "the menu opens away from the pointer";
  Key(XK_Escape);
  ASSERT_TRUE(Eventually([&] {
    return !FindWindow([](const Window& w) { return w.depth == 0 && w.cls == "#32768" && w.visible; }, nullptr, 10);
  })) << "the menu stays";
  Click(x, y, 1, 2);
  EXPECT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin") && w.visible; }, nullptr))
      << "the double click in the tray did not show the frame";
  Shot("shown");
}

TEST_F(AdminGuiTest, TheShownFrameHasItsBarsAndStartsDeviceMappingFromItsMenu) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  Shot("shown");

  // Toolbar and status bar: "Ready", the status line, and a clock that goes on.
  EXPECT_TRUE(FindWindow([](const Window& w) { return w.cls == "ToolbarWindow32" && w.visible; }, nullptr));
  Window status;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible && !w.rows.empty(); },
                         &status));
  const std::regex clock(R"(Ready\|.*\|\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d)");
  const std::string first = status.rows[0].cells;
  ASSERT_TRUE(std::regex_match(first, clock)) << first;
  EXPECT_TRUE(Eventually([&] { return StatusPanes() != first; }, 5s)) << "the clock stands";

  // Device Mapping > Start Device Mapping, from the keyboard: the servers come.
  Click(status.left + 10, status.CentreY());
  Key(XK_d, XK_Alt_L);
  Key(XK_s);
  EXPECT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();
  Shot("mapping");
}

TEST_F(AdminGuiTest, TheTitleBarsCloseOnlyHidesAndExitEndsTheProgram) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  const Window frame = Frame();
  // The close box at the right end of the title bar.
  Click(frame.right - 12, frame.top + 12);
  EXPECT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin") && !w.visible; }, nullptr));
  EXPECT_EQ(WaitAdmin(200), -1) << "the program goes on in the tray";
  Shot("closed");

  ShowFrame();
  Window status;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible; }, &status));
  Click(status.left + 10, status.CentreY());
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  EXPECT_EQ(WaitAdmin(30000), 0) << "File > Exit ends the program";
}

TEST_F(AdminGuiTest, ExitWhileMappingIsRefusedByABoxAndAfterTheStopItEndsTheProgram) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  Shot("started");
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  ASSERT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();

  // File > Exit: the box says why not; Enter closes it and everything stays.
  const std::string refusal = "Please stop Device Mapping before exitting the application.";
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  ASSERT_TRUE(Eventually([&] { return BoxShows(refusal); })) << "no box";
  Shot("exit-refused");
  Key(XK_Return);
  ASSERT_TRUE(Eventually([&] { return !BoxShows(refusal); })) << "the box stays";
  const Window frame = Frame();
  EXPECT_TRUE(frame.visible);
  EXPECT_TRUE(Eventually([&] { return Frame().enabled; })) << "the frame stays disabled";
  EXPECT_TRUE(TrayIcon(nullptr));
  EXPECT_EQ(WaitAdmin(0), -1) << "the program ended";

  // Device Mapping > Stop, confirmed with Enter; then File > Exit ends the program and its tray icon.
  ASSERT_NO_FATAL_FAILURE(StopMappingFromTheMenu());
  Shot("stop-question");
  Key(XK_Return);
  ASSERT_TRUE(Eventually([&] { return !BoxShows(kStopQuestion) && StatusPanes().find("127.0.0.9") == std::string::npos; }))
      << StatusPanes();
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  // The tray icon goes with the frame, before the program ends.
  EXPECT_TRUE(Eventually([&] { return !TrayIcon(nullptr, 0); })) << "the tray icon stays";
  EXPECT_EQ(WaitAdmin(30000), 0) << "File > Exit after the stop ends the program";
}

// Exit chosen while the stop still runs (its wait window up, messages pumped) ends the program once the
// stop is over, never from inside it.
TEST_F(AdminGuiTest, ExitChosenDuringTheStopEndsTheProgramAfterIt) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  ASSERT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();

  ASSERT_NO_FATAL_FAILURE(StopMappingFromTheMenu());
  // Enter, and File > Exit as soon as the box has gone: the stop is still releasing the devices.
  Key(XK_Return);
  ASSERT_TRUE(Eventually([&] { return !BoxShows(kStopQuestion); })) << "the box stays";
  Key(XK_f, XK_Alt_L);
  Key(XK_x);
  EXPECT_EQ(WaitAdmin(static_cast<int>(tavrin::test::Patient(30s).count())), 0) << "File > Exit during the stop ends the program";
}

TEST_F(AdminGuiTest, ServerSearchCountsDownAndListsTheServers) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SearchFromTheMenu());
  Window search;
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Searching for Servers...") && w.visible; }, &search));
  Shot("searching");
  // The countdown goes on while the servers come in.
  const std::regex counting(R"(Found \d+ Server\(s\), remaining time = [0-4] second\(s\))");
  EXPECT_TRUE(FindWindow([&](const Window& w) { return std::regex_match(w.text, counting); }, nullptr));
  // It ends by itself; the Server Manager's list then holds the server the search asked.
  EXPECT_TRUE(Eventually([&] {
    return !FindWindow([](const Window& w) { return TopLevel(w, "Searching for Servers...") && w.visible; }, nullptr, 10);
  })) << "the search goes on";
  Window list;
  EXPECT_TRUE(FindWindow(
      [](const Window& w) {
        if (w.id != 1016 || !w.visible || w.rows.size() != 1) return false;
        return w.rows[0].cells.find("127.0.0.91") != std::string::npos;
      },
      &list));
  Shot("found");
}

TEST_F(AdminGuiTest, LockedServerIsUnlockedWithItsPasswordOnly) {
  // A third server, locked with "lab".
  zarnet::sim::Server& locked = StartServer(93, [](zarnet::sim::ServerOptions& options) {
    options.password_enable = true;
    options.password = "lab";
  });

  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SearchFromTheMenu());
  ASSERT_NO_FATAL_FAILURE(WaitForTheSearch());
  const auto lockedRow = [](const Window& list) -> const Row* {
    for (const Row& row : list.rows)
      if (row.cells.find("127.0.0.93") != std::string::npos) return &row;
    return nullptr;
  };
  Window list = ServerList(2);
  ASSERT_NE(lockedRow(list), nullptr);
  EXPECT_NE(lockedRow(list)->cells.find("|Locked"), std::string::npos) << lockedRow(list)->cells;
  Shot("found");

  for (const char* password : {"wrong", "lab"}) {
    SCOPED_TRACE(password);
    const Window servers = ServerList(2);  // the row points into it
    const Row* row = lockedRow(servers);
    ASSERT_NE(row, nullptr);
    Click((row->left + row->right) / 2, (row->top + row->bottom) / 2);
    // The click asks the server for its details behind the wait window; Unlock comes after.
    ASSERT_TRUE(Eventually([&] {
      return !FindWindow([](const Window& w) { return w.text == "Please Wait..." && w.visible; }, nullptr, 10);
    })) << "the details' wait window stays";
    Key(XK_s, XK_Alt_L);  // Server Manager > Unlock
    Key(XK_u);
    const auto unlockDialog = [](const Window& w) { return TopLevel(w, "PassWord") && w.visible; };
    ASSERT_TRUE(FindWindow(unlockDialog, nullptr));
    for (const char* c = password; *c; ++c) Key(XStringToKeysym(std::string(1, *c).c_str()));
    Shot(std::string("typed-") + password);
    Key(XK_Return);
    // The answer comes in the program's message box, which Enter closes.
    const std::string answer = std::string(password) == "lab" ? "Unlock successful !!" : "Unlock Failed!!";
    ASSERT_TRUE(FindWindow([&](const Window& w) { return w.text == answer && w.visible; }, nullptr)) << answer;
    Shot(std::string("answer-") + password);
    Key(XK_Return);
    ASSERT_TRUE(Eventually([&] { return !FindWindow(unlockDialog, nullptr, 10); })) << "the dialog stays";
    EXPECT_EQ(locked.locked(), std::string(password) != "lab");
  }
  EXPECT_TRUE(FindWindow(
      [](const Window& w) {
        for (const Row& row : w.rows)
          if (w.id == 1016 && row.cells.find("127.0.0.93") != std::string::npos) return row.cells.find("|Unlocked") != std::string::npos;
        return false;
      },
      nullptr));
  Shot("unlocked");
}

// The panes as the simulator fills them: the servers and their devices in the tree, the selected device's
// details beside it; Help > About shows the box with the installed program's version, and Enter closes it.
TEST_F(AdminGuiTest, ThePanesShowTheServedDevicesAndTheSelectedOnesDetails) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  EXPECT_TRUE(ShownRow({"127.0.0.91", "Loaded Successfully"}, nullptr)) << "no row of the office server";
  EXPECT_TRUE(ShownRow({"127.0.0.92", "Loaded Successfully"}, nullptr)) << "no row of the lab server";
  EXPECT_TRUE(ShownRow({"Cruzer Blade", "Busy"}, nullptr)) << "the held device is not busy";
  Row printer;
  ASSERT_TRUE(ShownRow({kPrinterName, "Free"}, &printer)) << "no free printer";
  Shot("devices");

  Click(printer.left + 30, (printer.top + printer.bottom) / 2);
  EXPECT_TRUE(ShownRow({"Vid: 03f0"}, nullptr)) << "the printer's details do not show";
  EXPECT_TRUE(ShownRow({"Product Name: Office LaserPrinter 1020"}, nullptr));
  Shot("details");

  Key(XK_h, XK_Alt_L);  // Help > About
  Key(XK_a);
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "About Pelko") && w.visible; }, nullptr))
      << "no About box";
  Window version;
  EXPECT_TRUE(FindWindow([](const Window& w) { return w.depth == 1 && w.id == 1059; }, &version));
  EXPECT_TRUE(std::regex_search(version.text, std::regex(R"(Version \d+, \d+, \d+, \d+)"))) << version.text;
  Shot("about");
  Key(XK_Return);
  EXPECT_TRUE(Eventually([&] {
    return !FindWindow([](const Window& w) { return TopLevel(w, "About Pelko") && w.visible; }, nullptr, 10);
  })) << "the About box stays";
}

TEST_F(AdminGuiTest, ConnectAndDisconnectFromTheRowsMenuClaimAndFreeTheKeyboard) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  // The lab's keyboard (the office printer is one the printer monitor connects, never a person).
  zarnet::sim::Server& lab = sim_.server(1);
  Row keyboard;
  ASSERT_TRUE(ShownRow({"USB Keyboard", "Free"}, &keyboard)) << "no free keyboard";
  const int x = keyboard.left + 30, y = (keyboard.top + keyboard.bottom) / 2;

  // Selected, then Connect from the row's menu (Connect and Disconnect): the server grants the claim and
  // the row says so.
  Click(x, y);
  ASSERT_TRUE(ShownRow({"Vid: 046d"}, nullptr)) << "the keyboard is not selected";
  Window menu;
  Click(x, y, 3);
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "#32768" && w.visible; }, &menu)) << "no menu";
  Shot("menu");
  Click((menu.left + menu.right) / 2, menu.top + (menu.bottom - menu.top) / 4);  // its first item
  EXPECT_TRUE(ShownRow({"USB Keyboard", "Connected"}, nullptr)) << "the keyboard does not connect";
  EXPECT_TRUE(Eventually([&] { return lab.negotiation().granted == 1; })) << "the server saw no claim";
  EXPECT_TRUE(ShownRow({"Device 127.0.0.92 : 1 Connect Intimation Successful"}, nullptr)) << "no log line";
  Shot("connected");

  // Disconnect from the same menu frees it at the server and in the row.
  Click(x, y, 3);
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "#32768" && w.visible; }, &menu)) << "no menu";
  Click((menu.left + menu.right) / 2, menu.bottom - (menu.bottom - menu.top) / 4);  // its second item
  EXPECT_TRUE(ShownRow({"USB Keyboard", "Free"}, nullptr)) << "the keyboard stays connected";
  EXPECT_TRUE(Eventually([&] { return lab.negotiation().sessions_ended == 1; })) << "the claim stays";
  Shot("disconnected");
}

// The navigation pane's two large icons switch the functional panel between the device tree and the
// server list, and the menu bar's function popup with it.
TEST_F(AdminGuiTest, TheNavigationIconsSwitchBetweenTheDeviceTreeAndTheServerList) {
  StartAdmin();
  ASSERT_TRUE(FindWindow([](const Window& w) { return TopLevel(w, "Pelko Admin"); }, nullptr));
  ShowFrame();
  const auto shown = [](long id) { return [id](const Window& w) { return w.id == id && w.visible; }; };
  ASSERT_TRUE(FindWindow(shown(1021), nullptr)) << "the device tree does not show first";
  Row icon;  // by its exact label: the log's tab is named "Server Manager Log"
  ASSERT_TRUE(ShownRowWithCell("Server Manager", &icon)) << "no Server Manager icon";
  ClickCentre(icon);
  EXPECT_TRUE(FindWindow(shown(1016), nullptr)) << "the server list does not show";
  EXPECT_TRUE(Eventually([&] { return !FindWindow(shown(1021), nullptr, 10); })) << "the device tree stays";
  Shot("server-manager");
  // The menu bar's function popup followed: Server Manager > Search Servers is there.
  Window status;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible; }, &status));
  Click(status.left + 10, status.CentreY());
  Key(XK_s, XK_Alt_L);
  Key(XK_s);
  ASSERT_NO_FATAL_FAILURE(WaitForTheSearch());

  ASSERT_TRUE(ShownRowWithCell("Device Mapping", &icon)) << "no Device Mapping icon";
  ClickCentre(icon);
  EXPECT_TRUE(FindWindow(shown(1021), nullptr)) << "the device tree does not come back";
  EXPECT_TRUE(Eventually([&] { return !FindWindow(shown(1016), nullptr, 10); })) << "the server list stays";
  // And back: Device Mapping > Start Device Mapping is there again.
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());
  EXPECT_TRUE(Eventually([&] { return StatusPanes().find("127.0.0.9") != std::string::npos; })) << StatusPanes();
}

}  // namespace
}  // namespace admin_gui
