// Screenshots: a surface or the composed screen as PNG bytes.
#pragma once
#include <cstdint>
#include <vector>

#include "gui/desktop.h"

namespace tavrin::gui {

bool EncodeScreenshot(const draw::Surface& image, std::vector<uint8_t>& png);
// The screen composed from the desktop's surfaces (through `source` when given, see Desktop::Compose).
bool ScreenScreenshot(const Desktop& desktop, std::vector<uint8_t>& png, const Desktop::PixelSource& source = {});
// One surface's pixels as they stand.
bool SurfaceScreenshot(const Desktop& desktop, SurfaceId id, std::vector<uint8_t>& png);

}  // namespace tavrin::gui
