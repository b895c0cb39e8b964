// The window manager over the window core: top-level windows as surfaces, their z-order, capture and
// focus seen by the core, and input the core routes taking the Win32 road.
#include <string>
#include <vector>

#include "gui/desktop.h"
#include "testsupport/sysroot.h"
#include "win32/window_manager.h"
#include "win32/windows.h"

namespace {

using tavrin::gui::SurfaceId;
using tavrin::gui::SurfaceState;
using tavrin::gui::TheDesktop;

std::vector<std::string> g_heard;

LRESULT CALLBACK HearingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN)
    g_heard.push_back("down " + std::to_string(GET_X_LPARAM(lParam)) + "," + std::to_string(GET_Y_LPARAM(lParam)));
  if (message == WM_LBUTTONUP) g_heard.push_back("up");
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class WindowCoreTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    tavrin::win::SetScreenSize(640, 480);
    WNDCLASS wc{};
    wc.lpfnWndProc = HearingProc;
    wc.lpszClassName = "CoreTest";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClass(&wc);
    g_heard.clear();
  }
  void TearDown() override {
    for (HWND hwnd : windows_) DestroyWindow(hwnd);
    UnregisterClass("CoreTest", nullptr);
    SysrootTest::TearDown();
  }

  HWND Make(const char* title, DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    HWND hwnd = CreateWindowEx(0, "CoreTest", title, style, x, y, w, h, parent, nullptr, nullptr, nullptr);
    if (!parent) windows_.push_back(hwnd);
    return hwnd;
  }

  // The core's surface of a top-level window; 0 for none.
  static SurfaceId SurfaceOf(HWND hwnd) {
    for (SurfaceId id : TheDesktop().Stack()) {
      SurfaceState state;
      if (TheDesktop().State(id, state) && state.handle == reinterpret_cast<uintptr_t>(hwnd)) return id;
    }
    return 0;
  }

  std::vector<HWND> windows_;
};

TEST_F(WindowCoreTest, TopLevelWindowsAreSurfacesInTheirZOrder) {
  HWND back = Make("Back", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150);
  HWND front = Make("Front", WS_POPUP | WS_VISIBLE, 50, 40, 100, 80);
  HWND hidden = Make("Hidden", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50);
  ASSERT_NE(SurfaceOf(back), 0u);
  ASSERT_NE(SurfaceOf(front), 0u);
  (void)tavrin::win::ComposeScreen();  // composing brings the core in step
  SurfaceState state;
  ASSERT_TRUE(TheDesktop().State(SurfaceOf(front), state));
  EXPECT_EQ(state.rect, (tavrin::draw::Rect{50, 40, 150, 120}));
  EXPECT_TRUE(state.visible);
  EXPECT_TRUE(state.popup);
  EXPECT_EQ(state.title, "Front");
  ASSERT_TRUE(TheDesktop().State(SurfaceOf(hidden), state));
  EXPECT_FALSE(state.visible);
  EXPECT_EQ(TheDesktop().At({60, 50}), SurfaceOf(front));

  SetWindowPos(back, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(TheDesktop().At({60, 50}), SurfaceOf(back));
  SetWindowText(back, "Renamed");
  ASSERT_TRUE(TheDesktop().State(SurfaceOf(back), state));
  EXPECT_EQ(state.title, "Renamed");

  const SurfaceId gone = SurfaceOf(hidden);
  DestroyWindow(hidden);
  windows_.pop_back();
  EXPECT_FALSE(TheDesktop().State(gone, state));
}

TEST_F(WindowCoreTest, TheCoresCaptureAndFocusAreThoseOfTheWin32Windows) {
  HWND top = Make("Top", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150);
  HWND child = Make("", WS_CHILD | WS_VISIBLE, 5, 5, 50, 20, top);
  HWND other = Make("Other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 10, 100, 100);
  SetCapture(child);
  EXPECT_EQ(TheDesktop().Capture(), SurfaceOf(top));
  ReleaseCapture();
  EXPECT_EQ(TheDesktop().Capture(), 0u);
  SetFocus(other);
  EXPECT_EQ(TheDesktop().Focus(), SurfaceOf(other));
  SetFocus(child);
  EXPECT_EQ(TheDesktop().Focus(), SurfaceOf(top));
  DestroyWindow(child);  // the focus goes with its window
  EXPECT_EQ(TheDesktop().Focus(), 0u);
}

TEST_F(WindowCoreTest, TheWindowListGivesTopLevelWindowsTheirRole) {
  HWND top = Make("Listed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150);
  Make("Inside", WS_CHILD | WS_VISIBLE, 5, 5, 50, 20, top);
  std::string topLine, childLine;
  for (const std::string& line : tavrin::win::ListWindows()) {
    if (line.find("text=\"Listed\"") != std::string::npos) topLine = line;
    if (line.find("text=\"Inside\"") != std::string::npos) childLine = line;
  }
  EXPECT_NE(topLine.find(" role=\"window\""), std::string::npos) << topLine;
  ASSERT_FALSE(childLine.empty());
  EXPECT_EQ(childLine.find("role="), std::string::npos) << childLine;
}

TEST_F(WindowCoreTest, PointerInputTheCoreRoutesReachesTheWindowAsAClick) {
  HWND top = Make("Clicked", WS_POPUP | WS_VISIBLE, 100, 100, 80, 60);
  UpdateWindow(top);
  ASSERT_TRUE(tavrin::win::RunInputCommand(top, "click 12 34"));
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  EXPECT_EQ(g_heard, (std::vector<std::string>{"down 12,34", "up"}));
}

}  // namespace
