// The whole application object run in this process: start-up, the notification-area icon, shut-down.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/MainFrame.h"
#include "testsupport/eventually.h"
#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/shell.h"
#include "win32/sysroot.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using namespace std::chrono_literals;

std::string ReadLog() {
  std::ifstream in(tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.log"), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class RunTest : public tavrin::test::SysrootTest {};

TEST_F(RunTest, StartsHiddenWithItsTrayIconAndEndsOnTheShutDownEvent) {
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppTraceLevel", 3),
            ERROR_SUCCESS);
  CTavrinAdminApp app(GetAdminUiShell());
  std::vector<tavrin::tray::TrayIcon> iconsWhileRunning;
  bool sawDocumentEvent = false;

  // Plays the installer: waits for the running program, then asks it to shut down.
  std::thread installer([&] {
    HANDLE event = nullptr;
    const bool running = tavrin::test::Eventually(
        [&] {
          iconsWhileRunning = tavrin::tray::Icons();
          return !iconsWhileRunning.empty() &&
                 (event = OpenEvent(EVENT_MODIFY_STATE, FALSE, "TavrinAdminShutDownEvent")) != nullptr;
        },
        20s);
    if (!running) return;
    sawDocumentEvent = true;
    SetEvent(event);
    CloseHandle(event);
  });
  char arg0[] = "TavrinAdmin";
  char* argv[] = {arg0};
  const int result = AfxWinMain(1, argv);
  installer.join();

  EXPECT_EQ(result, 0);
  ASSERT_TRUE(sawDocumentEvent);
  ASSERT_EQ(iconsWhileRunning.size(), 1u);
  EXPECT_EQ(iconsWhileRunning[0].id, 128u);
  EXPECT_EQ(iconsWhileRunning[0].callbackMessage, WM_USER + 1);
  EXPECT_EQ(iconsWhileRunning[0].tip, "Pelko Admin Utility");
  EXPECT_TRUE(tavrin::tray::Icons().empty());  // removed with the main frame
  EXPECT_EQ(app.GetDocument(), nullptr);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  const std::string log = ReadLog();
  const std::string end = "\r\n--------- End of Pelko Admin---------\r\n";
  EXPECT_TRUE(log.size() > end.size() && log.compare(log.size() - end.size(), end.size(), end) == 0) << log;
}

// Holds the program's thread in a message sent to it until the test lets it go, as a slow program under a
// flood of input would be held: the input queues up meanwhile.
constexpr WPARAM kHoldMarker = 0x7E57;
HANDLE g_holdGate = nullptr;
std::atomic<bool> g_held{false};

LRESULT CALLBACK HoldOnMarker(int code, WPARAM fromThisThread, LPARAM info) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(info);
  if (code == HC_ACTION && call->message == WM_NULL && call->wParam == kHoldMarker) {
    g_held = true;
    WaitForSingleObject(g_holdGate, INFINITE);
  }
  return CallNextHookEx(nullptr, code, fromThisThread, info);
}

TEST_F(RunTest, EndsOnTheShutDownEventWhileInputKeepsComing) {
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", "AppTraceLevel", 1),
            ERROR_SUCCESS);
  g_holdGate = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HHOOK hook = SetWindowsHookEx(WH_CALLWNDPROC, HoldOnMarker, nullptr, 0);
  ASSERT_NE(hook, nullptr);
  CTavrinAdminApp app(GetAdminUiShell());
  std::atomic<bool> ended{false};
  bool endedWhileInputCame = false;
  int injected = 0;
  constexpr int kKeysAhead = 20000;

  // Plays the installer with a user who keeps typing in the window: keys are queued ahead of the request
  // to end and keep coming after it.
  std::thread installer([&] {
    HANDLE event = nullptr;
    if (!tavrin::test::Eventually(
            [&] { return (event = OpenEvent(EVENT_MODIFY_STATE, FALSE, "TavrinAdminShutDownEvent")) != nullptr; },
            20s))
      return;
    HWND frame = app.m_pMainWnd->GetSafeHwnd();
    ShowWindow(frame, SW_SHOW);
    SetForegroundWindow(frame);
    std::thread holder([frame] { SendMessage(frame, WM_NULL, kHoldMarker, 0); });
    tavrin::test::Eventually([] { return g_held.load(); }, 20s);
    // Shift before the request to end, Control after it.
    const auto press = [&](int key) { tavrin::win::InjectKey(key, injected++ % 2 == 0); };
    while (injected < kKeysAhead) press(VK_SHIFT);
    SetEvent(event);
    CloseHandle(event);
    // The exit monitor has asked the window to close, behind the keys.
    tavrin::test::Eventually([] { return ReadLog().find("ExitMonitorTh <== ") != std::string::npos; }, 20s);
    SetEvent(g_holdGate);
    holder.join();
    constexpr int kMostInput = 2000000;  // without the end, the input stops here and the queue drains
    while (!ended && injected < kMostInput) press(VK_CONTROL);
    endedWhileInputCame = ended;
    tavrin::win::InjectKey(VK_CONTROL, false);
  });
  char arg0[] = "TavrinAdmin";
  char* argv[] = {arg0};
  const int result = AfxWinMain(1, argv);
  ended = true;
  installer.join();
  UnhookWindowsHookEx(hook);
  int keysAheadLeft = 0;  // the program's thread is this one: what it left unread is still queued here
  for (MSG msg; PeekMessage(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE);)
    if (msg.wParam == VK_SHIFT) ++keysAheadLeft;
  CloseHandle(g_holdGate);

  EXPECT_EQ(result, 0);
  EXPECT_TRUE(g_held);
  EXPECT_GT(keysAheadLeft, 0) << "the keys typed before the request to end were all read first";
  EXPECT_TRUE(endedWhileInputCame) << injected << " key presses and releases";
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  const std::string log = ReadLog();
  const std::string end = "\r\n--------- End of Pelko Admin---------\r\n";
  EXPECT_TRUE(log.size() > end.size() && log.compare(log.size() - end.size(), end.size(), end) == 0);
}

}  // namespace
