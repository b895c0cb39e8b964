// CSplashScreenWnd: the splash window shown while the main frame is created, when enabled. It goes
// away on the first key or mouse-button press, or after its display time.
#pragma once
#include "mfc/mfc.h"

class CSplashScreenWnd : public CWnd {
 public:
  // Whether the splash window may be shown when the main frame is created.
  static void SetEnabled(BOOL enabled);
  static BOOL IsEnabled();
  // Shows the splash window over parent when enabled (and not shown yet).
  static void ShowSplashScreen(CWnd* parent);
  // Hides the splash window when it shows and the message is a key or mouse-button press: TRUE then.
  static BOOL HideOnInput(const MSG* msg);
  static BOOL IsShowing();
  // Takes the splash window away (when its owner goes).
  static void HideSplashScreen();

 protected:
  void OnTimer(UINT_PTR id) override;
  void PostNcDestroy() override;

 private:
  CSplashScreenWnd() = default;
  void Hide();
};
