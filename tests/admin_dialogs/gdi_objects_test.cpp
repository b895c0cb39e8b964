// Every dialog of the Server Manager gives back the pictures, fonts and brushes it made: opened and closed
// twenty times, the process's live drawing objects are where they were after the first time.
#include <functional>
#include <string>

#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/AutoConnectDlg.h"
#include "admin/ui/ServerConfigDlg.h"
#include "admin/ui/ServerSearchDlg.h"
#include "admin/ui/UnlockServerDlg.h"
#include "admin/ui/UpgradeFirmwareDlg.h"
#include "dialog_fixture.h"
#include "win32/gdi_hooks.h"

namespace {

void Select(SelectedServerList& list, const char* ip) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  strcpy(entry.ServerIp, ip);
  list.AddTail(entry);
}

class GdiObjectsTest : public DialogTest {
 protected:
  // The live objects after the first run and after 20 more.
  void ExpectNoGrowth(const char* name, const std::function<void()>& run) {
    SCOPED_TRACE(name);
    run();
    const size_t baseline = tavrin::gdi::LiveObjectCount();
    for (int i = 0; i < 20; ++i) run();
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
  }
};

TEST_F(GdiObjectsTest, EveryDialogClosedTwentyTimesLeavesNoDrawingObjects) {
  StartServers(61, 1);
  PatientCommands();
  SelectedServerList servers;
  Select(servers, "127.0.0.61");
  ServerDiscoveryList found;

  ExpectNoGrowth("configuration", [&] {
    Closing<CServerConfigDlg> dialog;
    dialog.m_pServerList = &servers;
    dialog.closeAfter = WM_USER + 9;
    dialog.close = IDC_CONFIG_CANCEL;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  });
  ExpectNoGrowth("unlock", [&] {
    Closing<CUnlockServerDlg> dialog;
    dialog.m_pServerList = &servers;
    dialog.close = IDC_UNLOCK_CANCEL;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  });
  ExpectNoGrowth("search", [&] {
    Closing<CServerSearchDlg> dialog;
    dialog.m_pServerList = &found;
    dialog.close = IDC_SEARCH_STOP;
    EXPECT_EQ(dialog.DoModal(), IDOK);
  });
  ExpectNoGrowth("select file", [&] {
    Closing<CUpgradeFirmwareDlg> dialog;
    dialog.m_pSelectedServers = &servers;
    dialog.close = IDC_UPGRADE_CANCEL;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  });
  ExpectNoGrowth("upgrade status", [&] {
    Closing<CUpgradeFWStatusDlg> dialog;  // no TFTP server: every row failed, OK shown at once
    dialog.SetSelectedServers(&servers);
    dialog.close = IDC_UPGRADE_OK;
    EXPECT_EQ(dialog.DoModal(), IDOK);
  });
  CTavrinAdminDoc doc;
  ASSERT_TRUE(doc.CreateEventsAndLocks());
  ExpectNoGrowth("printer auto connect", [&] {
    Closing<CAutoConnectDlg> dialog(&doc);
    dialog.close = IDC_AUTO_CONNECT_EXIT;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  });
  doc.CleanUp();
}

}  // namespace
