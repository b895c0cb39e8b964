// The dialog manager: the "#32770" class, dialogs built from templates in dialog units, modal loops and
// keyboard navigation.
#include <mutex>

#include "dialog_internal.h"
#include "win32/controls.h"
#include "win32/dialog.h"

namespace tavrin::controls {

void RegisterDialogControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS edit{};
    edit.style = CS_DBLCLKS;
    edit.lpfnWndProc = detail::EditProcedure();
    edit.lpszClassName = "Edit";
    RegisterClass(&edit);
  });
}

}  // namespace tavrin::controls
