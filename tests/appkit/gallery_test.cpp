// The Mac gallery drawn off screen matches its reference picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "draw/png.h"
#include "reference_image.h"

namespace {

TEST(MacGallery, DrawnOffScreenItMatchesItsReferencePicture) {
  const std::string png = (std::filesystem::temp_directory_path() / "tavrin_mac_gallery_test.png").string();
  const std::string command = std::string("TAVRIN_DISPLAY=headless ") + TAVRIN_MAC_GALLERY + " --png " + png;
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto image = tavrin::draw::ReadPngFile(png);
  std::filesystem::remove(png);
  ASSERT_TRUE(image.has_value());
  EXPECT_TRUE(tavrin::test::MatchesReference(*image, TAVRIN_APPKIT_REFERENCE_DIR "/mac_gallery.png", 8));
}

}  // namespace
