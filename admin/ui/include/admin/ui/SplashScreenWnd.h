// CSplashScreenWnd: the picture shown while the main frame is made, unless the command line turned it
// off. It goes after 750 ms, or at once on a key or mouse-button press (which it takes).
#pragma once
#include "mfc/mfc.h"

class CSplashScreenWnd : public CWnd {
 public:
  static constexpr UINT_PTR kHideTimer = 1;
  static constexpr UINT kDisplayMs = 750;

  // Whether the splash window may be shown when the main frame is created.
  static void SetEnabled(BOOL enabled);
  static BOOL IsEnabled();
  // Shows the splash window over parent when enabled and none shows yet; painted at once.
  static void ShowSplashScreen(CWnd* parent);
  // For every message of the program: a key or mouse-button press while the splash shows hides it and
  // is used up (TRUE).
  static BOOL HideOnInput(const MSG* msg);
  static BOOL IsShowing();
  // Takes the splash window away (when its owner goes).
  static void HideSplashScreen();

  ~CSplashScreenWnd() override;

 protected:
  int OnCreate(LPCREATESTRUCT createStruct) override;
  void OnPaint() override;
  void OnTimer(UINT_PTR id) override;
  void PostNcDestroy() override;

 private:
  CSplashScreenWnd() = default;
  BOOL Create(CWnd* parent);
  void Hide();

  CBitmap m_bitmap;  // bitmap 263
};
