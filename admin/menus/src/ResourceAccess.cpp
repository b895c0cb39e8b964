#include "ResourceAccess.h"

#include <cstring>

#include "mfc/app.h"
#include "win32/resources.h"

namespace newmenu_res {

HINSTANCE ResourceModule() {
  CWinApp* app = AfxGetApp();
  return app ? app->m_hInstance : nullptr;
}

namespace {

HRSRC Find(HINSTANCE* instance, LPCSTR type, LPCSTR name) {
  if (HRSRC found = FindResource(*instance, name, type)) return found;
  // Not in the given module: the resource module's, when that is another.
  if (*instance == ResourceModule()) return nullptr;
  *instance = ResourceModule();
  return FindResource(*instance, name, type);
}

}  // namespace

bool Read(HINSTANCE instance, LPCSTR type, LPCSTR name, const uint8_t** data, DWORD* size) {
  HRSRC resource = Find(&instance, type, name);
  if (!resource) return false;
  *data = static_cast<const uint8_t*>(LockResource(LoadResource(instance, resource)));
  *size = SizeofResource(instance, resource);
  return *data != nullptr;
}

HBITMAP LoadBitmap(HINSTANCE instance, LPCSTR name) {
  if (!Find(&instance, RT_BITMAP, name)) return nullptr;
  return ::LoadBitmap(instance, name);
}

UINT ColorDepth(HINSTANCE instance, LPCSTR name) {
  const uint8_t* bytes = nullptr;
  DWORD size = 0;
  if (!Read(instance, RT_BITMAP, name, &bytes, &size) || size < sizeof(BITMAPINFOHEADER)) return 0;
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes, sizeof header);
  if (header.biClrUsed) return header.biClrUsed;
  switch (header.biBitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

}  // namespace newmenu_res
