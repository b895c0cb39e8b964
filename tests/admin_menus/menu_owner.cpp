#include "menu_owner.h"

namespace menu_test {

bool ForwardToNewMenu(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  MSG msg{hwnd, message, wParam, lParam, 0, {0, 0}};
  switch (message) {
    case WM_MEASUREITEM:
      if (!CNewMenu::OnMeasureItem(&msg)) return false;
      *result = TRUE;
      return true;
    case WM_DRAWITEM: {
      auto* draw = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
      CMenu* menu = CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(draw->hwndItem));
      if (!menu) return false;
      menu->DrawItem(draw);
      *result = TRUE;
      return true;
    }
    case WM_INITMENUPOPUP:
      CNewMenu::OnInitMenuPopup(hwnd, CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam), FALSE);
      *result = 0;
      return true;
    default:
      return false;
  }
}

}  // namespace menu_test
