// The panes on a private Xvfb server, used as a person uses them: real X input (XTest) only. A click on a
// device in the tree shows its details; a right click on the log, "Save to File", the file dialogs and OK
// leave the log in a new file as TAB-separated rows. On failure the screen is kept as a PNG.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef None
#undef Bool
#undef Status

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "admin/Resource.h"
#include "draw/surface.h"
#include "panes_fixture.h"
#include "testsupport/eventually.h"
#include "testsupport/message_pump.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"
#include "win32/window_manager.h"

namespace panes_test {
namespace {

using tavrin::test::Eventually;

// A person at the X display: a connection of its own, used from one thread.
class XUser {
 public:
  explicit XUser(const std::string& display) : x_(tavrin::test::OpenXDisplay(display)) {}
  ~XUser() {
    if (x_) XCloseDisplay(x_);
  }
  bool ok() const { return x_ != nullptr; }
  void Click(POINT at, unsigned button = 1) {
    tavrin::test::WaitXWindowAt(x_, at.x, at.y);
    XTestFakeMotionEvent(x_, -1, at.x, at.y, 0);
    XTestFakeButtonEvent(x_, button, True, 0);
    XTestFakeButtonEvent(x_, button, False, 0);
    XFlush(x_);
  }
  void Key(KeySym key) {
    const KeyCode code = XKeysymToKeycode(x_, key);
    XTestFakeKeyEvent(x_, code, True, 0);
    XTestFakeKeyEvent(x_, code, False, 0);
    XFlush(x_);
  }
  void Type(const std::string& text) {
    for (char c : text) Key(c == '.' ? XK_period : c == '_' ? XK_underscore : static_cast<KeySym>(c));
  }

