// Scroll views, table views and outline views.
#include <cmath>

#include "appkit_internal.h"

namespace draw = tavrin::draw;
using namespace appkit::detail;

namespace {

constexpr CGFloat kScrollerWidth = 15;

// The scroll view's clip: flipped, so that the document's top stays at the top.
class ClipView : public NSView {
 public:
  BOOL isFlipped() const override { return YES; }
  const char* className() const override { return "NSClipView"; }
};

NSScrollView* EnclosingScrollView(const NSView* view) {
  NSView* clip = view->superview();
  return clip ? dynamic_cast<NSScrollView*>(clip->superview()) : nullptr;
}

}  // namespace

// ---- NSScrollView

NSScrollView* NSScrollView::initWithFrame(NSRect frame) {
  NSView::initWithFrame(frame);
  clip_ = alloc<ClipView>()->initWithFrame(NSZeroRect);
  addSubview(clip_);
  clip_->release();  // held as a subview
  tile();
  return this;
}

void NSScrollView::dealloc() {
  if (document_) document_->release();
  NSView::dealloc();
}

NSSize NSScrollView::contentSize() const {
  return NSMakeSize(std::max<CGFloat>(0, frame().size.width - (vertical_ ? kScrollerWidth : 0)), frame().size.height);
}

void NSScrollView::tile() {
  const NSSize size = contentSize();
  clip_->setFrame(NSMakeRect(0, 0, size.width, size.height));
  if (document_) {
    // A document narrower than the clip is widened to it.
    NSRect f = document_->frame();
    if (f.size.width < size.width) f.size.width = size.width;
    const CGFloat most = std::max<CGFloat>(0, f.size.height - size.height);
    offset_.y = std::clamp<CGFloat>(offset_.y, 0, most);
    f.origin = NSMakePoint(0, -offset_.y);
    document_->setFrame(f);
  }
  setNeedsDisplay(YES);
}

void NSScrollView::setDocumentView(NSView* view) {
  if (document_) {
    document_->removeFromSuperview();
    document_->release();
  }
  document_ = view;
  if (view) {
    view->retain();
    clip_->addSubview(view);
  }
  offset_ = NSZeroPoint;
  tile();
}

void NSScrollView::scrollToPoint(NSPoint offset) {
  offset_ = offset;
  tile();
}

void NSScrollView::scrollRectToVisible(NSRect r) {
  const CGFloat height = contentSize().height;
  NSPoint offset = offset_;
  if (NSMinY(r) < offset.y) offset.y = NSMinY(r);
  else if (NSMaxY(r) > offset.y + height) offset.y = NSMaxY(r) - height;
  scrollToPoint(offset);
}

NSRect NSScrollView::ScrollerRect() const {
  return NSMakeRect(frame().size.width - kScrollerWidth, 0, kScrollerWidth, frame().size.height);
}

NSRect NSScrollView::KnobRect() const {
  const NSRect track = ScrollerRect();
  const CGFloat documentHeight = document_ ? document_->frame().size.height : 0;
  if (documentHeight <= track.size.height) return NSZeroRect;
  const CGFloat length = std::max<CGFloat>(20, track.size.height * track.size.height / documentHeight);
  const CGFloat travel = track.size.height - length;
  const CGFloat share = offset_.y / (documentHeight - track.size.height);
  // The scroll view is unflipped: the knob's top is at the track's top when the offset is 0.
  return NSMakeRect(track.origin.x + 3, NSMaxY(track) - length - travel * share, kScrollerWidth - 6, length);
}

void NSScrollView::drawRect(NSRect) {
  PaintRect(bounds(), Argb(0xFF, 0xFF, 0xFF));
  if (!vertical_) return;
  const NSRect track = ScrollerRect();
  PaintRect(track, Argb(0xF2, 0xF2, 0xF2));
  PaintRect(NSMakeRect(track.origin.x, 0, 1, track.size.height), Argb(0xDD, 0xDD, 0xDD));
  const NSRect knob = KnobRect();
  if (NSIsEmptyRect(knob)) return;
  DrawState* s = Current();
  s->fill = Argb(0xA8, 0xA8, 0xA8);
  NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(knob, 4, 4)->fill();
}

void NSScrollView::mouseDown(NSEvent* event) {
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  if (!vertical_ || !NSPointInRect(at, ScrollerRect())) return;
  const NSRect knob = KnobRect();
  if (NSIsEmptyRect(knob)) return;
  if (NSPointInRect(at, knob)) {
    grabbedAt_ = at.y;
    return;
  }
  // Above the knob a page up, below it a page down.
  const CGFloat page = contentSize().height - 10;
  scrollToPoint(NSMakePoint(0, offset_.y + (at.y > NSMaxY(knob) ? -page : page)));
}

