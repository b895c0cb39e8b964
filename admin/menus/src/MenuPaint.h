// Painting pieces the menu looks share: fills, outlines, item text and the system-command glyphs.
#pragma once
#include <string>

#include "win32/windows.h"

namespace newmenu_paint {

// The item state bit of a menu in an inactive window.
constexpr UINT kOdsInactive = 0x0080;

// Whether the command is one of the window menu's (SC_*).
inline bool IsSystemCommand(UINT id) { return id >= 0xF000 && id <= 0xF150; }

// A solid fill; nothing for an empty rectangle.
void Fill(HDC dc, const RECT& rect, COLORREF colour);
// A one-pixel 3D outline: top and left in one colour, bottom and right in the other.
void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight);
// A monochrome bitmap centred in the rectangle, drawn with DrawState and the extra DSS_* flags.
void DrawBitmapCentred(HDC dc, const RECT& rect, HBITMAP bitmap, UINT extra);
// The system's menu font, bold when asked.
HFONT CreateMenuFont(bool bold);
// The item text: the part before the first tab left-aligned, the part after it right-aligned; a menu-bar
// item centred whole.
void DrawItemText(HDC dc, const std::string& text, RECT rect, bool bar, bool bold, COLORREF colour);
// The Marlett glyph of a window-menu command, or 0 for one without.
char SystemGlyph(UINT command);

// A grayed item shows no selection unless grayed items are highlighted: clears ODS_SELECTED from such an
// item's state. True when that selection came by the keyboard (the mouse has not moved since the last).
bool DropGrayedSelection(UINT& state);

}  // namespace newmenu_paint
