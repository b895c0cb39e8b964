// What the dialog-based classes share: a child window made from a dialog template resource.
#pragma once
#include <string>

#include "mfc/wnd.h"

namespace mfc::detail {
// The template made a child of `parent` (WS_CHILD | DS_CONTROL | style, WS_EX_CONTROLPARENT | exStyle;
// caption and frame dropped), attached to `object`. Null when there is no such template.
HWND CreateChildDialog(CWnd* object, LPCSTR templateName, HWND parent, DWORD style, DWORD exStyle);
// The title of a dialog template resource ("" when none).
std::string DialogTemplateTitle(LPCSTR templateName);
}  // namespace mfc::detail
