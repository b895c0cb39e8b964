// The "Please Wait..." window: its life from open to close (also a close that comes first), the one
// window at a time, the disabled main window, and the two kinds' bars and clip.
#include <gtest/gtest.h>

#include "admin/ui/UIThread.h"
#include "testsupport/message_pump.h"
#include "testsupport/sysroot.h"
#include "win32/windows.h"

namespace {

class WaitWindowTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    main_.CreateEx(0, "main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400, 300, nullptr, 0);
    app_.m_pMainWnd = &main_;
  }
  void TearDown() override {
    CloseWaitWindow();
    EXPECT_TRUE(CUIThread::WaitUntilAllEnded(10000));
    app_.m_pMainWnd = nullptr;
    main_.DestroyWindow();
    tavrin::test::DiscardMessages();
    SysrootTest::TearDown();
  }

  // The wait window once it shows.
  static HWND ShownDialog() {
    HWND dialog = nullptr;
    tavrin::test::PumpUntil([&] {
      dialog = g_pWaitThread ? g_pWaitThread->GetDialogHandle() : nullptr;
      return dialog && IsWindowVisible(dialog);
    });
    return dialog;
  }

  CWinApp app_;
  CWnd main_;
};

TEST_F(WaitWindowTest, OpensDisablesTheMainWindowAndClosesCompletely) {
  ASSERT_TRUE(OpenWaitWindow(kWaitProgressMoving));
  ASSERT_NE(g_pWaitThread, nullptr);
  HWND dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_FALSE(main_.IsWindowEnabled()) << "the user cannot reach the main window while it waits";
  CString text;
  CWnd::FromHandle(GetDlgItem(dialog, 1056))->GetWindowText(text);
  EXPECT_EQ(text, "Please Wait...");

  CloseWaitWindow();
  EXPECT_EQ(g_pWaitThread, nullptr);
  EXPECT_EQ(CUIThread::GetLiveCount(), 0) << "the thread's object is gone once the close returns";
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(main_.IsWindowEnabled());
}

TEST_F(WaitWindowTest, ASecondWaitWindowIsRefusedWhileOneIsOpen) {
  ASSERT_TRUE(OpenWaitWindow(kWaitProgressMoving));
  CUIThread* first = g_pWaitThread;
  EXPECT_FALSE(OpenWaitWindow(kWaitAnimation));
  EXPECT_EQ(g_pWaitThread, first);
  EXPECT_EQ(CUIThread::GetLiveCount(), 1);
  CloseWaitWindow();
  EXPECT_TRUE(OpenWaitWindow(kWaitAnimation)) << "a new one opens once the first has gone";
}

TEST_F(WaitWindowTest, ACloseThatComesFirstOrWithNoWindowNeitherCrashesNorWaits) {
  CloseWaitWindow();  // nothing open
  EXPECT_EQ(g_pWaitThread, nullptr);
  // Closed at once, usually before the thread has made its window: the thread closes it as it comes.
  for (int mode : {kWaitProgressStill, kWaitProgressMoving, kWaitAnimation, 7}) {
    for (int round = 0; round < 10; ++round) {
      ASSERT_TRUE(OpenWaitWindow(mode));
      CloseWaitWindow();
      ASSERT_EQ(g_pWaitThread, nullptr);
      ASSERT_EQ(CUIThread::GetLiveCount(), 0);
    }
  }
  EXPECT_TRUE(main_.IsWindowEnabled());
}

TEST_F(WaitWindowTest, EnterAndEscapeLeaveItOpen) {
  ASSERT_TRUE(OpenWaitWindow(kWaitProgressStill));
  HWND dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  for (int key : {VK_RETURN, VK_ESCAPE}) {
    PostMessage(dialog, WM_KEYDOWN, static_cast<WPARAM>(key), 0);
    SendMessage(dialog, WM_COMMAND, key == VK_RETURN ? IDOK : IDCANCEL, 0);
  }
  SendMessage(dialog, WM_NULL, 0, 0);  // its thread has handled what came before
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(WaitWindowTest, TheStillBarMovesOnlyWhenToldAndTheRunningBarGoesRoundInTens) {
  ASSERT_TRUE(OpenWaitWindow(kWaitProgressStill));
  HWND dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  HWND bar = GetDlgItem(dialog, 1057);
  EXPECT_EQ(SendMessage(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessage(dialog, WM_SET_WAIT_PROGRESS, 40, 0), 1);
  EXPECT_EQ(SendMessage(bar, PBM_GETPOS, 0, 0), 40);
  CloseWaitWindow();

  ASSERT_TRUE(OpenWaitWindow(kWaitProgressMoving));
  dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  bar = GetDlgItem(dialog, 1057);
  // Every position it shows is a multiple of ten from 10 to 100, and it comes back round to 10.
  bool sawHundred = false, wrapped = false;
  ASSERT_TRUE(tavrin::test::PumpUntil([&] {
    const LRESULT position = SendMessage(bar, PBM_GETPOS, 0, 0);
    EXPECT_EQ(position % 10, 0);
    if (position == 100) sawHundred = true;
    if (sawHundred && position == 10) wrapped = true;
    return wrapped;
  })) << "the bar ran 10, 20, ... 100 and started again";
}

TEST_F(WaitWindowTest, TheAnimationWindowPlaysItsClipUntilClosed) {
  ASSERT_TRUE(OpenWaitWindow(kWaitAnimation, "Stopping..."));
  HWND dialog = ShownDialog();
  ASSERT_NE(dialog, nullptr);
  CString text;
  CWnd::FromHandle(GetDlgItem(dialog, 1064))->GetWindowText(text);
  EXPECT_EQ(text, "Stopping...");
  HWND clip = GetDlgItem(dialog, 1063);
  EXPECT_TRUE(SendMessage(clip, ACM_ISPLAYING, 0, 0));
  CloseWaitWindow();
  EXPECT_FALSE(IsWindow(clip));
}

}  // namespace
