// Window objects of one process and message boxes.
#include <stdlib.h>

#include <string>
#include <vector>

#include "testsupport/sysroot.h"
#include "win32/user.h"

namespace {

using tavrin::test::SysrootTest;

struct Log {
  std::vector<std::string> lines;
};

LRESULT CALLBACK LoggingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* log = reinterpret_cast<Log*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  char title[64] = "";
  GetWindowText(hwnd, title, sizeof title);
  std::string name = title;
  switch (message) {
    case WM_CREATE: {
      auto* create = reinterpret_cast<CREATESTRUCT*>(lParam);
      if (create->lpCreateParams) return -1;  // the test's way to refuse creation
      log->lines.push_back(name + " create");
      break;
    }
    case WM_DESTROY: log->lines.push_back(name + " destroy"); break;
    case WM_NCDESTROY: log->lines.push_back(name + " ncdestroy"); break;
    case WM_SHOWWINDOW: log->lines.push_back(name + " show " + std::to_string(wParam)); break;
    case WM_ACTIVATE: log->lines.push_back(name + " activate " + std::to_string(wParam)); break;
    default: break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class WindowTest : public SysrootTest {
 protected:
  HWND Make(const char* title, HWND parent = nullptr, DWORD style = 0) {
    tavrin::win::WindowSpec spec;
    spec.className = "TestWindow";
    spec.title = title;
    spec.proc = LoggingProc;
    spec.userData = reinterpret_cast<LONG_PTR>(&log);
    spec.parent = parent;
    spec.style = style;
    return tavrin::win::CreateWindowObject(spec);
  }
  Log log;
};

TEST_F(WindowTest, CreationSendsCreateAndKeepsTextAndLongValues) {
  HWND hwnd = Make("Pelko Admin");
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(log.lines, std::vector<std::string>{"Pelko Admin create"});
  char text[8];
  EXPECT_EQ(GetWindowText(hwnd, text, sizeof text), 7);  // cut to the buffer
  EXPECT_STREQ(text, "Pelko A");
  EXPECT_TRUE(SetWindowText(hwnd, "Renamed"));
  EXPECT_EQ(GetWindowTextLength(hwnd), 7);
  char className[32];
  EXPECT_EQ(GetClassName(hwnd, className, sizeof className), 10);
  EXPECT_STREQ(className, "TestWindow");
  EXPECT_EQ(SetWindowLongPtr(hwnd, GWLP_USERDATA, 0), reinterpret_cast<LONG_PTR>(&log));
  EXPECT_EQ(GetWindowLongPtr(hwnd, GWLP_USERDATA), 0);
  SetWindowLongPtr(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&log));
  EXPECT_EQ(GetWindowLongPtr(hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&LoggingProc));
  EXPECT_EQ(GetWindowLongPtr(hwnd, 12345), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_TRUE(DestroyWindow(hwnd));
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(DestroyWindow(hwnd));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowTest, RefusedCreationLeavesNoWindow) {
  tavrin::win::WindowSpec spec;
  spec.title = "refused";
  spec.proc = LoggingProc;
  spec.userData = reinterpret_cast<LONG_PTR>(&log);
  spec.createParam = &log;
  EXPECT_EQ(tavrin::win::CreateWindowObject(spec), nullptr);
  EXPECT_EQ(FindWindow(nullptr, "refused"), nullptr);
}

TEST_F(WindowTest, ShowWindowTracksVisibilityAndIconicStateAndTellsTheWindow) {
  HWND hwnd = Make("frame");
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_FALSE(ShowWindow(hwnd, SW_MINIMIZE));
  EXPECT_TRUE(IsIconic(hwnd));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
  EXPECT_TRUE(IsIconic(hwnd));
  EXPECT_FALSE(ShowWindow(hwnd, SW_RESTORE));
  EXPECT_FALSE(IsIconic(hwnd));
  EXPECT_TRUE(ShowWindow(hwnd, SW_SHOW));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"frame create", "frame show 1", "frame show 0", "frame show 1"}));
  EXPECT_TRUE(GetWindowLongPtr(hwnd, GWL_STYLE) & WS_VISIBLE);
  DestroyWindow(hwnd);
}

