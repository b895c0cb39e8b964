// What the files of AppKit share: the drawing state of the view being drawn, and the mapping of the
// Mac's coordinates onto pixels.
#pragma once
#include <memory>
#include <string>

#include "cocoa/AppKit.h"
#include "draw/region.h"
#include "draw/text.h"

namespace appkit::detail {

using tavrin::draw::Pixel;

// Drawing into one surface: a window's pixels (opaque, alpha ignored as the drawing layer leaves it) or
// a picture's (alpha is opacity). A point (x, y) of the current view lands on pixel
// (originX + x, flipped ? originY + y : originY - y).
struct DrawState {
  tavrin::draw::Surface* surface = nullptr;
  bool hasAlpha = false;
  tavrin::draw::Region clip;
  CGFloat originX = 0, originY = 0;
  bool flipped = false;
  uint32_t fill = 0xFF000000, stroke = 0xFF000000;  // 0xAARRGGBB, alpha is opacity
};

// An object-valued setter: retains the new value, releases the old one.
template <class T>
void Assign(T*& slot, T* value) {
  if (value) value->retain();
  if (slot) slot->release();
  slot = value;
}

// A copy of a text (an empty one for null), retained.
inline NSString* Copy(NSString* text) {
  return static_cast<NSString*>(alloc<NSString>()->initWithString(text ? text : NSString::string()));
}

// The state of the drawing under way (null outside drawing).
DrawState* Current();
void Begin(const DrawState& state);
void End();

tavrin::draw::Point ToPixel(const DrawState& state, NSPoint point);
// The pixels a rectangle covers (edges rounded to the nearest pixel).
tavrin::draw::Rect ToPixels(const DrawState& state, NSRect rect);

// Paints the area with a colour: over what is there (alpha blends), or replacing it.
void PaintRegion(const tavrin::draw::Region& area, uint32_t colour, bool replace = false);
void PaintRect(NSRect rect, uint32_t colour, bool replace = false);
// Copies a picture into the pixel rectangle, scaled, blended by its alpha and by `fraction`.
void PaintImage(const tavrin::draw::Surface& picture, const tavrin::draw::Rect& to, CGFloat fraction);

// Text: UTF-8 to the drawing layer's single-byte code page (a bullet is 0x95), and the font that draws it.
std::string ToCodePage(const std::string& utf8);
std::shared_ptr<tavrin::draw::Font> FontFor(const NSFont* font);
std::shared_ptr<tavrin::draw::Font> SystemFont(CGFloat size = 13, bool bold = false);
// Text with the top-left of its box at the pixel, in the colour, within the current clip.
void PaintText(const std::string& utf8, const tavrin::draw::Font& font, tavrin::draw::Point topLeft, uint32_t colour);
// A line of text in a rectangle of the current view: left, centred or right, vertically centred.
enum class Align { kLeft, kCenter, kRight };
void TextInRect(const std::string& utf8, const tavrin::draw::Font& font, NSRect rect, uint32_t colour,
                Align align = Align::kLeft);

constexpr uint32_t Argb(int r, int g, int b, int a = 255) {
  return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
         static_cast<uint32_t>(b);
}

// The window of a surface of the core (null when none: it went).
NSWindow* WindowOfSurface(uint64_t surface);
void RegisterSurface(uint64_t surface, NSWindow* window);
void UnregisterSurface(uint64_t surface);
// Input the core routes to a window's surface, handed to the main run loop.
void RouteInput(uint64_t surface);
// Restacks our windows on the core: by level, then by their order.
void Restack();
// One turn of the main run loop, waiting at most `seconds` for something to run.
void TurnMainLoop(double seconds);
// The surface that keeps the pointer while a menu tracks it (0: none).
void SetMenuCapture(uint64_t surface);
uint64_t MenuCapture();
// The application's menu along the top of the screen (null takes it away).
void ShowMenuBar(NSMenu* menu);
// Our pictures for the names the Mac windows use, registered on the first lookup.
void RegisterBuiltInPictures();
// A window's record among the sysroot's windows (written again for a new title); the automation service
// runs while any window has one.
void PublishWindow(NSWindow* window);
void UnpublishWindow(NSWindow* window);
// Whether a display shows the windows.
bool DisplayRunning();
// Colours of the look.
constexpr uint32_t kSelectionColour = 0xFF3875D7;
constexpr uint32_t kControlBorder = 0xFFA0A0A0;
// The last pointer position in screen coordinates (Mac's).
NSPoint PointerOnScreen();

}  // namespace appkit::detail
