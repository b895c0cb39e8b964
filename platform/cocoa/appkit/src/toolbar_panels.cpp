// Toolbars, alert panels, and the save and open panels.
#include <cmath>
#include <future>

#include "appkit_internal.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

namespace {

constexpr CGFloat kItemWidth = 72, kSeparatorWidth = 12;

NSString* Constant(const char* text) { return static_cast<NSString*>(alloc<NSString>()->initWithUTF8String(text)); }

bool IsSeparator(NSString* id) {
  return id && (id->isEqualToString(NSToolbarSeparatorItemIdentifier) || id->isEqualToString(NSToolbarSpaceItemIdentifier) ||
                id->isEqualToString(NSToolbarFlexibleSpaceItemIdentifier));
}

}  // namespace

NSString* const NSToolbarSeparatorItemIdentifier = Constant("NSToolbarSeparatorItem");
NSString* const NSToolbarSpaceItemIdentifier = Constant("NSToolbarSpaceItem");
NSString* const NSToolbarFlexibleSpaceItemIdentifier = Constant("NSToolbarFlexibleSpaceItem");
NSString* const NSToolbarShowColorsItemIdentifier = Constant("NSToolbarShowColorsItem");

// ---- NSToolbarItem

NSToolbarItem* NSToolbarItem::initWithItemIdentifier(NSString* identifier) {
  identifier_ = Copy(identifier);
  label_ = Copy(nullptr);
  paletteLabel_ = Copy(nullptr);
  return this;
}

void NSToolbarItem::setLabel(NSString* label) {
  NSString* copy = Copy(label);
  label_->release();
  label_ = copy;
}

void NSToolbarItem::setPaletteLabel(NSString* label) {
  NSString* copy = Copy(label);
  paletteLabel_->release();
  paletteLabel_ = copy;
}

void NSToolbarItem::setImage(NSImage* image) { Assign(image_, image); }

void NSToolbarItem::validate() {
  if (auto* validator = dynamic_cast<NSToolbarItemValidation*>(target_)) enabled_ = validator->validateToolbarItem(this);
}

void NSToolbarItem::dealloc() {
  if (identifier_) identifier_->release();
  if (label_) label_->release();
  if (paletteLabel_) paletteLabel_->release();
  if (image_) image_->release();
  NSObject::dealloc();
}

// ---- NSToolbar

NSToolbar* NSToolbar::initWithIdentifier(NSString* identifier) {
  identifier_ = Copy(identifier);
  return this;
}

void NSToolbar::dealloc() {
  for (NSToolbarItem* item : items_) item->release();
  items_.clear();
  if (identifier_) identifier_->release();
  NSObject::dealloc();
}

void NSToolbar::MakeItems() {
  if (made_ || !delegate_) return;
  made_ = true;
  NSArray* identifiers = delegate_->toolbarDefaultItemIdentifiers(this);
  for (NSUInteger i = 0; identifiers && i < identifiers->count(); ++i) {
    auto* identifier = dynamic_cast<NSString*>(identifiers->objectAtIndex(i));
    if (!identifier) continue;
    NSToolbarItem* item = nullptr;
    if (IsSeparator(identifier)) {
      item = alloc<NSToolbarItem>()->initWithItemIdentifier(identifier);
    } else if (identifier->isEqualToString(NSToolbarShowColorsItemIdentifier)) {
      // A standard item: the toolbar makes it itself.
      item = alloc<NSToolbarItem>()->initWithItemIdentifier(identifier);
      item->setLabel(NSString::stringWithUTF8String("Colors"));
      item->setImage(NSImage::imageNamed(NSString::stringWithUTF8String("NSColorPanel")));
      item->setTarget(NSApp);
      item->setAction(selector(&NSApplication::orderFrontColorPanel));
    } else {
      item = delegate_->toolbar_itemForItemIdentifier_willBeInsertedIntoToolbar(this, identifier, YES);
      if (!item) continue;
      item->retain();
    }
    items_.push_back(item);
  }
}

NSArray* NSToolbar::items() {
  MakeItems();
  NSMutableArray* list = NSMutableArray::array();
  for (NSToolbarItem* item : items_) list->addObject(item);
  return list;
}

void NSToolbar::validateVisibleItems() {
  MakeItems();
  for (NSToolbarItem* item : items_) item->validate();
}

