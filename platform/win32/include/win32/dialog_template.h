// Dialog templates made in memory, in the layout the resource compiler writes (DLGTEMPLATE with
// DS_SETFONT): for the system's own boxes and for tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "win32/dialog.h"

namespace tavrin::win {

class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short x, short y, short cx, short cy, const std::string& title, int pointSize = 8,
                 const std::string& face = "MS Sans Serif", DWORD exStyle = 0) {
    Dword(style | DS_SETFONT);
    Dword(exStyle);
    countAt_ = bytes_.size();
    Word(0);
    Word(static_cast<uint16_t>(x));
    Word(static_cast<uint16_t>(y));
    Word(static_cast<uint16_t>(cx));
    Word(static_cast<uint16_t>(cy));
    Word(0);  // no menu
    Word(0);  // the dialog class
    String(title);
    Word(static_cast<uint16_t>(pointSize));
    String(face);
  }
  // classAtom: 0x80 Button, 0x81 Edit, 0x82 Static, 0x83 ListBox, 0x84 ScrollBar, 0x85 ComboBox.
  DialogTemplate& Control(const std::string& text, uint16_t id, uint16_t classAtom, short x, short y, short cx,
                          short cy, DWORD style) {
    ControlHead(id, x, y, cx, cy, style);
    Word(0xFFFF);
    Word(classAtom);
    return ControlTail(text);
  }
  // A control whose class is named (e.g. a common control's or a private one).
  DialogTemplate& NamedControl(const std::string& className, uint16_t id, short x, short y, short cx, short cy,
                               DWORD style = 0, const std::string& text = {}) {
    ControlHead(id, x, y, cx, cy, style);
    String(className);
    return ControlTail(text);
  }
  LPCDLGTEMPLATE Get() const { return reinterpret_cast<LPCDLGTEMPLATE>(bytes_.data()); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  void ControlHead(uint16_t id, short x, short y, short cx, short cy, DWORD style) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    Dword(WS_CHILD | WS_VISIBLE | style);
    Dword(0);
    Word(static_cast<uint16_t>(x));
    Word(static_cast<uint16_t>(y));
    Word(static_cast<uint16_t>(cx));
    Word(static_cast<uint16_t>(cy));
    Word(id);
  }
  DialogTemplate& ControlTail(const std::string& text) {
    String(text);
    Word(0);
    ++count_;
    bytes_[countAt_] = static_cast<uint8_t>(count_);
    bytes_[countAt_ + 1] = static_cast<uint8_t>(count_ >> 8);
    return *this;
  }
  void Word(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Dword(uint32_t v) {
    Word(static_cast<uint16_t>(v));
    Word(static_cast<uint16_t>(v >> 16));
  }
  void String(const std::string& s) {
    for (char c : s) Word(static_cast<uint8_t>(c));
    Word(0);
  }
  std::vector<uint8_t> bytes_;
  size_t countAt_ = 0;
  uint16_t count_ = 0;
};

}  // namespace tavrin::win
