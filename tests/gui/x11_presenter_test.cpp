// The X11 presenter on a private Xvfb server: its X windows follow the desktop's stacking, pop-ups over
// the surfaces the toolkit put them over, whether the desktop's order was set whole, one surface was
// raised or lowered, or a surface was shown again.
#include <gtest/gtest.h>
// Xlib's macros meet gtest's names: the X headers come after it, their clashing macros undone.
#include <X11/Xlib.h>
#undef None
#undef Bool
#undef Status

#include <string>
#include <vector>

#include "gui/desktop.h"
#include "gui/x11_presenter.h"
#include "testsupport/eventually.h"
#include "testsupport/x_screen.h"
#include "testsupport/xvfb.h"

namespace {

using namespace tavrin::gui;
using Names = std::vector<std::string>;

SurfaceState Shown(const std::string& title, int left, bool popup = false) {
  SurfaceState state;
  state.rect = {left, 100, left + 300, 300};
  state.visible = true;
  state.popup = popup;
  state.title = title;
  return state;
}

class X11PresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string xvfb = tavrin::test::XvfbServer::Find();
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed: the X11 presenter is not tested";
    ASSERT_TRUE(xvfb_.Start(xvfb)) << "Xvfb did not start";
    x_ = tavrin::test::OpenXDisplay(xvfb_.name());
    ASSERT_NE(x_, nullptr);
    desktop_.SetScreenSize(1024, 768);
  }
  void TearDown() override {
    presenter_.Stop();
    if (x_) XCloseDisplay(x_);
    xvfb_.Stop();
  }

  // The X display's order of our windows (bottom first) comes to be `expected`.
  bool StacksAs(const Names& expected) {
    Names seen;
    bool ok = tavrin::test::Eventually([&] {
      seen = tavrin::test::MappedXWindowNames(x_);
      return seen == expected;
    });
    if (!ok) {
      std::string text;
      for (auto& name : seen) text += name + " ";
      ADD_FAILURE() << "the X windows stack bottom first as: " << text;
    }
    return ok;
  }

  tavrin::test::XvfbServer xvfb_;
  _XDisplay* x_ = nullptr;
  Desktop desktop_;
  X11Presenter presenter_;
};

TEST_F(X11PresenterTest, XWindowsFollowTheDesktopsStackingWithPopupsOverTheirOwners) {
  const SurfaceId owner = desktop_.Create(Shown("owner", 10));
  const SurfaceId other = desktop_.Create(Shown("other", 60));
  const SurfaceId third = desktop_.Create(Shown("third", 110));
  const SurfaceId menu = desktop_.Create(Shown("menu", 20, true));
  ASSERT_TRUE(presenter_.Start(desktop_, xvfb_.name()));
  EXPECT_TRUE(StacksAs({"owner", "other", "third", "menu"})) << "the surfaces that were there, in their order";

  // The toolkit activates the owner: its pop-up stays over it.
  desktop_.SetStack({menu, owner, third, other});
  EXPECT_TRUE(StacksAs({"other", "third", "owner", "menu"}));

  desktop_.Raise(other);
  EXPECT_TRUE(StacksAs({"third", "owner", "menu", "other"}));
  desktop_.Lower(other);
  EXPECT_TRUE(StacksAs({"other", "third", "owner", "menu"}));

  // Shown again, a surface takes its place in the desktop's order, not the top its mapping gave it.
  SurfaceState state;
  ASSERT_TRUE(desktop_.State(third, state));
  state.visible = false;
  desktop_.Update(third, state);
  EXPECT_TRUE(StacksAs({"other", "owner", "menu"}));
  state.visible = true;
  desktop_.Update(third, state);
  EXPECT_TRUE(StacksAs({"other", "third", "owner", "menu"}));

  desktop_.Destroy(menu);
  EXPECT_TRUE(StacksAs({"other", "third", "owner"}));
}

}  // namespace
