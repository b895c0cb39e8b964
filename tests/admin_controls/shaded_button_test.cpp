// The shaded button and its palette bitmap: faces, states, group behaviour and drawing.
#include <gtest/gtest.h>

#include "controls/shaded_button.h"
#include "test_util.h"
#include "win32/crt.h"
#include "win32/gdi_hooks.h"

namespace {

using controls_test::Pump;
using controls_test::SurfaceDc;

// The palette entry the faces are built from (before any tint).
COLORREF PaletteColor(int i) {
  COLORREF d = GetSysColor(COLOR_BTNSHADOW), f = GetSysColor(COLOR_BTNFACE), l = GetSysColor(COLOR_BTNHIGHLIGHT);
  auto mix = [](COLORREF a, COLORREF b, int k) {
    return RGB(((128 - k) * GetRValue(a) + k * GetRValue(b)) / 128, ((128 - k) * GetGValue(a) + k * GetGValue(b)) / 128,
               ((128 - k) * GetBValue(a) + k * GetBValue(b)) / 128);
  };
  return i <= 128 ? mix(d, f, i) : mix(f, l, i - 127);
}

struct Dialog {
  CWnd wnd;
  Dialog() { EXPECT_TRUE(wnd.CreateEx(0, "dialog", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, 0)); }
};

TEST(ButtonDib, CreateSizesRowsAndColourTables) {
  CButtonDib dib;
  EXPECT_FALSE(dib.IsValid());
  EXPECT_EQ(dib.GetBits(), nullptr);
  EXPECT_FALSE(dib.Draw(nullptr, 0, 0));
  ASSERT_NE(dib.Create(10, 3, 8), nullptr);
  EXPECT_EQ(dib.GetLineWidth(), 12u);
  EXPECT_EQ(dib.GetColorCount(), 256);
  dib.Create(10, 3, 3);
  EXPECT_EQ(dib.GetBitCount(), 4);
  EXPECT_EQ(dib.GetLineWidth(), 8u);
  dib.Create(10, 3, 1);
  EXPECT_EQ(dib.GetColorCount(), 2);
  EXPECT_EQ(dib.GetLineWidth(), 4u);
  // 24 bits: no colour table, so palette and index writes do nothing.
  dib.Create(3, 2, 16);
  EXPECT_EQ(dib.GetBitCount(), 24);
  EXPECT_EQ(dib.GetColorCount(), 0);
  dib.Fill(7);
  dib.SetPaletteEntry(0, 1, 2, 3);
  dib.SetPixelIndex(0, 0, 99);
  EXPECT_EQ(dib.GetBits()[static_cast<size_t>(dib.GetLineWidth())], 7) << "top row untouched";
}

TEST(ButtonDib, PixelIndexCountsFromTheTopAndBlendIsIntegerPerChannel) {
  CButtonDib dib;
  dib.Create(4, 3, 8);
  dib.SetPixelIndex(1, 0, 9);
  EXPECT_EQ(dib.GetBits()[2 * dib.GetLineWidth() + 1], 9) << "top row is stored last";
  dib.SetPixelIndex(4, 0, 1);
  dib.SetPixelIndex(-1, 0, 1);
  dib.SetPaletteEntry(3, 200, 100, 11);
  dib.SetPaletteEntry(256, 1, 1, 1);
  dib.BlendPalette(RGB(0, 255, 100), 150);  // above 100 counts as 100
  EXPECT_EQ(dib.GetPalette()[3].rgbGreen, 255);
  dib.SetPaletteEntry(3, 200, 100, 11);
  dib.BlendPalette(RGB(0, 255, 100), 30);
  EXPECT_EQ(dib.GetPalette()[3].rgbRed, 140);   // 200*70/100
  EXPECT_EQ(dib.GetPalette()[3].rgbGreen, 146);  // (7000 + 7650) / 100
  EXPECT_EQ(dib.GetPalette()[3].rgbBlue, 37);    // (770 + 3000) / 100
  CButtonDib copy;
  copy.CopyFrom(dib);
  EXPECT_EQ(copy.GetBits()[2 * copy.GetLineWidth() + 1], 9);
  EXPECT_EQ(copy.GetPalette()[3].rgbBlue, 37);
}

TEST(ShadedButton, ShadeThreeWithoutGranularityFollowsThePaletteFormula) {
  Dialog dlg;
  CShadedButton button;
  ASSERT_TRUE(button.Create("OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(10, 10, 90, 40), &dlg.wnd, 1));
  tavrin::CrtSrand(1);
  button.SetShade(3, 0, 0, 0, 0);
  const CButtonDib& face = button.GetFace(0);
  ASSERT_TRUE(face.IsValid());
  EXPECT_EQ(face.GetWidth(), 80);
  EXPECT_EQ(face.GetHeight(), 30);
  for (int x : {0, 10, 40, 79}) EXPECT_EQ(face.GetBits()[15 * face.GetLineWidth() + x], 255 * (80 - x) / 80) << x;
  // Drawn: an inner pixel shows the palette colour of its index.
  SurfaceDc out(80, 30);
  DRAWITEMSTRUCT item{ODT_BUTTON, 1, 0, ODA_DRAWENTIRE, 0, button.m_hWnd, out.hdc, {0, 0, 80, 30}, 0};
  button.DrawItem(&item);
  EXPECT_EQ(out.At(40, 20), PaletteColor(255 * 40 / 80));
  EXPECT_EQ(out.At(10, 25), PaletteColor(255 * 70 / 80));
}

TEST(ShadedButton, FocusDotsAlternateOnTheMargin) {
  Dialog dlg;
  CShadedButton button;
  ASSERT_TRUE(button.Create("", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 0, 60, 24), &dlg.wnd, 1));
  button.SetShade(3, 8, 100, 0, 0);
  EXPECT_EQ(button.GetFace(4).GetWidth(), 60 - 8 - 1);
  EXPECT_EQ(button.GetFace(5).GetHeight(), 24 - 8);
  SurfaceDc out(60, 24);
  DRAWITEMSTRUCT item{ODT_BUTTON, 1, 0, ODA_DRAWENTIRE, ODS_FOCUS, button.m_hWnd, out.hdc, {0, 0, 60, 24}, 0};
  button.DrawItem(&item);
  const COLORREF even = PaletteColor(0), odd = PaletteColor(255);
  EXPECT_EQ(out.At(5, 4), even);
  EXPECT_EQ(out.At(6, 4), odd);
  EXPECT_EQ(out.At(7, 20), even);
  // The column's rows are stored bottom first: its dot pattern starts at the bottom.
  EXPECT_EQ(out.At(4, 20), even);
  EXPECT_EQ(out.At(4, 19), odd);
  EXPECT_EQ(out.At(56, 19), odd);
  // A button narrower than twice the margin still gets a one-pixel line.
  CShadedButton narrow;
  ASSERT_TRUE(narrow.Create("", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 30, 6, 36), &dlg.wnd, 2));
  narrow.SetShade(3, 8, 100, 0, 0);
  EXPECT_EQ(narrow.GetFace(4).GetWidth(), 1);
  EXPECT_EQ(narrow.GetFace(5).GetHeight(), 1);
}

TEST(ShadedButton, EveryShadeTypeBuildsItsFacesOnAnySize) {
  Dialog dlg;
  for (UINT type = 0; type <= 10; ++type) {
    for (CRect rc : {CRect(0, 0, 50, 20), CRect(0, 0, 50, 1), CRect(0, 0, 3, 1)}) {
      CShadedButton button;
      ASSERT_TRUE(button.Create("", WS_CHILD | BS_PUSHBUTTON, rc, &dlg.wnd, 1));
      button.SetShade(type, 8, 20, 5, 0xB3AEB3);  // type 7 on one pixel of height once divided by zero
      EXPECT_TRUE(button.GetFace(0).IsValid());
      EXPECT_TRUE(button.GetFace(1).IsValid());
      EXPECT_TRUE(button.GetFace(2).IsValid());
    }
  }
  // Types 0 and 9 are the plain noise texture: 128 - g plus noise below 2g.
  CShadedButton noisy;
  ASSERT_TRUE(noisy.Create("", WS_CHILD | BS_PUSHBUTTON, CRect(0, 0, 30, 10), &dlg.wnd, 1));
  noisy.SetShade(9, 8, 0, 0, 0);
  const CButtonDib& face = noisy.GetFace(0);
  for (int i = 0; i < 30; ++i) {
    int v = face.GetBits()[i];
    EXPECT_GE(v, 120);
    EXPECT_LE(v, 136);
  }
}

TEST(ShadedButton, FontAlignmentAndKinds) {
  Dialog dlg;
  CShadedButton button;
  ASSERT_TRUE(button.Create("x", WS_CHILD | BS_AUTOCHECKBOX | BS_LEFT, CRect(0, 0, 50, 20), &dlg.wnd, 1));
  EXPECT_EQ(button.GetKind(), 2u);
  EXPECT_EQ(button.GetTextAlign(), static_cast<UINT>(DT_LEFT | DT_VCENTER | DT_SINGLELINE));
  EXPECT_EQ(button.GetStyle() & BS_TYPEMASK, BS_OWNERDRAW);
  EXPECT_EQ(button.GetTextFont(), nullptr);
  EXPECT_FALSE(button.SetTextFont(nullptr));
  EXPECT_TRUE(button.SetTextFontByName("Tahoma", -11, FW_BOLD));
  EXPECT_STREQ(button.GetTextFont()->lfFaceName, "Tahoma");
  EXPECT_FALSE(button.SetTextFont(nullptr));
  EXPECT_EQ(button.GetTextFont()->lfWeight, FW_BOLD) << "a refused font keeps the current one";
  EXPECT_EQ(button.SetTextColor(RGB(1, 2, 3)), GetSysColor(COLOR_BTNTEXT));

  CShadedButton radio, push;
  ASSERT_TRUE(radio.Create("r", WS_CHILD | BS_AUTORADIOBUTTON, CRect(0, 0, 50, 20), &dlg.wnd, 2));
  ASSERT_TRUE(push.Create("p", WS_CHILD | BS_PUSHBUTTON, CRect(0, 0, 50, 20), &dlg.wnd, 3));
  EXPECT_EQ(radio.GetKind(), 4u);
  EXPECT_EQ(push.GetKind(), 0u);
  push.SendMessage(BM_SETCHECK, 1);
  EXPECT_EQ(push.SendMessage(BM_GETCHECK), 0) << "a push button never reports checked";
  button.SendMessage(WM_KEYDOWN, VK_SPACE);
  EXPECT_EQ(button.SendMessage(BM_GETCHECK), 1);
  button.SendMessage(WM_KEYDOWN, VK_SPACE);
  EXPECT_EQ(button.SendMessage(BM_GETCHECK), 0);
}

// Controls that count the private message: it means something else to them.
class Counter : public CWnd {
 public:
  int got = 0;
  LRESULT OnPrivate(WPARAM, LPARAM) { return ++got; }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnMessage<&Counter::OnPrivate>(WM_SHADED_UNCHECK)};
    static const mfc::MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
  }
};

