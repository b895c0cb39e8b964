#include "draw/surface.h"

#include <cstring>

namespace tavrin::draw {

Surface::Surface(int width, int height, Pixel fill) { Reset(width, height, fill); }

Surface Surface::View(void* firstRow, int width, int height, ptrdiff_t strideBytes) {
  Surface s;
  s.base_ = static_cast<Pixel*>(firstRow);
  s.width_ = std::max(width, 0);
  s.height_ = std::max(height, 0);
  s.stride_ = strideBytes / static_cast<ptrdiff_t>(sizeof(Pixel));
  return s;
}

Surface::Surface(const Surface& other) { *this = other; }

Surface& Surface::operator=(const Surface& other) {
  if (this == &other) return *this;
  std::vector<Pixel> pixels(static_cast<size_t>(other.width_) * other.height_);
  for (int y = 0; y < other.height_; ++y)
    std::memcpy(pixels.data() + static_cast<size_t>(y) * other.width_, other.row(y), sizeof(Pixel) * other.width_);
  own_ = std::move(pixels);
  width_ = other.width_;
  height_ = other.height_;
  stride_ = width_;
  base_ = own_.empty() ? nullptr : own_.data();
  return *this;
}

Surface::Surface(Surface&& other) noexcept { *this = std::move(other); }

Surface& Surface::operator=(Surface&& other) noexcept {
  if (this == &other) return *this;
  own_ = std::move(other.own_);  // a moved vector keeps its buffer, so base_ stays valid
  base_ = other.base_;
  stride_ = other.stride_;
  width_ = other.width_;
  height_ = other.height_;
  other.base_ = nullptr;
  other.width_ = other.height_ = 0;
  other.stride_ = 0;
  other.own_.clear();
  return *this;
}

void Surface::Reset(int width, int height, Pixel fill) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  own_.assign(static_cast<size_t>(width_) * height_, fill);
  base_ = own_.empty() ? nullptr : own_.data();
  stride_ = width_;
}

void Surface::Fill(Pixel p) {
  for (int y = 0; y < height_; ++y) std::fill_n(row(y), width_, p);
}

bool Surface::SamePixels(const Surface& other) const {
  if (width_ != other.width_ || height_ != other.height_) return false;
  for (int y = 0; y < height_; ++y)
    if (std::memcmp(row(y), other.row(y), sizeof(Pixel) * width_) != 0) return false;
  return true;
}

}  // namespace tavrin::draw
