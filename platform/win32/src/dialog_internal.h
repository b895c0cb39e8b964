// The procedures of the dialog manager's controls, registered together by RegisterDialogControls, and
// the window words of dialogs (DWLP_*), which GetWindowLongPtr/SetWindowLongPtr reach through here.
#pragma once
#include "win32/user.h"

namespace tavrin::controls::detail {
WNDPROC EditProcedure();
WNDPROC ComboProcedure();
WNDPROC ListBoxProcedure();
WNDPROC ScrollBarProcedure();
// A dialog's word at `index` (DWLP_MSGRESULT, DWLP_DLGPROC, DWLP_USER): read into `value`, or, with
// `newValue`, replaced (the old one in `value`). False for a window that is no dialog or another index.
// Takes no lock of the window manager.
bool DialogLong(HWND hwnd, int index, const LONG_PTR* newValue, LONG_PTR& value);
}  // namespace tavrin::controls::detail