TEST(ShadedButton, ACheckedRadioUnchecksOnlyTheShadedButtonsOfItsGroup) {
  Dialog dlg;
  CShadedButton a, b;
  Counter other;
  CShadedButton outside;
  ASSERT_TRUE(a.Create("a", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, CRect(0, 0, 40, 20), &dlg.wnd, 1));
  ASSERT_TRUE(b.Create("b", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, CRect(0, 20, 40, 40), &dlg.wnd, 2));
  ASSERT_TRUE(other.CreateEx(0, "", WS_CHILD | WS_VISIBLE, 0, 40, 40, 20, dlg.wnd.m_hWnd, 3));
  ASSERT_TRUE(outside.Create("c", WS_CHILD | WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, CRect(0, 60, 40, 80), &dlg.wnd, 4));
  outside.SetCheck(1);
  a.SetCheck(1);
  Pump();
  b.SetCheck(1);
  Pump();
  EXPECT_EQ(a.GetCheck(), 0);
  EXPECT_EQ(b.GetCheck(), 1);
  EXPECT_EQ(outside.GetCheck(), 1) << "another group";
  EXPECT_EQ(other.got, 0) << "the private message goes to shaded buttons only";
}

TEST(ShadedButton, ReleasingOffTheButtonDoesNotToggle) {
  Dialog dlg;
  CShadedButton check;
  ASSERT_TRUE(check.Create("c", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, CRect(0, 0, 40, 20), &dlg.wnd, 1));
  check.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  check.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, 5));
  EXPECT_EQ(check.GetState() & BST_PUSHED, 0u) << "raised while the cursor is off";
  check.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(check.GetState() & BST_PUSHED, static_cast<UINT>(BST_PUSHED));
  check.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, 5));
  check.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(100, 5));
  EXPECT_EQ(check.GetCheck(), 0);
  check.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  check.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(check.GetCheck(), 1);
}

