// The resource compiler's pictures, drawn by code with our own GDI: pictograms by name (menu and
// toolbar icons, the function pictures, the tree's state pictures, the program's icon), the splash
// picture and the animation clip.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "win32/gdi.h"

namespace rescomp {

using Bytes = std::vector<uint8_t>;

// TRUE when NAME is a pictogram this file draws.
bool IsGlyph(const std::string& name);
// The names known, for error messages.
std::string GlyphNames();

// A 24-bit packed DIB (header, then bottom-up rows) of the glyphs side by side, each size x size, on
// the background colour (the mask colour of the image lists that take the strip).
Bytes GlyphStrip(const std::vector<std::string>& glyphs, int size, COLORREF background);

// An RT_ICON image of one glyph: 32-bit colour rows, then the AND mask, both bottom-up; the pixels left
// in the drawing's background colour are transparent.
Bytes GlyphIcon(const std::string& glyph, int size);

// The splash picture: a framed panel with the program's pictogram, a title and a line under it.
Bytes SplashPicture(int width, int height, const std::string& title, const std::string& line);

// An uncompressed clip of a ring of eight dots, the lit one moving on by one a frame.
Bytes SpinnerClip(int width, int height, int frames, int ms);

}  // namespace rescomp
