#include "admin/ui/SplashScreenWnd.h"

#include <atomic>

#include "admin/Resource.h"
#include "win32/resources.h"

namespace {

std::atomic<BOOL> c_bShowSplashWnd{FALSE};
CSplashScreenWnd* c_pSplashWnd = nullptr;  // user-interface thread only

}  // namespace

void CSplashScreenWnd::SetEnabled(BOOL enabled) { c_bShowSplashWnd = enabled; }
BOOL CSplashScreenWnd::IsEnabled() { return c_bShowSplashWnd; }
BOOL CSplashScreenWnd::IsShowing() { return c_pSplashWnd != nullptr; }

CSplashScreenWnd::~CSplashScreenWnd() {
  if (c_pSplashWnd == this) c_pSplashWnd = nullptr;
}

void CSplashScreenWnd::ShowSplashScreen(CWnd* parent) {
  if (!c_bShowSplashWnd || c_pSplashWnd) return;
  auto* splash = new CSplashScreenWnd;
  if (!splash->Create(parent)) {
    delete splash;
    return;
  }
  c_pSplashWnd = splash;
  splash->UpdateWindow();
}

BOOL CSplashScreenWnd::Create(CWnd* parent) {
  if (!m_bitmap.Attach(::LoadBitmap(nullptr, MAKEINTRESOURCE(static_cast<WORD>(IDB_SPLASH))))) return FALSE;
  BITMAP size{};
  m_bitmap.GetBitmap(&size);
  // In the middle of the screen, the picture's size.
  const int x = (GetSystemMetrics(SM_CXSCREEN) - size.bmWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - size.bmHeight) / 2;
  return CreateEx(0, "", WS_POPUP | WS_VISIBLE, x, y, size.bmWidth, size.bmHeight,
                  parent ? parent->GetSafeHwnd() : nullptr, 0);
}

int CSplashScreenWnd::OnCreate(LPCREATESTRUCT createStruct) {
  if (CWnd::OnCreate(createStruct) == -1) return -1;
  SetTimer(kHideTimer, kDisplayMs);
  return 0;
}

void CSplashScreenWnd::OnPaint() {
  CPaintDC dc(this);
  CDC memory;
  if (!memory.CreateCompatibleDC(&dc)) return;
  BITMAP size{};
  m_bitmap.GetBitmap(&size);
  CBitmap* old = memory.SelectObject(&m_bitmap);
  dc.BitBlt(0, 0, size.bmWidth, size.bmHeight, &memory, 0, 0, SRCCOPY);
  memory.SelectObject(old);
}

void CSplashScreenWnd::HideSplashScreen() {
  if (c_pSplashWnd) c_pSplashWnd->Hide();
}

BOOL CSplashScreenWnd::HideOnInput(const MSG* msg) {
  if (!c_pSplashWnd || !msg) return FALSE;
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
      c_pSplashWnd->Hide();
      return TRUE;
    default:
      return FALSE;
  }
}

void CSplashScreenWnd::OnTimer(UINT_PTR) { Hide(); }

void CSplashScreenWnd::Hide() {
  DestroyWindow();
  if (CWinApp* app = AfxGetApp(); app && app->m_pMainWnd && app->m_pMainWnd->m_hWnd) app->m_pMainWnd->UpdateWindow();
}

void CSplashScreenWnd::PostNcDestroy() { delete this; }
