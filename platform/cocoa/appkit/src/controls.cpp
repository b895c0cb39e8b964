// Cells, controls, buttons, text fields, text views, progress indicators and combo boxes.
#include <cmath>

#include "appkit_internal.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

namespace {

// A rounded rectangle filled, with a border.
void RoundedBox(NSRect rect, CGFloat radius, uint32_t fill, uint32_t border) {
  DrawState* s = Current();
  NSBezierPath* path = NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(rect, radius, radius);
  s->fill = fill;
  path->fill();
  s->stroke = border;
  path->stroke();
}

std::string TextOf(id value) {
  if (!value) return {};
  if (auto* text = dynamic_cast<NSString*>(value)) return text->str();
  if (auto* cell = dynamic_cast<NSCell*>(value)) return cell->stringValue() ? cell->stringValue()->str() : "";
  NSString* description = value->description();
  return description ? description->str() : "";
}

Align AlignOf(NSTextAlignment alignment) {
  return alignment == NSCenterTextAlignment ? Align::kCenter : alignment == NSRightTextAlignment ? Align::kRight : Align::kLeft;
}

}  // namespace

// ---- NSCell

NSCell* NSCell::initTextCell(NSString* text) {
  setStringValue(text);
  return this;
}

void NSCell::setStringValue(NSString* text) {
  NSString* copy = Copy(text);
  if (text_) text_->release();
  text_ = copy;
  Assign(object_, static_cast<id>(nullptr));
}

void NSCell::setObjectValue(id value) {
  Assign(object_, value);
  NSString* text = Copy(NSString::stringWithStd(TextOf(value)));
  if (text_) text_->release();
  text_ = text;
}

void NSCell::setFont(NSFont* font) { Assign(font_, font); }
void NSCell::setImage(NSImage* image) { Assign(image_, image); }

void NSCell::dealloc() {
  if (text_) text_->release();
  if (object_) object_->release();
  if (font_) font_->release();
  if (image_) image_->release();
  NSObject::dealloc();
}

void NSCell::drawWithFrame_inView(NSRect frame, NSView*) {
  if (image_) {
    const NSSize size = image_->size();
    image_->drawInRect_fromRect_operation_fraction(
        NSMakeRect(std::round(NSMidX(frame) - size.width / 2), std::round(NSMidY(frame) - size.height / 2), size.width, size.height),
        NSZeroRect, NSCompositeSourceOver, enabled_ ? 1 : 0.35f);
  }
  const std::string text = text_ ? text_->str() : "";
  if (!text.empty())
    TextInRect(text, *FontFor(font_), NSInsetRect(frame, 2, 0), enabled_ ? Argb(0, 0, 0) : Argb(0x99, 0x99, 0x99),
               AlignOf(alignment_));
}

void NSTextFieldCell::setTextColor(NSColor* colour) { Assign(textColor_, colour); }
void NSTextFieldCell::setBackgroundColor(NSColor* colour) { Assign(background_, colour); }

void NSTextFieldCell::dealloc() {
  if (textColor_) textColor_->release();
  if (background_) background_->release();
  NSCell::dealloc();
}

void NSTextFieldCell::drawWithFrame_inView(NSRect frame, NSView*) {
  if (drawsBackground_ && background_) PaintRect(frame, background_->Pixel());
  const std::string text = stringValue() ? stringValue()->str() : "";
  const uint32_t colour = !isEnabled() ? Argb(0x99, 0x99, 0x99) : textColor_ ? textColor_->Pixel() : Argb(0, 0, 0);
  TextInRect(text, *FontFor(font()), NSInsetRect(frame, 2, 0), colour, AlignOf(alignment()));
}

// ---- NSControl

NSControl* NSControl::initWithFrame(NSRect frame) {
  NSView::initWithFrame(frame);
  if (!cell_) cell_ = alloc<NSCell>()->initTextCell(nullptr);
  return this;
}

void NSControl::setCell(NSCell* cell) {
  Assign(cell_, cell);
  setNeedsDisplay(YES);
}

void NSControl::dealloc() {
  if (cell_) cell_->release();
  NSView::dealloc();
}

BOOL NSControl::sendAction_to(const SEL& action, id target) {
  if (!action || !target) return NO;
  retain();
  const bool sent = action.Send(target, this);
  release();
  return sent ? YES : NO;
}

void NSControl::setStringValue(NSString* text) {
  cell_->setStringValue(text);
  setNeedsDisplay(YES);
}

