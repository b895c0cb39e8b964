#include "TavrinMac/ui/AppKitUi.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace tavrinmac::ui {

struct AppKitUi::Shared {
  std::mutex mutex;
  std::condition_variable done;
  bool closed = false;
  std::set<View> queued;                 // reloads waiting for the main loop
  std::map<View, std::vector<int>> endedEarly;  // EndModal before its run began
  std::function<void(View)> reload;
  std::function<NSWindow*(View)> modalWindow;
};

namespace {

// Runs `work` on the main thread and answers its result; a worker waits for it unless the program ends
// first (then `fallback`).
template <class Result, class Work>
Result OnMain(const std::shared_ptr<AppKitUi::Shared>& shared, Result fallback, Work work) {
  if (NSThread::isMainThread_class()) {
    {
      std::lock_guard lock(shared->mutex);
      if (shared->closed) return fallback;
    }
    return work();
  }
  struct Call {
    bool finished = false;
    Result result;
  };
  auto call = std::make_shared<Call>();
  call->result = fallback;
  NSRunLoop::mainRunLoop()->Enqueue([shared, call, work] {
    {
      std::lock_guard lock(shared->mutex);
      if (shared->closed) return;
    }
    Result result = work();
    std::lock_guard lock(shared->mutex);
    call->result = result;
    call->finished = true;
    shared->done.notify_all();
  }, 0);
  std::unique_lock lock(shared->mutex);
  shared->done.wait(lock, [&] { return call->finished || shared->closed; });
  return call->result;
}

NSString* Text(const std::string& text) { return NSString::stringWithStd(text); }

}  // namespace

AppKitUi::AppKitUi() : shared_(std::make_shared<Shared>()) {}

AppKitUi::~AppKitUi() { Close(); }

void AppKitUi::SetReload(std::function<void(View)> reload) {
  std::lock_guard lock(shared_->mutex);
  shared_->reload = std::move(reload);
}

void AppKitUi::SetModalWindows(std::function<NSWindow*(View)> lookup) {
  std::lock_guard lock(shared_->mutex);
  shared_->modalWindow = std::move(lookup);
}

void AppKitUi::Close() {
  std::lock_guard lock(shared_->mutex);
  shared_->closed = true;
  shared_->reload = nullptr;
  shared_->modalWindow = nullptr;
  shared_->done.notify_all();
}

int AppKitUi::Alert(const AlertText& alert) {
  return OnMain(shared_, 0, [alert] {
    const auto button = [&](size_t i) { return i < alert.buttons.size() ? Text(alert.buttons[i]) : nullptr; };
    const NSInteger answer = NSRunAlertPanel(Text(alert.title), Text("%s"), button(0), button(1), button(2),
                                             alert.message.c_str());
    return answer == NSAlertDefaultReturn ? 0 : answer == NSAlertAlternateReturn ? 1 : 2;
  });
}

void AppKitUi::Changed(View view) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->closed || !shared_->queued.insert(view).second) return;
  }
  NSRunLoop::mainRunLoop()->Enqueue([shared = shared_, view] {
    std::function<void(View)> reload;
    {
      std::lock_guard lock(shared->mutex);
      shared->queued.erase(view);
      reload = shared->reload;
    }
    if (reload) reload(view);
  }, 0);
}

int AppKitUi::RunModal(View window) {
  return OnMain(shared_, 0, [shared = shared_, window] {
    NSWindow* shown = nullptr;
    {
      std::lock_guard lock(shared->mutex);
      auto& early = shared->endedEarly[window];
      if (!early.empty()) {
        const int code = early.front();
        early.erase(early.begin());
        return code;
      }
      if (shared->modalWindow) shown = shared->modalWindow(window);
    }
    return shown ? static_cast<int>(NSApp->runModalForWindow(shown)) : 0;
  });
}

void AppKitUi::EndModal(View window, int code) {
  auto end = [shared = shared_, window, code] {
    NSWindow* shown = nullptr;
    {
      std::lock_guard lock(shared->mutex);
      if (shared->closed) return;
      if (shared->modalWindow) shown = shared->modalWindow(window);
      if (!shown || NSApp->modalWindow() != shown) {
        shared->endedEarly[window].push_back(code);
        return;
      }
    }
    NSApp->stopModalWithCode(code);
  };
  if (NSThread::isMainThread_class()) end();
  else NSRunLoop::mainRunLoop()->Enqueue(end, 0);
}

void AppKitUi::OrderOut(View window) {
  auto hide = [shared = shared_, window] {
    NSWindow* shown = nullptr;
    {
      std::lock_guard lock(shared->mutex);
      if (shared->closed || !shared->modalWindow) return;
      shown = shared->modalWindow(window);
    }
    if (shown) shown->orderOut(nullptr);
  };
  if (NSThread::isMainThread_class()) hide();
  else NSRunLoop::mainRunLoop()->Enqueue(hide, 0);
}

std::string AppKitUi::ChooseFile(const std::string& title) {
  return OnMain(shared_, std::string(), [title] {
    NSOpenPanel* panel = NSOpenPanel::openPanel();
    panel->setTitle(Text(title));
    panel->setCanChooseFiles(YES);
    panel->setCanChooseDirectories(NO);
    panel->setAllowsMultipleSelection(NO);
    if (panel->runModalForDirectory_file_types(nullptr, nullptr, nullptr) != NSOKButton || !panel->filename())
      return std::string();
    return panel->filename()->str();
  });
}

std::string AppKitUi::ChooseSaveFile(const std::string& title, const std::string& fileType) {
  return OnMain(shared_, std::string(), [title, fileType] {
    NSSavePanel* panel = NSSavePanel::savePanel();
    panel->setTitle(Text(title));
    panel->setCanCreateDirectories(NO);
    if (!fileType.empty()) {
      NSMutableArray* types = NSMutableArray::array();
      types->addObject(Text(fileType));
      panel->setAllowedFileTypes(types);
    }
    if (panel->runModal() != NSFileHandlingPanelOKButton || !panel->filename()) return std::string();
    return panel->filename()->str();
  });
}

}  // namespace tavrinmac::ui
