#include "reference_image.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "draw/png.h"
#include "win32/window_manager.h"

namespace tavrin::test {

namespace {

int Channel(draw::Pixel p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }

// The folder of the running test program; the working folder when it cannot be told.
std::filesystem::path OutputFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : exe.parent_path();
}

}  // namespace

::testing::AssertionResult MatchesReference(const draw::Surface& image, const std::string& referencePath,
                                            int tolerance) {
  const char* update = std::getenv("TAVRIN_UPDATE_REFERENCE");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(std::filesystem::path(referencePath).parent_path());
    if (!draw::WritePngFile(image, referencePath)) return ::testing::AssertionFailure() << "cannot write " << referencePath;
    return ::testing::AssertionSuccess() << "wrote " << referencePath;
  }
  const std::string name = std::filesystem::path(referencePath).stem().string();
  const auto folder = OutputFolder();
  const auto actualPath = folder / (name + ".actual.png");
  auto reference = draw::ReadPngFile(referencePath);
  if (!reference) {
    draw::WritePngFile(image, actualPath.string());
    return ::testing::AssertionFailure() << "no reference " << referencePath << " (rendered: " << actualPath.string()
                                         << "; TAVRIN_UPDATE_REFERENCE=1 writes it)";
  }
  if (reference->width() != image.width() || reference->height() != image.height()) {
    draw::WritePngFile(image, actualPath.string());
    return ::testing::AssertionFailure() << name << ": " << image.width() << "x" << image.height() << " against a reference of "
                                         << reference->width() << "x" << reference->height() << " (rendered: "
                                         << actualPath.string() << ")";
  }
  draw::Surface diff(image.width(), image.height());
  long differing = 0;
  int worst = 0, firstX = -1, firstY = -1;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const draw::Pixel a = image.at(x, y), b = reference->at(x, y);
      int delta = 0;
      for (int shift : {0, 8, 16}) delta = std::max(delta, std::abs(Channel(a, shift) - Channel(b, shift)));
      if (delta > tolerance) {
        if (differing++ == 0) firstX = x, firstY = y;
        worst = std::max(worst, delta);
        diff.set(x, y, 0xFFFF0000);
      } else {
        // The reference faded to a quarter of its contrast, so the red stands out.
        auto fade = [&](int shift) { return static_cast<draw::Pixel>(192 + Channel(b, shift) / 4) << shift; };
        diff.set(x, y, 0xFF000000 | fade(16) | fade(8) | fade(0));
      }
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  const auto diffPath = folder / (name + ".diff.png");
  draw::WritePngFile(image, actualPath.string());
  draw::WritePngFile(diff, diffPath.string());
  std::ostringstream message;
  message << name << ": " << differing << " pixels differ by more than " << tolerance << " (worst " << worst << ", first at "
          << firstX << "," << firstY << "); rendered " << actualPath.string() << ", diff " << diffPath.string();
  return ::testing::AssertionFailure() << message.str();
}

draw::Surface RenderWindow(HWND hwnd) {
  tavrin::win::PaintPending();
  draw::Surface image(1, 1);
  tavrin::win::CaptureWindow(hwnd, image);
  return image;
}

}  // namespace tavrin::test
