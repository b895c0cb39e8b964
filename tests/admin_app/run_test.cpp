// The whole application object run in this process: start-up, the notification-area icon, shut-down.
#include <gtest/gtest.h>

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

}  // namespace
