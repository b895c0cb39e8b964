// CMainFrame: the main window of TavrinAdmin. It lives hidden behind its notification-area icon (a double
// click shows it, closing it only hides it) and ends only through Exit, the exit monitor's request or the
// end of the session. It holds the toolbar, the status bar with the clock, and two static splitters: the
// navigation pane, the functional pane and the details pane side by side over the log pane. It shows
// the status lines and asks the user through message boxes over itself, and it reports for the document
// (IDocPanes).
#pragma once
#include <ctime>
#include <mutex>

#include "admin/DocPanes.h"
#include "admin/menus/NewFrameWnd.h"
#include "admin/ui/DropDownToolBar.h"
#include "controls/hiding_splitter.h"
#include "mfc/mfc.h"

class CBottemFormView;
class CDetailsFormView;
class CFunctionView;
class CLeftTreeView;
class CTavrinAdminDoc;

// The frame's pauses, settable so that tests need not wait them out.
struct FramePauses {
  DWORD SplashHoldMs = 1000;  // the creation waits this long with the splash picture up
};

class CMainFrame : public CNewFrameWnd, public IDocPanes {
  DECLARE_DYNCREATE(CMainFrame)

 public:
  static constexpr UINT_PTR kClockTimer = 1111;
  static constexpr UINT kClockPeriodMs = 200;
  static void SetPauses(const FramePauses& pauses);

  // Status pane 1 (any thread; another thread's text is shown by the window's own thread).
  void SetStatusText(LPCSTR text) override;
  void SetStatusTextById(UINT stringId);
  CString GetStatusText() const;
  // Shows the frame first, so that the box has a visible owner.
  int ShowMessageBox(LPCSTR text, UINT style, UINT helpContext);
  int ShowMessageBox(LPCSTR text, UINT style) override { return ShowMessageBox(text, style, 0); }

  CDropDownToolBar& GetToolBar() { return m_wndToolBar; }
  CStatusBar& GetStatusBar() { return m_wndStatusBar; }
  CFunctionView* GetFunctionView() const { return m_pFunctionView; }
  CBottemFormView* GetBottemFormView() const { return m_pBottemFormView; }
  CDetailsFormView* GetDetailsFormView() const { return m_pDetailsFormView; }
  CLeftTreeView* GetLeftTreeView() const { return m_pLeftTreeView; }
  // The menu bar and the two function pop-ups that stood at its positions 2 and 3; the bar shows one of
  // them at position 2.
  CNewMenu* GetMainMenu() const { return m_pMainMenu; }
  CNewMenu* GetServerManagerPopup() const { return m_pServerManagerPopup; }
  CNewMenu* GetDeviceMappingPopup() const { return m_pDeviceMappingPopup; }
  // Puts the function's pop-up at position 2 of the menu bar and its buttons in the toolbar.
  void ShowFunctionPopup(BOOL serverManager);
  // Which parts are shown (View menu).
  BOOL IsToolBarShown() const { return m_bToolBarShown; }
  BOOL IsDetailsPanelShown() const { return m_bDetailsPanelShown; }
  BOOL IsLogPanelShown() const { return m_bLogPanelShown; }
  BOOL IsNavigationPaneShown() const { return m_bNavigationPaneShown; }

