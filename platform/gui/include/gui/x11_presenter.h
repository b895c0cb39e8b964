// The X11 presenter: every shown surface of a desktop becomes an X window (pop-ups override-redirect, so
// they need no window manager; tray icons docked into the screen's system tray where it has one), its
// pixels are put there when they change, and X pointer and key events come back as the desktop's input.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "gui/desktop.h"

namespace tavrin::gui {

class X11Presenter {
 public:
  X11Presenter();
  ~X11Presenter();  // stops it
  X11Presenter(const X11Presenter&) = delete;
  X11Presenter& operator=(const X11Presenter&) = delete;

  // Connects to the display `name` (DISPLAY's when empty) and shows the desktop's surfaces, those that
  // exist already too. False when no display answers.
  bool Start(Desktop& desktop, const std::string& name = {});
  // Takes the X windows away and closes the connection. The presenter's thread may be inside an input
  // handler that waits for the stopping thread: `whileWaiting` runs on the stopping thread until the
  // presenter's thread has finished (a toolkit answers what is sent to its windows there).
  void Stop(const std::function<void()>& whileWaiting = {});

 private:
  class Connection;
  std::unique_ptr<Connection> connection_;
};

}  // namespace tavrin::gui
