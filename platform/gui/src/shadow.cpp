// Shadows under surfaces: the shape as a mask, blurred by two box passes each way (close to a Gaussian),
// then used to darken the screen beneath.
#include <algorithm>
#include <vector>

#include "gui/desktop.h"

namespace tavrin::gui {
namespace {

// One box blur of radius r along rows (step 1) or columns (step = width) of a width x height mask.
void BoxBlur(std::vector<int>& mask, int width, int height, int r, bool rows) {
  const int lines = rows ? height : width, length = rows ? width : height;
  const int step = rows ? 1 : width;
  std::vector<int> line(static_cast<size_t>(length));
  for (int l = 0; l < lines; ++l) {
    int* first = mask.data() + (rows ? static_cast<size_t>(l) * static_cast<size_t>(width) : static_cast<size_t>(l));
    for (int i = 0; i < length; ++i) line[static_cast<size_t>(i)] = first[static_cast<size_t>(i) * static_cast<size_t>(step)];
    int sum = 0;
    for (int i = 0; i < std::min(r, length); ++i) sum += line[static_cast<size_t>(i)];
    for (int i = 0; i < length; ++i) {
      if (i + r < length) sum += line[static_cast<size_t>(i + r)];
      if (i - r - 1 >= 0) sum -= line[static_cast<size_t>(i - r - 1)];
      first[static_cast<size_t>(i) * static_cast<size_t>(step)] = sum / (2 * r + 1);
    }
  }
}

}  // namespace

void CastShadow(draw::Surface& screen, const draw::Rect& rect, const draw::Region& shape) {
  const int margin = kShadowBlur;
  const int width = rect.width() + 2 * margin, height = rect.height() + 2 * margin;
  if (rect.empty()) return;
  // The mask's (0, 0) is the surface's (-margin, -margin).
  std::vector<int> mask(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  const draw::Region there = shape.empty() ? draw::Region(draw::Rect{0, 0, rect.width(), rect.height()}) : shape;
  there.ForEachRect(draw::Rect{0, 0, rect.width(), rect.height()}, [&](const draw::Rect& r) {
    for (int y = r.top; y < r.bottom; ++y)
      std::fill_n(mask.data() + static_cast<size_t>(y + margin) * static_cast<size_t>(width) + (r.left + margin),
                  r.width(), 255);
  });
  for (bool rows : {true, false}) {
    BoxBlur(mask, width, height, margin / 2, rows);
    BoxBlur(mask, width, height, margin / 2, rows);
  }
  const int left = rect.left - margin, top = rect.top - margin + kShadowDrop;
  const draw::Rect onScreen = draw::Rect{left, top, left + width, top + height}.intersect(screen.bounds());
  for (int y = onScreen.top; y < onScreen.bottom; ++y) {
    const int* from = mask.data() + static_cast<size_t>(y - top) * static_cast<size_t>(width);
    draw::Pixel* row = screen.row(y);
    for (int x = onScreen.left; x < onScreen.right; ++x) {
      const int keep = 255 - from[x - left] * kShadowDarkness / 255;
      if (keep == 255) continue;
      const draw::Pixel p = row[x];
      row[x] = draw::Rgb(draw::RedOf(p) * keep / 255, draw::GreenOf(p) * keep / 255, draw::BlueOf(p) * keep / 255);
    }
  }
}

}  // namespace tavrin::gui
