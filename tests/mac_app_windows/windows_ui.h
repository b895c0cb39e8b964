// The server manager's MacUi for these tests, on the AppKit windows: alerts as alert panels, modal runs
// and order-outs of the windows the definition names, reloads handed to the main run loop.
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "TavrinMac/server_manager_windows.h"

namespace tavrinmac::test {

class WindowsUi : public MacUi {
 public:
  explicit WindowsUi(ServerManagerWindows* windows) : windows_(windows) {}
  int Alert(const AlertText& alert) override;
  void Changed(View view) override;
  int RunModal(View window) override;
  void EndModal(View window, int code) override;
  void OrderOut(View window) override;
  std::string ChooseFile(const std::string& title) override;
  std::string ChooseSaveFile(const std::string& title, const std::string& fileType) override;

  // "title message" of each alert shown, in order.
  std::vector<std::string> alertLines() const;

 private:
  int Run(View window);
  ServerManagerWindows* windows_;
  mutable std::mutex mutex_;
  std::vector<std::string> alerts_;
  std::map<View, std::vector<int>> pending_;  // ends of runs not begun yet (main thread only)
};

}  // namespace tavrinmac::test