void NSScrollView::mouseDragged(NSEvent* event) {
  if (grabbedAt_ < 0 || !document_) return;
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  const NSRect track = ScrollerRect(), knob = KnobRect();
  const CGFloat travel = track.size.height - knob.size.height;
  if (travel <= 0) return;
  const CGFloat most = document_->frame().size.height - track.size.height;
  scrollToPoint(NSMakePoint(0, offset_.y + (grabbedAt_ - at.y) * most / travel));
  grabbedAt_ = at.y;
}

// ---- NSTableColumn

NSTableColumn* NSTableColumn::initWithIdentifier(id identifier) {
  setIdentifier(identifier);
  header_ = alloc<NSTextFieldCell>()->initTextCell(nullptr);
  dataCell_ = alloc<NSTextFieldCell>()->initTextCell(nullptr);
  return this;
}

void NSTableColumn::setIdentifier(id identifier) {
  if (identifier) identifier->retain();
  if (identifier_) identifier_->release();
  identifier_ = identifier;
}

void NSTableColumn::setDataCell(NSCell* cell) {
  if (cell) cell->retain();
  if (dataCell_) dataCell_->release();
  dataCell_ = cell;
}

void NSTableColumn::dealloc() {
  if (identifier_) identifier_->release();
  if (header_) header_->release();
  if (dataCell_) dataCell_->release();
  NSObject::dealloc();
}

// ---- NSTableView

NSString* const NSTableViewSelectionDidChangeNotification =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSTableViewSelectionDidChangeNotification"));
NSString* const NSOutlineViewSelectionDidChangeNotification =
    static_cast<NSString*>(alloc<NSString>()->initWithUTF8String("NSOutlineViewSelectionDidChangeNotification"));

NSTableView* NSTableView::initWithFrame(NSRect frame) {
  NSControl::initWithFrame(frame);
  return this;
}

void NSTableView::dealloc() {
  for (NSTableColumn* column : columns_) {
    column->SetTable(nullptr);
    column->release();
  }
  columns_.clear();
  NSControl::dealloc();
}

void NSTableView::addTableColumn(NSTableColumn* column) {
  if (!column) return;
  column->retain();
  column->SetTable(this);
  columns_.push_back(column);
  Resize();
}

void NSTableView::removeTableColumn(NSTableColumn* column) {
  auto it = std::find(columns_.begin(), columns_.end(), column);
  if (it == columns_.end()) return;
  columns_.erase(it);
  column->SetTable(nullptr);
  column->release();
  Resize();
}

NSArray* NSTableView::tableColumns() {
  NSMutableArray* list = NSMutableArray::array();
  for (NSTableColumn* column : columns_) list->addObject(column);
  return list;
}

NSInteger NSTableView::columnWithIdentifier(id identifier) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (identifier && columns_[i]->identifier() && columns_[i]->identifier()->isEqual(identifier)) return static_cast<NSInteger>(i);
  return -1;
}

NSTableColumn* NSTableView::tableColumnWithIdentifier(id identifier) const {
  const NSInteger at = columnWithIdentifier(identifier);
  return at < 0 ? nullptr : columns_[static_cast<size_t>(at)];
}

void NSTableView::setDataSource(NSTableViewDataSource* source) {
  tableSource_ = source;
  reloadData();
}

void NSTableView::setRowHeight(CGFloat height) {
  rowHeight_ = std::max<CGFloat>(1, height);
  Resize();
}

void NSTableView::setHeaderHidden(BOOL hidden) {
  headerHidden_ = hidden;
  Resize();
}

void NSTableView::reloadData() {
  rows_ = tableSource_ ? std::max<NSInteger>(0, tableSource_->numberOfRowsInTableView(this)) : 0;
  Resize();
}

void NSTableView::Resize() {
  const NSInteger rows = numberOfRows();
  if (selected_ >= rows) selectRow_byExtendingSelection(-1, NO);
  CGFloat width = 0;
  for (NSTableColumn* column : columns_) width += column->width();
  CGFloat height = HeaderHeight() + static_cast<CGFloat>(rows) * rowHeight_;
  if (NSScrollView* scroll = EnclosingScrollView(this)) {
    width = std::max(width, scroll->contentSize().width);
    height = std::max(height, scroll->contentSize().height);
    setFrameSize(NSMakeSize(width, height));
    scroll->tile();
  } else if (superview()) {
    setFrameSize(NSMakeSize(std::max(width, frame().size.width), std::max(height, frame().size.height)));
  }
  setNeedsDisplay(YES);
}

