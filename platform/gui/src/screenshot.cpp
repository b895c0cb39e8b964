#include "gui/screenshot.h"

#include "draw/png.h"

namespace tavrin::gui {

bool EncodeScreenshot(const draw::Surface& image, std::vector<uint8_t>& png) { return draw::EncodePng(image, png); }

bool ScreenScreenshot(const Desktop& desktop, std::vector<uint8_t>& png, const Desktop::PixelSource& source) {
  return EncodeScreenshot(desktop.Compose(source), png);
}

bool SurfaceScreenshot(const Desktop& desktop, SurfaceId id, std::vector<uint8_t>& png) {
  draw::Surface image;
  return desktop.Snapshot(id, image) && EncodeScreenshot(image, png);
}

}  // namespace tavrin::gui
