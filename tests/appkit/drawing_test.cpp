// Drawing: paths by their winding rule, colours with alpha, text, pictures by name, and the window's
// own frame, read back from the window's pixels.
#include "appkit_fixture.h"

namespace {

using appkit_test::AppKitTest;
using appkit_test::Rgb;
using appkit_test::RgbOf;

// A ring (even-odd: the inner oval cut out of the outer one) with the inside filled in another colour.
class RingView : public NSView {
 public:
  void drawRect(NSRect) override {
    NSBezierPath* outside = NSBezierPath::bezierPathWithOvalInRect(bounds());
    NSBezierPath* inside = NSBezierPath::bezierPathWithOvalInRect(NSInsetRect(bounds(), 60, 15));
    outside->setWindingRule(NSEvenOddWindingRule);
    outside->appendBezierPath(inside);
    NSColor::orangeColor()->set();
    outside->fill();
    NSColor::blueColor()->set();
    inside->fill();
  }
};

class FillView : public NSView {
 public:
  NSColor* colour = nullptr;
  void drawRect(NSRect) override {
    colour->set();
    NSBezierPath::fillRect(bounds());
  }
};

class TextView : public NSView {
 public:
  NSAttributedString* text = nullptr;
  void drawRect(NSRect) override { text->drawAtPoint(NSMakePoint(2, 2)); }
};

int CountPixels(const tavrin::draw::Surface& image, const std::function<bool(uint32_t)>& test) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += test(RgbOf(image.at(x, y))) ? 1 : 0;
  return count;
}

TEST_F(AppKitTest, AnEvenOddRingLeavesItsInsideToTheInnerFill) {
  NSWindow* window = MakeWindow(NSMakeRect(50, 50, 300, 100), NSBorderlessWindowMask);
  NSView* ring = alloc<RingView>()->initWithFrame(NSMakeRect(0, 0, 300, 100));
  window->contentView()->addSubview(ring);
  window->orderFront(nullptr);
  auto image = Pixels(window);
  ASSERT_EQ(image.width(), 300);
  ASSERT_EQ(image.height(), 100);  // borderless: no title bar
  EXPECT_EQ(RgbOf(image.at(150, 50)), Rgb(0, 0, 255));  // the middle: the inner oval
  EXPECT_EQ(RgbOf(image.at(30, 50)), Rgb(255, 128, 0));  // on the ring, left of the inner oval
  EXPECT_EQ(RgbOf(image.at(150, 5)), Rgb(255, 128, 0));   // on the ring above it
  EXPECT_EQ(RgbOf(image.at(2, 2)), Rgb(237, 237, 237));   // outside both: the window's background
  ring->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, ColoursBlendByTheirAlphaAndDeviceCmykActsAsTheMacs) {
  NSWindow* window = MakeWindow(NSMakeRect(50, 50, 100, 100), NSBorderlessWindowMask);
  window->setBackgroundColor(NSColor::whiteColor());
  auto* view = static_cast<FillView*>(alloc<FillView>()->initWithFrame(NSMakeRect(0, 0, 50, 100)));
  view->colour = NSColor::colorWithCalibratedRed_green_blue_alpha(1, 0, 0, 0.5f);
  window->contentView()->addSubview(view);
  window->orderFront(nullptr);
  auto image = Pixels(window);
  EXPECT_EQ(RgbOf(image.at(10, 10)), Rgb(255, 127, 127));
  EXPECT_EQ(RgbOf(image.at(80, 10)), Rgb(255, 255, 255));

  // Components above 1 act as 1: the device-mapping "Free" colour is a dark green.
  NSColor* free = NSColor::colorWithDeviceCyan_magenta_yellow_black_alpha(9, 0, 8, 0.5f, 9);
  EXPECT_FLOAT_EQ(free->redComponent(), 0);
  EXPECT_FLOAT_EQ(free->greenComponent(), 0.5f);
  EXPECT_FLOAT_EQ(free->blueComponent(), 0);
  EXPECT_FLOAT_EQ(free->alphaComponent(), 1);
  view->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, AttributedTextDrawsEachRunInItsOwnColourAndMeasuresItself) {
  NSMutableAttributedString* text = alloc<NSMutableAttributedString>()->initWithString_attributes(
      NSString::stringWithUTF8String("Pelko Pelko"),
      [] {
        NSMutableDictionary* a = NSMutableDictionary::dictionary();
        a->setObject_forKey(NSFont::fontWithName_size(NSString::stringWithUTF8String("Helvetica"), 30), NSFontAttributeName);
        return a;
      }());
  text->addAttribute_value_range(NSForegroundColorAttributeName, NSColor::redColor(), NSMakeRange(6, 5));
  NSRange range{};
  text->attributesAtIndex_effectiveRange(0, &range);
  EXPECT_EQ(range.length, 6u);
  text->attributesAtIndex_effectiveRange(8, &range);
  EXPECT_EQ(range.location, 6u);
  EXPECT_EQ(range.length, 5u);
  const NSSize size = text->size();
  EXPECT_GT(size.width, 120);
  EXPECT_GE(size.height, 30);

  NSWindow* window = MakeWindow(NSMakeRect(50, 50, 300, 60), NSBorderlessWindowMask);
  window->setBackgroundColor(NSColor::whiteColor());
  auto* view = static_cast<TextView*>(alloc<TextView>()->initWithFrame(NSMakeRect(0, 0, 300, 60)));
  view->text = text;
  window->contentView()->addSubview(view);
  window->orderFront(nullptr);
  auto image = Pixels(window);
  const int split = 2 + static_cast<int>(size.width / 2);
  tavrin::draw::Surface left(split, 60), right(300 - split, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 300; ++x) (x < split ? left.set(x, y, image.at(x, y)) : right.set(x - split, y, image.at(x, y)));
  EXPECT_GT(CountPixels(left, [](uint32_t p) { return p == 0; }), 20);           // black glyphs first
  EXPECT_EQ(CountPixels(left, [](uint32_t p) { return p == Rgb(255, 0, 0); }), 0);
  EXPECT_GT(CountPixels(right, [](uint32_t p) { return p == Rgb(255, 0, 0); }), 20);  // red after
  view->release();
  text->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, PicturesComeByTheirNamesAndImageViewsCentreThem) {
  NSImage::Register("test-square", NSMakeSize(10, 10), [](NSSize size) {
    NSColor::greenColor()->set();
    NSRectFill(NSMakeRect(0, 0, size.width, size.height));
  });
  EXPECT_EQ(NSImage::imageNamed(NSString::stringWithUTF8String("no such picture")), nullptr);
  NSImage* picture = NSImage::imageNamed(NSString::stringWithUTF8String("test-square"));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->size().width, 10);

  NSWindow* window = MakeWindow(NSMakeRect(50, 50, 40, 40), NSBorderlessWindowMask);
  window->setBackgroundColor(NSColor::whiteColor());
  NSImageView* view = alloc<NSImageView>()->initWithFrame(NSMakeRect(0, 0, 40, 40));
  view->setImage(picture);
  window->contentView()->addSubview(view);
  window->orderFront(nullptr);
  auto image = Pixels(window);
  EXPECT_EQ(RgbOf(image.at(20, 20)), Rgb(0, 255, 0));
  EXPECT_EQ(RgbOf(image.at(15, 15)), Rgb(0, 255, 0));
  EXPECT_EQ(RgbOf(image.at(14, 14)), Rgb(255, 255, 255));
  EXPECT_EQ(RgbOf(image.at(25, 25)), Rgb(255, 255, 255));
  view->release();
  window->close();
  window->release();
}