void NSTableView::selectRow_byExtendingSelection(NSInteger row, BOOL) {
  if (row < -1 || row >= numberOfRows()) return;
  if (row == selected_) return;
  selected_ = row;
  setNeedsDisplay(YES);
  retain();
  NSNotificationCenter::defaultCenter()->postNotificationName_object(SelectionNotification(), this);
  release();
}

void NSTableView::deselectAll(id) { selectRow_byExtendingSelection(-1, NO); }

NSRect NSTableView::rectOfRow(NSInteger row) const {
  return NSMakeRect(0, HeaderHeight() + static_cast<CGFloat>(row) * rowHeight_, frame().size.width, rowHeight_);
}

NSRect NSTableView::rectOfColumn(NSInteger column) const {
  CGFloat x = 0;
  for (NSInteger i = 0; i < column && i < numberOfColumns(); ++i) x += columns_[static_cast<size_t>(i)]->width();
  const CGFloat width = column >= 0 && column < numberOfColumns() ? columns_[static_cast<size_t>(column)]->width() : 0;
  return NSMakeRect(x, 0, width, frame().size.height);
}

NSInteger NSTableView::rowAtPoint(NSPoint point) const {
  if (point.y < HeaderHeight() || point.x < 0 || point.x >= frame().size.width) return -1;
  const NSInteger row = static_cast<NSInteger>(std::floor((point.y - HeaderHeight()) / rowHeight_));
  return row < numberOfRows() ? row : -1;
}

NSInteger NSTableView::columnAtPoint(NSPoint point) const {
  CGFloat x = 0;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (point.x >= x && point.x < x + columns_[i]->width()) return static_cast<NSInteger>(i);
    x += columns_[i]->width();
  }
  return -1;
}

void NSTableView::scrollRowToVisible(NSInteger row) {
  if (NSScrollView* scroll = EnclosingScrollView(this)) {
    NSRect r = rectOfRow(row);
    r.origin.y -= HeaderHeight();  // the header goes with the rows: keep it out of the sum
    r.origin.y += HeaderHeight();
    scroll->scrollRectToVisible(r);
  }
}

id NSTableView::ValueAt(NSTableColumn* column, NSInteger row) {
  return tableSource_ ? tableSource_->tableView_objectValueForTableColumn_row(this, column, row) : nullptr;
}

void NSTableView::drawRect(NSRect dirty) {
  PaintRect(bounds(), Argb(0xFF, 0xFF, 0xFF));
  const NSInteger rows = numberOfRows();
  // Only the rows in the dirty rectangle are asked for.
  const NSInteger first = std::max<NSInteger>(0, static_cast<NSInteger>((NSMinY(dirty) - HeaderHeight()) / rowHeight_));
  const NSInteger last = std::min<NSInteger>(rows - 1, static_cast<NSInteger>((NSMaxY(dirty) - HeaderHeight()) / rowHeight_));
  for (NSInteger row = first; row <= last; ++row) {
    const NSRect rowRect = rectOfRow(row);
    const bool selected = row == selected_;
    if (selected) PaintRect(rowRect, kSelectionColour);
    else if (alternating_ && row % 2) PaintRect(rowRect, Argb(0xF0, 0xF4, 0xFA));
    CGFloat x = 0;
    for (size_t c = 0; c < columns_.size(); ++c) {
      NSTableColumn* column = columns_[c];
      NSRect cellRect = NSMakeRect(x, rowRect.origin.y, column->width(), rowHeight_);
      x += column->width();
      if (c == 0) {
        const CGFloat indent = IndentOf(row);
        DrawDisclosure(row, NSMakeRect(cellRect.origin.x + indent - 14, cellRect.origin.y, 14, rowHeight_));
        cellRect.origin.x += indent;
        cellRect.size.width -= indent;
      }
      id value = ValueAt(column, row);
      if (!value) continue;
      NSGraphicsContext::saveGraphicsState_class();
      NSRectClip(cellRect);
      if (auto* image = dynamic_cast<NSImage*>(value)) {
        const NSSize size = image->size();
        const CGFloat scale = std::min<CGFloat>(1, std::min(cellRect.size.width / size.width, (rowHeight_ - 2) / size.height));
        const NSSize drawn = NSMakeSize(size.width * scale, size.height * scale);
        image->drawInRect_fromRect_operation_fraction(
            NSMakeRect(std::round(NSMidX(cellRect) - drawn.width / 2), std::round(NSMidY(cellRect) - drawn.height / 2),
                       drawn.width, drawn.height),
            NSZeroRect, NSCompositeSourceOver, 1);
      } else if (auto* cell = dynamic_cast<NSCell*>(value)) {
        cell->drawWithFrame_inView(cellRect, this);
      } else {
        auto* text = dynamic_cast<NSString*>(value);
        NSString* shown = text ? text : value->description();
        NSCell* look = column->dataCell();
        TextInRect(shown ? shown->str() : "", *FontFor(look ? look->font() : nullptr), NSInsetRect(cellRect, 3, 0),
                   selected ? Argb(0xFF, 0xFF, 0xFF) : Argb(0, 0, 0),
                   look && look->alignment() == NSCenterTextAlignment ? Align::kCenter
                   : look && look->alignment() == NSRightTextAlignment ? Align::kRight : Align::kLeft);
      }
      NSGraphicsContext::restoreGraphicsState_class();
    }
  }
  if (headerHidden_) return;
  // The header: column titles over a light band, lines between them.
  PaintRect(NSMakeRect(0, 0, frame().size.width, kHeaderHeight), Argb(0xF4, 0xF4, 0xF4));
  PaintRect(NSMakeRect(0, kHeaderHeight - 1, frame().size.width, 1), Argb(0xC8, 0xC8, 0xC8));
  CGFloat x = 0;
  for (NSTableColumn* column : columns_) {
    NSString* title = column->headerCell()->stringValue();
    TextInRect(title ? title->str() : "", *SystemFont(11), NSMakeRect(x + 4, 0, column->width() - 8, kHeaderHeight - 1),
               Argb(0x30, 0x30, 0x30));
    x += column->width();
    PaintRect(NSMakeRect(x - 1, 3, 1, kHeaderHeight - 6), Argb(0xC8, 0xC8, 0xC8));
  }
}

