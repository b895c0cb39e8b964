// Internal pieces shared by the files of the message queues and the windows.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "queue_internal.h"
#include "win32/user.h"

namespace tavrin::core {

// message_queue.cpp. Posts to a queue; false when its thread has ended.
// `input`: mouse or keyboard input, which comes after the posted messages and WM_QUIT.
bool PostToQueue(const std::shared_ptr<MessageQueue>& queue, const MSG& msg, bool input = false);
// Puts a message ahead of everything posted to the calling thread (what TranslateMessage makes comes
// before the next key).
void PostFirstToOwnQueue(const MSG& msg);
// A window is gone: its timers and paint request go with it.
void ForgetWindow(const std::shared_ptr<MessageQueue>& queue, HWND hwnd);
void SetNeedsPaint(const std::shared_ptr<MessageQueue>& queue, HWND hwnd, bool needsPaint);

}  // namespace tavrin::core

namespace tavrin::win::detail {

// window.cpp: the windows of this process.
struct Target {
  DWORD threadId = 0;
  std::shared_ptr<core::MessageQueue> queue;
};
// False when the handle is no window of this process (or its thread has ended).
bool FindTarget(HWND hwnd, Target& target);
// True when `hwnd` is `ancestor` or one of its descendants.
bool IsSelfOrDescendant(HWND ancestor, HWND hwnd);
// Calls the window's current procedure; 0 when the window is gone.
LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The end of a thread: its windows go, without messages.
void DropThreadWindows(DWORD threadId);
// Mouse or keyboard input for a window of this process, queued as input on its thread.
void PostInput(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// input.cpp: the window a key queued on a thread goes to as the thread takes it: the focus, else the
// active window, when that is the thread's; else the window it was queued for.
HWND KeyboardTarget(DWORD threadId, HWND queuedFor);
// Delivers a notice to a window: called at once on its own thread, posted from any other.
void Notify(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// What another process may ask about one of our top-level windows, and what it may do to it.
struct WindowState {
  bool visible = false;
  bool iconic = false;
  HWND lastActivePopup = nullptr;
  HWND owner = nullptr;
  DWORD threadId = 0;
};
bool QueryLocal(HWND hwnd, WindowState& state);
BOOL ShowLocal(HWND hwnd, int command);
BOOL ActivateLocal(HWND hwnd);

// Handles carry the process that made the window.
DWORD ProcessOfWindow(HWND hwnd);
bool IsForeign(HWND hwnd);

// foreign_window.cpp: the run directory's list of top-level windows and the service that lets other
// processes act on ours. Publish returns the record's path (empty when it could not be written).
std::filesystem::path Publish(HWND hwnd, const std::string& className, const std::string& title,
                              const std::filesystem::path& existing = {});
void Unpublish(const std::filesystem::path& record);
HWND FindForeign(LPCSTR className, LPCSTR windowName);
bool ForeignAlive(HWND hwnd);
bool ForeignText(HWND hwnd, std::string& className, std::string& title);
bool ForeignQuery(HWND hwnd, WindowState& state);
bool ForeignShow(HWND hwnd, int command, BOOL& wasVisible);
bool ForeignActivate(HWND hwnd);
bool ForeignPost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The top-level windows of the other processes.
std::vector<HWND> ForeignTopLevels();
// Asks the process that owns a window whether the session may end (false when it could not be asked).
bool ForeignEndSession(HWND anyWindow, LPARAM lParam, bool& agreed);
// What a process serves for those requests (tools.cpp).
bool ServeScreenshot(HWND hwnd, std::string& png);
bool ServeInput(HWND hwnd, const std::string& command);

bool EqualsNoCase(const std::string& a, const char* b);

// For the queues: the cursor position stamped on messages, the message a thread read last (for
// GetMessagePos), the WH_MOUSE hooks, and which pending-paint window goes first (a parent before its
// children).
POINT CursorPosition();
void NoteRetrieved(const MSG& msg);
// cursor.cpp: WM_SETCURSOR to the window of a mouse move or press its thread has taken from the queue.
void SendSetCursor(const MSG& msg);
bool HasMouseHooks();
bool RunMouseHooks(const MSG& msg);  // true: the message is dropped
HWND PickPaint(const std::vector<HWND>& candidates);

}  // namespace tavrin::win::detail
