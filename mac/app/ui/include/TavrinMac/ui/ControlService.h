// What tavrin-mac-ctl asks of a running TavrinMac, on the sysroot's run/TavrinMac.sock: the tree's rows,
// the logs, the details and the toolbar; a row selected, a toolbar item pressed, a menu item chosen, a tab
// shown, the program quit. Each request is one line of text, each answer the lines of text that follow
// "ok" or "error: why"; both travel as a 32-bit length and the text. The work runs on the main thread,
// where the windows live; presses and clicks go through the window core as a person's do.
#pragma once
#include <memory>
#include <string>

namespace tavrinmac::ui {

class MainWindowController;

// The socket's file name in the run folder.
inline constexpr const char* kControlSocketName = "TavrinMac.sock";

class ControlService {
 public:
  ControlService();
  ~ControlService();  // stops it
  ControlService(const ControlService&) = delete;
  ControlService& operator=(const ControlService&) = delete;

  // Serves the window's controller (the current main window when asked) until Stop.
  bool Start(std::string* error = nullptr);
  void Stop();

  // One request answered on the calling thread, which must be the main thread (tests, the service).
  static std::string Answer(const std::string& request);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The client's side: sends the request to the running program and answers its reply ("" and false when
// no program answers).
bool SendControlRequest(const std::string& request, std::string& reply);

}  // namespace tavrinmac::ui
