// Every dialog of the Server Manager and the log's Select File opens centred over the window that opened it.
#include <functional>

#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/AutoConnectDlg.h"
#include "admin/ui/SelectLogFileDlg.h"
#include "admin/ui/ServerConfigDlg.h"
#include "admin/ui/ServerSearchDlg.h"
#include "admin/ui/UnlockServerDlg.h"
#include "admin/ui/UpgradeFirmwareDlg.h"
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
  SelectedServerList servers;
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  strcpy(entry.ServerIp, "127.0.0.62");
  servers.AddTail(entry);
  ServerDiscoveryList found;

  {
    Closing<CServerSearchDlg> dialog(owner());
    dialog.m_pServerList = &found;
    dialog.close = IDC_SEARCH_STOP;
    dialog.DoModal();
    ExpectCentred("search", dialog.placed);
  }
  {
    Closing<CUnlockServerDlg> dialog(owner());
    dialog.m_pServerList = &servers;
    dialog.close = IDC_UNLOCK_CANCEL;
    dialog.DoModal();
    ExpectCentred("unlock", dialog.placed);
  }
  {
    Closing<CServerConfigDlg> dialog(owner());
    dialog.m_pServerList = &servers;
    dialog.closeAfter = WM_USER + 9;
    dialog.close = IDC_CONFIG_CANCEL;
    dialog.DoModal();
    ExpectCentred("configuration", dialog.placed);
  }
  {
    Closing<CUpgradeFirmwareDlg> dialog(owner());
    dialog.m_pSelectedServers = &servers;
    dialog.close = IDC_UPGRADE_CANCEL;
    dialog.DoModal();
    ExpectCentred("firmware image", dialog.placed);
  }
  {
    Closing<CUpgradeFWStatusDlg> dialog(owner());
    dialog.SetSelectedServers(&servers);
    dialog.close = IDC_UPGRADE_OK;
    dialog.DoModal();
    ExpectCentred("upgrade status", dialog.placed);
  }
  {
    Closing<CSelectLogFileDlg> dialog(owner());
    dialog.DoModal();
    ExpectCentred("log file", dialog.placed);
  }
  CTavrinAdminDoc doc;
  ASSERT_TRUE(doc.CreateEventsAndLocks());
  {
    Closing<CAutoConnectDlg> dialog(&doc, owner());
    dialog.close = IDC_AUTO_CONNECT_EXIT;
    dialog.DoModal();
    ExpectCentred("printer auto connect", dialog.placed);
  }
  doc.CleanUp();
}

}  // namespace
