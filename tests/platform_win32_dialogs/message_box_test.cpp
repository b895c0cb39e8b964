// Message boxes on a display: a modal window with the icon, the text and the buttons, answered from the
// keyboard (Enter, Escape, Tab) or with the mouse; the owner is disabled while it shows. Without a display,
// or with a scripted answer, no window is made.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/eventually.h"
#include "win32/controls.h"
#include "win32/window_manager.h"

namespace {

using tavrin::test::Eventually;

constexpr char kCaption[] = "Box Test";

// A display that shows nothing: enough for the layer to know that a person could see the windows.
struct BlindDisplay : tavrin::win::DisplaySink {
  void WindowChanged(HWND) override {}
  void WindowDestroyed(HWND) override {}
  void SurfaceDamaged(HWND, const RECT&) override {}
};

// What the person saw of the box.
struct Seen {
  bool shown = false;
  std::string text;
  std::vector<std::string> buttons;
  bool icon = false;
  bool ownerDisabled = false;
};

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  GetWindowText(hwnd, text, sizeof text);
  return text;
}

POINT CentreOf(HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

class MessageBoxWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("TAVRIN_MSGBOX_ANSWER");
    tavrin::win::SetDisplaySink(&display_);
  }
  void TearDown() override {
    tavrin::win::SetDisplaySink(nullptr);
    if (owner_) DestroyWindow(owner_);
  }

  // Asks the box on this thread while the person, on another, looks at it and acts; the answer.
  int Ask(LPCSTR text, UINT type, const std::function<void(HWND box)>& act) {
    std::thread person([&] {
      HWND box = nullptr;
      seen_.shown = Eventually([&] {
        box = FindWindow("#32770", kCaption);
        return box && IsWindowVisible(box) && GetForegroundWindow() == box;
      });
      if (!seen_.shown) return;
      for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64] = {};
        GetClassName(child, className, sizeof className);
        if (std::string(className) == "Button") seen_.buttons.push_back(TextOf(child));
        else if (std::string(className) == "Static") seen_.text = TextOf(child);
        else seen_.icon = true;
      }
      seen_.ownerDisabled = owner_ && !IsWindowEnabled(owner_);
      act(box);
    });
    const int answer = MessageBox(owner_, text, kCaption, type);
    person.join();
    return answer;
  }

  static void Press(int key) {
    tavrin::win::InjectKey(key, true);
    tavrin::win::InjectKey(key, false);
  }

  BlindDisplay display_;
  HWND owner_ = nullptr;
  Seen seen_;
};

TEST_F(MessageBoxWindow, ShowsTheIconTextAndButtonsAndEnterTakesTheDefaultButton) {
  tavrin::win::WindowSpec spec;
  spec.className = "BoxTestOwner";
  spec.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
  spec.x = 50, spec.y = 50, spec.width = 400, spec.height = 300;
  owner_ = tavrin::win::CreateWindowObject(spec);
  ASSERT_NE(owner_, nullptr);
  SetForegroundWindow(owner_);

  EXPECT_EQ(Ask("Stop first?", MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2, [](HWND) { Press(VK_RETURN); }),
            IDNO);
  ASSERT_TRUE(seen_.shown);
  EXPECT_EQ(seen_.text, "Stop first?");
  EXPECT_EQ(seen_.buttons, (std::vector<std::string>{"&Yes", "&No", "Cancel"}));
  EXPECT_TRUE(seen_.icon);
  EXPECT_TRUE(seen_.ownerDisabled) << "the box is modal";
  EXPECT_TRUE(IsWindowEnabled(owner_));
  EXPECT_EQ(FindWindow("#32770", kCaption), nullptr) << "the box is gone";
  EXPECT_EQ(GetActiveWindow(), owner_) << "the owner is active again: keys go to it";
}

TEST_F(MessageBoxWindow, TabMovesToTheNextButtonAndEscapeCancels) {
  EXPECT_EQ(Ask("Go on?", MB_OKCANCEL, [](HWND box) {
              Press(VK_TAB);
              // A key goes to the focus of its time: Enter waits until Tab has moved it.
              EXPECT_TRUE(Eventually([&] { return GetFocus() == GetDlgItem(box, IDCANCEL); }));
              Press(VK_RETURN);
            }),
            IDCANCEL);
  EXPECT_FALSE(seen_.icon);
  EXPECT_EQ(Ask("Go on?", MB_OKCANCEL, [](HWND) { Press(VK_ESCAPE); }), IDCANCEL);
  // A box of one button: Escape answers it.
  EXPECT_EQ(Ask("Done.", MB_OK | MB_ICONINFORMATION, [](HWND) { Press(VK_ESCAPE); }), IDOK);
}

TEST_F(MessageBoxWindow, AYesNoBoxIsAnsweredOnlyByItsButtons) {
  EXPECT_EQ(Ask("Remove it?", MB_YESNO | MB_ICONEXCLAMATION,
                [](HWND box) {
                  Press(VK_ESCAPE);  // no Cancel: the box stays for the click
                  const POINT yes = CentreOf(GetDlgItem(box, IDYES));
                  tavrin::win::InjectClick(yes.x, yes.y);
                }),
            IDYES);
}

TEST_F(MessageBoxWindow, AScriptedAnswerOrNoDisplayMakesNoWindow) {
  setenv("TAVRIN_MSGBOX_ANSWER", "7", 1);
  EXPECT_EQ(MessageBox(nullptr, "Scripted", kCaption, MB_YESNO), IDNO);
  unsetenv("TAVRIN_MSGBOX_ANSWER");
  tavrin::win::SetDisplaySink(nullptr);
  EXPECT_EQ(MessageBox(nullptr, "Headless", kCaption, MB_YESNO | MB_DEFBUTTON2), IDNO);
}

}  // namespace
