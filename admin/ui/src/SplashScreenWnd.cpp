#include "admin/ui/SplashScreenWnd.h"

#include <atomic>

namespace {

constexpr UINT_PTR kHideTimer = 1;
constexpr UINT kDisplayMs = 3000;

std::atomic<BOOL> g_enabled{FALSE};
CSplashScreenWnd* g_splash = nullptr;  // user-interface thread only

}  // namespace

void CSplashScreenWnd::SetEnabled(BOOL enabled) { g_enabled = enabled; }
BOOL CSplashScreenWnd::IsEnabled() { return g_enabled; }
BOOL CSplashScreenWnd::IsShowing() { return g_splash != nullptr; }

void CSplashScreenWnd::ShowSplashScreen(CWnd* parent) {
  if (!g_enabled || g_splash) return;
  auto* splash = new CSplashScreenWnd;
  if (!splash->CreateEx(0, "", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, parent ? parent->GetSafeHwnd() : nullptr, 0)) {
    delete splash;
    return;
  }
  g_splash = splash;
  splash->SetTimer(kHideTimer, kDisplayMs);
}

void CSplashScreenWnd::HideSplashScreen() {
  if (g_splash) g_splash->Hide();
}

BOOL CSplashScreenWnd::HideOnInput(const MSG* msg) {
  if (!g_splash || !msg) return FALSE;
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
      g_splash->Hide();
      return TRUE;
    default:
      return FALSE;
  }
}

void CSplashScreenWnd::OnTimer(UINT_PTR id) {
  if (id == kHideTimer) Hide();
}

void CSplashScreenWnd::Hide() {
  KillTimer(kHideTimer);
  DestroyWindow();
}

void CSplashScreenWnd::PostNcDestroy() {
  if (g_splash == this) g_splash = nullptr;
  delete this;
}
