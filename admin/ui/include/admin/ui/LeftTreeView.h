// CLeftTreeView: the navigation pane, a list of two large icons, "Device Mapping" and "Server
// Manager". Choosing one switches the window to that function: the lists the other panes show, the
// function pop-up of the menu bar and the toolbar's buttons. It forwards the function commands to the
// document and opens the chosen function's context menu on a right click.
#pragma once
#include "mfc/listview.h"
#include "mfc/mfc.h"

class CTavrinAdminDoc;

class CLeftTreeView : public CListView {
  DECLARE_DYNCREATE(CLeftTreeView)

 public:
  static constexpr int kDeviceMappingItem = 0;
  static constexpr int kServerManagerItem = 1;

  CTavrinAdminDoc* GetDocument() const;
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  void OnInitialUpdate() override;
  // Applies the selected item to the window (nothing without one) and has every view follow.
  void SwitchView();
  // Selects item kDeviceMappingItem or kServerManagerItem (as the Functions menu does).
  void SelectItem(int item);
  // The selected item, or -1.
  int GetSelectedItem() const;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void OnSize(UINT type, int cx, int cy) override;
  // The function commands of its menus go on to the document, as they come.
  BOOL OnCmdMsg(UINT id) override;
  BOOL HasCommandHandler(UINT id) override;

 private:
  void OnClick(NMHDR* header, LRESULT* result);
  void OnRightClick(NMHDR* header, LRESULT* result);
  // Puts the two items one above the other, two thirds of the free width in from the left.
  void PlaceItems();

  CImageList m_ImageList;
};
