// What the windowing layer (win32) adds to the system layer. Asked for on first use, so the order of static
// initialisation does not matter: win32 defines tavrin_win32_system_hooks, and every program that links it
// takes it in. Without it a thread has no message queue, RegisterDeviceNotification finds no window to post
// to, version blocks come from the files only and the built-in modules are the system layer's.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "base/wait.h"
#include "win32/builtin_modules.h"
#include "win32/types.h"

namespace tavrin::system_hooks {

struct Hooks {
  // A thread of CreateThread starts with its message queue, so that PostThreadMessage right after
  // CreateThread arrives, and ends it (destroying its windows) before anyone sees the thread finished.
  void (*threadStarts)() = nullptr;
  void (*threadEnds)() = nullptr;
  // Device notices are posted to windows.
  BOOL (*isWindow)(HWND window) = nullptr;
  BOOL (*postMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = nullptr;
  // The program's own version resource, asked before a file's version section.
  DWORD (*ownVersionInfoSize)(LPCSTR file, LPDWORD handle) = nullptr;
  BOOL (*ownVersionInfo)(LPCSTR file, DWORD handle, DWORD size, LPVOID data) = nullptr;
  BOOL (*queryOwnVersionValue)(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length) = nullptr;
  // Built-in modules of the windowing layer, registered with the system layer's.
  std::vector<std::pair<std::string, modules::Exports>> builtinModules;
};

const Hooks& Installed();

}  // namespace tavrin::system_hooks

namespace tavrin::core {

// The waits of WaitForSingleObject and WaitForMultipleObjects. `alsoEnds`, when given, ends the wait as
// well (WAIT_OBJECT_0 + count): MsgWaitForMultipleObjects passes the input of the thread's message queue.
DWORD WaitForObjects(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds,
                     base::WaitCondition* alsoEnds);

}  // namespace tavrin::core
