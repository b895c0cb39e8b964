// The main frame as the rest of the program and Windows talk to it: the tray icon's notifications, the
// close that only hides, Exit refused while mapping runs, the power events,
// the status bar with its clock, the View commands, the navigation pane's function switch, and Settings.
#include <regex>
#include <thread>

#include "admin/Resource.h"
#include "admin/menus/NewMenu.h"
#include "admin/ui/LeftTreeView.h"
#include "admin/ui/SplashScreenWnd.h"
#include "doc_fixture.h"
#include "mfc/cmdui.h"
#include "testsupport/menu_idle.h"
#include "win32/gdi_hooks.h"
#include "win32/shell.h"
#include "win32/window_manager.h"

namespace admin_doc_test {
namespace {

class FrameTest : public DocTest {
 protected:
  void TearDown() override {
    tavrin::test::StopMenuIdle();
    DocTest::TearDown();
  }
  HWND Frame() const { return frame_->m_hWnd; }
  LRESULT Tray(WPARAM icon, UINT mouseMessage) { return frame_->SendMessage(WM_TRAY_NOTIFY, icon, mouseMessage); }
  // The text of an owner-drawn item (its record's), "-" for a separator.
  static std::string ItemText(HMENU menu, UINT position) {
    if (GetMenuState(menu, position, MF_BYPOSITION) & MF_SEPARATOR) return "-";
    MENUITEMINFO info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA;
    if (!GetMenuItemInfo(menu, position, TRUE, &info) || !info.dwItemData) return "";
    return reinterpret_cast<const CNewMenuItemData*>(info.dwItemData)->m_szMenuText.GetString();
  }
  static std::vector<std::string> Items(HMENU menu) {
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) items.push_back(ItemText(menu, static_cast<UINT>(i)));
    return items;
  }
  bool HasTrayIcon() const {
    for (const auto& icon : tavrin::tray::Icons())
      if (icon.window == Frame() && icon.id == IDR_MAINFRAME) return true;
    return false;
  }
};

TEST_F(FrameTest, TheTrayIconShowsTheHiddenFrameAndOffersItsMenuOnlyWhileItIsHidden) {
  ASSERT_FALSE(IsWindowVisible(Frame())) << "the program starts in the tray";
  ASSERT_TRUE(HasTrayIcon());
  for (const auto& icon : tavrin::tray::Icons()) {
    if (icon.window != Frame()) continue;
    EXPECT_EQ(icon.tip, "Pelko Admin Utility");
    EXPECT_EQ(icon.callbackMessage, WM_TRAY_NOTIFY);
  }
  // Another icon's double click, or a move, changes nothing.
  EXPECT_EQ(Tray(IDR_MAINFRAME + 1, WM_LBUTTONDBLCLK), 1);
  EXPECT_EQ(Tray(IDR_MAINFRAME, WM_MOUSEMOVE), 1);
  EXPECT_FALSE(IsWindowVisible(Frame()));

  // A right click on the hidden frame's icon opens menu 287 at the cursor.
  std::vector<std::string> items;
  tavrin::test::OnMenuIdle([&](HWND) {
    items = Items(CMenu::GetTrackingMenu());
    EndMenu();
  });
  EXPECT_EQ(Tray(IDR_MAINFRAME, WM_RBUTTONDOWN), 1);
  EXPECT_EQ(items, (std::vector<std::string>{"&Pelko Admin Utility", "-", "&Start Device Mapping",
                                             "St&op Device Mapping", "-", "E&xit"}));
  EXPECT_FALSE(IsWindowVisible(Frame()));

  EXPECT_EQ(Tray(IDR_MAINFRAME, WM_LBUTTONDBLCLK), 1);
  EXPECT_TRUE(IsWindowVisible(Frame()));
  // A visible frame's icon offers no menu.
  items.clear();
  EXPECT_EQ(Tray(IDR_MAINFRAME, WM_CONTEXTMENU), 1);
  EXPECT_TRUE(items.empty());

  // The title bar's close only hides; the tray's first item shows the frame again.
  frame_->SendMessage(WM_CLOSE);
  EXPECT_FALSE(IsWindowVisible(Frame()));
  EXPECT_TRUE(IsWindow(Frame()));
  Command(ID_TRAY_SHOW);
  EXPECT_TRUE(IsWindowVisible(Frame()));
}

TEST_F(FrameTest, ExitIsRefusedWhileMappingRunsAndThePowerEventsReachTheDocument) {
  StartHost();
  StartMappingWithBus();
  boxes_.clear();
  frame_->SendMessage(WM_CLOSE);
  Command(ID_EXIT);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Please stop Device Mapping before exitting the application.");
  EXPECT_TRUE(IsWindowVisible(Frame())) << "the box shows the frame first";
  Command(ID_TRAY_EXIT);
  EXPECT_EQ(boxes_.size(), 2u);
  EXPECT_TRUE(IsWindow(Frame()));
  EXPECT_TRUE(doc_->IsDeviceMappingStarted());
  // A log-off is refused the same way; a shut-down is let through.
  EXPECT_EQ(frame_->SendMessage(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 0);
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[2].text, "Please stop Device Mapping before exitting the application.");
  EXPECT_EQ(frame_->SendMessage(WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(boxes_.size(), 3u);

  // Sleep and wake: the document's flags for the broadcast thread, the status line and the log.
  frame_->SendMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  EXPECT_TRUE(doc_->IsSuspended());
  EXPECT_EQ(frame_->GetStatusText(), "System entering in to Sleep State(Standby/Hibernate)...");
  EXPECT_TRUE(MappingLogHas("System entering in to Sleep State(Standby/Hibernate)..."));
  frame_->SendMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(frame_->GetStatusText(), "System resuming from Standby/Hibernate...Please Wait!!");

  answer_ = [](const Box&) { return IDOK; };
  Command(ID_STOP_DEVICE_MAPPING);
  ASSERT_FALSE(doc_->IsDeviceMappingStarted());
  // Now Exit ends the program: the icon goes with the frame.
  Command(ID_EXIT);
  EXPECT_FALSE(HasTrayIcon());
  EXPECT_EQ(app_->m_pMainWnd, nullptr);
}

TEST_F(FrameTest, AContextMenuShowsWhatTheDocumentLeftOfItsResource) {
  // The device tree's form of menu 136: Connect and Disconnect, the first one disabled.
  ContextMenu menu;
  menu.MenuId = IDR_DEVICE_MAPPING;
  menu.IconBitmap = IDB_DEVICE_MAPPING_MENU_ICONS;
  menu.IconCommands = {ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_CONNECT, ID_DISCONNECT,
                       ID_PRINTER_AUTO_CONNECT};
  menu.Removed = {ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_PRINTER_AUTO_CONNECT};
  menu.RemoveSeparators = TRUE;
  menu.Disabled = {ID_CONNECT};
  std::vector<std::string> items;
  UINT connectState = 0, disconnectState = 0;
  tavrin::test::OnMenuIdle([&](HWND) {
    HMENU tracked = CMenu::GetTrackingMenu();
    items = Items(tracked);
    connectState = GetMenuState(tracked, ID_CONNECT, MF_BYCOMMAND);
    disconnectState = GetMenuState(tracked, ID_DISCONNECT, MF_BYCOMMAND);
    EndMenu();
  });
  // Owned by a pane (a frame owner would run the command rules over the items as well).
  const HWND pane = frame_->GetLeftTreeView()->m_hWnd;
  EXPECT_TRUE(frame_->TrackContextMenu(menu, pane, POINT{20, 20}));
  EXPECT_EQ(items, (std::vector<std::string>{"&Connect", "&Disconnect"}));
  EXPECT_TRUE(connectState & MF_GRAYED);
  EXPECT_FALSE(disconnectState & MF_GRAYED);
  menu.MenuId = 4242;  // no such menu
  EXPECT_FALSE(frame_->TrackContextMenu(menu, pane, POINT{20, 20}));
}

TEST_F(FrameTest, PowerEventsWithoutMappingChangeNothing) {
  frame_->SendMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  EXPECT_FALSE(doc_->IsSuspended());
  EXPECT_EQ(frame_->GetStatusText(), "");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(FrameTest, TheStatusBarHoldsThePromptTheStatusLineAndAClockThatAdvances) {
  CStatusBar& bar = frame_->GetStatusBar();
  ASSERT_EQ(bar.GetCount(), 3);
  EXPECT_EQ(bar.GetPaneText(0), "Ready");
  CRect window;
  frame_->GetWindowRect(&window);
  UINT id = 1, style = 1;
  int width = 0;
  bar.GetPaneInfo(1, id, style, width);
  EXPECT_EQ(width, window.Width() / 3 + 70);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(style, 0u);
  frame_->SetStatusTextById(IDS_STARTED_MAPPING);
  EXPECT_EQ(bar.GetPaneText(1), "Started Device Mapping Functionality.");
  // Another thread's line reaches the pane through the window's own thread.
  std::thread other([&] { frame_->SetStatusText("from a worker"); });
  other.join();
  PumpUntil([&] { return bar.GetPaneText(1) == "from a worker"; }, 2000);
  EXPECT_EQ(bar.GetPaneText(1), "from a worker");

  const std::regex clock(R"(\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d)");
  PumpUntil([&] { return std::regex_match(bar.GetPaneText(2).GetString(), clock); }, 2000);
  const CString first = bar.GetPaneText(2);
  ASSERT_TRUE(std::regex_match(first.GetString(), clock)) << first.GetString();
  EXPECT_TRUE(PumpUntil([&] { return bar.GetPaneText(2) != first; }, 2500)) << "the clock goes on";
}

TEST_F(FrameTest, TheViewCommandsHideAndShowTheBarsAndPanes) {
  ShowWindow(Frame(), SW_SHOW);
  CWnd* log = reinterpret_cast<CWnd*>(frame_->GetBottemFormView());
  ASSERT_TRUE(frame_->GetToolBar().IsWindowVisible());
  Command(ID_VIEW_TOOL_BAR);
  EXPECT_FALSE(frame_->IsToolBarShown());
  EXPECT_FALSE(frame_->GetToolBar().IsWindowVisible());
  Command(ID_VIEW_TOOL_BAR);
  EXPECT_TRUE(frame_->GetToolBar().IsWindowVisible());

  Command(ID_VIEW_LOG_PANEL);
  EXPECT_FALSE(frame_->IsLogPanelShown());
  EXPECT_FALSE(log->IsWindowVisible());
  Command(ID_VIEW_LOG_PANEL);
  EXPECT_TRUE(log->IsWindowVisible()) << "the same row comes back";

  CWnd* navigation = frame_->GetLeftTreeView();
  CWnd* details = reinterpret_cast<CWnd*>(frame_->GetDetailsFormView());
  Command(ID_VIEW_FUNCTIONAL_PANEL);
  EXPECT_FALSE(navigation->IsWindowVisible());
  EXPECT_TRUE(details->IsWindowVisible()) << "the other panes stay";
  Command(ID_VIEW_DETAILS_PANEL);
  EXPECT_FALSE(details->IsWindowVisible());
  Command(ID_VIEW_FUNCTIONAL_PANEL);
  Command(ID_VIEW_DETAILS_PANEL);
  EXPECT_TRUE(navigation->IsWindowVisible());
  EXPECT_TRUE(details->IsWindowVisible());

  Command(ID_ONLINE_HELP);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Pelko Admin Help");
  // Without the settings library in the Windows directory.
  Command(ID_SETTINGS);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text, "Pelko Settings DLL not found.");
}

TEST_F(FrameTest, TheFunctionSwitchReplacesTheBarsFunctionPopupAndTheToolbar) {
  auto barText = [&](UINT position) { return ItemText(frame_->GetMainMenu()->m_hMenu, position); };
  std::vector<std::string> bar;
  for (UINT i = 0; i < 5; ++i) bar.push_back(barText(i));
  EXPECT_EQ(bar, (std::vector<std::string>{"&File", "Fu&nctions", "&Device Mapping", "&View", "&Help"}));
  EXPECT_EQ(frame_->GetToolBar().GetItemID(0), ID_START_DEVICE_MAPPING);

  Command(ID_FUNCTION_SERVER_MANAGER);
  EXPECT_EQ(frame_->GetLeftTreeView()->GetSelectedItem(), CLeftTreeView::kServerManagerItem);
  EXPECT_EQ(barText(2), "&Server Manager");
  EXPECT_EQ(GetSubMenu(frame_->GetMainMenu()->m_hMenu, 2), frame_->GetServerManagerPopup()->m_hMenu);
  EXPECT_EQ(frame_->GetToolBar().GetItemID(0), ID_SEARCH_SERVERS);
  EXPECT_EQ(doc_->m_ViewModeFlags[kFunctionServerManager], 1u);
  EXPECT_EQ(doc_->m_ViewModeFlags[kLogDeviceMapping], 0u);
  EXPECT_EQ(GetMenuItemCount(frame_->GetMainMenu()->m_hMenu), 5);

  Command(ID_FUNCTION_DEVICE_MAPPING);
  EXPECT_EQ(barText(2), "&Device Mapping");
  EXPECT_EQ(GetSubMenu(frame_->GetMainMenu()->m_hMenu, 2), frame_->GetDeviceMappingPopup()->m_hMenu);
  EXPECT_EQ(frame_->GetToolBar().GetItemID(0), ID_START_DEVICE_MAPPING);
  EXPECT_EQ(doc_->m_ViewModeFlags[kFunctionDeviceMapping], 1u);

  // The toolbar's buttons follow the document's rules (Start while mapping is off).
  frame_->SendMessage(WM_TIMER, CMainFrame::kClockTimer);
  CToolBarCtrl& buttons = frame_->GetToolBar().GetToolBarCtrl();
  EXPECT_TRUE(buttons.IsButtonEnabled(ID_START_DEVICE_MAPPING));
  EXPECT_FALSE(buttons.IsButtonEnabled(ID_STOP_DEVICE_MAPPING));
  EXPECT_FALSE(buttons.IsButtonEnabled(ID_CONNECT));
}

TEST_F(FrameTest, SwitchingFunctionsAHundredTimesLeavesNoDrawingObjectBehind) {
  ShowWindow(Frame(), SW_SHOW);
  tavrin::win::PaintPending();
  // One round first: the lists and pictures each view keeps are made on first use.
  Command(ID_FUNCTION_SERVER_MANAGER);
  Command(ID_FUNCTION_DEVICE_MAPPING);
  tavrin::win::PaintPending();
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 50; ++i) {
    Command(ID_FUNCTION_SERVER_MANAGER);
    frame_->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Command(ID_FUNCTION_DEVICE_MAPPING);
    frame_->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  tavrin::win::PaintPending();
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

TEST_F(FrameTest, TheExitMonitorsRequestEndsTheProgramWithoutItsIcon) {
  ASSERT_TRUE(HasTrayIcon());
  frame_->SendMessage(WM_CLOSE_PROGRAM);
  EXPECT_FALSE(HasTrayIcon());
  EXPECT_EQ(app_->m_pMainWnd, nullptr);
}

TEST_F(FrameTest, TheAboutBoxReadsTheVersionOfTheInstalledProgram) {
  EXPECT_EQ(app_->GetAboutVersionText(), "  Version 1.0.0.0\n") << "no program file in the Windows directory";
  char windows[MAX_PATH] = {};
  GetWindowsDirectory(windows, MAX_PATH);
  HANDLE file = CreateFile((std::string(windows) + "\\TavrinAdmin.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  // The installed file is this program, whose version block says "1, 0, 0, 1".
  EXPECT_EQ(app_->GetAboutVersionText(), "  Version 1, 0, 0, 1\n");
}

TEST_F(FrameTest, TheSplashShowsOnlyWhenEnabledAndTakesTheFirstPressAway) {
  CSplashScreenWnd::ShowSplashScreen(frame_);
  EXPECT_FALSE(CSplashScreenWnd::IsShowing()) << "the command line turned it off";
  CSplashScreenWnd::SetEnabled(TRUE);
  CSplashScreenWnd::ShowSplashScreen(frame_);
  ASSERT_TRUE(CSplashScreenWnd::IsShowing());
  MSG move{nullptr, WM_MOUSEMOVE, 0, 0, 0, {}};
  EXPECT_FALSE(CSplashScreenWnd::HideOnInput(&move));
  MSG key{nullptr, WM_KEYDOWN, 'A', 0, 0, {}};
  EXPECT_TRUE(CSplashScreenWnd::HideOnInput(&key)) << "the press is used up";
  EXPECT_FALSE(CSplashScreenWnd::IsShowing());
  EXPECT_FALSE(CSplashScreenWnd::HideOnInput(&key)) << "later presses pass";
  // Left alone it goes after its display time.
  const DWORD start = GetTickCount();  // before its timer is set, so a slow start cannot shorten the time
  CSplashScreenWnd::ShowSplashScreen(frame_);
  ASSERT_TRUE(CSplashScreenWnd::IsShowing());
  EXPECT_TRUE(PumpUntil([] { return !CSplashScreenWnd::IsShowing(); }, 30000));
  EXPECT_GE(GetTickCount() - start, CSplashScreenWnd::kDisplayMs - 20);
  CSplashScreenWnd::SetEnabled(FALSE);
}

}  // namespace
}  // namespace admin_doc_test
