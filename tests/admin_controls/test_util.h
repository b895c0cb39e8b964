// Off-screen drawing helpers of the control checks.
#pragma once
#include <memory>

#include "draw/surface.h"
#include "win32/gdi_hooks.h"
#include "win32/windows.h"

namespace controls_test {

// A DC over a fresh white surface; deleted with the object.
struct SurfaceDc {
  SurfaceDc(int width, int height) : surface(std::make_shared<tavrin::draw::Surface>(width, height, 0xFFFFFF)) {
    tavrin::gdi::WindowDcTarget target;
    target.surface = surface;
    target.origin = {0, 0};
    target.visible = tavrin::draw::Region(tavrin::draw::Rect{0, 0, width, height});
    hdc = tavrin::gdi::CreateSurfaceDC(target);
  }
  ~SurfaceDc() { DeleteDC(hdc); }
  // The pixel as a COLORREF.
  COLORREF At(int x, int y) const {
    uint32_t p = surface->at(x, y);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  std::shared_ptr<tavrin::draw::Surface> surface;
  HDC hdc = nullptr;
};

// Runs the posted messages of this thread.
inline void Pump() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
}

}  // namespace controls_test
