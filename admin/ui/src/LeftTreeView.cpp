#include "admin/ui/LeftTreeView.h"

#include "PaneUtil.h"
#include "admin/Resource.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/DropDownToolBar.h"
#include "admin/ui/MainFrame.h"
#include "controls/shared_colors.h"
#include "mfc/imagelist.h"
#include "win32/resources.h"

IMPLEMENT_DYNCREATE(CLeftTreeView, CListView)

namespace {

constexpr int kItemGap = 80;     // between the tops of the two items
constexpr int kMinPlacingWidth = 100;

}  // namespace

const mfc::MessageMap* CLeftTreeView::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnNotifyReflect<&CLeftTreeView::OnClick>(NM_CLICK),
      mfc::OnNotifyReflect<&CLeftTreeView::OnRightClick>(NM_RCLICK),
  };
  static const mfc::MessageMap map{CListView::GetMessageMap(), entries};
  return &map;
}

CTavrinAdminDoc* CLeftTreeView::GetDocument() const { return static_cast<CTavrinAdminDoc*>(m_pDocument); }

BOOL CLeftTreeView::PreCreateWindow(CREATESTRUCT& cs) {
  if (!CListView::PreCreateWindow(cs)) return FALSE;
  cs.style |= LVS_SINGLESEL;
  return TRUE;
}

void CLeftTreeView::OnInitialUpdate() {
  CListView::OnInitialUpdate();
  CListCtrl& list = GetListCtrl();
  m_ImageList.Create(50, 50, ILC_COLOR16, 0, 10);
  for (UINT bitmapId : {IDB_SERVER_MANAGER_PICTURE, IDB_DEVICE_MAPPING_PICTURE}) {
    CBitmap picture;
    picture.Attach(::LoadBitmap(nullptr, MAKEINTRESOURCE(static_cast<WORD>(bitmapId))));
    m_ImageList.Add(&picture, static_cast<CBitmap*>(nullptr));
  }
  list.SendMessage(LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(m_ImageList.GetSafeHandle()));
  for (auto [index, text, image] : {std::tuple{kDeviceMappingItem, "Device Mapping", 1},
                                    std::tuple{kServerManagerItem, "Server Manager", 0}}) {
    LVITEM item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = const_cast<LPSTR>(text);
    item.iImage = image;
    list.SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  list.SendMessage(LVM_SETBKCOLOR, 0, g_clrWindowBack);
  list.SendMessage(LVM_SETTEXTBKCOLOR, 0, g_clrWindowBack);
  PlaceItems();
}

void CLeftTreeView::PlaceItems() {
  CListCtrl& list = GetListCtrl();
  RECT item{LVIR_BOUNDS, 0, 0, 0}, client{};
  list.SendMessage(LVM_GETITEMRECT, kDeviceMappingItem, reinterpret_cast<LPARAM>(&item));
  GetClientRect(&client);
  const int x = client.left + ((client.right - client.left) - (item.right - item.left)) * 2 / 3;
  list.SendMessage(LVM_SETITEMPOSITION, kDeviceMappingItem, MAKELPARAM(x, 0));
  list.SendMessage(LVM_SETITEMPOSITION, kServerManagerItem, MAKELPARAM(x, kItemGap));
}

void CLeftTreeView::OnSize(UINT type, int cx, int cy) {
  CListView::OnSize(type, cx, cy);
  if (cx >= kMinPlacingWidth && GetListCtrl().GetItemCount() == 2) PlaceItems();
}

int CLeftTreeView::GetSelectedItem() const {
  return static_cast<int>(GetListCtrl().SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CLeftTreeView::SelectItem(int item) {
  LVITEM state{};
  state.stateMask = 0xFFFFFFFF;  // every state bit: the others are cleared
  state.state = LVIS_SELECTED;
  GetListCtrl().SendMessage(LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
}

void CLeftTreeView::SwitchView() {
  CTavrinAdminDoc* doc = GetDocument();
  auto* frame = dynamic_cast<CMainFrame*>(GetParentFrame());
  const int selected = GetSelectedItem();
  if (doc && frame && (selected == kDeviceMappingItem || selected == kServerManagerItem)) {
    const BOOL serverManager = selected == kServerManagerItem;
    doc->SetViewMode(serverManager);
    frame->ShowFunctionPopup(serverManager);
  }
  if (doc) doc->UpdateAllViews(this, 0);
}

void CLeftTreeView::OnClick(NMHDR*, LRESULT* result) {
  SwitchView();
  *result = 0;
}

void CLeftTreeView::OnRightClick(NMHDR*, LRESULT* result) {
  *result = 0;
  // The menu follows the selection, not the item under the cursor.
  const DWORD position = GetMessagePos();
  const POINT at{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
  const int selected = GetSelectedItem();
  if (selected < 0) return;
  SwitchView();
  CTavrinAdminDoc* doc = GetDocument();
  if (!doc) return;
  if (selected == kDeviceMappingItem) doc->ShowDeviceMappingMenu(this, at, TRUE, FALSE);
  else doc->ShowServerManagerMenu(this, at);
}

BOOL CLeftTreeView::OnCmdMsg(UINT id) {
  if (ForwardToDocument(GetDocument(), id)) return TRUE;
  return CListView::OnCmdMsg(id);
}

BOOL CLeftTreeView::HasCommandHandler(UINT id) { return IsForwardedCommand(id) || CListView::HasCommandHandler(id); }