 private:
  Display* x_;
};

POINT Centre(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// The shown top-level window of that class and title, or null.
HWND Shown(const char* className, const char* title) {
  HWND window = FindWindow(className, title);
  return window && IsWindowVisible(window) ? window : nullptr;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PanesXvfbTest : public PanesTest {
 protected:
  void SetUp() override {
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: the panes on X are not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    ASSERT_NE(screen_ = tavrin::test::OpenXDisplay(xvfb_.name()), nullptr);
    tavrin::win::SetScreenSize(1024, 768);
    ASSERT_TRUE(tavrin::win::StartX11Display(xvfb_.name()));
    PanesTest::SetUp();
  }

  void TearDown() override {
    // The person's steps read the dialogs' windows, which answers only while this thread pumps.
    if (user_.joinable()) {
      while (!userDone_) tavrin::test::PumpUntil([this] { return userDone_.load(); });
      user_.join();
    }
    if (screen_) {
      PanesTest::TearDown();
      tavrin::win::StopDisplay();
      XCloseDisplay(screen_);
    }
    xvfb_.Stop();
  }

  // The main window shown on X with the panes painted.
  void ShowFrame() {
    frame_->MoveWindow(0, 0, 1024, 700);
    frame_->ShowWindow(SW_SHOW);
    SetForegroundWindow(frame_->m_hWnd);
    tavrin::win::PaintPending();
  }

  // The person's actions run on a thread of their own while this thread runs the program's loops. A step
  // that does not come about ends them: what they left open is closed, so that no loop waits forever.
  void AsTheUser(std::function<bool(XUser&)> actions) {
    user_ = std::thread([this, actions] {
      XUser user(xvfb_.name());
      if (!user.ok() || !actions(user)) {
        userFailed_ = true;
        for (const char* title : {"Save As", "Select File"})
          if (HWND dialog = FindWindow("#32770", title)) PostMessage(dialog, WM_CLOSE, 0, 0);
        if (user.ok()) user.Key(XK_Escape);
      }
      userDone_ = true;
    });
  }

  // The X screen as a PNG next to the test program; its path.
  std::string KeepScreen(const char* name) {
    return tavrin::test::KeepXScreen(screen_, std::string(name) + "_failure.png");
  }

  tavrin::test::XvfbServer xvfb_;
  Display* screen_ = nullptr;
  std::thread user_;
  std::atomic<bool> userDone_{false};
  std::atomic<bool> userFailed_{false};
  std::atomic<const char*> userStep_{""};  // what the person waits for now
};

TEST_F(PanesXvfbTest, AClickOnADeviceShowsItsDetails) {
  AddServer(2, ARRM_STATUS_SUCCESS);
  AddDevice(2, 1, 7, 0x03F0, 0x1017, "Office LaserPrinter 1020");
  AddDevice(2, 2, 8, 0x0781, 0x5567).BusyFlag = 1;
  ShowLists();
  ShowFrame();
  HTREEITEM printer = functions_->FindTreeRow(Ip(2).c_str(), 1);
  ASSERT_NE(printer, nullptr);
  RECT row{};
  ASSERT_TRUE(functions_->m_treeDevices.GetItemRect(printer, &row, TRUE));
  POINT at{row.left + 20, (row.top + row.bottom) / 2};
  functions_->m_treeDevices.ClientToScreen(&at);

  AsTheUser([at](XUser& user) {
    user.Click(at);
    return true;
  });
  ASSERT_TRUE(tavrin::test::PumpUntil([&] {
    const std::vector<CString> rows = details_->GetDeviceDetails();
    return !rows.empty() && rows[0] == "Vid: 03f0";
  })) << "screen kept in " << KeepScreen("device_details");
  const std::vector<CString> rows = details_->GetDeviceDetails();
  ASSERT_GE(rows.size(), 9u);
  EXPECT_EQ(rows[1], "Vendor Name: Hewlett Packard");
  EXPECT_EQ(rows[2], "Pid: 1017");
  EXPECT_EQ(rows[3], "Product Name: Office LaserPrinter 1020");
  EXPECT_EQ(rows[8], "Status: Free");
  EXPECT_EQ(functions_->m_treeDevices.GetFirstSelectedItem(), printer);
}

TEST_F(PanesXvfbTest, SaveToFileLeavesTheLogInANewFileAsTabRows) {
  log_->AddDeviceMappingLog("Started Device Mapping Functionality.");
  log_->AddDeviceMappingLog("Device 127.0.0.2 : 1 Connect Intimation Successful");
  ShowFrame();
  const POINT onLog = Centre(log_->m_lstDeviceMappingLog.GetSafeHwnd());
  const std::filesystem::path saved = root() / "C" / "WINDOWS" / "mapping.txt";

  // Right click, "&Save to File" from the menu, "&Browse", the file's name, then "O&K".
  AsTheUser([this, onLog](XUser& user) {
    userStep_ = "the log's menu";
    user.Click(onLog, 3);
    if (!Eventually([] { return Shown("#32768", nullptr) != nullptr; })) return false;
    userStep_ = "Select File";
    user.Key(XK_s);
    HWND select = nullptr;
    if (!Eventually([&] { return (select = Shown("#32770", "Select File")) != nullptr; })) return false;
    userStep_ = "Save As";
    user.Click(Centre(GetDlgItem(select, IDC_LOG_FILE_BROWSE)));
    if (!Eventually([] { return Shown("#32770", "Save As") != nullptr; })) return false;
    userStep_ = "the chosen path";
    user.Type("mapping");
    user.Key(XK_Return);
    if (!Eventually([&] { return GetWindowTextLength(GetDlgItem(select, IDC_LOG_FILE_PATH)) > 0; })) return false;
    userStep_ = "OK";
    user.Click(Centre(GetDlgItem(select, IDOK)));
    return true;
  });
  // Each of the person's steps ends, done or given up; then nothing of the dialogs is left open.
  while (!userDone_) tavrin::test::PumpUntil([this] { return userDone_.load(); });
  ASSERT_FALSE(userFailed_) << "no " << userStep_.load() << "; screen kept in " << KeepScreen("save_to_file");
  ASSERT_TRUE(tavrin::test::PumpUntil([&] { return !Shown("#32770", "Select File"); }));
  ASSERT_TRUE(std::filesystem::exists(saved));
  const std::vector<LogRow> rows = log_->GetDeviceMappingLog();
  std::string expected;
  for (const LogRow& row : rows)
    expected += std::to_string(row.Serial) + "\t" + row.Time.str() + "\t" + row.Text.str() + "\r\n";
  EXPECT_EQ(ReadFile(saved), expected);
}

}  // namespace
}  // namespace panes_test
