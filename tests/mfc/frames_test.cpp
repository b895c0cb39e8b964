// Frames beside the main one: docking and floating control bars, mini frames, and the multiple-document
// frame with its child frames and their menus.
#include <vector>

#include "mfc/mfc.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"

namespace {

using tavrin::test::SysrootTest;

class FramesTest : public SysrootTest {
 protected:
  void TearDown() override {
    tavrin::test::DiscardMessages();
    SysrootTest::TearDown();
  }
};

TEST_F(FramesTest, BarsDockAlongTheirSideAndFloatInMiniFramesOfTheirOwn) {
  auto* frame = new CFrameWnd;  // deletes itself with its window
  ASSERT_TRUE(frame->CreateEx(0, "dock", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 400, 300, nullptr, 0));
  frame->EnableDocking(CBRS_ALIGN_TOP | CBRS_ALIGN_LEFT);
  EXPECT_EQ(frame->m_pFloatingFrameClass, RUNTIME_CLASS(CMiniDockFrameWnd));
  auto* top = dynamic_cast<CDockBar*>(CWnd::FromHandlePermanent(::GetDlgItem(frame->m_hWnd, AFX_IDW_DOCKBAR_TOP)));
  ASSERT_NE(top, nullptr);
  EXPECT_NE(::GetDlgItem(frame->m_hWnd, AFX_IDW_DOCKBAR_LEFT), nullptr);
  EXPECT_EQ(::GetDlgItem(frame->m_hWnd, AFX_IDW_DOCKBAR_BOTTOM), nullptr) << "only the sides asked for";

  CToolBar bar;
  ASSERT_TRUE(bar.Create(frame));
  const UINT ids[] = {1, 2, 3};
  ASSERT_TRUE(bar.SetButtons(ids, 3));
  bar.EnableDocking(CBRS_ALIGN_ANY);
  frame->DockControlBar(&bar);
  EXPECT_EQ(::GetParent(bar.m_hWnd), top->m_hWnd);
  RECT dock{};
  top->GetClientRect(&dock);
  EXPECT_EQ(dock.bottom, bar.CalcFixedLayout(FALSE, TRUE).cy) << "the dock bar is as thick as its bar";

  frame->FloatControlBar(&bar, POINT{300, 250});
  auto* floating = dynamic_cast<CMiniDockFrameWnd*>(CWnd::FromHandlePermanent(::GetParent(bar.m_hWnd)));
  ASSERT_NE(floating, nullptr);
  const HWND floatingWindow = floating->m_hWnd;
  EXPECT_EQ(floating->GetControlBar(), &bar);
  EXPECT_TRUE(::GetWindowLongPtr(floatingWindow, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(::GetWindowLongPtr(floatingWindow, GWL_STYLE) & WS_CHILD);
  RECT place{};
  ::GetWindowRect(floatingWindow, &place);
  EXPECT_EQ(place.left, 300);
  EXPECT_EQ(place.top, 250);
  top->GetClientRect(&dock);
  EXPECT_EQ(dock.bottom, 0) << "an empty dock bar takes no room";

  ::SendMessage(floatingWindow, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(floatingWindow)) << "closing a floating frame hides it";
  EXPECT_FALSE(::IsWindowVisible(floatingWindow));

  frame->DockControlBar(&bar, AFX_IDW_DOCKBAR_LEFT);
  EXPECT_EQ(::GetDlgItem(frame->m_hWnd, AFX_IDW_DOCKBAR_LEFT), ::GetParent(bar.m_hWnd));
  EXPECT_EQ(bar.m_dwStyle & CBRS_ALIGN_ANY, CBRS_ALIGN_LEFT);
  EXPECT_FALSE(::IsWindow(floatingWindow)) << "the floating frame went with its bar";
  frame->DestroyWindow();
}

class Child : public CMDIChildWnd {
 public:
  std::vector<BOOL>* log = nullptr;
  void OnMDIActivate(BOOL activate, CWnd*, CWnd*) override {
    if (log) log->push_back(activate);
  }
};

TEST_F(FramesTest, ChildFramesLiveInTheClientWindowAndBringTheirMenus) {
  auto* frame = new CMDIFrameWnd;
  HMENU own = ::CreateMenu();
  ::AppendMenu(own, MF_STRING, 1, "&Window");
  ASSERT_TRUE(frame->CreateEx(0, "mdi", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 500, 400, nullptr,
                              reinterpret_cast<UINT_PTR>(own)));
  ASSERT_NE(frame->m_hWndMDIClient, nullptr);
  EXPECT_EQ(::GetParent(frame->m_hWndMDIClient), frame->m_hWnd);
  EXPECT_EQ(frame->m_hMenuDefault, own);
  RECT client{}, inner{};
  frame->GetClientRect(&client);
  ::GetWindowRect(frame->m_hWndMDIClient, &inner);
  EXPECT_EQ(inner.right - inner.left, client.right) << "the client window fills the frame";

  std::vector<BOOL> firstLog, secondLog;
  auto* first = new Child;
  first->log = &firstLog;
  HMENU shared = ::CreateMenu();
  ::AppendMenu(shared, MF_STRING, 2, "&Document");
  first->m_hMenuShared = shared;
  ASSERT_TRUE(first->Create(nullptr, "One", WS_CHILD | WS_VISIBLE | WS_OVERLAPPEDWINDOW, RECT{0, 0, 200, 100},
                            frame));
  EXPECT_EQ(::GetParent(first->m_hWnd), frame->m_hWndMDIClient);
  EXPECT_EQ(frame->MDIGetActive(), first);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), shared) << "the active child's menu";
  auto* second = new Child;
  second->log = &secondLog;
  ASSERT_TRUE(second->Create(nullptr, "Two", WS_CHILD | WS_VISIBLE | WS_OVERLAPPEDWINDOW,
                             RECT{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT}, frame));
  EXPECT_EQ(frame->MDIGetActive(), second);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), own) << "a child without a menu shows the frame's";
  EXPECT_EQ(firstLog, (std::vector<BOOL>{TRUE, FALSE}));
  EXPECT_EQ(secondLog, (std::vector<BOOL>{TRUE}));
  EXPECT_EQ(second->GetMDIFrame(), frame);

  frame->MDINext();
  EXPECT_EQ(frame->MDIGetActive(), first);
  EXPECT_EQ(::GetWindow(frame->m_hWndMDIClient, GW_CHILD), first->m_hWnd) << "the active child on top";
  first->MDIDestroy();
  EXPECT_EQ(frame->MDIGetActive(), second) << "the next one takes over";
  EXPECT_EQ(frame->GetChildCount(), 1);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), own);
  EXPECT_EQ(secondLog.back(), TRUE);
  frame->DestroyWindow();
  ::DestroyMenu(shared);
}

TEST_F(FramesTest, AMiniFrameIsAToolWindowOwnedByItsParent) {
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, "parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, 0));
  auto* mini = new CMiniFrameWnd;
  ASSERT_TRUE(mini->Create(nullptr, "Tools", WS_CHILD | WS_SYSMENU, RECT{10, 10, 110, 60}, &parent));
  EXPECT_TRUE(::GetWindowLongPtr(mini->m_hWnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(::GetWindowLongPtr(mini->m_hWnd, GWL_STYLE) & WS_CHILD);
  EXPECT_EQ(::GetWindow(mini->m_hWnd, GW_OWNER), parent.m_hWnd);
  mini->DestroyWindow();
  parent.DestroyWindow();
}

}  // namespace
