#include "icon_loader.h"

#include "win32/module.h"
#include "win32/resources.h"

namespace controls_detail {

HICON LoadProgramIcon(UINT id) {
  if (!id) return nullptr;
  return static_cast<HICON>(
      ::LoadImage(::GetModuleHandle(nullptr), MAKEINTRESOURCE(static_cast<WORD>(id)), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
}

}  // namespace controls_detail