TEST(ShadedButton, TooltipTextFollowsTheCheck) {
  Dialog dlg;
  CShadedButton check;
  ASSERT_TRUE(check.Create("c", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, CRect(0, 0, 40, 20), &dlg.wnd, 1));
  check.SetToolTipText("off", "on");
  EXPECT_EQ(check.GetToolTip().GetMaxTipWidth(), 300);
  EXPECT_TRUE(check.GetToolTip().IsActive());
  EXPECT_EQ(check.GetToolTip().GetToolText(&check), CString("off"));
  check.SetCheck(1);
  EXPECT_EQ(check.GetToolTip().GetToolText(&check), CString("on"));
  EXPECT_EQ(check.GetToolTip().PopCount(), 1);
  check.SendMessage(WM_SHADED_UNCHECK);
  EXPECT_EQ(check.GetCheck(), 0);
  EXPECT_EQ(check.GetToolTip().GetToolText(&check), CString("off"));
}

TEST(ShadedButton, AnIconThatFailsToLoadLeavesNoIconArea) {
  Dialog dlg;
  CShadedButton button;
  ASSERT_TRUE(button.Create("c", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 0, 80, 40), &dlg.wnd, 1));
  button.SetIcon(0xFEED, BS_LEFT);
  EXPECT_TRUE(button.GetIconRect().IsRectEmpty());
}

TEST(ShadedButton, RepaintsLeaveNoGdiObjectsBehind) {
  Dialog dlg;
  CShadedButton button;
  ASSERT_TRUE(button.Create("Repaint", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(0, 0, 80, 30), &dlg.wnd, 1));
  button.SetTextFontByName("Tahoma", -11, FW_BOLD);
  button.SetShade(3, 8, 100, 5, 0xB3AEB3);
  SurfaceDc out(80, 30);
  DRAWITEMSTRUCT item{ODT_BUTTON, 1, 0, ODA_DRAWENTIRE, ODS_FOCUS, button.m_hWnd, out.hdc, {0, 0, 80, 30}, 0};
  button.DrawItem(&item);
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < 100; ++i) {
    item.itemState = i % 3 == 0 ? ODS_SELECTED : i % 3 == 1 ? ODS_DISABLED : ODS_FOCUS | ODS_DEFAULT;
    button.DrawItem(&item);
    button.Invalidate();
    button.UpdateWindow();
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

}  // namespace