  // IDocPanes
  HWND GetMainWindow() const override { return m_hWnd; }
  void AddDeviceMappingLog(LPCSTR text) override;
  void AddServerManagerLog(LPCSTR text) override;
  void ShowDeviceDetails(LPCSTR serverIp, WORD port) override;
  void ClearDeviceDetails() override;
  void ShowServerManagerDetails(LPCSTR serverIp) override;
  void ClearServerDetails() override;
  HWND GetFunctionWindow() const override;
  void DeleteServerItem(LPCSTR serverIp) override;
  void DeleteDeviceItem(const DeviceEntry& device) override;
  void DeleteAllTreeItems() override;
  BOOL GetSelectedDevice(CString* serverIp, WORD* port, CString* state) override;
  void MarkSelectedDevice(BOOL requestQueued, BOOL connecting) override;
  void KillMappingTimers() override;
  BOOL OpenWaitWindow(LPCSTR text, int kind) override;
  void CloseWaitWindow() override;
  std::vector<ServerListRow> GetSelectedServerRows() override;
  void SetServerRowText(int row, int column, LPCSTR text) override;
  void ShowSearchResults(const ServerDiscoveryList& servers) override;
  BOOL TrackContextMenu(const ContextMenu& menu, HWND owner, POINT at) override;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  int OnCreate(LPCREATESTRUCT createStruct) override;
  BOOL OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context) override;
  void OnDestroy() override;
  void OnClose() override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnTimer(UINT_PTR id) override;
  // The bars along the edges, the outer splitter in what is left.
  void RecalcLayout() override;

 private:
  // WM_USER+1: wParam the icon id, lParam the mouse message. 1 in every case.
  LRESULT OnTrayNotification(WPARAM iconId, LPARAM mouseMessage);
  // WM_POWERBROADCAST while mapping runs: the document's suspend and resume flags.
  void OnPowerBroadcast(WPARAM event);
  LRESULT OnCloseProgram(WPARAM, LPARAM);
  LRESULT OnShowStatusText(WPARAM, LPARAM);
  void ShowFromTray();
  // Exit (menu and tray): refused while mapping runs, else the icon goes and the program ends.
  void OnExit();
  void CloseProgram();
  void OnSettings();
  void OnFunctionServerManager();
  void OnFunctionDeviceMapping();
  void OnViewToolBar();
  void OnViewLogPanel();
  void OnViewFunctionalPanel();
  void OnViewDetailsPanel();
  void OnOnlineHelp();
  void OnTrayShow();
  LRESULT OnQueryEndSession(LPARAM lParam);
  void OnStartDeviceMapping();
  void OnStopDeviceMapping();
  void OnConnectDisconnect();
  void OnPrinterAutoConnect();
  void OnSearchServers();
  void OnUnlock();
  void OnUpgradeFirmware();
  void OnServerConfiguration();
  void OnRestoreFactoryDefaults();
  void RedrawPane(CWnd* pane);
  CTavrinAdminDoc* Document() const;

  CHidingSplitterWnd m_wndSplitterInner;
  CHidingSplitterWnd m_wndSplitterOuter;
  CStatusBar m_wndStatusBar;
  CDropDownToolBar m_wndToolBar;
  BOOL m_bToolBarShown = TRUE;
  BOOL m_bDetailsPanelShown = TRUE;
  BOOL m_bLogPanelShown = TRUE;
  BOOL m_bNavigationPaneShown = TRUE;
  CNewMenu* m_pMainMenu = nullptr;
  CNewMenu* m_pServerManagerPopup = nullptr;
  CNewMenu* m_pDeviceMappingPopup = nullptr;

  mutable std::mutex m_statusMutex;
  time_t m_tClockShown = 0;  // the second the clock pane shows
  CString m_strStatusText;
  DWORD m_dwThreadId = 0;                  // the window's thread
  CTavrinAdminDoc* m_pDocument = nullptr;  // the document this frame reports for
  CLeftTreeView* m_pLeftTreeView = nullptr;
  CFunctionView* m_pFunctionView = nullptr;
  CBottemFormView* m_pBottemFormView = nullptr;
  CDetailsFormView* m_pDetailsFormView = nullptr;
};

// The menu icons: bitmap 130 of 20 x 20 icons on RGB(192, 192, 192), the commands in bitmap order.
extern const WORD kMainMenuIcons[];

// The main frame of the program, or null before it is made.
CMainFrame* GetAdminMainFrame();

// The user interface the application object builds its document template with.
IAdminShell* GetAdminUiShell();
