// NSColor, NSFont, attributed strings and the drawing of text.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>

#include "appkit_internal.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

// ---- NSColor

NSColor* NSColor::Make(CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  NSColor* colour = alloc<NSColor>();
  auto clamp = [](CGFloat v) { return std::clamp<CGFloat>(v, 0, 1); };
  colour->r_ = clamp(r);
  colour->g_ = clamp(g);
  colour->b_ = clamp(b);
  colour->a_ = clamp(a);
  return static_cast<NSColor*>(colour->autorelease());
}

NSColor* NSColor::colorWithCalibratedRed_green_blue_alpha(CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  return Make(r, g, b, a);
}
NSColor* NSColor::colorWithDeviceRed_green_blue_alpha(CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  return Make(r, g, b, a);
}
NSColor* NSColor::colorWithCalibratedWhite_alpha(CGFloat white, CGFloat a) { return Make(white, white, white, a); }

NSColor* NSColor::colorWithDeviceCyan_magenta_yellow_black_alpha(CGFloat c, CGFloat m, CGFloat y, CGFloat k,
                                                                 CGFloat a) {
  auto unit = [](CGFloat v) { return std::clamp<CGFloat>(v, 0, 1); };
  const CGFloat white = 1 - unit(k);
  return Make((1 - unit(c)) * white, (1 - unit(m)) * white, (1 - unit(y)) * white, a);
}

NSColor* NSColor::clearColor() { return Make(0, 0, 0, 0); }
NSColor* NSColor::blackColor() { return Make(0, 0, 0, 1); }
NSColor* NSColor::whiteColor() { return Make(1, 1, 1, 1); }
NSColor* NSColor::grayColor() { return Make(0.5f, 0.5f, 0.5f, 1); }
NSColor* NSColor::lightGrayColor() { return Make(2 / 3.0f, 2 / 3.0f, 2 / 3.0f, 1); }
NSColor* NSColor::darkGrayColor() { return Make(1 / 3.0f, 1 / 3.0f, 1 / 3.0f, 1); }
NSColor* NSColor::redColor() { return Make(1, 0, 0, 1); }
NSColor* NSColor::greenColor() { return Make(0, 1, 0, 1); }
NSColor* NSColor::blueColor() { return Make(0, 0, 1, 1); }
NSColor* NSColor::yellowColor() { return Make(1, 1, 0, 1); }
NSColor* NSColor::orangeColor() { return Make(1, 0.5f, 0, 1); }
NSColor* NSColor::controlColor() { return Make(0.93f, 0.93f, 0.93f, 1); }
NSColor* NSColor::controlTextColor() { return Make(0, 0, 0, 1); }
NSColor* NSColor::disabledControlTextColor() { return Make(0.6f, 0.6f, 0.6f, 1); }
NSColor* NSColor::windowBackgroundColor() { return Make(0.93f, 0.93f, 0.93f, 1); }
NSColor* NSColor::textBackgroundColor() { return Make(1, 1, 1, 1); }
NSColor* NSColor::selectedTextBackgroundColor() { return Make(0.71f, 0.84f, 1, 1); }
NSColor* NSColor::alternateSelectedControlColor() { return Make(0.22f, 0.46f, 0.84f, 1); }
NSColor* NSColor::gridColor() { return Make(0.8f, 0.8f, 0.8f, 1); }

NSColor* NSColor::colorWithAlphaComponent(CGFloat alpha) const { return Make(r_, g_, b_, alpha); }

uint32_t NSColor::Pixel() const {
  auto byte = [](CGFloat v) { return static_cast<int>(std::lround(v * 255)); };
  return Argb(byte(r_), byte(g_), byte(b_), byte(a_));
}

void NSColor::set() {
  if (DrawState* s = Current()) s->fill = s->stroke = Pixel();
}
void NSColor::setFill() {
  if (DrawState* s = Current()) s->fill = Pixel();
}
void NSColor::setStroke() {
  if (DrawState* s = Current()) s->stroke = Pixel();
}

bool NSColor::isEqual(NSObject* other) {
  auto* colour = dynamic_cast<NSColor*>(other);
  return colour && colour->Pixel() == Pixel();
}

// ---- NSFont

