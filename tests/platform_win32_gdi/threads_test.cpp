#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "win32/gdi_hooks.h"

namespace {

// Threads each with their own DCs share the object table, the stock objects and the text engine.
TEST(GdiThreadsTest, SeparateDcsOnSeveralThreads) {
  size_t baseline = tavrin::gdi::LiveObjectCount();
  std::vector<std::thread> threads;
  std::vector<int> widths(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &widths] {
      for (int i = 0; i < 20; ++i) {
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bm = tavrin::gdi::CreateBitmapFromSurface(tavrin::draw::Surface(64, 20, 0xFFFFFF));
        HGDIOBJ oldBm = SelectObject(dc, bm);
        HFONT font = CreateFont(-12 - t, 0, 0, 0, 400 + 300 * (i % 2), 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
        HGDIOBJ oldFont = SelectObject(dc, font);
        TextOut(dc, 0, 0, "thread", 6);
        SIZE size;
        GetTextExtentPoint32(dc, "thread", 6, &size);
        widths[t] = size.cx;
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBm);
        DeleteObject(font);
        DeleteObject(bm);
        DeleteDC(dc);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int w : widths) EXPECT_GT(w, 0);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
}

}  // namespace
