// What the document and its worker threads ask of the user interface, and the messages they post to the
// functional pane. The user interface implements both interfaces; the document knows only these.
#pragma once
#include <vector>

#include "admin/DeviceEntry.h"
#include "admin/comm/Discovery.h"
#include "mfc/mfc.h"

// Posted to the functional pane's window (GetFunctionWindow).
constexpr UINT WM_SERVER_ARRM_ANSWER = WM_USER + 2;       // wParam: server request slot + 1
constexpr UINT WM_DEVICE_ARRM_ANSWER = WM_USER + 3;       // wParam: device request slot + 1
constexpr UINT WM_STATUS_TEXT_ID = WM_USER + 4;           // wParam: string id for the status line
constexpr UINT WM_RESTORE_DEFAULTS_DONE = WM_USER + 11;   // wParam: the command's result (0 success)
constexpr UINT WM_SPECIAL_SERVER_ARRIVED = WM_USER + 15;  // wParam: DBT_DEVICEARRIVAL
constexpr UINT WM_RUN_STOP_DEVICE_MAPPING = WM_APP + 1;   // wParam: bAskUser; a stop asked for on another thread

// One selected row of the functional pane's server list (the Server Manager view).
struct ServerListRow {
  int Row = -1;    // its index in the list
  CString Ip;      // the "IP Address" column
  CString Status;  // the "Status" column: "Locked", "Unlocked" or empty
};

// The columns of the server list the document's commands change.
constexpr int kServerListIpColumn = 3;
constexpr int kServerListStatusColumn = 4;

// The kinds of the "Please Wait..." window.
constexpr int kWaitProgressStill = 0;
constexpr int kWaitProgressMoving = 1;
constexpr int kWaitAnimation = 2;

// A context menu as the document decides it: the menu resource's pop-up 0 with icons from a bitmap
// (20 x 20 on RGB(192, 192, 192)), some items removed or disabled, tracked at a screen point for a window.
struct ContextMenu {
  UINT MenuId = 0;
  UINT IconBitmap = 0;             // 0: no icons
  std::vector<UINT> IconCommands;  // the commands in bitmap order
  std::vector<UINT> Removed;       // by command
  BOOL RemoveSeparators = FALSE;
  std::vector<UINT> Disabled;      // MF_GRAYED | MF_DISABLED
  UINT TrackFlags = TPM_RIGHTBUTTON;
};

// The main frame and its panes as the document reports to them. Called on the user-interface thread,
// except where a call says otherwise.
class IDocPanes {
 public:
  virtual ~IDocPanes() = default;

  // Main frame. Any thread.
  virtual void SetStatusText(LPCSTR text) = 0;
  virtual int ShowMessageBox(LPCSTR text, UINT style) = 0;
  virtual HWND GetMainWindow() const = 0;

  // The log pane. Any thread.
  virtual void AddDeviceMappingLog(LPCSTR text) = 0;
  virtual void AddServerManagerLog(LPCSTR text) = 0;

  // The details pane.
  virtual void ShowDeviceDetails(LPCSTR serverIp, WORD port) = 0;
  virtual void ClearDeviceDetails() = 0;
  virtual void ShowServerManagerDetails(LPCSTR serverIp) = 0;
  virtual void ClearServerDetails() = 0;

  // The functional pane. Its window receives the worker threads' messages (read once by each thread).
  virtual HWND GetFunctionWindow() const = 0;
  virtual void DeleteServerItem(LPCSTR serverIp) = 0;
  virtual void DeleteDeviceItem(const DeviceEntry& device) = 0;
  virtual void DeleteAllTreeItems() = 0;
  // The device selected in the tree: its server's address text, its port and the state text shown; FALSE
  // when none is.
  virtual BOOL GetSelectedDevice(CString* serverIp, WORD* port, CString* state) = 0;
  // After a connect or disconnect command on the selected device: its row shows the request (when one
  // was queued) and its state in the command's font.
  virtual void MarkSelectedDevice(BOOL requestQueued, BOOL connecting) = 0;
  // Ends the timers of a mapping run (refresh, bus up).
  virtual void KillMappingTimers() = 0;

  // The one "Please Wait..." window (kWait...), on a thread of its own; it disables the main window while
  // it shows. FALSE while another one is open: the caller's operation is refused. Closing waits until it
  // is gone; it does nothing when no wait window is open.
  virtual BOOL OpenWaitWindow(LPCSTR text, int kind) = 0;
  virtual void CloseWaitWindow() = 0;

  // The server list: its selected rows in list order, a cell changed by a command, the search's results
  // (the document holds the list's lock while they are shown).
  virtual std::vector<ServerListRow> GetSelectedServerRows() { return {}; }
  virtual void SetServerRowText(int /*row*/, int /*column*/, LPCSTR /*text*/) {}
  virtual void ShowSearchResults(const ServerDiscoveryList& /*servers*/) {}

  // Builds and tracks the menu (the owner gets its command); FALSE when the resource has no pop-up.
  virtual BOOL TrackContextMenu(const ContextMenu& /*menu*/, HWND /*owner*/, POINT /*at*/) { return FALSE; }
};

// The server dialogs as the document's commands run them, each modal over the document's lists; the
// user interface gives the document its set once the dialogs exist (until then their commands stay
// disabled).
class IServerDialogs {
 public:
  virtual ~IServerDialogs() = default;
  // Fills the document's discovered-server list.
  virtual INT_PTR RunServerSearch() = 0;
  // Over the document's selected-server list.
  virtual INT_PTR RunUnlock() = 0;
  virtual INT_PTR RunUpgradeFirmware() = 0;
  // IDOK with the dialog's resulting password-enable value (1, 0, or -1 when unchanged) and the new
  // address it reports (empty when it stayed).
  virtual INT_PTR RunServerConfiguration(int* passwordEnable, CString* newIp) = 0;
  virtual INT_PTR RunPrinterAutoConnect() = 0;
};

// What the application object needs of the user interface to build its one document template.
class IAdminShell {
 public:
  virtual ~IAdminShell() = default;
  virtual const CRuntimeClass* GetMainFrameClass() const = 0;
  virtual void EnableSplashScreen(BOOL enabled) = 0;
  // TRUE when the message was used up (a key or click that hides the splash screen).
  virtual BOOL PreTranslateMessage(const MSG* msg) = 0;
  // The drawing style of the program's owner-drawn menus.
  virtual void SetMenuDrawMode(UINT mode) = 0;
  // The About box, modal, with its version line.
  virtual void RunAboutBox(LPCSTR versionText) = 0;
};