void NSTableView::TakeClick(NSEvent* event) {
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  clickedRow_ = rowAtPoint(at);
  clickedColumn_ = clickedRow_ >= 0 ? columnAtPoint(at) : -1;
}

void NSTableView::mouseDown(NSEvent* event) {
  TakeClick(event);
  const NSPoint at = convertPoint_fromView(event->locationInWindow(), nullptr);
  if (clickedRow_ >= 0 && ClickDisclosure(clickedRow_, at)) return;
  retain();
  if (clickedRow_ >= 0 || allowsEmpty_) selectRow_byExtendingSelection(clickedRow_, NO);
  if (event->clickCount() == 2 && doubleAction_) sendAction_to(doubleAction_, target());
  else sendAction_to(action(), target());
  release();
}

void NSTableView::rightMouseDown(NSEvent* event) {
  TakeClick(event);
  NSControl::rightMouseDown(event);
}

void NSTableView::keyDown(NSEvent* event) {
  const std::string key = event->characters() ? event->characters()->str() : "";
  auto is = [&](unsigned code) {
    const std::string utf8{static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                           static_cast<char>(0x80 | (code & 0x3F))};
    return key == utf8;
  };
  NSInteger row = selected_;
  if (is(NSUpArrowFunctionKey)) row = std::max<NSInteger>(0, row - 1);
  else if (is(NSDownArrowFunctionKey)) row = std::min(numberOfRows() - 1, row + 1);
  else return NSControl::keyDown(event);
  if (row < 0) return;
  selectRow_byExtendingSelection(row, NO);
  scrollRowToVisible(row);
}

// ---- NSOutlineView

void NSOutlineView::dealloc() {
  ClearRows();
  if (expanded_) expanded_->release();
  NSTableView::dealloc();
}

void NSOutlineView::setDataSource(NSOutlineViewDataSource* source) {
  outlineSource_ = source;
  reloadData();
}

void NSOutlineView::ClearRows() {
  for (Row& row : flat_) row.item->release();
  flat_.clear();
}

void NSOutlineView::Build(id parent, NSInteger level) {
  const NSInteger count = outlineSource_->outlineView_numberOfChildrenOfItem(this, parent);
  for (NSInteger i = 0; i < count; ++i) {
    id child = outlineSource_->outlineView_child_ofItem(this, i, parent);
    if (!child) continue;
    const bool expandable = outlineSource_->outlineView_isItemExpandable(this, child);
    flat_.push_back({child->retain(), level, expandable});
    if (expandable && isItemExpanded(child)) Build(child, level + 1);
  }
}