NSFont* NSFont::Make(const char* name, CGFloat size, bool bold) {
  NSFont* font = alloc<NSFont>();
  font->name_ = static_cast<NSString*>(alloc<NSString>()->initWithUTF8String(name));
  font->size_ = size > 0 ? size : 13;
  font->bold_ = bold;
  return static_cast<NSFont*>(font->autorelease());
}

NSFont* NSFont::fontWithName_size(NSString* name, CGFloat size) {
  const std::string text = name ? name->str() : "Lucida Grande";
  return Make(text.c_str(), size, text.find("Bold") != std::string::npos);
}
NSFont* NSFont::systemFontOfSize(CGFloat size) { return Make("Lucida Grande", size ? size : 13, false); }
NSFont* NSFont::boldSystemFontOfSize(CGFloat size) { return Make("Lucida Grande Bold", size ? size : 13, true); }
NSFont* NSFont::userFontOfSize(CGFloat size) { return Make("Helvetica", size ? size : 12, false); }
NSFont* NSFont::labelFontOfSize(CGFloat size) { return Make("Lucida Grande", size ? size : 10, false); }

void NSFont::dealloc() {
  if (name_) name_->release();
  NSObject::dealloc();
}

CGFloat NSFont::ascender() const { return static_cast<CGFloat>(FontFor(this)->metrics().ascent); }
CGFloat NSFont::descender() const { return -static_cast<CGFloat>(FontFor(this)->metrics().descent); }
CGFloat NSFont::defaultLineHeightForFont() const { return static_cast<CGFloat>(FontFor(this)->metrics().height); }
CGFloat NSFont::Width(const std::string& utf8) const {
  return static_cast<CGFloat>(FontFor(this)->Measure(ToCodePage(utf8)));
}

namespace appkit::detail {

std::shared_ptr<draw::Font> FontFor(const NSFont* font) {
  if (!font) return SystemFont();
  // The drawing layer maps face names onto the DejaVu files (serif, fixed or sans).
  static std::mutex lock;
  static auto* fonts = new std::map<std::tuple<std::string, int, bool>, std::shared_ptr<draw::Font>>;
  const std::string name = font->fontName() ? font->fontName()->str() : "";
  const int pixels = std::max(1, static_cast<int>(std::lround(font->pointSize())));
  std::lock_guard guard(lock);
  auto& cached = (*fonts)[{name, pixels, font->bold()}];
  if (!cached) {
    std::string face = name;
    if (auto dash = face.find('-'); dash != std::string::npos) face.resize(dash);
    if (auto bold = face.find(" Bold"); bold != std::string::npos) face.resize(bold);
    if (face == "Lucida Grande" || face == "Helvetica" || face.empty()) face = "DejaVu Sans";
    cached = draw::Font::Open({.face = face, .height = -pixels, .weight = font->bold() ? 700 : 400});
  }
  return cached;
}

}  // namespace appkit::detail

// ---- text drawing

NSString* const NSFontAttributeName = static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSFont"));
NSString* const NSForegroundColorAttributeName =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSColor"));
NSString* const NSBackgroundColorAttributeName =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSBackgroundColor"));

namespace {

// The font and colours a run of text is drawn in (12-point sans unless the attributes say).
struct Look {
  std::shared_ptr<draw::Font> font;
  uint32_t colour = Argb(0, 0, 0);
  uint32_t background = 0;
};

Look LookOf(NSDictionary* attributes) {
  Look look;
  NSFont* font = attributes ? dynamic_cast<NSFont*>(attributes->objectForKey(NSFontAttributeName)) : nullptr;
  look.font = font ? FontFor(font) : SystemFont(12);
  if (auto* colour = attributes ? dynamic_cast<NSColor*>(attributes->objectForKey(NSForegroundColorAttributeName)) : nullptr)
    look.colour = colour->Pixel();
  if (auto* colour = attributes ? dynamic_cast<NSColor*>(attributes->objectForKey(NSBackgroundColorAttributeName)) : nullptr)
    look.background = colour->Pixel();
  return look;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') lines.emplace_back();
    else if (c != '\r') lines.back() += c;
  }
  return lines;
}

// One stretch of text in one look.
struct Piece {
  std::string text;
  Look look;
};

