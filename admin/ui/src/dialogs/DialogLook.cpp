#include "admin/ui/dialogs/DialogLook.h"

namespace {

constexpr COLORREF kListBackground = RGB(255, 255, 247);
constexpr COLORREF kButtonText = RGB(0, 0, 128);
constexpr COLORREF kButtonShade = RGB(179, 174, 179);

}  // namespace

void StyleDialogButton(CShadedButton& button, CWnd* dialog, UINT id, LONG fontHeight, UINT iconId, UINT hotIconId,
                       UINT align) {
  if (button.m_hWnd == nullptr) button.SubclassDlgItem(id, dialog);
  button.SetTextFontByName("Courier New", fontHeight, FW_BOLD);
  button.SetShade(3, 8, 100, 5, kButtonShade);
  button.SetTextColor(kButtonText);
  button.SetIcon(iconId, align, 0, hotIconId);
}

void SetUpDataList(CHeaderListCtrl& list, CWnd* dialog, UINT id, const CUiFontSet& fonts,
                   std::initializer_list<ListColumn> columns) {
  if (list.m_hWnd == nullptr) list.SubclassDlgItem(id, dialog);
  list.SendMessage(LVM_SETBKCOLOR, 0, static_cast<LPARAM>(kListBackground));
  list.SendMessage(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(kListBackground));
  list.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  if (CHeaderCtrl* header = list.GetHeaderCtrl()) {
    header->ModifyStyle(HDS_BUTTONS, 0);
    if (CFont* font = fonts.GetFont(1)) header->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font->m_hObject), TRUE);
  }
  int column = 0;
  for (const ListColumn& each : columns) list.InsertColumn(column++, each.heading, each.format, each.width);
}