NSRect NSToolbar::ItemRect(size_t index, CGFloat) const {
  CGFloat x = 8;
  for (size_t i = 0; i < index; ++i) x += IsSeparator(items_[i]->itemIdentifier()) ? kSeparatorWidth : kItemWidth;
  const CGFloat width = IsSeparator(items_[index]->itemIdentifier()) ? kSeparatorWidth : kItemWidth;
  return NSMakeRect(x, 0, width, kHeight);
}

void NSToolbar::Draw(NSRect area) {
  MakeItems();
  // Below the title bar in the same grey, a line under it; each item its picture over its label.
  PaintRect(area, Argb(0xE4, 0xE4, 0xE4), true);
  PaintRect(NSMakeRect(area.origin.x, area.origin.y, area.size.width, 1), Argb(0xA8, 0xA8, 0xA8), true);
  for (size_t i = 0; i < items_.size(); ++i) {
    NSToolbarItem* item = items_[i];
    NSRect r = ItemRect(i, area.size.width);
    r.origin.y += area.origin.y;
    if (item->itemIdentifier()->isEqualToString(NSToolbarSeparatorItemIdentifier)) {
      PaintRect(NSMakeRect(NSMidX(r), r.origin.y + 8, 1, r.size.height - 16), Argb(0xB0, 0xB0, 0xB0));
      continue;
    }
    if (IsSeparator(item->itemIdentifier())) continue;
    const bool enabled = item->isEnabled();
    if (NSImage* image = item->image())
      image->drawInRect_fromRect_operation_fraction(NSMakeRect(NSMidX(r) - 16, NSMaxY(r) - 36, 32, 32), NSZeroRect,
                                                    NSCompositeSourceOver, enabled ? 1 : 0.3f);
    TextInRect(item->label()->str(), *SystemFont(11), NSMakeRect(r.origin.x, r.origin.y + 3, r.size.width, 14),
               enabled ? Argb(0x20, 0x20, 0x20) : Argb(0xA8, 0xA8, 0xA8), Align::kCenter);
  }
}

bool NSToolbar::Click(NSPoint inBar, CGFloat width) {
  MakeItems();
  for (size_t i = 0; i < items_.size(); ++i) {
    if (!NSPointInRect(inBar, ItemRect(i, width))) continue;
    NSToolbarItem* item = items_[i];
    if (IsSeparator(item->itemIdentifier())) return false;
    item->validate();  // an item validated off takes no click
    if (!item->isEnabled()) return false;
    item->retain();
    item->action().Send(item->target(), item);
    item->release();
    return true;
  }
  return false;
}

// ---- alert panels

