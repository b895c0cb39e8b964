// What the document and its worker threads ask of the user interface, and the messages they post to the
// functional pane. The user interface implements both interfaces; the document knows only these.
#pragma once
#include "admin/DeviceEntry.h"
#include "mfc/mfc.h"

// Posted to the functional pane's window (GetFunctionWindow).
constexpr UINT WM_SERVER_ARRM_ANSWER = WM_USER + 2;       // wParam: server request slot + 1
constexpr UINT WM_DEVICE_ARRM_ANSWER = WM_USER + 3;       // wParam: device request slot + 1
constexpr UINT WM_STATUS_TEXT_ID = WM_USER + 4;           // wParam: string id for the status line
constexpr UINT WM_SPECIAL_SERVER_ARRIVED = WM_USER + 15;  // wParam: DBT_DEVICEARRIVAL
constexpr UINT WM_RUN_STOP_DEVICE_MAPPING = WM_APP + 1;   // wParam: bAskUser; a stop asked for on another thread

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

  // The "Please Wait..." window of the stop, on a thread of its own; closing waits until it is gone.
  virtual void OpenWaitWindow(LPCSTR text) = 0;
  virtual void CloseWaitWindow() = 0;
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
};