void NSControl::setObjectValue(id value) {
  cell_->setObjectValue(value);
  setNeedsDisplay(YES);
}

void NSControl::setIntValue(int value) { setStringValue(NSString::stringWithFormat("%d", value)); }

void NSControl::setFont(NSFont* font) {
  cell_->setFont(font);
  setNeedsDisplay(YES);
}

void NSControl::setAlignment(NSTextAlignment alignment) {
  cell_->setAlignment(alignment);
  setNeedsDisplay(YES);
}

void NSControl::setEnabled(BOOL enabled) {
  cell_->setEnabled(enabled);
  setNeedsDisplay(YES);
}

// ---- NSButton

NSButton* NSButton::initWithFrame(NSRect frame) {
  NSControl::initWithFrame(frame);
  cell()->setAlignment(NSCenterTextAlignment);
  return this;
}

void NSButton::setState(NSInteger state) {
  cell()->setState(state);
  setNeedsDisplay(YES);
}

void NSButton::setImage(NSImage* image) {
  cell()->setImage(image);
  setNeedsDisplay(YES);
}

void NSButton::setKeyEquivalent(NSString* key) {
  isDefault_ = key && key->str() == "\r";
  setNeedsDisplay(YES);
}

void NSButton::highlight(BOOL flag) {
  if (highlighted_ == static_cast<bool>(flag)) return;
  highlighted_ = flag;
  setNeedsDisplay(YES);
}

void NSButton::performClick(id) {
  if (!isEnabled()) return;
  if (type_ == NSSwitchButton || type_ == NSToggleButton || type_ == NSPushOnPushOffButton)
    setState(state() == NSOnState ? NSOffState : NSOnState);
  else if (type_ == NSRadioButton)
    setState(NSOnState);
  sendAction_to(action(), target());
}

void NSButton::mouseDown(NSEvent*) {
  if (!isEnabled()) return;
  pressed_ = true;
  highlight(YES);
}

void NSButton::mouseDragged(NSEvent* event) {
  if (pressed_) highlight(NSMouseInRect(convertPoint_fromView(event->locationInWindow(), nullptr), bounds(), isFlipped()));
}

void NSButton::mouseUp(NSEvent* event) {
  if (!pressed_) return;
  pressed_ = false;
  highlight(NO);
  if (NSMouseInRect(convertPoint_fromView(event->locationInWindow(), nullptr), bounds(), isFlipped())) performClick(this);
}

void NSButton::drawRect(NSRect) {
  const NSRect box = bounds();
  const std::string title = NSButton::title() ? NSButton::title()->str() : "";
  const uint32_t text = isEnabled() ? Argb(0, 0, 0) : Argb(0x99, 0x99, 0x99);
  auto font = FontFor(NSControl::font());
  if (type_ == NSSwitchButton || type_ == NSRadioButton) {
    // A box (round for radio) at the left, the title after it.
    const NSRect mark = NSMakeRect(2, std::round(NSMidY(box) - 7), 14, 14);
    const bool on = state() == NSOnState;
    const uint32_t fill = highlighted_ ? Argb(0xD0, 0xD0, 0xD0) : on ? kSelectionColour : Argb(0xFF, 0xFF, 0xFF);
    if (type_ == NSRadioButton) {
      Current()->fill = fill;
      NSBezierPath::bezierPathWithOvalInRect(mark)->fill();
      Current()->stroke = kControlBorder;
      NSBezierPath::bezierPathWithOvalInRect(mark)->stroke();
    } else {
      RoundedBox(mark, 3, fill, kControlBorder);
    }
    if (on) {
      Current()->fill = Argb(0xFF, 0xFF, 0xFF);
      NSBezierPath::bezierPathWithOvalInRect(NSInsetRect(mark, 4, 4))->fill();
    }
    TextInRect(title, *font, NSMakeRect(20, 0, box.size.width - 20, box.size.height), text, Align::kLeft);
    return;
  }
  const bool on = (type_ == NSToggleButton || type_ == NSPushOnPushOffButton) && state() == NSOnState;
  uint32_t fill = Argb(0xFF, 0xFF, 0xFF), label = text;
  if (isDefault_ || on) fill = kSelectionColour, label = Argb(0xFF, 0xFF, 0xFF);
  if (highlighted_) fill = isDefault_ || on ? Argb(0x2A, 0x5C, 0xB0) : Argb(0xD8, 0xD8, 0xD8);
  if (!isEnabled()) fill = Argb(0xF4, 0xF4, 0xF4), label = text;
  RoundedBox(NSInsetRect(box, 1, 2), bezel_ == NSRoundedBezelStyle ? 5 : 2, fill, kControlBorder);
  if (image()) {
    cell()->drawWithFrame_inView(box, this);
    return;
  }
  TextInRect(title, *font, NSInsetRect(box, 4, 0), label, Align::kCenter);
}

