// What the common-control checks share: a host window that records what its controls tell it, pixel
// probes of a window as drawn, and a message loop that runs until a condition holds.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "draw/surface.h"
#include "mfc/comctl.h"
#include "win32/gdi_hooks.h"
#include "win32/window_manager.h"

namespace comctl_test {

struct Host : CWnd {
  std::vector<std::pair<int, int>> commands;  // (id, code)
  std::vector<UINT> notes;                    // WM_NOTIFY codes
  std::function<LRESULT(NMHDR*)> onNotify;
  HBRUSH ctlColor = nullptr;
  BOOL OnCommand(WPARAM wParam, LPARAM) override {
    commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NOTIFY) {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      notes.push_back(header->code);
      LRESULT result = CWnd::WindowProc(message, wParam, lParam);  // reflected to the control first
      return onNotify ? onNotify(header) : result;
    }
    if (message == WM_CTLCOLORSTATIC && ctlColor) return reinterpret_cast<LRESULT>(ctlColor);
    return CWnd::WindowProc(message, wParam, lParam);
  }
  int CountNotes(UINT code) const {
    int n = 0;
    for (UINT c : notes) n += c == code;
    return n;
  }
  int CountCommands(int id, int code) const {
    int n = 0;
    for (auto& c : commands) n += c.first == id && c.second == code;
    return n;
  }
};

inline bool MakeHost(Host& host, int width = 300, int height = 200, DWORD style = WS_POPUP | WS_VISIBLE) {
  return host.CreateEx(0, "host", style, 10, 10, width, height, nullptr, 0);
}

// The window as drawn now (after its pending paints).
inline tavrin::draw::Surface Capture(HWND hwnd) {
  tavrin::win::PaintPending();  // parents first, then the window itself
  ::UpdateWindow(hwnd);
  tavrin::draw::Surface image(1, 1, 0);
  EXPECT_TRUE(tavrin::win::CaptureWindow(hwnd, image));
  return image;
}

inline COLORREF Pixel(const tavrin::draw::Surface& s, int x, int y) {
  uint32_t p = s.at(x, y);
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

// Runs this thread's messages until `done` holds or `limitMs` passes; whether it held.
inline bool RunUntil(const std::function<bool()>& done, int limitMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left, 50)), QS_ALLINPUT);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }
  return true;
}

// Repaints the window `times` times; the live GDI objects must stay as they were.
inline void ExpectNoGdiGrowth(HWND hwnd, int times = 100) {
  Capture(hwnd);
  const size_t before = tavrin::gdi::LiveObjectCount();
  for (int i = 0; i < times; ++i) {
    ::InvalidateRect(hwnd, nullptr, TRUE);
    ::UpdateWindow(hwnd);
  }
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), before);
}

inline LPARAM Point(int x, int y) { return MAKELPARAM(x, y); }

}  // namespace comctl_test
