// Resource reads for the icon sets: toolbar and bitmap resources by name (a number made a name with
// MAKEINTRESOURCE, or text).
#pragma once
#include <cstdint>

#include "win32/gdi.h"

namespace newmenu_res {
// The bytes of a resource, looked for in the instance and then in the application's resource module; false
// when it is in neither.
bool Read(HINSTANCE instance, LPCSTR type, LPCSTR name, const uint8_t** data, DWORD* size);
// A bitmap resource, or null.
HBITMAP LoadBitmap(HINSTANCE instance, LPCSTR name);
// The colours of a bitmap resource: the used colours its header gives, else 2, 16 or 256 for 1, 4 or 8 bits
// a pixel; 0 for a bitmap of more bits or none.
UINT ColorDepth(HINSTANCE instance, LPCSTR name);
// The application's resource module.
HINSTANCE ResourceModule();
}  // namespace newmenu_res
