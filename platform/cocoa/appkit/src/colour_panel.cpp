// The colour panel: a grid of swatches of our own choosing (greys, then hues in three strengths) over a
// well showing the chosen colour.
#include "appkit_internal.h"

namespace {

constexpr CGFloat kSwatch = 22, kGap = 4, kMargin = 10, kWellHeight = 30;

NSColorPanel* g_shared = nullptr;

class Swatches : public NSView {
 public:
  NSColorPanel* panel = nullptr;  // not retained: the panel holds this view

  static NSRect SwatchRect(int index) {
    const int column = index % NSColorPanel::kColumns, row = index / NSColorPanel::kColumns;
    // Rows from the top; the well takes the bottom.
    const CGFloat top = kMargin + kWellHeight + kGap + NSColorPanel::kRows * (kSwatch + kGap);
    return NSMakeRect(kMargin + column * (kSwatch + kGap), top - (row + 1) * (kSwatch + kGap), kSwatch, kSwatch);
  }

  void drawRect(NSRect) override {
    for (int i = 0; i < NSColorPanel::kColumns * NSColorPanel::kRows; ++i) {
      const NSRect r = SwatchRect(i);
      appkit::detail::PaintRect(r, appkit::detail::kControlBorder, true);
      appkit::detail::PaintRect(NSInsetRect(r, 1, 1), NSColorPanel::SwatchPixel(i), true);
    }
    const NSRect well = NSMakeRect(kMargin, kMargin, bounds().size.width - 2 * kMargin, kWellHeight);
    appkit::detail::PaintRect(well, appkit::detail::kControlBorder, true);
    NSColor* colour = panel ? panel->color() : nullptr;
    appkit::detail::PaintRect(NSInsetRect(well, 2, 2), colour ? colour->Pixel() | 0xFF000000 : 0xFFFFFFFF, true);
  }

  void mouseDown(NSEvent* event) override {
    const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
    for (int i = 0; i < NSColorPanel::kColumns * NSColorPanel::kRows; ++i) {
      if (!NSPointInRect(at, SwatchRect(i))) continue;
      if (panel) panel->ChooseSwatch(i);
      return;
    }
  }
};

}  // namespace

uint32_t NSColorPanel::SwatchPixel(int index) {
  const int column = index % kColumns, row = index / kColumns;
  if (row == 0) {  // white to black
    const int level = 255 - column * 255 / (kColumns - 1);
    return appkit::detail::Argb(level, level, level);
  }
  // Red, orange, yellow, green, cyan, blue, purple, magenta; light, full, dark, darker.
  static const int hues[kColumns][3] = {{230, 40, 40}, {245, 140, 30}, {245, 215, 40}, {60, 180, 60},
                                        {40, 190, 210}, {40, 90, 220}, {130, 60, 200}, {215, 60, 160}};
  const int* hue = hues[column];
  auto shade = [row](int c) {
    if (row == 1) return c + (255 - c) / 2;  // light
    if (row == 2) return c;
    return c * (row == 3 ? 2 : 1) / 3;  // dark, darker
  };
  return appkit::detail::Argb(shade(hue[0]), shade(hue[1]), shade(hue[2]));
}

NSColorPanel* NSColorPanel::sharedColorPanel() {
  if (g_shared) return g_shared;
  const CGFloat width = 2 * kMargin + kColumns * (kSwatch + kGap) - kGap;
  const CGFloat height = kMargin + kWellHeight + kGap + kRows * (kSwatch + kGap) + kMargin;
  auto* panel = static_cast<NSColorPanel*>(alloc<NSColorPanel>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(0, 0, width, height), NSTitledWindowMask | NSClosableWindowMask, NSBackingStoreBuffered, NO));
  panel->setReleasedWhenClosed(NO);
  panel->setTitle(NSString::stringWithUTF8String("Colors"));
  panel->setLevel(NSFloatingWindowLevel);
  panel->center();
  auto* swatches = static_cast<Swatches*>(alloc<Swatches>()->initWithFrame(NSMakeRect(0, 0, width, height)));
  swatches->panel = panel;
  panel->contentView()->addSubview(swatches);
  swatches->release();
  panel->setColor(NSColor::whiteColor());
  g_shared = panel;  // lives as long as the application
  return panel;
}

BOOL NSColorPanel::sharedColorPanelExists() { return g_shared ? YES : NO; }

void NSColorPanel::setColor(NSColor* colour) {
  if (colour) colour->retain();
  if (colour_) colour_->release();
  colour_ = colour;
  setViewsNeedDisplay(YES);
}

void NSColorPanel::ChooseSwatch(int index) {
  if (index < 0 || index >= kColumns * kRows) return;
  const uint32_t pixel = SwatchPixel(index);
  setColor(NSColor::colorWithCalibratedRed_green_blue_alpha(((pixel >> 16) & 0xFF) / 255.0,
                                                            ((pixel >> 8) & 0xFF) / 255.0, (pixel & 0xFF) / 255.0, 1));
  retain();  // the action may close the panel
  action_.Send(target_, this);
  release();
}

void NSColorPanel::dealloc() {
  if (g_shared == this) g_shared = nullptr;
  if (colour_) colour_->release();
  NSWindow::dealloc();
}

void NSApplication::orderFrontColorPanel(id) { NSColorPanel::sharedColorPanel()->orderFront(nullptr); }
