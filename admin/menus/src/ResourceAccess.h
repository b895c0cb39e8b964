// Resource reads for the icon sets (toolbar and bitmap resources by numeric id).
#pragma once
#include <cstdint>

#include "win32/gdi.h"

namespace newmenu_res {
// The bytes of a resource of a numeric type and id; false when it is missing.
bool Read(HINSTANCE instance, unsigned type, unsigned id, const uint8_t** data, DWORD* size);
// A bitmap resource by id, or null.
HBITMAP LoadBitmapById(HINSTANCE instance, unsigned id);
constexpr unsigned kToolbarType = 241;
}  // namespace newmenu_res
