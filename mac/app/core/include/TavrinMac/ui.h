// What the window-free part of TavrinMac asks of its windows: alert panels, modal runs, open and save
// panels, and word that something a view shows has changed. The windows implement MacUi and hand each
// call to the main thread; until they set theirs, a HeadlessUi answers (tests, the control tool).
#pragma once
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavrinmac {

// The views and windows the core changes.
enum class View {
  kDeviceTree,       // the outline of servers and devices
  kDeviceLog,        // the Device Mapping log table
  kToolbar,          // the action flags (toolbar items and the tree's context menu)
  kNetworkState,     // network image and activity
  kMappingState,     // START/STOP progress and the "please wait" text
  kDetailsText,      // details of the selected tree row
  kServersTable,     // servers table and the search window's table
  kServerLog,        // the server manager's log table
  kServerItems,      // the five server command items (both sets) and refresh
  kServerDetails,    // configuration text, clients field and their activity
  kSearchWindow,
  kUnlockWindow,
  kConfigWindow,
};

struct AlertText {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;  // the first is the default
};

class MacUi {
 public:
  virtual ~MacUi() = default;
  // Shows an alert panel and answers the index of the button pressed. Any thread; the panel runs on the
  // main thread and the caller waits for it.
  virtual int Alert(const AlertText& alert) = 0;
  // The state the core holds for the view changed: show it again. Any thread; must not wait.
  virtual void Changed(View view) = 0;
  // Runs a window modally until EndModal ends that run; answers its code. From the main thread, or from
  // a worker that waits for the run (then handed to the main thread).
  virtual int RunModal(View window) = 0;
  virtual void EndModal(View window, int code) = 0;
  virtual void OrderOut(View window) = 0;
  // Open and save panels: the chosen Mac path, or "" when cancelled.
  virtual std::string ChooseFile(const std::string& title) = 0;
  virtual std::string ChooseSaveFile(const std::string& title, const std::string& fileType) = 0;
};

// Threads started for one piece of work each; Join waits for all started so far (also those they start).
class Workers {
 public:
  void Start(std::function<void()> body);
  void Join();

 private:
  std::mutex mutex_;
  std::list<std::thread> threads_;
};

// The interface the core talks to; a HeadlessUi until SetUi is called (nullptr: back to it).
MacUi& Ui();
void SetUi(MacUi* ui);

// Answers without windows: alerts are recorded and answered with a set button, modal runs wait for their
// EndModal (after calling the hook that plays the user), panels take paths from a queue.
class HeadlessUi : public MacUi {
 public:
  int Alert(const AlertText& alert) override;
  void Changed(View view) override;
  int RunModal(View window) override;
  void EndModal(View window, int code) override;
  void OrderOut(View window) override;
  std::string ChooseFile(const std::string& title) override;
  std::string ChooseSaveFile(const std::string& title, const std::string& fileType) override;

  // The button alerts are answered with (0: the first).
  void SetAlertAnswer(int button);
  // Called at the start of each modal run, on the running thread, before it waits (the user's part).
  void SetModalHook(std::function<void(View)> hook);
  void QueueFile(const std::string& path);  // "" cancels a panel
  std::vector<AlertText> alerts() const;
  // "title: message" of each alert, in order.
  std::vector<std::string> alertLines() const;
  int changes(View view) const;
  int modalRuns(View window) const;  // runs of the window now waiting
  // Waits until pred() holds, checked at every call this object takes; false after the timeout.
  bool WaitUntil(const std::function<bool()>& pred, int timeoutMs);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<AlertText> alerts_;
  int answer_ = 0;
  std::function<void(View)> modalHook_;
  std::vector<std::string> files_;
  std::map<View, int> changes_;
  struct ModalRun {
    bool ended = false;
    int code = 0;
  };
  std::map<View, std::vector<std::shared_ptr<ModalRun>>> runs_;  // innermost last
  std::map<View, std::vector<int>> pending_;
};

}  // namespace tavrinmac
