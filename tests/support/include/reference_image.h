// Comparison of rendered pictures with reference PNG files kept in the source tree.
//
//   EXPECT_TRUE(tavrin::test::MatchesReference(image, TAVRIN_REFERENCE_DIR "/tree.png"));
//
// Every channel of every pixel may differ by `tolerance`. On a mismatch the rendered picture and a diff
// (differing pixels red over a faded copy of the reference) are written next to the test program as
// <name>.actual.png and <name>.diff.png, and the message names them. References are written only on
// request: with TAVRIN_UPDATE_REFERENCE=1 in the environment the check (re)writes the reference and passes.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "draw/surface.h"
#include "win32/windows.h"

namespace tavrin::test {

::testing::AssertionResult MatchesReference(const draw::Surface& image, const std::string& referencePath,
                                            int tolerance = 2);

// A window as it stands on screen after everything due is painted (non-client area included).
draw::Surface RenderWindow(HWND hwnd);

}  // namespace tavrin::test
