#include "TavrinMac/ui.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <chrono>

namespace tavrinmac {
namespace {

HeadlessUi& Fallback() {
  static HeadlessUi* ui = new HeadlessUi();  // lives for the process: worker threads may still call it
  return *ui;
}

std::atomic<MacUi*> g_ui{nullptr};

}  // namespace

void Workers::Start(std::function<void()> body) {
  std::lock_guard lock(mutex_);
  threads_.emplace_back(std::move(body));
}

void Workers::Join() {
  for (;;) {
    std::thread next;
    {
      std::lock_guard lock(mutex_);
      if (threads_.empty()) return;
      next = std::move(threads_.front());
      threads_.pop_front();
    }
    if (next.get_id() == std::this_thread::get_id()) next.detach();  // a worker joining: not itself
    else if (next.joinable()) next.join();
  }
}

MacUi& Ui() {
  MacUi* ui = g_ui.load();
  return ui ? *ui : Fallback();
}

void SetUi(MacUi* ui) { g_ui = ui; }

int HeadlessUi::Alert(const AlertText& alert) {
  std::lock_guard lock(mutex_);
  alerts_.push_back(alert);
  changed_.notify_all();
  return answer_ < static_cast<int>(alert.buttons.size()) ? answer_ : 0;
}

void HeadlessUi::Changed(View view) {
  std::lock_guard lock(mutex_);
  ++changes_[view];
  changed_.notify_all();
}

int HeadlessUi::RunModal(View window) {
  std::function<void(View)> hook;
  auto run = std::make_shared<ModalRun>();
  {
    std::lock_guard lock(mutex_);
    if (!pending_[window].empty()) {  // ended before it began
      int code = pending_[window].front();
      pending_[window].erase(pending_[window].begin());
      return code;
    }
    runs_[window].push_back(run);
    hook = modalHook_;
    changed_.notify_all();
  }
  if (hook) hook(window);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return run->ended; });
  auto& stack = runs_[window];
  stack.erase(std::find(stack.begin(), stack.end(), run));
  changed_.notify_all();
  return run->code;
}

void HeadlessUi::EndModal(View window, int code) {
  std::lock_guard lock(mutex_);
  // Ends the innermost run of the window; one not begun yet is ended when it begins (a worker may end it
  // before the main thread has begun it; on the window side both go through the main thread in order).
  auto& stack = runs_[window];
  auto open = std::find_if(stack.rbegin(), stack.rend(), [](const auto& r) { return !r->ended; });
  if (open != stack.rend()) {
    (*open)->ended = true;
    (*open)->code = code;
  } else {
    pending_[window].push_back(code);
  }
  changed_.notify_all();
}

int HeadlessUi::modalRuns(View window) const {
  std::lock_guard lock(mutex_);
  auto it = runs_.find(window);
  if (it == runs_.end()) return 0;
  return static_cast<int>(std::count_if(it->second.begin(), it->second.end(), [](const auto& r) { return !r->ended; }));
}

void HeadlessUi::OrderOut(View window) { Changed(window); }

std::string HeadlessUi::ChooseFile(const std::string&) {
  std::lock_guard lock(mutex_);
  if (files_.empty()) return {};
  std::string path = files_.front();
  files_.erase(files_.begin());
  return path;
}

std::string HeadlessUi::ChooseSaveFile(const std::string& title, const std::string&) { return ChooseFile(title); }

void HeadlessUi::SetAlertAnswer(int button) {
  std::lock_guard lock(mutex_);
  answer_ = button;
}

void HeadlessUi::SetModalHook(std::function<void(View)> hook) {
  std::lock_guard lock(mutex_);
  modalHook_ = std::move(hook);
}

void HeadlessUi::QueueFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  files_.push_back(path);
}

std::vector<AlertText> HeadlessUi::alerts() const {
  std::lock_guard lock(mutex_);
  return alerts_;
}

std::vector<std::string> HeadlessUi::alertLines() const {
  std::vector<std::string> lines;
  for (const AlertText& a : alerts()) lines.push_back(a.title + " " + a.message);
  return lines;
}

int HeadlessUi::changes(View view) const {
  std::lock_guard lock(mutex_);
  auto it = changes_.find(view);
  return it == changes_.end() ? 0 : it->second;
}

bool HeadlessUi::WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  while (true) {
    lock.unlock();
    bool done = pred();
    lock.lock();
    if (done) return true;
    // Also wakes now and then: some conditions change without a call here.
    auto next = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
    if (changed_.wait_until(lock, next) == std::cv_status::timeout && std::chrono::steady_clock::now() >= deadline)
      return false;
  }
}

}  // namespace tavrinmac
