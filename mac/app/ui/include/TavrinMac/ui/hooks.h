// Where the server manager's windows join the main window. The main window owns the "server" tab and the
// server manager's log tab ("2"); the server manager's window definitions fill them and make their own
// windows (search, unlock, configuration). Until they register, the tabs stay empty and the server
// manager's views and modal windows are left alone (its core still runs).
#pragma once
#include <functional>

#include "TavrinMac/ui.h"
#include "cocoa/AppKit.h"

class serverManager;

namespace tavrinmac::ui {

struct ServerManagerWindows {
  // Called once as the main interface loads, on the main thread: fills the "server" tab's view and the
  // log tab's view (their frames given), wires the server manager object (the main window's
  // serverManagerFlag, made and owned by the main window) and calls its awakeFromNib.
  std::function<void(NSView* serverTab, NSView* logTab, serverManager* manager)> build;
  // The core said a view of the server manager changed (kServersTable, kServerLog, kServerItems,
  // kServerDetails, kSearchWindow, kUnlockWindow, kConfigWindow): show it again. Main thread.
  std::function<void(View view)> changed;
  // The window the core runs modally for kSearchWindow, kUnlockWindow or kConfigWindow (null: none).
  std::function<NSWindow*(View window)> modalWindow;
  // The main window goes: release what build made. Main thread.
  std::function<void()> teardown;
};

// Registers the server manager's windows; call before the main interface loads.
void SetServerManagerWindows(ServerManagerWindows windows);
const ServerManagerWindows& GetServerManagerWindows();

// Shows the Server Manager tab of the main window (as its tab button does) when the main window is up.
void ShowServerManager();

}  // namespace tavrinmac::ui