// ---- NSText and text fields

NSString* const NSControlTextDidChangeNotification =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSControlTextDidChangeNotification"));
NSString* const NSTextDidChangeNotification =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSTextDidChangeNotification"));

void NSText::setString(NSString* text) {
  NSString* copy = Copy(text);
  if (text_) text_->release();
  text_ = copy;
  setNeedsDisplay(YES);
}

void NSText::dealloc() {
  if (text_) text_->release();
  NSView::dealloc();
}

NSTextField* NSTextField::initWithFrame(NSRect frame) {
  NSControl::initWithFrame(frame);
  setCell(alloc<NSTextFieldCell>()->initTextCell(nullptr));
  cell()->release();
  cell()->setEditable(YES);
  editor_ = alloc<NSText>();
  return this;
}

void NSTextField::dealloc() {
  if (editor_) editor_->release();
  if (textColor_) textColor_->release();
  if (background_) background_->release();
  NSControl::dealloc();
}

void NSTextField::setTextColor(NSColor* colour) {
  Assign(textColor_, colour);
  setNeedsDisplay(YES);
}

void NSTextField::setBackgroundColor(NSColor* colour) {
  Assign(background_, colour);
  setNeedsDisplay(YES);
}

void NSTextField::setStringValue(NSString* text) {
  NSControl::setStringValue(text);
  if (editing_) editor_->setString(stringValue());
}

void NSTextField::selectText(id) {
  if (window()) window()->makeFirstResponder(this);
}

BOOL NSTextField::becomeFirstResponder() {
  editing_ = true;
  editor_->setString(stringValue());
  setNeedsDisplay(YES);
  return YES;
}

BOOL NSTextField::resignFirstResponder() {
  if (editing_) {
    editing_ = false;
    setNeedsDisplay(YES);
    if (delegate_) delegate_->controlTextDidEndEditing(NSNotification::notificationWithName_object(NSControlTextDidChangeNotification, this));
  }
  return YES;
}

void NSTextField::textDidChange(NSNotification*) {}

void NSTextField::mouseDown(NSEvent*) {
  if (isEditable() && isEnabled() && window() && window()->firstResponder() != this) window()->makeFirstResponder(this);
}

void NSTextField::keyDown(NSEvent* event) {
  if (!editing_ || !isEnabled()) {
    NSControl::keyDown(event);
    return;
  }
  const std::string typed = event->characters() ? event->characters()->str() : "";
  std::string text = stringValue() ? stringValue()->str() : "";
  if (typed == std::string(1, kNSReturnCharacter)) {
    sendAction_to(action(), target());
    return;
  }
  if (typed == std::string(1, kNSTabCharacter) || typed == std::string(1, kNSEscapeCharacter)) return;
  if (typed == std::string(1, kNSBackspaceCharacter)) {
    if (text.empty()) return;
    // A whole UTF-8 character goes.
    size_t end = text.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
  } else if (typed.empty() || static_cast<unsigned char>(typed[0]) == 0xEF || static_cast<unsigned char>(typed[0]) < 0x20) {
    return;  // arrows and the other keys that are not text
  } else {
    text += typed;
  }
  NSControl::setStringValue(NSString::stringWithStd(text));
  editor_->setString(stringValue());
  retain();
  NSNotification* change = NSNotification::notificationWithName_object(NSTextDidChangeNotification, editor_);
  textDidChange(change);
  NSNotification* control = NSNotification::notificationWithName_object(NSControlTextDidChangeNotification, this);
  NSNotificationCenter::defaultCenter()->postNotification(control);
  if (delegate_) delegate_->controlTextDidChange(control);
  release();
}