NSSize SizeOfPieces(const std::vector<Piece>& pieces) {
  NSSize size{};
  CGFloat lineWidth = 0, lineHeight = 0;
  for (const Piece& piece : pieces) {
    auto lines = Lines(piece.text);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) {
        size.width = std::max(size.width, lineWidth);
        size.height += lineHeight;
        lineWidth = 0;
      }
      lineWidth += static_cast<CGFloat>(piece.look.font->Measure(ToCodePage(lines[i])));
      lineHeight = std::max(lineHeight, static_cast<CGFloat>(piece.look.font->metrics().height));
    }
  }
  size.width = std::max(size.width, lineWidth);
  size.height += lineHeight;
  return size;
}

// Draws the pieces with the top-left of their box at the pixel, one line under the other.
void PaintPieces(const std::vector<Piece>& pieces, draw::Point topLeft) {
  int ascent = 0, height = 0;
  for (const Piece& piece : pieces) {
    ascent = std::max(ascent, piece.look.font->metrics().ascent);
    height = std::max(height, piece.look.font->metrics().height);
  }
  int x = topLeft.x, y = topLeft.y;
  for (const Piece& piece : pieces) {
    auto lines = Lines(piece.text);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) {
        x = topLeft.x;
        y += height;
      }
      const std::string text = ToCodePage(lines[i]);
      const int width = piece.look.font->Measure(text);
      if (piece.look.background >> 24) {
        PaintRegion(draw::Region(draw::Rect{x, y, x + width, y + height}), piece.look.background);
      }
      PaintText(lines[i], *piece.look.font, {x, y + ascent - piece.look.font->metrics().ascent}, piece.look.colour);
      x += width;
    }
  }
}

// Where a box of the size whose origin is `at` begins in pixels: its top-left.
draw::Point BoxTopLeft(const DrawState& state, NSPoint at, NSSize size) {
  draw::Point p = ToPixel(state, at);
  if (!state.flipped) p.y -= static_cast<int>(std::lround(size.height));
  return p;
}

}  // namespace

namespace appkit {

NSSize SizeOfString(NSString* text, NSDictionary* attributes) {
  return SizeOfPieces({{text ? text->str() : "", LookOf(attributes)}});
}

void DrawString(NSString* text, NSPoint at, NSDictionary* attributes) {
  DrawState* s = Current();
  if (!s || !text) return;
  std::vector<Piece> pieces{{text->str(), LookOf(attributes)}};
  PaintPieces(pieces, BoxTopLeft(*s, at, SizeOfPieces(pieces)));
}

void DrawStringInRect(NSString* text, NSRect rect, NSDictionary* attributes) {
  DrawState* s = Current();
  if (!s || !text) return;
  const draw::Rect box = ToPixels(*s, rect);
  NSGraphicsContext::saveGraphicsState_class();
  Current()->clip = s->clip.clipped(box);
  PaintPieces({{text->str(), LookOf(attributes)}}, {box.left, box.top});
  NSGraphicsContext::restoreGraphicsState_class();
}

}  // namespace appkit

// ---- NSAttributedString

void NSAttributedString::Reset(NSString* text, NSDictionary* attributes) {
  for (Run& run : runs_) run.attributes->release();
  runs_.clear();
  if (text_) text_->release();
  text_ = static_cast<NSString*>(alloc<NSString>()->initWithString(text ? text : NSString::string()));
  Run run{0, text_->length(), alloc<NSMutableDictionary>()};
  if (attributes) run.attributes->addEntriesFromDictionary(attributes);
  runs_.push_back(run);
}

NSAttributedString* NSAttributedString::initWithString(NSString* text) {
  Reset(text, nullptr);
  return this;
}

NSAttributedString* NSAttributedString::initWithString_attributes(NSString* text, NSDictionary* attributes) {
  Reset(text, attributes);
  return this;
}

void NSAttributedString::dealloc() {
  for (Run& run : runs_) run.attributes->release();
  runs_.clear();
  if (text_) text_->release();
  NSObject::dealloc();
}

NSDictionary* NSAttributedString::attributesAtIndex_effectiveRange(NSUInteger index, NSRange* range) const {
  for (const Run& run : runs_) {
    if (index >= run.start && index < run.start + run.length) {
      if (range) *range = NSMakeRange(run.start, run.length);
      NSMutableDictionary* copy = NSMutableDictionary::dictionaryWithDictionary(run.attributes);
      return copy;
    }
  }
  throw NSException("NSRangeException", "attribute index beyond the text");
}

