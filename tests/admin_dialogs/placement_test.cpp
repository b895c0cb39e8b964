// Every dialog of the Server Manager and the log's Select File opens centred over the window that opened it.
#include <functional>

#include "admin/ui/SelectLogFileDlg.h"
#include "dialog_fixture.h"

namespace {

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

class PlacementTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    // Off the screen's own centre, so a dialog centred on the screen is told from one centred on its parent.
    WNDCLASS wc{};
    wc.lpfnWndProc = DefWindowProc;
    wc.lpszClassName = "PlacementOwner";
    RegisterClass(&wc);
    owner_ = CreateWindowEx(0, wc.lpszClassName, "owner", WS_POPUP | WS_VISIBLE, 200, 40, 780, 640, nullptr, nullptr,
                            nullptr, nullptr);
    ASSERT_NE(owner_, nullptr);
    ::GetWindowRect(owner_, &ownerRect_);
  }
  void TearDown() override {
    DestroyWindow(owner_);
    DialogTest::TearDown();
  }
  CWnd* owner() { return CWnd::FromHandle(owner_); }

  void ExpectCentred(const char* name, const RECT& placed) {
    SCOPED_TRACE(name);
    ASSERT_GT(placed.right, placed.left) << "never shown";
    const POINT got = Centre(placed), want = Centre(ownerRect_);
    EXPECT_NEAR(got.x, want.x, 1);
    EXPECT_NEAR(got.y, want.y, 1);
  }

  HWND owner_ = nullptr;
  RECT ownerRect_{};
};

TEST_F(PlacementTest, DialogsOpenCentredOverTheWindowThatOpenedThem) {
  StartServers(62, 1);
  PatientCommands();
  DialogLists lists(62);
  ASSERT_TRUE(lists.doc.CreateEventsAndLocks());
  for (const DialogOpening& dialog : ServerManagerDialogs())
    ExpectCentred(dialog.name, dialog.open(lists, owner()).placed);
  {
    Closing<CSelectLogFileDlg> dialog(owner());
    dialog.DoModal();
    ExpectCentred("log file", dialog.placed);
  }
  lists.doc.CleanUp();
}

}  // namespace
