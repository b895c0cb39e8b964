// Dialog templates name the common controls by class: a wait window's progress bar and clip, and an IP
// page's address controls come up from a template.
#include <string>
#include <vector>

#include "comctl_test_util.h"
#include "win32/dialog.h"

namespace {

using namespace comctl_test;

// A template whose controls name their classes.
class NamedTemplate {
 public:
  explicit NamedTemplate(short cx, short cy) {
    Dword(WS_POPUP | DS_SETFONT);
    Dword(0);
    countAt_ = bytes_.size();
    Word(0);
    Word(0), Word(0), Word(static_cast<uint16_t>(cx)), Word(static_cast<uint16_t>(cy));
    Word(0), Word(0);
    String("");
    Word(8);
    String("MS Sans Serif");
  }
  NamedTemplate& Control(const std::string& className, uint16_t id, short x, short y, short cx, short cy) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    Dword(WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<uint16_t>(x)), Word(static_cast<uint16_t>(y));
    Word(static_cast<uint16_t>(cx)), Word(static_cast<uint16_t>(cy));
    Word(id);
    String(className);
    String("");
    Word(0);
    ++count_;
    bytes_[countAt_] = static_cast<uint8_t>(count_);
    return *this;
  }
  LPCDLGTEMPLATE Get() const { return reinterpret_cast<LPCDLGTEMPLATE>(bytes_.data()); }

 private:
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

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(CommonControlsInTemplates, AreMadeByTheirClassNames) {
  NamedTemplate t(200, 100);
  t.Control(PROGRESS_CLASS, 1057, 10, 10, 150, 10)
      .Control(ANIMATE_CLASS, 1063, 10, 30, 40, 30)
      .Control(WC_IPADDRESS, 1041, 60, 30, 100, 14)
      .Control(STATUSCLASSNAME, 1, 0, 80, 200, 12)
      .Control(TOOLBARCLASSNAME, 2, 0, 0, 200, 12);
  HWND dialog = CreateDialogIndirectParam(nullptr, t.Get(), nullptr, Quiet, 0);
  ASSERT_NE(dialog, nullptr);
  HWND progress = GetDlgItem(dialog, 1057);
  ASSERT_NE(progress, nullptr);
  SendMessage(progress, PBM_SETPOS, 40, 0);
  EXPECT_EQ(SendMessage(progress, PBM_GETPOS, 0, 0), 40);
  EXPECT_NE(GetDlgItem(dialog, 1063), nullptr);
  HWND ip = GetDlgItem(dialog, 1041);
  ASSERT_NE(ip, nullptr);
  EXPECT_TRUE(SendMessage(ip, IPM_ISBLANK, 0, 0));
  EXPECT_NE(GetDlgItem(dialog, 1), nullptr);
  EXPECT_NE(GetDlgItem(dialog, 2), nullptr);
  DestroyWindow(dialog);
}

}  // namespace
