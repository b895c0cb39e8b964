// The reference-picture check in a file of its own: its header brings the Win32 types, which the Mac's
// Foundation names differently.
#include "reference_image.h"

namespace tavrinmac::test {

::testing::AssertionResult MatchesPicture(const tavrin::draw::Surface& image, const std::string& path, int tolerance) {
  return tavrin::test::MatchesReference(image, path, tolerance);
}

}  // namespace tavrinmac::test
