// A system tray of the tests' own on a private X server: it owns screen 0's tray selection, announces
// itself on the root window, and embeds each icon that asks to dock (reparented into its window, sized,
// mapped where its embedding info asks for it, told so), as a desktop's panel does.
#pragma once
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;

namespace tavrin::test {

class XTrayManager {
 public:
  XTrayManager() = default;
  ~XTrayManager() { Stop(); }
  XTrayManager(const XTrayManager&) = delete;
  XTrayManager& operator=(const XTrayManager&) = delete;

  // Connects to `display`, shows its window (at the screen's top left) and takes the tray selection; its
  // icons get `iconSize` pixels square. False when the display does not answer or the selection is taken.
  bool Start(const std::string& display, int iconSize = 32);
  // Ends as a killed tray does: the connection closes with nothing handed back, so the server returns the
  // embedded icons to the root window and destroys the tray's window.
  void Stop();

  // The tray's X window; 0 when it is not running.
  unsigned long window() const { return window_; }
  // The windows embedded in the tray now, as `observer` sees them.
  std::vector<unsigned long> Icons(_XDisplay* observer) const;

 private:
  void Run();
  void Embed(unsigned long icon);
  // Whether the icon's embedding info (version, flags) asks for it to be shown.
  bool AsksToBeMapped(unsigned long icon);

  _XDisplay* display_ = nullptr;
  unsigned long window_ = 0;
  int iconSize_ = 32;
  int docked_ = 0;  // icons embedded so far: the next one's slot
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace tavrin::test
