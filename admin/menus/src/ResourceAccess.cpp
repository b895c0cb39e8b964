#include "ResourceAccess.h"

#include "win32/gdi.h"
#include "win32/resources.h"

namespace newmenu_res {

bool Read(HINSTANCE instance, unsigned type, unsigned id, const uint8_t** data, DWORD* size) {
  HRSRC resource = FindResource(instance, MAKEINTRESOURCE(id), MAKEINTRESOURCE(type));
  if (!resource) return false;
  HGLOBAL global = LoadResource(instance, resource);
  *data = static_cast<const uint8_t*>(LockResource(global));
  *size = SizeofResource(instance, resource);
  return *data != nullptr;
}

HBITMAP LoadBitmapById(HINSTANCE instance, unsigned id) { return LoadBitmap(instance, MAKEINTRESOURCE(id)); }

}  // namespace newmenu_res
