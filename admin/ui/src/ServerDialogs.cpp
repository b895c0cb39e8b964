#include "admin/ui/ServerDialogs.h"

#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/AutoConnectDlg.h"
#include "admin/ui/ServerConfigDlg.h"
#include "admin/ui/ServerSearchDlg.h"
#include "admin/ui/UnlockServerDlg.h"
#include "admin/ui/UpgradeFirmwareDlg.h"

namespace {

// Each dialog runs modally over the program's document (its lists) with the main frame's message box,
// wait window and Server Manager log.
class CAdminServerDialogs : public IServerDialogs {
 public:
  INT_PTR RunServerSearch() override {
    CTavrinAdminDoc* doc = Document();
    if (!doc) return IDCANCEL;
    CServerSearchDlg dialog;
    dialog.m_pServerList = &doc->m_DiscoveredServers;
    return dialog.DoModal();
  }
  INT_PTR RunUnlock() override {
    CTavrinAdminDoc* doc = Document();
    if (!doc) return IDCANCEL;
    CUnlockServerDlg dialog(nullptr, Services(doc));
    dialog.m_pServerList = &doc->GetSelectedServers();
    return dialog.DoModal();
  }
  INT_PTR RunUpgradeFirmware() override {
    CTavrinAdminDoc* doc = Document();
    if (!doc) return IDCANCEL;
    CUpgradeFirmwareDlg dialog(nullptr, Services(doc));
    dialog.m_pSelectedServers = &doc->GetSelectedServers();
    return dialog.DoModal();
  }
  INT_PTR RunServerConfiguration(int* passwordEnable, CString* newIp) override {
    CTavrinAdminDoc* doc = Document();
    if (!doc) return IDCANCEL;
    CServerConfigDlg dialog(nullptr, Services(doc));
    dialog.m_pServerList = &doc->GetSelectedServers();
    const INT_PTR result = dialog.DoModal();
    if (result == IDOK) {
      if (passwordEnable) *passwordEnable = dialog.m_nPasswordEnable;
      if (newIp) *newIp = dialog.m_strNewIP;
    }
    return result;
  }
  INT_PTR RunPrinterAutoConnect() override {
    CTavrinAdminDoc* doc = Document();
    if (!doc) return IDCANCEL;
    CAutoConnectDlg dialog(doc, nullptr, Services(doc));
    return dialog.DoModal();
  }

 private:
  static CTavrinAdminDoc* Document() {
    CTavrinAdminApp* app = GetAdminApp();
    return app ? app->GetDocument() : nullptr;
  }
  static DialogServices Services(CTavrinAdminDoc* doc) { return DialogServices(doc->GetPanes()); }
};

}  // namespace

IServerDialogs* GetAdminServerDialogs() {
  static CAdminServerDialogs dialogs;
  return &dialogs;
}