namespace {

template <class Runs>
std::vector<Piece> PiecesOf(const std::string& text, const Runs& runs) {
  std::vector<Piece> pieces;
  for (const auto& run : runs)
    if (run.length) pieces.push_back({text.substr(run.start, run.length), LookOf(run.attributes)});
  return pieces;
}

}  // namespace

NSSize NSAttributedString::size() const { return SizeOfPieces(PiecesOf(text_->str(), runs_)); }

void NSAttributedString::drawAtPoint(NSPoint point) const {
  DrawState* s = Current();
  if (!s) return;
  auto pieces = PiecesOf(text_->str(), runs_);
  PaintPieces(pieces, BoxTopLeft(*s, point, SizeOfPieces(pieces)));
}

void NSAttributedString::drawInRect(NSRect rect) const {
  DrawState* s = Current();
  if (!s) return;
  const draw::Rect box = ToPixels(*s, rect);
  NSGraphicsContext::saveGraphicsState_class();
  Current()->clip = s->clip.clipped(box);
  PaintPieces(PiecesOf(text_->str(), runs_), {box.left, box.top});
  NSGraphicsContext::restoreGraphicsState_class();
}

void NSMutableAttributedString::Split(NSUInteger at) {
  for (size_t i = 0; i < runs_.size(); ++i) {
    Run& run = runs_[i];
    if (at > run.start && at < run.start + run.length) {
      Run tail{at, run.start + run.length - at, NSMutableDictionary::dictionaryWithDictionary(run.attributes)};
      tail.attributes->retain();
      run.length = at - run.start;
      runs_.insert(runs_.begin() + static_cast<ptrdiff_t>(i) + 1, tail);
      return;
    }
  }
}

void NSMutableAttributedString::addAttribute_value_range(NSString* name, id value, NSRange range) {
  if (range.location + range.length > length())
    throw NSException("NSRangeException", "attribute range beyond the text");
  Split(range.location);
  Split(range.location + range.length);
  for (Run& run : runs_)
    if (run.start >= range.location && run.start + run.length <= range.location + range.length && run.length)
      run.attributes->setObject_forKey(value, name);
}

void NSMutableAttributedString::setAttributes_range(NSDictionary* attributes, NSRange range) {
  if (range.location + range.length > length())
    throw NSException("NSRangeException", "attribute range beyond the text");
  Split(range.location);
  Split(range.location + range.length);
  for (Run& run : runs_) {
    if (run.start >= range.location && run.start + run.length <= range.location + range.length && run.length) {
      run.attributes->removeAllObjects();
      if (attributes) run.attributes->addEntriesFromDictionary(attributes);
    }
  }
}

void NSMutableAttributedString::replaceCharactersInRange_withString(NSRange range, NSString* text) {
  if (range.location + range.length > length())
    throw NSException("NSRangeException", "replaced range beyond the text");
  // The new text takes the attributes of the first character replaced (or of the one before it).
  NSDictionary* look = length() ? attributesAtIndex_effectiveRange(range.location < length() ? range.location : length() - 1, nullptr) : nullptr;
  std::string updated = text_->str();
  updated.replace(range.location, range.length, text ? text->str() : "");
  std::vector<Run> kept;
  const NSUInteger added = text ? text->length() : 0;
  Split(range.location);
  Split(range.location + range.length);
  for (Run& run : runs_) {
    if (run.start >= range.location && run.start + run.length <= range.location + range.length) {
      run.attributes->release();
      continue;
    }
    if (run.start >= range.location + range.length) run.start = run.start - range.length + added;
    kept.push_back(run);
  }
  if (added) {
    Run fresh{range.location, added, alloc<NSMutableDictionary>()};
    if (look) fresh.attributes->addEntriesFromDictionary(look);
    auto at = std::find_if(kept.begin(), kept.end(), [&](const Run& r) { return r.start > range.location; });
    kept.insert(at, fresh);
  }
  runs_ = std::move(kept);
  text_->release();
  text_ = static_cast<NSString*>(alloc<NSString>()->initWithUTF8String(updated.c_str()));
}
