#include "windows_ui.h"

#include <future>

namespace tavrinmac::test {
namespace {

NSString* Text(const std::string& text) { return text.empty() ? nullptr : NSString::stringWithStd(text); }

// Runs the call on the main thread and waits for its answer (at once on the main thread).
template <class F>
auto OnMain(F call) -> decltype(call()) {
  if (NSThread::isMainThread_class()) return call();
  std::promise<decltype(call())> answer;
  auto answered = answer.get_future();
  NSRunLoop::mainRunLoop()->Enqueue([&] { answer.set_value(call()); }, 0);
  return answered.get();
}

void Later(std::function<void()> call) { NSRunLoop::mainRunLoop()->Enqueue(std::move(call), 0); }

std::string Panel(bool opening, const std::string& title, const std::string& fileType) {
  return OnMain([&] {
    NSSavePanel* panel = opening ? NSOpenPanel::openPanel() : NSSavePanel::savePanel();
    panel->setTitle(Text(title));
    if (!fileType.empty()) panel->setRequiredFileType(Text(fileType));
    const NSInteger answer = opening ? static_cast<NSOpenPanel*>(panel)->runModalForDirectory_file_types(nullptr, nullptr, nullptr)
                                     : panel->runModal();
    const bool chosen = answer == NSFileHandlingPanelOKButton && panel->filename();
    return chosen ? panel->filename()->str() : std::string();
  });
}

}  // namespace

int WindowsUi::Alert(const AlertText& alert) {
  {
    std::lock_guard lock(mutex_);
    alerts_.push_back(alert.title + " " + alert.message);
  }
  auto button = [&](size_t i) { return i < alert.buttons.size() ? Text(alert.buttons[i]) : nullptr; };
  const NSInteger answer = NSRunAlertPanel(Text(alert.title), Text("%s"), button(0), button(1), button(2),
                                           alert.message.c_str());
  return answer == NSAlertDefaultReturn ? 0 : answer == NSAlertAlternateReturn ? 1 : 2;
}

void WindowsUi::Changed(View view) {
  Later([this, view] { windows_->Reload(view); });
}

int WindowsUi::Run(View window) {
  auto& ended = pending_[window];
  if (!ended.empty()) {  // ended before the main thread began it
    const int code = ended.front();
    ended.erase(ended.begin());
    return code;
  }
  return static_cast<int>(NSApp->runModalForWindow(windows_->WindowFor(window)));
}

int WindowsUi::RunModal(View window) {
  return OnMain([&] { return Run(window); });
}

void WindowsUi::EndModal(View window, int code) {
  Later([this, window, code] {
    if (NSApp->modalWindow() && NSApp->modalWindow() == windows_->WindowFor(window)) NSApp->stopModalWithCode(code);
    else pending_[window].push_back(code);
  });
}

void WindowsUi::OrderOut(View window) {
  Later([this, window] {
    if (NSWindow* w = windows_->WindowFor(window)) w->orderOut(nullptr);
  });
}

std::string WindowsUi::ChooseFile(const std::string& title) { return Panel(true, title, ""); }

std::string WindowsUi::ChooseSaveFile(const std::string& title, const std::string& fileType) {
  return Panel(false, title, fileType);
}

std::vector<std::string> WindowsUi::alertLines() const {
  std::lock_guard lock(mutex_);
  return alerts_;
}

}  // namespace tavrinmac::test
