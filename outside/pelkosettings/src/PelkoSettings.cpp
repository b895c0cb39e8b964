// The settings library: its one export runs the library's own modal "Pelko Settings" dialog, made from a
// template the library builds in memory (it carries no resources of its own). It holds no copy of the
// platform layer; its calls bind to the program that loads it.
#include <cstdint>
#include <string>
#include <vector>

#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/user.h"

namespace {

constexpr char kTitle[] = "Pelko Settings";
constexpr char kText[] =
    "Pelko USB server client settings.\n\n"
    "This computer uses the settings of each server as TavrinAdmin shows them; there is nothing more to set here.";
constexpr uint16_t kButtonClass = 0x80;
constexpr uint16_t kStaticClass = 0x82;
constexpr uint16_t kTextId = 1000;

// A dialog template in the layout the resource compiler writes: header, no menu, the dialog class, the
// title and the font, then each control DWORD-aligned.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short cx, short cy, const char* title) {
    Dword(style | DS_SETFONT);
    Dword(0);
    countAt_ = bytes_.size();
    Word(0);
    for (short value : {short{0}, short{0}, cx, cy}) Word(static_cast<uint16_t>(value));
    Word(0);
    Word(0);
    String(title);
    Word(8);
    String("MS Sans Serif");
  }
  void Control(const char* text, uint16_t id, uint16_t classAtom, short x, short y, short cx, short cy, DWORD style) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    Dword(WS_CHILD | WS_VISIBLE | style);
    Dword(0);
    for (short value : {x, y, cx, cy}) Word(static_cast<uint16_t>(value));
    Word(id);
    Word(0xFFFF);
    Word(classAtom);
    String(text);
    Word(0);  // no creation data
    ++count_;
    bytes_[countAt_] = static_cast<uint8_t>(count_);
    bytes_[countAt_ + 1] = static_cast<uint8_t>(count_ >> 8);
  }
  LPCDLGTEMPLATE Get() const { return reinterpret_cast<LPCDLGTEMPLATE>(bytes_.data()); }

 private:
  void Word(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
  }
  void Dword(uint32_t value) {
    Word(static_cast<uint16_t>(value));
    Word(static_cast<uint16_t>(value >> 16));
  }
  void String(const char* text) {
    for (const char* c = text; *c; ++c) Word(static_cast<uint8_t>(*c));
    Word(0);
  }
  std::vector<uint8_t> bytes_;
  size_t countAt_ = 0;
  uint16_t count_ = 0;
};

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

extern "C" int DisplaySettingsDlg(HWND owner) {
  DialogTemplate settings(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 220, 84, kTitle);
  settings.Control(kText, kTextId, kStaticClass, 10, 10, 200, 44, SS_LEFT);
  settings.Control("OK", IDOK, kButtonClass, 85, 60, 50, 16, BS_DEFPUSHBUTTON | WS_TABSTOP);
  return static_cast<int>(DialogBoxIndirectParam(nullptr, settings.Get(), owner, SettingsProc, 0));
}