namespace {

class AlertPanel : public NSWindow {
 public:
  NSButton* defaultButton = nullptr;
  std::string Role() const override { return "dialog"; }
  void keyDown(NSEvent* event) override {
    const std::string key = event->characters() ? event->characters()->str() : "";
    if (key == std::string(1, kNSReturnCharacter) && defaultButton) defaultButton->performClick(this);
  }
  void Clicked(NSButton* button) { NSApp->stopModalWithCode(button->tag()); }
};

// A "!" in a rounded square of our own drawing.
class AlertIcon : public NSView {
 public:
  void drawRect(NSRect) override {
    Current()->fill = Argb(0xF5, 0xB0, 0x2E);
    NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(bounds(), 10, 10)->fill();
    TextInRect("!", *SystemFont(36, true), bounds(), Argb(0xFF, 0xFF, 0xFF), Align::kCenter);
  }
};

NSInteger RunAlert(const std::string& title, const std::string& message, const std::string& first,
                   const std::string& second, const std::string& third) {
  auto font = SystemFont(12);
  std::vector<std::string> lines(1);
  for (char c : message) {
    if (c == '\n') lines.emplace_back();
    else lines.back() += c;
  }
  const CGFloat lineHeight = static_cast<CGFloat>(font->metrics().height);
  const CGFloat textHeight = std::max<CGFloat>(40, lineHeight * static_cast<CGFloat>(lines.size()) + 24);
  const CGFloat width = 420, height = textHeight + 60;
  auto* panel = static_cast<AlertPanel*>(alloc<AlertPanel>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(0, 0, width, height), NSTitledWindowMask, NSBackingStoreBuffered, NO));
  panel->setReleasedWhenClosed(NO);
  panel->setTitle(NSString::stringWithStd(title));
  panel->setLevel(NSModalPanelWindowLevel);
  panel->center();
  NSView* content = panel->contentView();
  NSView* icon = alloc<AlertIcon>()->initWithFrame(NSMakeRect(20, height - 68, 48, 48));
  content->addSubview(icon);
  icon->release();
  NSTextField* heading = alloc<NSTextField>()->initWithFrame(NSMakeRect(84, height - 40, width - 100, 20));
  heading->setEditable(NO);
  heading->setBezeled(NO);
  heading->setFont(NSFont::boldSystemFontOfSize(13));
  heading->setStringValue(NSString::stringWithStd(title));
  content->addSubview(heading);
  heading->release();
  NSTextView* text = alloc<NSTextView>()->initWithFrame(NSMakeRect(84, 54, width - 100, textHeight - 24));
  text->setEditable(NO);
  text->setString(NSString::stringWithStd(message));
  text->setFont(NSFont::systemFontOfSize(12));
  content->addSubview(text);
  text->release();
  // Right to left: the default button, the alternate, then the other one at the left.
  const std::string titles[3] = {first.empty() ? "OK" : first, second, third};
  const NSInteger codes[3] = {NSAlertDefaultReturn, NSAlertAlternateReturn, NSAlertOtherReturn};
  CGFloat right = width - 16;
  for (int i = 0; i < 3; ++i) {
    if (titles[i].empty()) continue;
    const CGFloat w = std::max<CGFloat>(80, static_cast<CGFloat>(SystemFont(13)->Measure(ToCodePage(titles[i])) + 28));
    const NSRect frame = i == 2 ? NSMakeRect(16, 12, w, 28) : NSMakeRect(right - w, 12, w, 28);
    if (i != 2) right -= w + 10;
    NSButton* button = alloc<NSButton>()->initWithFrame(frame);
    button->setTitle(NSString::stringWithStd(titles[i]));
    button->setTag(codes[i]);
    button->setTarget(panel);
    button->setAction(selector(&AlertPanel::Clicked));
    if (i == 0) {
      button->setKeyEquivalent(NSString::stringWithUTF8String("\r"));
      panel->defaultButton = button;
    }
    content->addSubview(button);
    button->release();
  }
  const NSInteger answer = NSApp->runModalForWindow(panel);
  panel->orderOut(nullptr);
  panel->release();
  return answer;
}

std::string TextOf(NSString* text) { return text ? text->str() : ""; }

}  // namespace

NSInteger NSRunAlertPanel(NSString* title, NSString* message, NSString* defaultButton, NSString* alternateButton,
                          NSString* otherButton, ...) {
  va_list args;
  va_start(args, otherButton);
  const std::string text = message ? cocoa::FormatV(message->UTF8String(), args) : "";
  va_end(args);
  const std::string heading = TextOf(title), first = TextOf(defaultButton), second = TextOf(alternateButton),
                    third = TextOf(otherButton);
  NSApplication::sharedApplication();
  if (NSThread::isMainThread_class()) return RunAlert(heading, text, first, second, third);
  // A worker's alert is shown and answered on the main thread; the worker waits for the answer.
  std::promise<NSInteger> answer;
  std::future<NSInteger> answered = answer.get_future();
  NSRunLoop::mainRunLoop()->Enqueue([&] { answer.set_value(RunAlert(heading, text, first, second, third)); }, 0);
  return answered.get();
}

// ---- save and open panels

namespace {

appkit::PanelSink& Sink() {
  static auto* sink = new appkit::PanelSink;
  return *sink;
}

class PanelResponder : public NSObject {
 public:
  void Ok(NSButton*) { NSApp->stopModalWithCode(NSFileHandlingPanelOKButton); }
  void Cancel(NSButton*) { NSApp->stopModalWithCode(NSFileHandlingPanelCancelButton); }
};

}  // namespace

void appkit::SetPanelSink(PanelSink sink) { Sink() = std::move(sink); }

NSSavePanel* NSSavePanel::savePanel() {
  auto* panel = static_cast<NSSavePanel*>(alloc<NSSavePanel>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(0, 0, 460, 120), NSTitledWindowMask, NSBackingStoreBuffered, NO));
  panel->setReleasedWhenClosed(NO);
  panel->setTitle(NSString::stringWithUTF8String("Save"));
  return static_cast<NSSavePanel*>(panel->autorelease());
}