void NSTextField::drawRect(NSRect) {
  const NSRect box = bounds();
  if (bezeled_) {
    PaintRect(box, editing_ ? kSelectionColour : kControlBorder);
    PaintRect(NSInsetRect(box, 1, 1), background_ ? background_->Pixel() : Argb(0xFF, 0xFF, 0xFF));
  } else if (drawsBackground_ && background_) {
    PaintRect(box, background_->Pixel());
  }
  const std::string shown = Shown(stringValue() ? stringValue()->str() : "");
  const uint32_t colour = !isEnabled() ? Argb(0x99, 0x99, 0x99) : textColor_ ? textColor_->Pixel() : Argb(0, 0, 0);
  auto font = FontFor(NSControl::font());
  const NSRect inside = NSInsetRect(box, bezeled_ ? 4 : 1, 0);
  TextInRect(shown, *font, inside, colour, AlignOf(alignment()));
  if (editing_) {
    // The caret after the text.
    DrawState* s = Current();
    const draw::Rect pixels = ToPixels(*s, inside);
    const int x = std::min(pixels.right - 1, pixels.left + font->Measure(ToCodePage(shown)) + 1);
    const int top = pixels.top + (pixels.height() - font->metrics().height) / 2;
    PaintRegion(draw::Region(draw::Rect{x, top, x + 1, top + font->metrics().height}), Argb(0, 0, 0));
  }
}

std::string NSSecureTextField::Shown(const std::string& text) const {
  std::string bullets;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) bullets += "\xE2\x80\xA2";  // one bullet a character
  return bullets;
}

// ---- NSTextView

NSTextView* NSTextView::initWithFrame(NSRect frame) {
  NSView::initWithFrame(frame);
  text_ = Copy(nullptr);
  return this;
}

void NSTextView::dealloc() {
  if (font_) font_->release();
  if (colour_) colour_->release();
  NSText::dealloc();
}

void NSTextView::setFont(NSFont* font) {
  Assign(font_, font);
  Fit();
}

void NSTextView::setTextColor(NSColor* colour) {
  Assign(colour_, colour);
  setNeedsDisplay(YES);
}

void NSTextView::setString(NSString* text) {
  NSText::setString(text);
  Fit();
}

void NSTextView::Fit() {
  // In a scroll view: as tall as its lines, at least as tall as what shows it. Elsewhere its frame stays.
  NSView* clip = superview();
  if (!clip || !dynamic_cast<NSScrollView*>(clip->superview())) {
    setNeedsDisplay(YES);
    return;
  }
  auto font = FontFor(font_ ? font_ : NSFont::systemFontOfSize(12));
  int lines = 1;
  for (char c : text_ ? text_->str() : "") lines += c == '\n';
  const CGFloat height = std::max(static_cast<CGFloat>(lines * font->metrics().height + 4), clip->frame().size.height);
  if (height != frame().size.height) setFrameSize(NSMakeSize(frame().size.width, height));
  setNeedsDisplay(YES);
}

void NSTextView::insertText(NSString* text) {
  setString(NSString::stringWithStd((text_ ? text_->str() : "") + (text ? text->str() : "")));
  NSNotificationCenter::defaultCenter()->postNotificationName_object(NSTextDidChangeNotification, this);
}

void NSTextView::scrollRangeToVisible(NSRange range) {
  auto* clip = superview();
  auto* scroll = clip ? dynamic_cast<NSScrollView*>(clip->superview()) : nullptr;
  if (!scroll) return;
  auto font = FontFor(font_ ? font_ : NSFont::systemFontOfSize(12));
  const std::string text = text_ ? text_->str() : "";
  int line = 0;
  for (size_t i = 0; i < std::min<size_t>(range.location, text.size()); ++i) line += text[i] == '\n';
  scroll->scrollRectToVisible(NSMakeRect(0, static_cast<CGFloat>(line * font->metrics().height), 1,
                                         static_cast<CGFloat>(font->metrics().height)));
}

void NSTextView::drawRect(NSRect) {
  PaintRect(bounds(), Argb(0xFF, 0xFF, 0xFF));
  auto font = FontFor(font_ ? font_ : NSFont::systemFontOfSize(12));
  const uint32_t colour = colour_ ? colour_->Pixel() : Argb(0, 0, 0);
  DrawState* s = Current();
  const draw::Point origin = ToPixel(*s, NSMakePoint(4, 2));
  int y = origin.y;
  std::string line;
  const std::string text = (text_ ? text_->str() : "") + "\n";
  for (char c : text) {
    if (c == '\n') {
      PaintText(line, *font, {origin.x, y}, colour);
      y += font->metrics().height;
      line.clear();
    } else if (c == '\t') {
      line += "    ";
    } else if (c != '\r') {
      line += c;
    }
  }
}

