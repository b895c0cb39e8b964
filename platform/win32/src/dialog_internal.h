// The procedures of the dialog manager's controls, registered together by RegisterDialogControls.
#pragma once
#include "win32/user.h"

namespace tavrin::controls::detail {
WNDPROC EditProcedure();
}  // namespace tavrin::controls::detail
