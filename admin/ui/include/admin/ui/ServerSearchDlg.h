// "Searching for Servers": five discovery requests a second apart, the servers that answer listed as they
// come with a countdown; ends by itself or on Stop.
#pragma once
#include "admin/comm/ServerComm.h"
#include "admin/menus/NewDialog.h"
#include "controls/shaded_button.h"
#include "controls/small_widgets.h"

class CServerSearchDlg : public CNewDialog {
 public:
  explicit CServerSearchDlg(CWnd* parent = nullptr);
  ~CServerSearchDlg() override;

  // Enter and Esc do not end the search.
  BOOL PreTranslateMessage(MSG* msg) override;
  const mfc::MessageMap* GetMessageMap() const override;

  DWORD m_nCancel = 0;  // 1 (interlocked) stops the collecting thread
  DWORD m_nTicks = 0;   // requests sent so far
  CRITICAL_SECTION m_csServers{};
  CUiFontSet m_fonts;
  CHeaderListCtrl m_lstServers;
  CShadedButton m_btnStop;
  CServerComm m_ServerComm;
  ServerDiscoveryList* m_pServerList = nullptr;  // the document's, set by the opener
  // The pause before the first request and the period of the requests (settable for tests).
  UINT m_nStartDelayMs = 200;
  UINT m_nTickMs = 1000;

  static constexpr int kTicks = 5;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override { OnStop(); }
  void OnTimer(UINT_PTR id) override;

 private:
  void OnStop();
  void RefreshList();
  void EndSearch();
  bool m_bStarted = false;
};