void NSTextView::keyDown(NSEvent* event) {
  if (!editable_) {
    NSText::keyDown(event);
    return;
  }
  const std::string typed = event->characters() ? event->characters()->str() : "";
  std::string text = text_ ? text_->str() : "";
  if (typed == std::string(1, kNSBackspaceCharacter)) {
    if (!text.empty()) text.pop_back();
  } else if (typed == std::string(1, kNSReturnCharacter)) {
    text += '\n';
  } else if (!typed.empty() && static_cast<unsigned char>(typed[0]) >= 0x20 && static_cast<unsigned char>(typed[0]) != 0xEF) {
    text += typed;
  } else {
    return;
  }
  setString(NSString::stringWithStd(text));
  NSNotificationCenter::defaultCenter()->postNotificationName_object(NSTextDidChangeNotification, this);
}

// ---- NSProgressIndicator

void NSProgressIndicator::dealloc() {
  if (timer_) {
    timer_->invalidate();
    timer_->release();
  }
  NSView::dealloc();
}

void NSProgressIndicator::startAnimation(id) {
  if (animating_) return;
  animating_ = true;
  // The timer holds this view while it runs: stopAnimation lets it go.
  timer_ = NSTimer::scheduledTimerWithTimeInterval_target_selector_userInfo_repeats(0.1, this, &NSProgressIndicator::Tick,
                                                                                    nullptr, YES);
  timer_->retain();
  setNeedsDisplay(YES);
}

void NSProgressIndicator::stopAnimation(id) {
  if (!animating_) return;
  animating_ = false;
  timer_->invalidate();
  timer_->release();
  timer_ = nullptr;
  setNeedsDisplay(YES);
}

void NSProgressIndicator::Tick(NSTimer*) {
  phase_ = (phase_ + 1) % 12;
  setNeedsDisplay(YES);
}

void NSProgressIndicator::setIndeterminate(BOOL indeterminate) {
  indeterminate_ = indeterminate;
  setNeedsDisplay(YES);
}

void NSProgressIndicator::setDoubleValue(double value) {
  value_ = std::clamp(value, min_, max_);
  setNeedsDisplay(YES);
}

void NSProgressIndicator::setDisplayedWhenStopped(BOOL displayed) {
  displayedWhenStopped_ = displayed;
  setNeedsDisplay(YES);
}

void NSProgressIndicator::drawRect(NSRect) {
  if (!animating_ && !displayedWhenStopped_ && indeterminate_) return;
  const NSRect box = bounds();
  if (style_ == NSProgressIndicatorSpinningStyle) {
    // Twelve spokes, the one of the phase darkest.
    const CGFloat r = std::min(box.size.width, box.size.height) / 2;
    for (int i = 0; i < 12; ++i) {
      const double angle = i * 3.14159265 / 6;
      const int shade = animating_ ? 0x40 + ((i - phase_ + 12) % 12) * 0x10 : 0xB0;
      Current()->stroke = Argb(shade, shade, shade);
      Current()->fill = Current()->stroke;
      NSBezierPath* spoke = NSBezierPath::bezierPath();
      spoke->setLineWidth(2);
      spoke->moveToPoint(NSMakePoint(NSMidX(box) + static_cast<CGFloat>(r * 0.45 * std::cos(angle)),
                                     NSMidY(box) + static_cast<CGFloat>(r * 0.45 * std::sin(angle))));
      spoke->lineToPoint(NSMakePoint(NSMidX(box) + static_cast<CGFloat>(r * 0.9 * std::cos(angle)),
                                     NSMidY(box) + static_cast<CGFloat>(r * 0.9 * std::sin(angle))));
      spoke->stroke();
    }
    return;
  }
  const NSRect bar = NSMakeRect(0, std::round(NSMidY(box) - 6), box.size.width, 12);
  RoundedBox(bar, 5, Argb(0xE6, 0xE6, 0xE6), kControlBorder);
  if (indeterminate_) {
    if (!animating_) return;
    // Stripes moving with the phase.
    DrawState saved = *Current();
    NSRectClip(NSInsetRect(bar, 1, 1));
    for (CGFloat x = -24 + phase_ * 2; x < bar.size.width; x += 24)
      PaintRect(NSMakeRect(x, bar.origin.y, 12, bar.size.height), kSelectionColour);
    *Current() = saved;
    return;
  }
  const double share = max_ > min_ ? (value_ - min_) / (max_ - min_) : 0;
  if (share > 0)
    RoundedBox(NSMakeRect(0, bar.origin.y, static_cast<CGFloat>(bar.size.width * share), bar.size.height), 5,
               kSelectionColour, kSelectionColour);
}
