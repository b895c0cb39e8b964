// CenterWindow, AfxRegisterWndClass with CreateEx, and the wait cursor.
#include <gtest/gtest.h>

#include "mfc/mfc.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/window_manager.h"

namespace {

class WindowHelpersTest : public tavrin::test::SysrootTest {
 protected:
  void TearDown() override {
    tavrin::test::DiscardMessages();
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    SysrootTest::TearDown();
  }
};

RECT RectOf(const CWnd& wnd) {
  RECT rect{};
  wnd.GetWindowRect(&rect);
  return rect;
}

TEST_F(WindowHelpersTest, CenterWindowPutsAChildInItsParentAndAPopupOverItsShownOwnerElseOnTheScreen) {
  CWnd owner;
  ASSERT_TRUE(owner.CreateEx(0, "Owner", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr, 0));
  CWnd child;
  ASSERT_TRUE(child.CreateEx(0, "Child", WS_CHILD | WS_VISIBLE, 0, 0, 100, 50, owner, 1));
  child.CenterWindow();
  RECT inParent{};
  ::GetWindowRect(child, &inParent);
  EXPECT_EQ(inParent.left, 100 + 150);
  EXPECT_EQ(inParent.top, 100 + 125);

  CWnd popup;
  ASSERT_TRUE(popup.CreateEx(0, "Popup", WS_POPUP, 0, 0, 200, 100, owner, 0));
  popup.CenterWindow();
  EXPECT_EQ(RectOf(popup).left, 100 + 100);
  EXPECT_EQ(RectOf(popup).top, 100 + 100);

  // A hidden owner (a program living in the notification area) does not count: the screen's middle.
  owner.ShowWindow(SW_HIDE);
  popup.CenterWindow();
  const RECT screen = tavrin::win::ScreenRect();
  EXPECT_EQ(RectOf(popup).left, (screen.right - 200) / 2);
  EXPECT_EQ(RectOf(popup).top, (screen.bottom - 100) / 2);

  // An alternate owner wins; a big one near the edge still leaves the window on the screen.
  CWnd other;
  ASSERT_TRUE(other.CreateEx(0, "Other", WS_POPUP | WS_VISIBLE, screen.right - 100, screen.bottom - 80, 100, 80, nullptr, 0));
  popup.CenterWindow(&other);
  EXPECT_EQ(RectOf(popup).right, screen.right);
  EXPECT_EQ(RectOf(popup).bottom, screen.bottom);
}

TEST_F(WindowHelpersTest, ARegisteredClassIsSharedByItsValuesAndLendsItsLooksToTheObjectsWindow) {
  HCURSOR hand = LoadCursor(nullptr, IDC_HAND);
  LPCSTR name = AfxRegisterWndClass(CS_DBLCLKS, hand);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(AfxRegisterWndClass(CS_DBLCLKS, hand), name);
  EXPECT_STRNE(AfxRegisterWndClass(0, hand), name);
  WNDCLASS info{};
  ASSERT_TRUE(GetClassInfo(nullptr, name, &info));
  EXPECT_EQ(info.hCursor, hand);

  // The window is of that class and still the object's: its messages reach its handlers.
  struct Counting : CWnd {
    int creates = 0;
    int OnCreate(LPCREATESTRUCT cs) override {
      ++creates;
      return CWnd::OnCreate(cs);
    }
  } wnd;
  ASSERT_TRUE(wnd.CreateEx(0, name, "Classy", WS_POPUP | WS_VISIBLE, 50, 60, 120, 80, nullptr, HMENU{}));
  EXPECT_EQ(wnd.creates, 1);
  char className[64] = {};
  GetClassName(wnd, className, sizeof className);
  EXPECT_STREQ(className, name);

  SetCursor(nullptr);
  tavrin::win::InjectMouseMove(100, 100);
  ASSERT_TRUE(tavrin::test::PumpUntil([] { return GetCursor() != nullptr; }));
  EXPECT_EQ(GetCursor(), hand) << "the class cursor shows over the window";

  CWnd framed;
  RECT rect{10, 20, 110, 70};
  ASSERT_TRUE(framed.CreateEx(0, name, nullptr, WS_POPUP, rect, nullptr, 0));
  EXPECT_EQ(RectOf(framed).left, 10);
  EXPECT_EQ(RectOf(framed).bottom, 70);
}

TEST_F(WindowHelpersTest, WaitsNestShowTheHourglassOverTheWindowsAndGiveBackTheCursorBefore) {
  CWnd wnd;
  ASSERT_TRUE(wnd.CreateEx(0, "Waiting", WS_POPUP | WS_VISIBLE, 300, 300, 100, 100, nullptr, 0));
  HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
  HCURSOR beam = LoadCursor(nullptr, IDC_IBEAM);
  SetCursor(beam);
  EXPECT_FALSE(mfc::WaitCursorShown());
  {
    CWaitCursor outer;
    EXPECT_EQ(GetCursor(), wait);
    EXPECT_TRUE(mfc::WaitCursorShown());
    wnd.BeginWaitCursor();
    // A message box or a mouse move sets another cursor; the framework's windows keep the hourglass.
    SetCursor(beam);
    EXPECT_EQ(wnd.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(wnd.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
    EXPECT_EQ(GetCursor(), wait);
    SetCursor(beam);
    outer.Restore();
    EXPECT_EQ(GetCursor(), wait);
    wnd.EndWaitCursor();
    EXPECT_EQ(GetCursor(), wait) << "one wait still runs";
  }
  EXPECT_FALSE(mfc::WaitCursorShown());
  EXPECT_EQ(GetCursor(), beam) << "the cursor from before the first wait";
  wnd.EndWaitCursor();  // one End too many changes nothing
  EXPECT_EQ(GetCursor(), beam);
}

}  // namespace
