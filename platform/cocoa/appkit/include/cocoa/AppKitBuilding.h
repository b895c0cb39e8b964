// What window definitions made in code use on every line: a string from text, a subview added and left
// to its parent, a table column, a label. Programs' builders and the gallery share them.
#pragma once
#include "cocoa/AppKit.h"
#include "cocoa/AppKitControls.h"

namespace appkit {

inline NSString* Text(const char* text) { return NSString::stringWithUTF8String(text); }

// Adds the view (just made, retained once) to the parent, which then holds it alone.
template <class T>
T* AddSubview(NSView* parent, T* view) {
  parent->addSubview(view);
  view->release();
  return view;
}

// A column of that identifier, width and header title, autoreleased.
inline NSTableColumn* Column(const char* identifier, const char* title, CGFloat width) {
  NSTableColumn* column = alloc<NSTableColumn>()->initWithIdentifier(Text(identifier));
  column->setWidth(width);
  column->headerCell()->setStringValue(Text(title));
  return static_cast<NSTableColumn*>(column->autorelease());
}

// Text that cannot be edited, on the parent's background.
inline NSTextField* Label(NSView* parent, NSRect frame, const char* text) {
  NSTextField* label = AddSubview(parent, alloc<NSTextField>()->initWithFrame(frame));
  label->setEditable(NO);
  label->setBezeled(NO);
  label->setDrawsBackground(NO);
  label->setStringValue(Text(text));
  return label;
}

}  // namespace appkit
