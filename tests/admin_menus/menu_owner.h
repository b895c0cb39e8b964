// The owner window's part in the library's menus, as the tests' owner windows play it.
#pragma once
#include "admin/menus/NewMenu.h"
#include "win32/windows.h"

namespace menu_test {

// Passes WM_MEASUREITEM, WM_DRAWITEM and WM_INITMENUPOPUP to CNewMenu; true, with the message's result,
// when the library took it.
bool ForwardToNewMenu(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

}  // namespace menu_test