NSOpenPanel* NSOpenPanel::openPanel() {
  auto* panel = static_cast<NSOpenPanel*>(alloc<NSOpenPanel>()->initWithContentRect_styleMask_backing_defer(
      NSMakeRect(0, 0, 460, 120), NSTitledWindowMask, NSBackingStoreBuffered, NO));
  panel->setReleasedWhenClosed(NO);
  panel->setTitle(NSString::stringWithUTF8String("Open"));
  return static_cast<NSOpenPanel*>(panel->autorelease());
}

void NSSavePanel::dealloc() {
  if (filename_) filename_->release();
  if (directory_) directory_->release();
  NSWindow::dealloc();
}

void NSSavePanel::setAllowedFileTypes(NSArray* types) {
  types_.clear();
  for (NSUInteger i = 0; types && i < types->count(); ++i)
    if (auto* type = dynamic_cast<NSString*>(types->objectAtIndex(i))) types_.push_back(type->str());
}

void NSSavePanel::setRequiredFileType(NSString* type) {
  types_.clear();
  if (type && type->length()) types_.push_back(type->str());
}

void NSSavePanel::setDirectory(NSString* path) {
  NSString* copy = Copy(path);
  if (directory_) directory_->release();
  directory_ = copy;
}

NSInteger NSSavePanel::runModal() { return Run(directory_, nullptr, false); }

NSInteger NSSavePanel::runModalForDirectory_file(NSString* directory, NSString* file) {
  return Run(directory, file, false);
}

NSInteger NSOpenPanel::runModalForDirectory_file_types(NSString* directory, NSString* file, NSArray* types) {
  if (types) setAllowedFileTypes(types);
  return Run(directory, file, true);
}

NSArray* NSOpenPanel::filenames() const {
  NSMutableArray* list = NSMutableArray::array();
  if (filename_) list->addObject(filename_);
  return list;
}

NSInteger NSSavePanel::Run(NSString* directory, NSString* file, bool opening) {
  std::string folder = directory ? directory->str() : "/Users/Shared";
  std::string path = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + (file ? file->str() : "");
  bool chosen = false;
  if (Sink()) {
    chosen = Sink()(opening, title() ? title()->str() : "", path);
  } else if (DisplayRunning()) {
    // The path to the file in a field, with OK and Cancel.
    NSView* content = contentView();
    NSTextField* label = alloc<NSTextField>()->initWithFrame(NSMakeRect(16, 76, 428, 18));
    label->setEditable(NO);
    label->setBezeled(NO);
    label->setStringValue(NSString::stringWithUTF8String(opening ? "Open the file:" : "Save as:"));
    content->addSubview(label);
    label->release();
    NSTextField* field = alloc<NSTextField>()->initWithFrame(NSMakeRect(16, 50, 428, 22));
    field->setStringValue(NSString::stringWithStd(path));
    content->addSubview(field);
    field->release();
    auto* responder = alloc<PanelResponder>();
    NSButton* ok = alloc<NSButton>()->initWithFrame(NSMakeRect(354, 10, 90, 28));
    ok->setTitle(NSString::stringWithUTF8String(opening ? "Open" : "Save"));
    ok->setKeyEquivalent(NSString::stringWithUTF8String("\r"));
    ok->setTarget(responder);
    ok->setAction(selector(&PanelResponder::Ok));
    NSButton* cancel = alloc<NSButton>()->initWithFrame(NSMakeRect(254, 10, 90, 28));
    cancel->setTitle(NSString::stringWithUTF8String("Cancel"));
    cancel->setTarget(responder);
    cancel->setAction(selector(&PanelResponder::Cancel));
    field->setTarget(responder);
    field->setAction(selector(&PanelResponder::Ok));
    content->addSubview(ok);
    content->addSubview(cancel);
    ok->release();
    cancel->release();
    center();
    makeFirstResponder(field);
    chosen = NSApp->runModalForWindow(this) == NSFileHandlingPanelOKButton;
    path = field->stringValue()->str();
    orderOut(nullptr);
    responder->release();
  }
  if (!chosen || path.empty() || path.back() == '/') return NSFileHandlingPanelCancelButton;
  if (!types_.empty() && !opening) {
    // A required type is added to a name without it.
    bool typed = false;
    for (const std::string& type : types_)
      typed |= path.size() > type.size() + 1 && path.compare(path.size() - type.size() - 1, std::string::npos, "." + type) == 0;
    if (!typed) path += "." + types_.front();
  }
  if (filename_) filename_->release();
  filename_ = static_cast<NSString*>(alloc<NSString>()->initWithUTF8String(path.c_str()));
  return NSFileHandlingPanelOKButton;
}
