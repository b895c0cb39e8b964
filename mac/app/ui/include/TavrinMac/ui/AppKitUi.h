// The core's MacUi on AppKit: every call is handed to the main thread. Changed(view) queues one reload
// of the view (several words before it runs give one reload); alerts, modal runs and panels asked for by
// a worker run on the main thread while the worker waits.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "TavrinMac/ui.h"
#include "cocoa/AppKit.h"

namespace tavrinmac::ui {

class AppKitUi : public MacUi {
 public:
  AppKitUi();
  ~AppKitUi() override;  // calls Close
  AppKitUi(const AppKitUi&) = delete;
  AppKitUi& operator=(const AppKitUi&) = delete;

  // What a reload of a view does (main thread).
  void SetReload(std::function<void(View)> reload);
  // The window the core runs modally for a view (null: none, the run answers 0 at once).
  void SetModalWindows(std::function<NSWindow*(View)> lookup);
  // The program ends: nothing more is shown, and workers waiting for the main thread are answered at
  // once (alerts with their first button, panels cancelled, modal runs with 0).
  void Close();

  int Alert(const AlertText& alert) override;
  void Changed(View view) override;
  int RunModal(View window) override;
  void EndModal(View window, int code) override;
  void OrderOut(View window) override;
  std::string ChooseFile(const std::string& title) override;
  std::string ChooseSaveFile(const std::string& title, const std::string& fileType) override;

  struct Shared;  // with what the main loop's queued calls need after the object went

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace tavrinmac::ui