TEST_F(AppKitTest, TheTitleBarShowsItsButtonsInColourOnlyOnTheKeyWindow) {
  NSWindow* first = MakeWindow(NSMakeRect(50, 400, 200, 100),
                               NSTitledWindowMask | NSClosableWindowMask | NSMiniaturizableWindowMask | NSResizableWindowMask);
  NSWindow* second = MakeWindow(NSMakeRect(300, 400, 200, 100), NSTitledWindowMask | NSClosableWindowMask);
  first->setTitle(NSString::stringWithUTF8String("First"));
  first->makeKeyAndOrderFront(nullptr);
  second->orderFront(nullptr);
  auto image = Pixels(first);
  EXPECT_EQ(RgbOf(image.at(14, 11)), Rgb(0xFF, 0x5F, 0x57));
  EXPECT_EQ(RgbOf(image.at(34, 11)), Rgb(0xFF, 0xBD, 0x2E));
  EXPECT_EQ(RgbOf(image.at(54, 11)), Rgb(0x28, 0xC9, 0x40));
  EXPECT_GT(CountPixels(image, [](uint32_t p) { return p < Rgb(0x60, 0x60, 0x60); }), 10);  // the title
  auto other = Pixels(second);
  EXPECT_EQ(RgbOf(other.at(14, 11)), Rgb(0xCC, 0xCC, 0xCC));
  EXPECT_EQ(RgbOf(other.at(34, 11)), Rgb(0xCC, 0xCC, 0xCC));  // not miniaturizable: grey on any window

  second->makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(Until([&] { return RgbOf(Pixels(first).at(14, 11)) == Rgb(0xCC, 0xCC, 0xCC); }));
  EXPECT_EQ(RgbOf(Pixels(second).at(14, 11)), Rgb(0xFF, 0x5F, 0x57));
  first->close();
  second->close();
  first->release();
  second->release();
}

TEST_F(AppKitTest, AClearBorderlessWindowShowsTheDesktopWhereNothingIsDrawn) {
  NSWindow* window = MakeWindow(NSMakeRect(50, 50, 300, 100), NSBorderlessWindowMask);
  window->setBackgroundColor(NSColor::clearColor());
  window->setOpaque(NO);
  NSView* ring = alloc<RingView>()->initWithFrame(NSMakeRect(0, 0, 300, 100));
  window->contentView()->addSubview(ring);
  window->setLevel(NSStatusWindowLevel);
  window->orderFront(nullptr);
  auto image = Pixels(window);
  EXPECT_EQ(RgbOf(image.at(1, 1)), tavrin::gui::kDesktopColour & 0xFFFFFF);
  EXPECT_EQ(RgbOf(image.at(150, 50)), Rgb(0, 0, 255));

  // Above a normal window that comes to the front later.
  NSWindow* normal = MakeWindow(NSMakeRect(60, 60, 100, 100));
  normal->makeKeyAndOrderFront(nullptr);
  const auto stack = tavrin::gui::TheDesktop().Stack();
  const auto ringAt = std::find(stack.begin(), stack.end(), window->SurfaceId());
  const auto normalAt = std::find(stack.begin(), stack.end(), normal->SurfaceId());
  EXPECT_LT(ringAt, normalAt);
  ring->release();
  window->close();
  normal->close();
  window->release();
  normal->release();
}

}  // namespace