void NSOutlineView::reloadData() {
  // The selected item stays selected where it still shows.
  id selectedItem = selectedRow() >= 0 ? itemAtRow(selectedRow()) : nullptr;
  if (selectedItem) selectedItem->retain();
  ClearRows();
  if (outlineSource_) Build(nullptr, 0);
  NSInteger keep = selectedItem ? rowForItem(selectedItem) : -1;
  if (selectedItem) selectedItem->release();
  if (keep != selectedRow()) {
    // Moved rows keep the selection without telling anyone; a vanished one is deselected.
    if (keep >= 0) SetSelectionQuietly(keep);
    else selectRow_byExtendingSelection(-1, NO);
  }
  Resize();
}

id NSOutlineView::itemAtRow(NSInteger row) const {
  return row >= 0 && row < static_cast<NSInteger>(flat_.size()) ? flat_[static_cast<size_t>(row)].item : nullptr;
}

NSInteger NSOutlineView::rowForItem(id item) const {
  for (size_t i = 0; i < flat_.size(); ++i)
    if (flat_[i].item == item) return static_cast<NSInteger>(i);
  return -1;
}

NSInteger NSOutlineView::levelForRow(NSInteger row) const {
  return row >= 0 && row < static_cast<NSInteger>(flat_.size()) ? flat_[static_cast<size_t>(row)].level : -1;
}

BOOL NSOutlineView::isItemExpanded(id item) const {
  return item && expanded_ && expanded_->indexOfObjectIdenticalTo(item) != NSNotFound ? YES : NO;
}

void NSOutlineView::expandItem(id item) { expandItem_expandChildren(item, NO); }

void NSOutlineView::expandItem_expandChildren(id item, BOOL children) {
  if (!item || !outlineSource_ || !outlineSource_->outlineView_isItemExpandable(this, item)) return;
  if (!expanded_) expanded_ = alloc<NSMutableArray>()->init();
  if (!isItemExpanded(item)) expanded_->addObject(item);
  if (children) {
    const NSInteger count = outlineSource_->outlineView_numberOfChildrenOfItem(this, item);
    for (NSInteger i = 0; i < count; ++i) expandItem_expandChildren(outlineSource_->outlineView_child_ofItem(this, i, item), YES);
  }
  reloadData();
}

void NSOutlineView::collapseItem(id item) {
  if (!isItemExpanded(item)) return;
  if (outlineSource_ && !outlineSource_->outlineView_shouldCollapseItem(this, item)) return;
  expanded_->removeObjectAtIndex(expanded_->indexOfObjectIdenticalTo(item));
  reloadData();
}

id NSOutlineView::ValueAt(NSTableColumn* column, NSInteger row) {
  id item = itemAtRow(row);
  return item && outlineSource_ ? outlineSource_->outlineView_objectValueForTableColumn_byItem(this, column, item) : nullptr;
}

CGFloat NSOutlineView::IndentOf(NSInteger row) const {
  return 14 + static_cast<CGFloat>(std::max<NSInteger>(0, levelForRow(row))) * indent_;
}

void NSOutlineView::DrawDisclosure(NSInteger row, NSRect box) {
  if (row < 0 || row >= static_cast<NSInteger>(flat_.size()) || !flat_[static_cast<size_t>(row)].expandable) return;
  const bool open = isItemExpanded(flat_[static_cast<size_t>(row)].item);
  const NSPoint c = NSMakePoint(NSMidX(box), NSMidY(box));
  NSBezierPath* triangle = NSBezierPath::bezierPath();
  // Flipped: y grows downward. Closed points right, open points down.
  if (open) {
    triangle->moveToPoint(NSMakePoint(c.x - 4, c.y - 2));
    triangle->lineToPoint(NSMakePoint(c.x + 4, c.y - 2));
    triangle->lineToPoint(NSMakePoint(c.x, c.y + 3));
  } else {
    triangle->moveToPoint(NSMakePoint(c.x - 2, c.y - 4));
    triangle->lineToPoint(NSMakePoint(c.x + 3, c.y));
    triangle->lineToPoint(NSMakePoint(c.x - 2, c.y + 4));
  }
  triangle->closePath();
  Current()->fill = row == selectedRow() ? Argb(0xFF, 0xFF, 0xFF) : Argb(0x70, 0x70, 0x70);
  triangle->fill();
}

bool NSOutlineView::ClickDisclosure(NSInteger row, NSPoint at) {
  if (row < 0 || row >= static_cast<NSInteger>(flat_.size()) || !flat_[static_cast<size_t>(row)].expandable) return false;
  const CGFloat right = rectOfColumn(0).origin.x + IndentOf(row);
  if (at.x < right - 16 || at.x >= right) return false;
  id item = flat_[static_cast<size_t>(row)].item;
  if (isItemExpanded(item)) collapseItem(item);
  else expandItem(item);
  return true;
}