TEST_F(WindowTest, ChildIsVisibleOnlyWithItsParent) {
  HWND parent = Make("parent");
  HWND child = Make("child", parent, WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(GetParent(child), parent);
  EXPECT_FALSE(IsWindowVisible(child));
  ShowWindow(parent, SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_EQ(FindWindow(nullptr, "child"), nullptr) << "FindWindow sees top-level windows only";
  DestroyWindow(parent);
  EXPECT_FALSE(IsWindow(child));
}

TEST_F(WindowTest, DestroyTakesOwnedAndChildWindowsAlong) {
  HWND owner = Make("owner");
  HWND popup = Make("popup", owner);
  HWND child = Make("child", owner, WS_CHILD);
  log.lines.clear();
  EXPECT_TRUE(DestroyWindow(owner));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"popup destroy", "popup ncdestroy", "owner destroy", "child destroy",
                                                  "child ncdestroy", "owner ncdestroy"}));
  EXPECT_FALSE(IsWindow(popup));
  EXPECT_FALSE(IsWindow(child));
}

TEST_F(WindowTest, LastActivePopupFollowsActivation) {
  HWND frame = Make("frame");
  EXPECT_EQ(GetLastActivePopup(frame), frame);
  HWND dialog = Make("dialog", frame);
  EXPECT_EQ(GetParent(dialog), frame);
  ShowWindow(dialog, SW_SHOW);
  EXPECT_EQ(GetLastActivePopup(frame), dialog);
  log.lines.clear();
  EXPECT_TRUE(SetForegroundWindow(frame));
  EXPECT_TRUE(SetForegroundWindow(dialog));
  EXPECT_EQ(GetForegroundWindow(), dialog);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"frame activate 1", "frame activate 0", "dialog activate 1"}));
  DestroyWindow(dialog);
  EXPECT_EQ(GetLastActivePopup(frame), frame);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  DestroyWindow(frame);
}

TEST_F(WindowTest, FindWindowMatchesClassAndTitleIgnoringCase) {
  HWND first = Make("Pelko Admin");
  HWND second = Make("Other");
  EXPECT_EQ(FindWindow(nullptr, "pelko admin"), first);
  EXPECT_EQ(FindWindow("testwindow", "OTHER"), second);
  EXPECT_EQ(FindWindow("testwindow", nullptr), first);
  EXPECT_EQ(FindWindow("NoSuchClass", nullptr), nullptr);
  SetWindowText(first, "Renamed");
  EXPECT_EQ(FindWindow(nullptr, "Pelko Admin"), nullptr);
  DestroyWindow(first);
  DestroyWindow(second);
  EXPECT_EQ(FindWindow(nullptr, "Other"), nullptr);
}

TEST_F(WindowTest, OnlyTheOwningThreadDestroysAWindow) {
  HWND hwnd = Make("mine");
  BOOL destroyed = TRUE;
  DWORD error = 0;
  std::thread other([&] {
    destroyed = DestroyWindow(hwnd);
    error = GetLastError();
  });
  other.join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(DestroyWindow(hwnd));
}

class MessageBoxTest : public SysrootTest {
 protected:
  void TearDown() override {
    tavrin::SetMessageBoxSink({});
    unsetenv("TAVRIN_MSGBOX_ANSWER");
    SysrootTest::TearDown();
  }
};

TEST_F(MessageBoxTest, SinkRecordsAndAnswers) {
  std::vector<std::string> shown;
  tavrin::SetMessageBoxSink([&](const std::string& text, const std::string& caption, UINT type) {
    shown.push_back(caption + "|" + text + "|" + std::to_string(type));
    return IDCANCEL;
  });
  EXPECT_EQ(MessageBox(nullptr, "Stop Device Mapping?", "Pelko Admin", MB_OKCANCEL | MB_ICONINFORMATION), IDCANCEL);
  EXPECT_EQ(shown, std::vector<std::string>{"Pelko Admin|Stop Device Mapping?|65"});
}

TEST_F(MessageBoxTest, WithoutASinkTheDefaultButtonOrTheEnvironmentAnswers) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox(nullptr, "Client software is not installed !!", "Pelko Admin", MB_ICONSTOP), IDOK);
  EXPECT_EQ(MessageBox(nullptr, "Reboot?", "Pelko Admin", MB_YESNO | MB_DEFBUTTON2), IDNO);
  setenv("TAVRIN_MSGBOX_ANSWER", "2", 1);
  EXPECT_EQ(MessageBox(nullptr, "two\nlines", "Pelko Admin", MB_OKCANCEL), IDCANCEL);
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Client software is not installed !!"), std::string::npos);
  EXPECT_NE(printed.find("two lines"), std::string::npos) << "one line per box";
}

}  // namespace
