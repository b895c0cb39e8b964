// The colour panel (shared, its swatches clicked through the core's input, shown by the toolbar's Show
// Colors item) and windows' shadows on the composed screen (titled windows', shaped see-through windows',
// none for a borderless window without one).
#include "appkit_fixture.h"

namespace {

using appkit_test::AppKitTest;

NSString* Text(const char* text) { return NSString::stringWithUTF8String(text); }

struct Picked : NSObject {
  int times = 0;
  uint32_t last = 0;
  void Changed(NSColorPanel* panel) {
    ++times;
    last = panel->color()->Pixel() & 0xFFFFFF;
  }
};

struct ColoursOnly : NSObject, NSToolbarDelegate {
  NSToolbarItem* toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(NSToolbar*, NSString*, BOOL) override {
    return nullptr;  // the only item is a standard one
  }
  NSArray* toolbarDefaultItemIdentifiers(NSToolbar*) override {
    NSMutableArray* list = NSMutableArray::array();
    list->addObject(NSToolbarShowColorsItemIdentifier);
    return list;
  }
  NSArray* toolbarAllowedItemIdentifiers(NSToolbar* toolbar) override { return toolbarDefaultItemIdentifiers(toolbar); }
};

TEST_F(AppKitTest, TheColourPanelIsSharedAndItsSwatchesSetItsColourAndSendItsAction) {
  NSColorPanel* panel = NSColorPanel::sharedColorPanel();
  EXPECT_EQ(NSColorPanel::sharedColorPanel(), panel);
  EXPECT_TRUE(NSColorPanel::sharedColorPanelExists());
  EXPECT_EQ(panel->title()->str(), "Colors");
  auto* picked = alloc<Picked>();
  panel->setTarget(picked);
  panel->setAction(selector(&Picked::Changed));
  panel->orderFront(nullptr);

  // The swatch of the second row's third column (light yellow), clicked where a person would: its
  // middle, found in the panel's pixels by its colour.
  const uint32_t wanted = NSColorPanel::SwatchPixel(NSColorPanel::kColumns + 2) & 0xFFFFFF;
  auto image = Pixels(panel);
  int foundX = -1, foundY = -1;
  for (int y = 0; y < image.height() && foundX < 0; ++y)
    for (int x = 0; x < image.width() && foundX < 0; ++x)
      if ((image.at(x, y) & 0xFFFFFF) == wanted) foundX = x + 8, foundY = y + 8;
  ASSERT_GE(foundX, 0) << "the swatch is drawn";
  const NSRect frame = panel->frame();
  Click(panel, NSMakePoint(foundX, frame.size.height - foundY));
  ASSERT_TRUE(Until([&] { return picked->times == 1; }));
  EXPECT_EQ(picked->last, wanted);
  // The well at the bottom shows it.
  EXPECT_TRUE(Until([&] { return (Pixels(panel).at(static_cast<int>(frame.size.width) / 2,
                                                   static_cast<int>(frame.size.height) - 20) & 0xFFFFFF) == wanted; }));

  panel->setColor(NSColor::blueColor());
  EXPECT_EQ(picked->times, 1) << "a colour set by the program sends nothing";
  panel->setTarget(nullptr);
  panel->orderOut(nullptr);
  picked->release();
}

TEST_F(AppKitTest, TheToolbarsShowColorsItemShowsTheColourPanel) {
  NSWindow* window = MakeWindow(NSMakeRect(100, 100, 300, 120));
  auto* delegate = alloc<ColoursOnly>();
  NSToolbar* toolbar = alloc<NSToolbar>()->initWithIdentifier(Text("colours"));
  toolbar->setDelegate(delegate);
  window->setToolbar(toolbar);
  window->makeKeyAndOrderFront(nullptr);
  ASSERT_EQ(toolbar->items()->count(), 1u);
  auto* item = static_cast<NSToolbarItem*>(toolbar->items()->objectAtIndex(0));
  EXPECT_EQ(item->label()->str(), "Colors");
  NSColorPanel* panel = NSColorPanel::sharedColorPanel();
  panel->orderOut(nullptr);
  Click(window, NSMakePoint(8 + 36, 120 + NSToolbar::kHeight / 2));
  ASSERT_TRUE(Until([&] { return panel->isVisible(); }));
  panel->orderOut(nullptr);
  window->close();
  window->release();
  toolbar->release();
  delegate->release();
}

// The screen's blue at a point, composed.
int BlueAt(int x, int y) { return tavrin::gui::TheDesktop().Compose().at(x, y) & 0xFF; }

class OvalFace : public NSView {
 public:
  void drawRect(NSRect) override {
    NSColor::orangeColor()->set();
    NSBezierPath::bezierPathWithOvalInRect(bounds())->fill();
  }
};

TEST_F(AppKitTest, ACastShadowFollowsTheWindowsShapeAndABorderlessWindowWithoutOneCastsNone) {
  const int desktopBlue = tavrin::gui::kDesktopColour & 0xFF;
  // A titled window: its frame's bottom edge on the 768-high screen is at 768 - 100 = 668.
  NSWindow* titled = MakeWindow(NSMakeRect(100, 100, 300, 120));
  titled->makeKeyAndOrderFront(nullptr);
  titled->displayIfNeeded();
  EXPECT_LT(BlueAt(250, 670), desktopBlue - 20) << "the shadow under the window's bottom edge";
  EXPECT_EQ(BlueAt(250, 700), desktopBlue) << "and not far from it";
  titled->setHasShadow(NO);
  EXPECT_EQ(BlueAt(250, 670), desktopBlue);
  titled->close();
  titled->release();

  // A see-through borderless window drawing an oval: the shadow under the oval's bottom, none under the
  // frame's corners, which show the desktop.
  NSWindow* oval = MakeWindow(NSMakeRect(500, 300, 200, 100), NSBorderlessWindowMask);
  oval->setBackgroundColor(NSColor::clearColor());
  oval->setOpaque(NO);
  NSView* face = alloc<OvalFace>()->initWithFrame(NSMakeRect(0, 0, 200, 100));
  oval->contentView()->addSubview(face);
  face->release();
  oval->orderFront(nullptr);
  oval->displayIfNeeded();
  const int bottom = 768 - 300;
  EXPECT_LT(BlueAt(600, bottom + 2), desktopBlue - 20) << "under the oval's lowest point";
  EXPECT_EQ(BlueAt(503, bottom + 2), desktopBlue) << "the frame's corner is not the window's: no shadow under it";
  oval->setHasShadow(NO);
  EXPECT_EQ(BlueAt(600, bottom + 2), desktopBlue) << "a borderless window without a shadow casts none";
  oval->close();
  oval->release();
}

}  // namespace
