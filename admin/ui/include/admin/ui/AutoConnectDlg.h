// "Printer AutoConnect": the printers set up through a server, each ticked when it connects by itself
// while its queue holds a job. Save writes the ticks to the registry and the document's list; Remove
// takes out a printer that Windows no longer has.
#pragma once
#include "admin/TavrinAdminDoc.h"
#include "admin/menus/NewDialog.h"
#include "admin/ui/dialogs/DialogServices.h"
#include "controls/note_panel.h"
#include "controls/shaded_button.h"
#include "controls/small_widgets.h"
#include "mfc/imagelist.h"

class CAutoConnectDlg : public CNewDialog {
 public:
  explicit CAutoConnectDlg(CTavrinAdminDoc* doc, CWnd* parent = nullptr, DialogServices services = DialogServices());
  const mfc::MessageMap* GetMessageMap() const override;
  // Esc does not close the dialog.
  BOOL PreTranslateMessage(MSG* msg) override;

  CUiFontSet m_fonts;
  CShadedButton m_btnExit;
  CShadedButton m_btnSave;
  CHeaderListCtrl m_lstPrinters;
  CNotePanel m_notePanel;
  CImageList m_imageList;

  static constexpr int kNameColumn = 0;

 protected:
  BOOL OnInitDialog() override;
  // Enter closes without saving, as Exit does (but with IDOK).
  void OnOK() override { EndDialog(IDOK); }

 private:
  void RegisterPrinters();
  void FillList();
  void OnSave();
  void OnExit() { EndDialog(IDCANCEL); }
  void OnRemove();
  LRESULT OnNotify(WPARAM, LPARAM lParam);
  // A connected printer's box was flipped: refused, and the box shows its saved state again.
  LRESULT OnRefuseCheck(WPARAM row, LPARAM);

  CTavrinAdminDoc* m_pDoc;
  DialogServices m_services;
  BOOL m_bSettingChecks = FALSE;  // the dialog itself changes a box: no refusal
};
