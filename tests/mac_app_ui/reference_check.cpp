// The reference-picture check in a file of its own: its header brings the Win32 types, which the Mac's
// Foundation names differently.
#include "reference_image.h"

namespace tavrinmac::test {

::testing::AssertionResult MatchesMainWindowPicture(const tavrin::draw::Surface& image, const std::string& path) {
  return tavrin::test::MatchesReference(image, path, 2);
}

}  // namespace tavrinmac::test
